// A print job file, read a band at a time without copying it: each band is a read-only view of
// the file's own pages (Linux: a mapping of the page cache, read in when the view is made;
// Windows: a view of a file mapping), which the sender sends from and the digest reads. Nothing
// of the job is copied or zero-filled, and a view is given back once its band is done, so
// memory stays a few bands whatever the job's size. Owned by CBandSource; one implementation per
// system in linux/ and windows/, the read into memory (a file that cannot be mapped) shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One band's bytes: m_data for m_length bytes, until CJobFile::Release.
struct SJobView {
    const unsigned char* m_data = nullptr;
    std::size_t m_length = 0;
    void* m_base = nullptr;    // the mapping's start (aligned down to what the system maps)
    std::size_t m_mapped = 0;  // 0: m_base is a copy of the bytes (a file that cannot be mapped)
};

class CJobFile {
public:
    CJobFile() = default;
    ~CJobFile();
    CJobFile(const CJobFile&) = delete;
    CJobFile& operator=(const CJobFile&) = delete;

    // Opens a non-empty regular file for reading; `error` says why not.
    bool Open(const std::string& path, std::string& error);
    // Its size when it was opened.
    std::uint64_t Size() const { return m_size; }
    // Maps `length` bytes at `offset` and reads them in, so that the sender does not wait for
    // the disk. False, with the reason, when the file no longer holds them (it shrank) or the
    // system refuses. A file cut shorter while a view of it is in use makes the system fault the
    // reader (SIGBUS); the tool then ends with status 1 and a message that names the file.
    bool View(std::uint64_t offset, std::size_t length, SJobView& view, std::string& error) const;
    void Release(SJobView& view) const;

private:
    void Close();
    // A band read into memory of its own, where the file cannot be mapped (both systems).
    bool ReadInto(std::uint64_t offset, std::size_t length, SJobView& view,
                  std::string& error) const;
    // Reads up to `length` bytes at `offset`: the count in `got` (0 at the end of the file), or
    // false with the system's reason. One implementation per system.
    bool ReadAt(std::uint64_t offset, unsigned char* into, std::size_t length, std::size_t& got,
                std::string& error) const;

    std::intptr_t m_file = -1;    // the descriptor or handle
    std::intptr_t m_mapping = 0;  // Windows: the file mapping object
    std::uint64_t m_size = 0;
};

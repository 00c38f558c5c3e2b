// A file the tool writes its results into (a capture file, a timeline). The name must be the file
// itself: a link somebody planted at the path is never followed. A new file is writable by its
// owner only; whether a device or a pipe is acceptable is the caller's choice. Writes go to the
// system at once (the caller gathers them), so that every failure is seen where it happens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ferrolink::tools {

class COutputFile {
public:
    COutputFile() = default;
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // Opens `path` for writing, creating it when missing; what it holds stays until Truncate.
    // With `regularOnly` a device or a pipe is refused too (without waiting for a pipe's reader).
    // False with `error`: "it is a symbolic link, not followed", "not a regular file", or the
    // system's own text.
    bool Open(const std::string& path, bool regularOnly, std::string& error);
    // Standard output, written in binary.
    bool OpenStandardOutput(std::string& error);
    bool IsOpen() const;
    // A file on a disk, as opposed to a device, a pipe or standard output.
    bool IsRegular() const { return m_regular; }

    // All `size` bytes, or false with the system's text.
    bool Write(const void* data, std::size_t size, std::string& error);
    // Cuts a regular file back to `size` bytes; false with a text for anything else or when the
    // cut fails.
    bool Truncate(std::uint64_t size, std::string& error);
    // Makes what was written durable where the file system can (a device or a pipe has nothing to
    // do); false with the system's text.
    bool Sync(std::string& error);
    // False with the system's text when the last writes could not be completed.
    bool Close(std::string& error);

private:
    std::intptr_t m_handle = -1;  // the system's handle of the open file; -1 when closed
    bool m_standardOutput = false;
    bool m_regular = false;
};

}  // namespace ferrolink::tools

// The print job as a stream of bands: a reader thread makes a few bands ready ahead of the sender
// (views of the file's own pages, read in from the disk but never copied: the sender sends from
// them) and, unless told not to, digests each band (SHA-256) while the sender has it on the wire,
// so neither the disk nor the hash sits in the sender's way and memory stays a few bands whatever
// the job's size. Used by CPrintJob; a band's view goes back to the reader when the band is done.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/JobFile.h"

struct SJobBand {
    std::uint64_t m_index = 0;              // band number within the job (the frames' frameIndex)
    const unsigned char* m_data = nullptr;  // m_bytes of the job, while the band is out
    std::size_t m_bytes = 0;
    SJobView m_view;
    bool m_hashed = false;
    std::string m_sha256;  // lower-case hex, once m_hashed
};

class CBandSource {
public:
    CBandSource() = default;
    ~CBandSource();
    CBandSource(const CBandSource&) = delete;
    CBandSource& operator=(const CBandSource&) = delete;

    // Whether `path` is a job that can be sent from band `firstBand`; `error` says why not.
    static bool Check(const std::string& path, std::uint64_t bandSize, std::uint64_t firstBand,
                      std::string& error);
    // Checks the job file (a readable, non-empty regular file with at least `firstBand` + 1
    // bands) and starts reading from band `firstBand` with up to `buffers` bands in memory;
    // each band is digested when `digest`.
    bool Start(const std::string& path, std::uint64_t bandSize, std::size_t buffers,
               std::uint64_t firstBand, bool digest, std::string& error);
    // Bytes from the first band sent to the end of the file.
    std::uint64_t Bytes() const { return m_bytes; }
    std::uint64_t Bands() const { return m_bands; }
    // The next band in order; null at the end of the job, on a read error (Error() says) or when
    // `stop` reads true.
    SJobBand* Next(const std::atomic<bool>& stop);
    // The band's digest, waiting for the reader to finish it (empty without digests).
    std::string Digest(SJobBand* band);
    void Release(SJobBand* band);
    std::string Error() const;

private:
    void Run();

    std::string m_path;
    CJobFile m_file;
    bool m_digest = true;
    std::uint64_t m_bandSize = 0;
    std::uint64_t m_firstBand = 0;
    std::uint64_t m_bytes = 0;
    std::uint64_t m_bands = 0;
    std::vector<std::unique_ptr<SJobBand>> m_all;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<SJobBand*> m_free;
    std::deque<SJobBand*> m_ready;
    bool m_finished = false;  // the reader has read its last band (or failed)
    bool m_quit = false;
    std::string m_error;
    std::thread m_thread;
};

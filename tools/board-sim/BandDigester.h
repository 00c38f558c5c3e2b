// The thread that digests completed bands, so that the capture thread never waits for SHA-256:
// it stores print data, answers commands and hands each completed band over here. A band keeps
// its board memory until its digest is taken back (the memory is the band store's, which only
// the capture thread touches; this thread only reads the band's bytes).
//
// The queue is bounded: Submit waits while kQueueBands bands, or kQueueBytes of band content,
// are still to be digested, so a host that completes bands faster than they can be digested
// slows the capture (and shows as capture drops), never grows the emulator. The byte bound also
// keeps the memory in use small: bands waiting here keep theirs, and memory touched for the
// first time costs more than the digest. Owned by the band store.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ferrolink::tools {

struct SDigestJob {
    struct SPiece {
        const unsigned char* m_data;
        std::uint32_t m_length;
    };
    std::uint32_t m_band = 0;
    std::uint64_t m_ticket = 0;  // which completion of the band this is
    std::uint32_t m_packets = 0;
    std::uint64_t m_bytes = 0;
    std::vector<SPiece> m_pieces;         // the band's content, in order
    std::vector<unsigned char*> m_slots;  // board memory to give back once digested
    std::string m_sha256;                 // lower-case hex, once digested
};

class CBandDigester {
public:
    static constexpr std::size_t kQueueBands = 64;
    static constexpr std::uint64_t kQueueBytes = std::uint64_t{16} << 20;

    CBandDigester();
    // Bands still queued are dropped: their memory belongs to the band store's pool.
    ~CBandDigester();
    CBandDigester(const CBandDigester&) = delete;
    CBandDigester& operator=(const CBandDigester&) = delete;

    void Submit(SDigestJob job);
    // Moves the digested bands, in order of submission, to the end of `done`. `wait`: first
    // waits for one band when none is ready but some are in flight; `all`: for every band.
    void Take(std::vector<SDigestJob>& done, bool wait, bool all);
    // Submitted and not yet taken back.
    std::size_t Outstanding() const;

private:
    void Work();

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<SDigestJob> m_queued;   // waiting for the thread
    std::deque<SDigestJob> m_ready;    // digested, to be taken
    bool m_busy = false;               // the thread holds a job
    std::uint64_t m_pendingBytes = 0;  // of the queued jobs and the one held
    bool m_stop = false;
    std::thread m_thread;  // last: starts once the rest is made
};

}  // namespace ferrolink::tools

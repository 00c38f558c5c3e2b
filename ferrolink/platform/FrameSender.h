// A link's batch send: frames handed over as pieces that stay where they are (a header and a
// tail of the caller's, the host's data in between), sent in order on a live capture handle.
// Linux gathers each frame's pieces straight from the caller's memory in sendmmsg batches on the
// handle's own packet socket; Windows sends through Npcap's send queue (PcapSendQueue.h) instead,
// and uses only the piece types from here to fill it.
#pragma once

#include <pcap/pcap.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace ferrolink::platform {

// Bytes that stay valid and unchanged until the frame they belong to has been sent.
struct SFramePiece {
    const unsigned char* data;
    std::size_t length;
};

// One frame: its pieces in wire order.
struct SOutgoingFrame {
    static constexpr unsigned kMaximumPieces = 3;
    SFramePiece pieces[kMaximumPieces];
    unsigned pieceCount;
};

// Frames per system call, and the most a caller need stage at once: the checksum pass reads a
// batch's data just before the kernel copies it, so a batch should stay well inside the caches.
constexpr std::size_t kFrameBatchSize = 64;
// Send buffer of the socket while a long run is sent: the default (about 140 full frames, 1.7 ms
// of a gigabit link) idles the link whenever the sending thread waits that long for a core.
constexpr int kFrameSendBuffer = 4 << 20;

#ifndef _WIN32
class CFrameSender {
public:
    // bytesAhead: frame bytes the caller is about to send; a run of more than half of
    // kFrameSendBuffer raises the socket's send buffer for the life of this object (beyond the
    // system's limit only with CAP_NET_ADMIN; a lower buffer costs speed, never frames).
    CFrameSender(pcap_t* p, std::uint64_t bytesAhead);
    // Puts the socket's send buffer back as it was.
    ~CFrameSender();
    CFrameSender(const CFrameSender&) = delete;
    CFrameSender& operator=(const CFrameSender&) = delete;

    // False when the handle cannot send (a capture file, a dead handle); the reason is then in
    // pcap_geterr.
    bool IsReady() const { return m_fd >= 0; }
    // Sends the frames in order, each whole; a frame the socket buffer or the device queue
    // refuses is sent again once there is room. Returns how many were sent: fewer than count
    // only after an error, or a second without one frame taken, whose reason is then in
    // pcap_geterr.
    std::size_t Send(const SOutgoingFrame* frames, std::size_t count);

private:
    pcap_t* m_handle;
    int m_fd;
    int m_previousBuffer = 0;  // as getsockopt gave it: twice what was set
    bool m_raised = false;
    struct timeval m_previousTimeout {};
    bool m_timeoutSet = false;
    std::uint64_t m_framesSent = 0;
    std::chrono::steady_clock::time_point m_lastProgress;
};
#endif

}  // namespace ferrolink::platform

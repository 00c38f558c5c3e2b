#include <ferrolink/platform/FrameSender.h>

#include <linux/if_packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include <ferrolink/platform/linux/HandleError.h>

namespace ferrolink::platform {

namespace {

// Pause after the device queue refused a frame (ENOBUFS gives no descriptor to wait on).
constexpr auto DeviceQueueFullPause = std::chrono::microseconds(100);
// Longest wait on a socket buffer that makes no room before EAGAIN is retried.
constexpr int SocketBufferWaitMs = 10;
// Without a single frame accepted for this long the link is considered stuck.
constexpr auto NoProgressLimit = std::chrono::milliseconds(1000);

static_assert(SOutgoingFrame::kMaximumPieces * kFrameBatchSize <= 1024,
              "a sendmmsg batch must stay within the kernel's UIO_MAXIOV");

// Frames go out on the handle's own packet socket rather than on one of ours: it is already
// bound to the handle's device in the handle's network namespace (an own socket would land in
// the calling thread's namespace, where the same interface index may name another device, and
// would need the raw-socket privilege again), and a socket does not capture what it sends
// itself, exactly as with pcap_sendpacket on the same handle. Works for any live handle,
// whoever opened it.
int SendDescriptor(pcap_t* p) {
    if (::pcap_file(p)) {
        SetHandleError(p, "a capture file cannot send frames");
        return -1;
    }
    const int fd = ::pcap_get_selectable_fd(p);
    if (fd < 0) {
        SetHandleError(p, "the handle has no socket to send on");
        return -1;
    }
    sockaddr_ll bound{};
    socklen_t length = sizeof(bound);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0 ||
        bound.sll_family != AF_PACKET || bound.sll_ifindex <= 0) {
        SetHandleError(p, "the handle is not bound to one device");
        return -1;
    }
    int type = 0;
    length = sizeof(type);
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_RAW) {
        SetHandleError(p, "the handle does not send whole frames");
        return -1;
    }
    return fd;
}

}  // namespace

CFrameSender::CFrameSender(pcap_t* p, std::uint64_t bytesAhead)
    : m_handle(p), m_fd(SendDescriptor(p)), m_lastProgress(std::chrono::steady_clock::now()) {
    if (m_fd < 0) return;
    // A blocking socket whose frames the device never takes (a link that stopped) would hold
    // the call for ever: waits for room end after the stall limit instead.
    socklen_t length = sizeof m_previousTimeout;
    const timeval limit{std::chrono::duration_cast<std::chrono::seconds>(NoProgressLimit).count(),
                        0};
    m_timeoutSet = ::getsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &m_previousTimeout, &length) == 0 &&
                   ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
    length = sizeof m_previousBuffer;
    if (bytesAhead <= static_cast<std::uint64_t>(kFrameSendBuffer) / 2 ||
        ::getsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &m_previousBuffer, &length) != 0 ||
        m_previousBuffer >= kFrameSendBuffer)
        return;
    m_raised =
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUFFORCE, &kFrameSendBuffer,
                     sizeof kFrameSendBuffer) == 0 ||
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &kFrameSendBuffer, sizeof kFrameSendBuffer) == 0;
}

CFrameSender::~CFrameSender() {
    if (m_timeoutSet)
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &m_previousTimeout, sizeof m_previousTimeout);
    // The kernel reports twice the size it was given; give back the size it was given.
    const int previous = m_previousBuffer / 2;
    if (m_raised && ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUFFORCE, &previous, sizeof previous) != 0)
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &previous, sizeof previous);
}

std::size_t CFrameSender::Send(const SOutgoingFrame* frames, std::size_t count) {
    if (m_fd < 0) return 0;
    mmsghdr messages[kFrameBatchSize];
    iovec pieces[kFrameBatchSize * SOutgoingFrame::kMaximumPieces];
    std::size_t sent = 0;
    while (sent < count) {
        const unsigned batch = static_cast<unsigned>(std::min(count - sent, kFrameBatchSize));
        iovec* piece = pieces;
        for (unsigned k = 0; k < batch; ++k) {
            const SOutgoingFrame& frame = frames[sent + k];
            messages[k] = mmsghdr{};
            messages[k].msg_hdr.msg_iov = piece;
            messages[k].msg_hdr.msg_iovlen =
                std::min<unsigned>(frame.pieceCount, SOutgoingFrame::kMaximumPieces);
            for (std::size_t i = 0; i < messages[k].msg_hdr.msg_iovlen; ++i, ++piece)
                *piece =
                    iovec{const_cast<unsigned char*>(frame.pieces[i].data), frame.pieces[i].length};
        }
        unsigned done = 0;
        while (done < batch) {
            const int accepted = ::sendmmsg(m_fd, &messages[done], batch - done, 0);
            if (accepted > 0) {
                // A short count leaves the refused frame's reason to the next call; a packet
                // socket takes a frame whole or not at all, so go on from the first not taken.
                done += static_cast<unsigned>(accepted);
                m_framesSent += static_cast<unsigned>(accepted);
                m_lastProgress = std::chrono::steady_clock::now();
                continue;
            }
            const int error = accepted < 0 ? errno : EAGAIN;
            if (error == EINTR) continue;
            if (error != EAGAIN && error != EWOULDBLOCK && error != ENOBUFS) {
                SetHandleError(m_handle, "send failed after %llu frames: %s",
                               static_cast<unsigned long long>(m_framesSent), std::strerror(error));
                return sent + done;
            }
            if (std::chrono::steady_clock::now() - m_lastProgress > NoProgressLimit) {
                SetHandleError(m_handle, "send stalled after %llu frames: %s",
                               static_cast<unsigned long long>(m_framesSent), std::strerror(error));
                return sent + done;
            }
            // The socket buffer or the device queue is full: wait for room and send the refused
            // frame again, so that none is dropped.
            if (error == ENOBUFS) {
                std::this_thread::sleep_for(DeviceQueueFullPause);
            } else {
                pollfd writable{m_fd, POLLOUT, 0};
                ::poll(&writable, 1, SocketBufferWaitMs);
            }
        }
        sent += batch;
    }
    return sent;
}

}  // namespace ferrolink::platform

#include <ferrolink/platform/PcapSendQueue.h>

#include <linux/if_packet.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/uio.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include <ferrolink/platform/linux/HandleError.h>

namespace ferrolink::platform {

namespace {

// Messages per sendmmsg: enough to make the system call cost vanish next to the frames' own.
constexpr unsigned SendBatchSize = 256;
// Pause after the device queue refused a frame (ENOBUFS gives no descriptor to wait on).
constexpr auto DeviceQueueFullPause = std::chrono::microseconds(100);
// Longest wait on a socket buffer that makes no room before EAGAIN is retried.
constexpr int SocketBufferWaitMs = 10;
// Queues from this size on get a mapping of their own (one huge page).
constexpr u_int MappedQueueMinimum = 2u << 20;
// Without a single frame accepted for this long the link is considered stuck.
constexpr auto NoProgressLimit = std::chrono::milliseconds(1000);
// Socket buffer while a large queue is sent: the default (about 140 full frames, 1.7 ms of a
// gigabit link) idles the link whenever the sending thread waits that long for a core.
constexpr int TransmitSocketBuffer = 4 << 20;

// Raises the socket's send buffer for one transmission and puts the old size back afterwards.
// Beyond the system's limit only a process with CAP_NET_ADMIN gets it; others keep what the limit
// allows, which costs speed on a busy machine, never frames.
class CSendBufferRaise {
public:
    CSendBufferRaise(int fd, u_int queued) : m_fd(fd) {
        socklen_t length = sizeof m_previous;
        if (queued <= static_cast<u_int>(TransmitSocketBuffer) / 2 ||
            ::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &m_previous, &length) != 0 ||
            m_previous >= TransmitSocketBuffer)
            return;
        m_raised = ::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &TransmitSocketBuffer,
                                sizeof TransmitSocketBuffer) == 0 ||
                   ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &TransmitSocketBuffer,
                                sizeof TransmitSocketBuffer) == 0;
    }
    ~CSendBufferRaise() {
        // The kernel reports twice the size it was given; give back the size it was given.
        const int previous = m_previous / 2;
        if (m_raised &&
            ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUFFORCE, &previous, sizeof previous) != 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &previous, sizeof previous);
    }
    CSendBufferRaise(const CSendBufferRaise&) = delete;
    CSendBufferRaise& operator=(const CSendBufferRaise&) = delete;

private:
    int m_fd;
    int m_previous = 0;
    bool m_raised = false;
};

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

// Large queues are mapped on their own and asked for huge pages: filling a print job's queue
// otherwise takes one page fault per 4 KiB, which on a virtual machine cost more than building
// and copying the frames themselves. The last such mapping is kept for the next queue of a
// similar size, since a host sends band after band: fresh pages would have to be faulted in and
// zeroed by the kernel again for every band. At most one mapping is kept.
namespace {

struct SMappingCache {
    std::mutex mutex;
    char* block = nullptr;
    std::size_t size = 0;
} g_cache;

char* TakeMapping(std::size_t size, std::size_t& mapped) {
    {
        std::lock_guard<std::mutex> lock(g_cache.mutex);
        // Reuse only what is not far larger than needed, so a small queue does not pin a big one.
        if (g_cache.block && g_cache.size >= size && g_cache.size <= 2 * size) {
            mapped = g_cache.size;
            g_cache.size = 0;
            return std::exchange(g_cache.block, nullptr);
        }
    }
    void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
    ::madvise(block, size, MADV_HUGEPAGE);  // advice only: without huge pages it still works
    // A host that forks (to run a helper program, say) must not turn every write into the queue
    // into a copy-on-write fault while the child lives.
    ::madvise(block, size, MADV_DONTFORK);
    mapped = size;
    return static_cast<char*>(block);
}

void ReturnMapping(char* block, std::size_t size) {
    char* dropped = nullptr;
    std::size_t droppedSize = 0;
    {
        std::lock_guard<std::mutex> lock(g_cache.mutex);
        dropped = std::exchange(g_cache.block, block);
        droppedSize = std::exchange(g_cache.size, size);
    }
    if (dropped) ::munmap(dropped, droppedSize);
}

}  // namespace

pcap_send_queue* pcap_sendqueue_alloc(u_int memsize) {
    auto* queue = static_cast<pcap_send_queue*>(std::calloc(1, sizeof(pcap_send_queue)));
    if (!queue) return nullptr;
    if (memsize >= MappedQueueMinimum) {
        queue->buffer = TakeMapping(memsize, queue->mapped);
    } else if (memsize > 0) {
        queue->buffer = static_cast<char*>(std::malloc(memsize));
    }
    if (memsize > 0 && !queue->buffer) {
        std::free(queue);
        return nullptr;
    }
    queue->maxlen = memsize;
    return queue;
}

void pcap_sendqueue_destroy(pcap_send_queue* queue) {
    if (!queue) return;
    if (queue->mapped > 0)
        ReturnMapping(queue->buffer, queue->mapped);
    else
        std::free(queue->buffer);
    std::free(queue);
}

// A whole job's queue is far larger than the caches and is read again only by the transmission:
// streaming stores skip reading every destination line in before it is overwritten.
static void CopyPastCache(char* destination, const u_char* source, u_int length) {
#if defined(__SSE2__)
    while (length > 0 && (reinterpret_cast<std::uintptr_t>(destination) & 15u) != 0) {
        *destination++ = static_cast<char>(*source++);
        --length;
    }
    for (; length >= 64; length -= 64, destination += 64, source += 64) {
        const auto* s = reinterpret_cast<const __m128i*>(source);
        auto* d = reinterpret_cast<__m128i*>(destination);
        _mm_stream_si128(d, _mm_loadu_si128(s));
        _mm_stream_si128(d + 1, _mm_loadu_si128(s + 1));
        _mm_stream_si128(d + 2, _mm_loadu_si128(s + 2));
        _mm_stream_si128(d + 3, _mm_loadu_si128(s + 3));
    }
    _mm_sfence();
#endif
    std::memcpy(destination, source, length);
}

int pcap_sendqueue_queue(pcap_send_queue* queue, const struct pcap_pkthdr* pkt_header,
                         const u_char* pkt_data) {
    if (!queue || !pkt_header || queue->len > queue->maxlen) return -1;
    const u_int caplen = pkt_header->caplen;
    if (caplen > 0 && !pkt_data) return -1;
    const std::uint64_t room = queue->maxlen - queue->len;
    if (std::uint64_t{SENDQUEUE_RECORD_HEADER_SIZE} + caplen > room) return -1;
    const SSendQueueRecordHeader header{static_cast<std::uint32_t>(pkt_header->ts.tv_sec),
                                        static_cast<std::uint32_t>(pkt_header->ts.tv_usec), caplen,
                                        pkt_header->len};
    char* at = queue->buffer + queue->len;
    std::memcpy(at, &header, SENDQUEUE_RECORD_HEADER_SIZE);
    if (caplen > 0) CopyPastCache(at + SENDQUEUE_RECORD_HEADER_SIZE, pkt_data, caplen);
    queue->len += SENDQUEUE_RECORD_HEADER_SIZE + caplen;
    return 0;
}

// sync asks the Windows driver to pace records by their time stamps. Every record of our callers
// carries the same time stamp, so paced or not they leave back to back: the flag is not used.
u_int pcap_sendqueue_transmit(pcap_t* p, pcap_send_queue* queue, int /*sync*/) {
    if (!queue || queue->len == 0 || !p) return 0;
    if (queue->len > queue->maxlen || !queue->buffer) {
        SetHandleError(p, "the send queue is damaged");
        return 0;
    }
    const int fd = SendDescriptor(p);
    if (fd < 0) return 0;
    const CSendBufferRaise raise(fd, queue->len);

    std::array<mmsghdr, SendBatchSize> messages;
    std::array<iovec, SendBatchSize> frames;
    std::array<u_int, SendBatchSize> recordSizes;
    const char* const buffer = queue->buffer;
    const u_int end = queue->len;
    u_int sent = 0;  // bytes of the queue consumed: everything before the first unsent record
    auto lastProgress = std::chrono::steady_clock::now();

    while (sent < end) {
        // Collect the next batch, checking every record against the queue's end: a damaged
        // length must not make us read past it.
        unsigned count = 0;
        u_int at = sent;
        bool damaged = false;
        while (count < SendBatchSize && at < end) {
            if (end - at < SENDQUEUE_RECORD_HEADER_SIZE) {
                damaged = true;
                break;
            }
            SSendQueueRecordHeader header;
            std::memcpy(&header, buffer + at, SENDQUEUE_RECORD_HEADER_SIZE);
            if (header.caplen > end - at - SENDQUEUE_RECORD_HEADER_SIZE) {
                damaged = true;
                break;
            }
            frames[count].iov_base = const_cast<char*>(buffer + at + SENDQUEUE_RECORD_HEADER_SIZE);
            frames[count].iov_len = header.caplen;
            messages[count] = mmsghdr{};
            messages[count].msg_hdr.msg_iov = &frames[count];
            messages[count].msg_hdr.msg_iovlen = 1;
            recordSizes[count] = SENDQUEUE_RECORD_HEADER_SIZE + header.caplen;
            at += recordSizes[count];
            ++count;
        }

        unsigned done = 0;
        while (done < count) {
            const int accepted = ::sendmmsg(fd, &messages[done], count - done, 0);
            if (accepted > 0) {
                // A short count leaves the reason for the next call to report; go on from the
                // first record that was not accepted.
                for (unsigned i = done; i < done + static_cast<unsigned>(accepted); ++i)
                    sent += recordSizes[i];
                done += static_cast<unsigned>(accepted);
                lastProgress = std::chrono::steady_clock::now();
                continue;
            }
            const int error = accepted < 0 ? errno : EAGAIN;
            if (error == EINTR) continue;
            if (error != EAGAIN && error != EWOULDBLOCK && error != ENOBUFS) {
                SetHandleError(p, "send failed after %u bytes: %s", sent, std::strerror(error));
                return sent;
            }
            if (std::chrono::steady_clock::now() - lastProgress > NoProgressLimit) {
                SetHandleError(p, "send stalled after %u bytes: %s", sent, std::strerror(error));
                return sent;
            }
            // When the socket buffer or the device queue is full, wait for room and send the
            // refused frame again, so that no frame is dropped.
            if (error == ENOBUFS) {
                std::this_thread::sleep_for(DeviceQueueFullPause);
            } else {
                pollfd writable{fd, POLLOUT, 0};
                ::poll(&writable, 1, SocketBufferWaitMs);
            }
        }
        if (damaged) {
            SetHandleError(p, "damaged send queue record at byte %u", at);
            return sent;
        }
    }
    return sent;
}

}  // namespace ferrolink::platform

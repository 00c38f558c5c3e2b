// Linux: libpcap 1.10 waits for frames in a loop that only a frame, a break or an error ends, so on
// a silent link its reads never return, whatever the handle's time-out. The reads here wait on the
// handle's descriptor themselves, for the read time-out the link was opened with (10 ms for a
// handle opened elsewhere), woken at once by a break (an event counter polled beside the socket),
// in slices of at most 10 ms so that a device that vanished is noticed, and call libpcap only once
// frames are waiting, when it cannot block. Capture files and dead handles go
// straight to libpcap. One reader at a time waits on a handle; others queue behind it.
#include <ferrolink/platform/Link.h>

#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>

#include <ferrolink/platform/linux/HandleError.h>
#include <ferrolink/platform/linux/PcapHandleRegistry.h>

namespace ferrolink::platform {

namespace {

constexpr int LiveCaptureBufferBytes = 4 << 20;

// Longest single wait, so that a break request is seen within this even on long time-outs.
constexpr int BreakCheckSliceMs = 10;

enum class EWaitResult { FramesWaiting, TimedOut, BreakRequested, Failed };

// Descriptor to wait on, or -1 when libpcap's own read is the right one (capture files, which
// never wait, and dead handles, which have nothing to read).
int LiveDescriptor(pcap_t* p) {
    if (::pcap_file(p)) return -1;
    const int fd = ::pcap_get_selectable_fd(p);
    // pcap_open_dead leaves the descriptor at 0 without owning it, and waiting on the host's
    // standard input would be wrong. A live handle holds 0 only when the host closed its
    // standard input, so only then is the descriptor asked what it is.
    if (fd == 0) {
        sockaddr_ll bound{};
        socklen_t length = sizeof(bound);
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0 ||
            bound.sll_family != AF_PACKET)
            return -1;
    }
    return fd;
}

// Asked on the handle's own socket, so the index is looked up in the handle's network namespace.
bool DeviceVanished(int fd) {
    sockaddr_ll bound{};
    socklen_t length = sizeof(bound);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return true;
    // The kernel unbinds a packet socket from a device that is unregistered.
    if (bound.sll_ifindex <= 0) return true;
    ifreq request{};
    request.ifr_ifindex = bound.sll_ifindex;
    return ::ioctl(fd, SIOCGIFNAME, &request) != 0 && (errno == ENODEV || errno == ENXIO);
}

// Takes the socket's pending error. A device that went down is not an error by itself (it may
// come back up, as libpcap also assumes); that it has gone for good is checked while waiting.
bool TakeSocketError(pcap_t* p, int fd, SPcapHandleState& state) {
    int error = 0;
    socklen_t length = sizeof(error);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error == ENETDOWN) {
        state.m_deviceDown = true;
        return true;
    }
    if (error == 0)
        SetHandleError(p, "error condition on the capture socket without an error code");
    else
        SetHandleError(p, "error on the capture socket: %s", std::strerror(error));
    return false;
}

// Milliseconds for the next poll: the rest of the time-out rounded up, at most one slice.
int NextSliceMs(int timeoutMs, std::chrono::steady_clock::time_point deadline) {
    if (timeoutMs < 0) return 0;
    if (timeoutMs == 0) return BreakCheckSliceMs;
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return 0;
    return static_cast<int>(std::min<long long>((left + 999) / 1000, BreakCheckSliceMs));
}

EWaitResult WaitForFrames(pcap_t* p, int fd, SPcapHandleState& state) {
    using Clock = std::chrono::steady_clock;
    const int timeout = state.m_readTimeoutMs;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
    for (;;) {
        pollfd ready[2] = {{fd, POLLIN, 0}, {state.m_wakeFd, POLLIN, 0}};
        const int polled =
            ::poll(ready, state.m_wakeFd >= 0 ? 2 : 1, NextSliceMs(timeout, deadline));
        if (polled < 0 && errno != EINTR) {
            SetHandleError(p, "poll on the capture socket: %s", std::strerror(errno));
            return EWaitResult::Failed;
        }
        // Emptied whatever woke it: a request taken earlier without a wait leaves its signal
        // behind, which only costs this one extra turn.
        const bool woken = ready[1].revents & POLLIN;
        if (woken) {
            std::uint64_t signals = 0;
            if (::read(state.m_wakeFd, &signals, sizeof signals) < 0) {
                // Already emptied: nothing to do.
            }
        }
        if (state.m_breakRequested.exchange(false)) return EWaitResult::BreakRequested;
        const short events = ready[0].revents;
        if (events) {
            if (events & POLLERR) {
                if (!TakeSocketError(p, fd, state)) return EWaitResult::Failed;
            } else if (events & POLLIN) {
                return EWaitResult::FramesWaiting;
            } else if (events & (POLLHUP | POLLNVAL)) {
                SetHandleError(p, "the capture socket was closed");
                return EWaitResult::Failed;
            }
        } else if (!woken && state.m_deviceDown && DeviceVanished(fd)) {
            SetHandleError(p, "The interface disappeared");
            return EWaitResult::Failed;
        }
        if (timeout < 0 || (timeout > 0 && Clock::now() >= deadline)) return EWaitResult::TimedOut;
    }
}

// Waits, then lets `read` call libpcap, which finds frames waiting and so does not block.
// `read` reports through its argument how many frames it handed out.
template <typename Read>
int ReadLive(pcap_t* p, int fd, Read&& read) {
    const std::shared_ptr<SPcapHandleState> state = CPcapHandleRegistry::Obtain(p);
    std::lock_guard<std::mutex> lock(state->m_readMutex);
    const EWaitResult waited = state->m_breakRequested.exchange(false)
                                   ? EWaitResult::BreakRequested
                                   : WaitForFrames(p, fd, *state);
    switch (waited) {
        case EWaitResult::BreakRequested:
            // The same request set libpcap's own flag, which only a frame will clear.
            state->m_libpcapBreakPending = true;
            return PCAP_ERROR_BREAK;
        case EWaitResult::TimedOut:
            return 0;
        case EWaitResult::Failed:
            return PCAP_ERROR;
        case EWaitResult::FramesWaiting:
            break;
    }
    state->m_deviceDown = false;
    int delivered = 0;
    const int result = read(delivered);
    if (result != PCAP_ERROR_BREAK) return result;
    // A request of ours that libpcap saw first: reported here, and its flag is gone with it.
    if (state->m_breakRequested.exchange(false)) return PCAP_ERROR_BREAK;
    // The flag of a break already reported: not a new request, the frames count as read.
    if (state->m_libpcapBreakPending) {
        state->m_libpcapBreakPending = false;
        return delivered;
    }
    return PCAP_ERROR_BREAK;  // a plain pcap_breakloop
}

struct SCountingCall {
    pcap_handler callback;
    u_char* user;
    int delivered;
};

void CountingHandler(u_char* user, const struct pcap_pkthdr* header, const u_char* bytes) {
    auto* call = reinterpret_cast<SCountingCall*>(user);
    ++call->delivered;
    call->callback(call->user, header, bytes);
}

}  // namespace

pcap_t* CLink::OpenLive(const std::string& device, const SLinkOptions& options,
                       std::string& error) {
    char text[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = ::pcap_create(device.c_str(), text);
    if (!handle) {
        error = text;
        return nullptr;
    }
    ::pcap_set_snaplen(handle, options.snapLength);
    ::pcap_set_promisc(handle, options.promiscuous ? 1 : 0);
    ::pcap_set_timeout(handle, options.readTimeoutMs > 0 ? options.readTimeoutMs : 0);
    // Without it a frame waits for a ring block to fill or its timer; the reads here bound the
    // wait themselves.
    ::pcap_set_immediate_mode(handle, options.immediate ? 1 : 0);
    // Replies and reports are small and few: 4 MiB holds about 2,000 full frames (24 ms of a
    // gigabit link seen whole) while the receive thread is busy in the host's callback. The ring
    // is allocated, zeroed and mapped at every open and counts in the host's resident memory:
    // 32 MiB cost 20-60 ms of start-up and 44 MB.
    ::pcap_set_buffer_size(handle, LiveCaptureBufferBytes);
    const int status = ::pcap_activate(handle);
    if (status < 0) {
        // libpcap's own text where it has one; the status names the kind of failure otherwise.
        const std::string detail = ::pcap_geterr(handle);
        if (detail.empty())
            error = device + ": " + ::pcap_statustostr(status);
        else if (status == PCAP_ERROR)
            error = device + ": " + detail;
        else
            error = device + ": " + ::pcap_statustostr(status) + " (" + detail + ")";
        ::pcap_close(handle);
        return nullptr;
    }
    // Warnings (promiscuous mode not supported, ...) leave a usable handle.
    CPcapHandleRegistry::Register(handle, options.readTimeoutMs);
    return handle;
}

int CLink::ReadOne(pcap_t* p, struct pcap_pkthdr** header, const u_char** data) {
    if (!p) return PCAP_ERROR;
    if (!header || !data) {
        SetHandleError(p, "a read needs places for the header and the data");
        return PCAP_ERROR;
    }
    const int fd = LiveDescriptor(p);
    if (fd < 0) return ::pcap_next_ex(p, header, data);
    return ReadLive(p, fd, [&](int& delivered) {
        *data = nullptr;
        const int result = ::pcap_next_ex(p, header, data);
        delivered = *data ? 1 : 0;
        return result;
    });
}

int CLink::ReadBatch(pcap_t* p, int count, pcap_handler callback, u_char* user) {
    if (!p) return PCAP_ERROR;
    if (!callback) {
        SetHandleError(p, "a read needs a callback");
        return PCAP_ERROR;
    }
    const int fd = LiveDescriptor(p);
    if (fd < 0) return ::pcap_dispatch(p, count, callback, user);
    return ReadLive(p, fd, [&](int& delivered) {
        SCountingCall call{callback, user, 0};
        const int result =
            ::pcap_dispatch(p, count, CountingHandler, reinterpret_cast<u_char*>(&call));
        delivered = call.delivered;
        return result;
    });
}

void CLink::Break(pcap_t* p) {
    if (!p) return;
    // Ours first: a read that then sees libpcap's flag knows the request is already counted.
    if (LiveDescriptor(p) >= 0) {
        const std::shared_ptr<SPcapHandleState> state = CPcapHandleRegistry::Obtain(p);
        state->m_breakRequested.store(true);
        const std::uint64_t one = 1;
        if (state->m_wakeFd >= 0 && ::write(state->m_wakeFd, &one, sizeof one) < 0) {
            // The counter is full of earlier signals: the waiting read is awake anyway.
        }
    }
    ::pcap_breakloop(p);
}

void CLink::Close(pcap_t* p) {
    if (!p) return;
    CPcapHandleRegistry::Forget(p);
    ::pcap_close(p);
}

bool CLink::Available(std::string&) {
    return true;  // libpcap is linked
}

}  // namespace ferrolink::platform

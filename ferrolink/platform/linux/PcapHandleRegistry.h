// What the link's reads remember per live capture handle: the read time-out the handle was opened
// with, a break request (and the counter that wakes a waiting read for it), and the lock that lets
// one reader at a time wait on the handle.
// CLink::OpenLive registers the handles it opens, CLink::Close forgets them; the reads and the
// break create a default entry for handles the host opened with plain libpcap.
#pragma once

#include <pcap/pcap.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace ferrolink::platform {

struct SPcapHandleState {
    explicit SPcapHandleState(int readTimeoutMs);
    ~SPcapHandleState();
    SPcapHandleState(const SPcapHandleState&) = delete;
    SPcapHandleState& operator=(const SPcapHandleState&) = delete;

    // Milliseconds a read waits for a frame; 0 waits until one comes, negative does not wait.
    const int m_readTimeoutMs;
    // Held from the readiness check to the end of the read: a frame seen by one reader must not
    // be taken by another before the first reads, or libpcap would block the first one.
    std::mutex m_readMutex;
    // Set by CLink::Break, taken by the next read, which returns -2.
    std::atomic<bool> m_breakRequested{false};
    // An event counter CLink::Break signals after setting the request, so that a read waiting
    // on the socket wakes at once rather than at the end of its slice; -1 when the system gave
    // none (the request is then seen within a slice).
    const int m_wakeFd;
    // Guarded by m_readMutex. A break was reported without libpcap's own flag being taken, so
    // the -2 that libpcap returns at the next frame is a leftover, not a new request.
    bool m_libpcapBreakPending = false;
    // Guarded by m_readMutex. The socket reported the device down; a silent read then checks
    // whether it still exists.
    bool m_deviceDown = false;
};

class CPcapHandleRegistry {
public:
    // Read time-out assumed for a handle we did not open: the one the adapter code opens with.
    static constexpr int DefaultReadTimeoutMs = 10;

    // Fresh state for the handle, replacing whatever a handle at the same address left behind.
    static void Register(pcap_t* handle, int readTimeoutMs);
    // The handle's state, created with the default time-out when the handle is unknown.
    static std::shared_ptr<SPcapHandleState> Obtain(pcap_t* handle);
    // True when the handle was known.
    static bool Forget(pcap_t* handle);
};

}  // namespace ferrolink::platform

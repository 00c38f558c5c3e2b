// The PC's network adapters as the library needs them: the device name a link opens, what the
// operator is shown, the current MAC address, the link speed and state, and whether frames of the
// board can run on it at all (Ethernet). Linux asks libpcap for the devices and the kernel, in the
// caller's network namespace, for the rest; Windows joins wpcap.dll's device list with the IP
// Helper API. Used by the adapter table, the device list and the packet-driver queries.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace ferrolink::platform {

struct SAdapter {
    std::string name;         // as the link opens it: "eth0", "\Device\NPF_{GUID}"
    std::string description;  // empty when the system has none
    std::uint32_t index = 0;  // the system's interface index
    unsigned char mac[6] = {};
    bool hasMac = false;          // a 6-byte hardware address is known
    std::uint64_t linkSpeed = 0;  // bits per second; 0 when down or not known
    bool linkUp = false;          // up and running
    bool ethernet = false;        // an Ethernet adapter, which the board can answer on
};

// A failure as the system gave it: its error code (errno, or a Windows system error code) and a
// text for the log. A code of 0 means success.
struct SSystemError {
    unsigned long code = 0;
    std::string text;
    explicit operator bool() const { return code != 0; }
};

// Where the adapters come from; the system's own unless a test installed another.
class IAdapterSource {
public:
    virtual ~IAdapterSource() = default;
    virtual SSystemError List(std::vector<SAdapter>& adapters) = 0;
    virtual SSystemError Query(const std::string& name, SAdapter& adapter) = 0;
};

class CAdapters {
public:
    // Every adapter of the system, in the capture library's order (cleared first).
    static SSystemError List(std::vector<SAdapter>& adapters);
    // One adapter by its device name; fails when there is none of that name.
    static SSystemError Query(const std::string& name, SAdapter& adapter);

private:
    static SSystemError SystemList(std::vector<SAdapter>& adapters);
    static SSystemError SystemQuery(const std::string& name, SAdapter& adapter);
};

// Installs `source` for every later call (the caller keeps it alive); null restores the
// system's. Defined only in what the tests link (tests/support/TestSeams.cpp).
void SetAdapterSourceForTesting(IAdapterSource* source);

namespace detail {
extern std::atomic<IAdapterSource*> g_adapterSource;  // null: the system's
}

}  // namespace ferrolink::platform

// What the packet driver asks of the system, behind one small interface. The Linux implementation
// is the default; tests install a fake to give link speeds, failures and adapter lists that a
// machine cannot be made to show.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <ferrolink/platform/PacketDriver.h>

namespace ferrolink::platform {

struct SPacketAdapterEntry {
    std::string name;  // driver adapter name, without "rpcap://"
    std::string description;
};

// Every operation returns 0 on success or the system's error code of its failure.
class IPacketDriverBackend {
public:
    virtual ~IPacketDriverBackend() = default;

    // The adapters in device-list order.
    virtual int Adapters_List(std::vector<SPacketAdapterEntry>& adapters) = 0;
    // A descriptor (>= 0) for queries on the named adapter; Adapter_Close gives it back.
    virtual int Adapter_Open(const std::string& name, int& handle) = 0;
    virtual void Adapter_Close(int handle) = 0;
    virtual int CurrentAddress_Get(int handle, const std::string& name,
                                   unsigned char (&address)[6]) = 0;
    // LinkSpeed in bits per second.
    virtual int NetType_Get(int handle, const std::string& name, NetType& type) = 0;
};

// Installs `backend` for every later call (the caller keeps it alive until it is replaced);
// null restores the system's one. Adapters keep the backend that opened them until closed.
// Defined only in what the tests link (tests/support/TestSeams.cpp).
void SetPacketDriverBackendForTesting(IPacketDriverBackend* backend);

namespace detail {
extern std::atomic<IPacketDriverBackend*> g_packetDriverBackend;  // null: the system's

// What each system supplies to the shared packet-driver calls: its own backend, its error code
// for each kind of refusal the calls make themselves, and where its last-error value lives.
enum class EDriverError {
    InvalidParameter,
    BadHandle,
    BufferTooSmall,
    NoSuchAdapter,
    NoMemory,
    NotSupported
};
IPacketDriverBackend& SystemPacketDriverBackend();
unsigned long SystemErrorCode(EDriverError kind);
void SystemLastError_Set(unsigned long code);
}  // namespace detail

// The system reports speeds in Mbit/s, with 0 or -1 (all bits set) for "unknown": false for
// those, otherwise the speed in bits per second.
bool LinkSpeed_FromMbps(std::uint32_t mbps, std::uint64_t& bitsPerSecond);

}  // namespace ferrolink::platform

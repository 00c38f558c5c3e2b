// The packet driver's backend on Windows: the adapters, MAC addresses, link states and speeds of
// the IP Helper API. Adapter names are Npcap's "\Device\NPF_{GUID}"; error codes are Windows
// system error codes.
#include <ferrolink/platform/PacketDriver.h>

#include <winsock2.h>

#include <cstring>

#include <ferrolink/platform/PacketDriverBackend.h>
#include <ferrolink/platform/windows/IpHelperAdapters.h>
#include <ferrolink/platform/windows/NpfDeviceName.h>

namespace ferrolink::platform {

namespace {

int Find(const std::string& name, SIpHelperAdapter& found) {
    std::string guid;
    if (!CNpfDeviceName::ToGuid(name, guid)) return ERROR_FILE_NOT_FOUND;
    std::vector<SIpHelperAdapter> adapters;
    if (const unsigned long error = CIpHelperAdapters::List(adapters))
        return static_cast<int>(error);
    for (auto& a : adapters) {
        // GUIDs compare whatever the case of their hex digits.
        std::string candidate;
        if (CNpfDeviceName::ToGuid(CNpfDeviceName::FromGuid(a.guid), candidate) &&
            candidate == guid) {
            found = std::move(a);
            return 0;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

class CWindowsPacketDriverBackend : public IPacketDriverBackend {
public:
    int Adapters_List(std::vector<SPacketAdapterEntry>& adapters) override {
        adapters.clear();
        std::vector<SIpHelperAdapter> found;
        if (const unsigned long error = CIpHelperAdapters::List(found))
            return static_cast<int>(error);
        for (const auto& a : found) {
            const std::string name = CNpfDeviceName::FromGuid(a.guid);
            if (a.ethernet && !name.empty()) adapters.push_back({name, a.description});
        }
        return 0;
    }

    int Adapter_Open(const std::string& name, int& handle) override {
        SIpHelperAdapter adapter;
        if (const int error = Find(name, adapter)) return error;
        handle = static_cast<int>(adapter.index);
        return 0;
    }

    void Adapter_Close(int) override {}

    int CurrentAddress_Get(int, const std::string& name, unsigned char (&address)[6]) override {
        SIpHelperAdapter adapter;
        if (const int error = Find(name, adapter)) return error;
        if (adapter.addressLength != sizeof address) return ERROR_NOT_SUPPORTED;
        std::memcpy(address, adapter.address, sizeof address);
        return 0;
    }

    int NetType_Get(int, const std::string& name, NetType& type) override {
        SIpHelperAdapter adapter;
        if (const int error = Find(name, adapter)) return error;
        if (!adapter.up) return ERROR_NOT_READY;
        type.LinkType = adapter.ethernet ? NdisMedium802_3 : NdisMediumNull;
        type.LinkSpeed = adapter.speed;  // 0: not known, which no speed threshold accepts
        return 0;
    }
};

}  // namespace

namespace detail {

IPacketDriverBackend& SystemPacketDriverBackend() {
    static CWindowsPacketDriverBackend backend;
    return backend;
}

unsigned long SystemErrorCode(EDriverError kind) {
    switch (kind) {
        case EDriverError::InvalidParameter:
            return ERROR_INVALID_PARAMETER;
        case EDriverError::BadHandle:
            return ERROR_INVALID_HANDLE;
        case EDriverError::BufferTooSmall:
            return ERROR_INSUFFICIENT_BUFFER;
        case EDriverError::NoSuchAdapter:
            return ERROR_FILE_NOT_FOUND;
        case EDriverError::NoMemory:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EDriverError::NotSupported:
            return ERROR_NOT_SUPPORTED;
    }
    return ERROR_INVALID_PARAMETER;
}

void SystemLastError_Set(unsigned long code) {
    ::SetLastError(static_cast<DWORD>(code));
}

}  // namespace detail

}  // namespace ferrolink::platform

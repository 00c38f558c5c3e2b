// The packet driver's queries on Windows: the same calls as Packet.dll offers, answered from the
// IP Helper API behind the backend seam, so that tests can stand in for the system here too.
// Adapter names are Npcap's "\Device\NPF_{GUID}"; error codes are Windows system error codes.
#include <ferrolink/platform/PacketDriver.h>

#include <winsock2.h>

#include <atomic>
#include <cstring>
#include <new>

#include <ferrolink/platform/PacketDriverBackend.h>
#include <ferrolink/platform/windows/IpHelperAdapters.h>
#include <ferrolink/platform/windows/NpfDeviceName.h>

namespace ferrolink::platform {

namespace {

thread_local unsigned long t_lastError = 0;

bool Fail(unsigned long error) {
    t_lastError = error;
    ::SetLastError(static_cast<DWORD>(error));
    return false;
}

int Find(const std::string& name, SIpHelperAdapter& found) {
    std::string guid;
    if (!CNpfDeviceName::ToGuid(name, guid)) return ERROR_FILE_NOT_FOUND;
    std::vector<SIpHelperAdapter> adapters;
    if (const unsigned long error = CIpHelperAdapters::List(adapters))
        return static_cast<int>(error);
    for (auto& a : adapters) {
        if (CNpfDeviceName::FromGuid(a.guid) == CNpfDeviceName::FromGuid(guid)) {
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

CWindowsPacketDriverBackend g_windowsBackend;
std::atomic<IPacketDriverBackend*> g_backend{nullptr};

IPacketDriverBackend& Backend() {
    IPacketDriverBackend* backend = g_backend.load(std::memory_order_acquire);
    return backend ? *backend : g_windowsBackend;
}

struct SAdapterObject : ADAPTER {
    IPacketDriverBackend* backend;
};

SAdapterObject* Object(ADAPTER* adapter) {
    return static_cast<SAdapterObject*>(adapter);
}

bool Usable(ADAPTER* adapter) {
    if (!adapter) return Fail(ERROR_INVALID_PARAMETER);
    if (adapter->hFile == INVALID_ADAPTER_FILE) return Fail(ERROR_INVALID_HANDLE);
    return true;
}

}  // namespace

void SetPacketDriverBackendForTesting(IPacketDriverBackend* backend) {
    g_backend.store(backend, std::memory_order_release);
}

bool LinkSpeed_FromMbps(std::uint32_t mbps, std::uint64_t& bitsPerSecond) {
    if (mbps == 0 || mbps == 0xFFFFFFFFu) return false;
    bitsPerSecond = static_cast<std::uint64_t>(mbps) * 1000000u;
    return true;
}

bool PacketGetAdapterNames(char* buffer, unsigned long* size) {
    if (!size) return Fail(ERROR_INVALID_PARAMETER);
    std::vector<SPacketAdapterEntry> adapters;
    if (const int error = Backend().Adapters_List(adapters))
        return Fail(static_cast<unsigned long>(error));
    std::string block;
    for (const auto& a : adapters)
        if (!a.name.empty() && a.name.find('\0') == std::string::npos)
            block.append(a.name).push_back('\0');
    block.push_back('\0');
    for (const auto& a : adapters)
        if (!a.name.empty() && a.name.find('\0') == std::string::npos)
            block.append(a.description.c_str()).push_back('\0');
    block.push_back('\0');
    if (!buffer || *size < block.size()) {
        *size = static_cast<unsigned long>(block.size());
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, block.data(), block.size());
    *size = static_cast<unsigned long>(block.size());
    return true;
}

ADAPTER* PacketOpenAdapter(const char* name) {
    if (!name || !*name) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::size_t length = std::strlen(name);
    if (length >= ADAPTER_NAME_LENGTH) {
        Fail(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    IPacketDriverBackend& backend = Backend();
    int handle = INVALID_ADAPTER_FILE;
    if (const int error = backend.Adapter_Open(name, handle)) {
        Fail(static_cast<unsigned long>(error));
        return nullptr;
    }
    auto* adapter = new (std::nothrow) SAdapterObject{};
    if (!adapter) {
        backend.Adapter_Close(handle);
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    adapter->hFile = handle;
    std::memcpy(adapter->Name, name, length + 1);
    adapter->backend = &backend;
    return adapter;
}

void PacketCloseAdapter(ADAPTER* adapter) {
    if (!adapter) return;
    SAdapterObject* object = Object(adapter);
    if (object->hFile != INVALID_ADAPTER_FILE) object->backend->Adapter_Close(object->hFile);
    delete object;
}

bool PacketRequest(ADAPTER* adapter, bool set, PACKET_OID_DATA* data) {
    if (!Usable(adapter)) return false;
    if (!data) return Fail(ERROR_INVALID_PARAMETER);
    if (set || data->Oid != OID_802_3_CURRENT_ADDRESS) return Fail(ERROR_NOT_SUPPORTED);
    unsigned char address[6];
    if (data->Length < sizeof address) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (const int error =
            Object(adapter)->backend->CurrentAddress_Get(adapter->hFile, adapter->Name, address))
        return Fail(static_cast<unsigned long>(error));
    unsigned char* bytes = data->Data;
    std::memcpy(bytes, address, sizeof address);
    data->Length = sizeof address;
    return true;
}

bool PacketGetNetType(ADAPTER* adapter, NetType* type) {
    if (!Usable(adapter)) return false;
    if (!type) return Fail(ERROR_INVALID_PARAMETER);
    NetType answer{};
    if (const int error =
            Object(adapter)->backend->NetType_Get(adapter->hFile, adapter->Name, answer))
        return Fail(static_cast<unsigned long>(error));
    *type = answer;
    return true;
}

unsigned long GetLastError() {
    return t_lastError;
}

}  // namespace ferrolink::platform

// The packet driver's calls, the same on every system: the adapter object, the names block, the
// address and net-type requests and the thread's last error, over the backend of the system (or
// the one a test installed). Only the backends and the error codes differ by system.
#include <ferrolink/platform/PacketDriver.h>

#include <atomic>
#include <cstring>
#include <new>

#include <ferrolink/platform/PacketDriverBackend.h>

namespace ferrolink::platform {

namespace detail {
std::atomic<IPacketDriverBackend*> g_packetDriverBackend{nullptr};
}

namespace {

using detail::EDriverError;

thread_local unsigned long t_lastError = 0;

bool Fail(unsigned long error) {
    t_lastError = error;
    detail::SystemLastError_Set(error);
    return false;
}

bool Fail(EDriverError kind) {
    return Fail(detail::SystemErrorCode(kind));
}

IPacketDriverBackend& Backend() {
    IPacketDriverBackend* backend = detail::g_packetDriverBackend.load(std::memory_order_acquire);
    return backend ? *backend : detail::SystemPacketDriverBackend();
}

// What the caller holds is the ADAPTER part; the backend stays with the adapter so that a test
// replacing the backend cannot send a descriptor to the wrong one.
struct SAdapterObject : ADAPTER {
    IPacketDriverBackend* backend;
};

SAdapterObject* Object(ADAPTER* adapter) {
    return static_cast<SAdapterObject*>(adapter);
}

bool Usable(ADAPTER* adapter) {
    if (!adapter) return Fail(EDriverError::InvalidParameter);
    if (adapter->hFile == INVALID_ADAPTER_FILE) return Fail(EDriverError::BadHandle);
    return true;
}

}  // namespace

bool LinkSpeed_FromMbps(std::uint32_t mbps, std::uint64_t& bitsPerSecond) {
    if (mbps == 0 || mbps == 0xFFFFFFFFu) return false;
    bitsPerSecond = static_cast<std::uint64_t>(mbps) * 1000000u;
    return true;
}

bool PacketGetAdapterNames(char* buffer, unsigned long* size) {
    if (!size) return Fail(EDriverError::InvalidParameter);
    std::vector<SPacketAdapterEntry> adapters;
    if (const int error = Backend().Adapters_List(adapters))
        return Fail(static_cast<unsigned long>(error));
    // A name with an inner zero, or an empty one, would cut the block in the wrong place.
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
        return Fail(EDriverError::BufferTooSmall);
    }
    std::memcpy(buffer, block.data(), block.size());
    *size = static_cast<unsigned long>(block.size());
    return true;
}

ADAPTER* PacketOpenAdapter(const char* name) {
    if (!name || !*name) {
        Fail(EDriverError::InvalidParameter);
        return nullptr;
    }
    const std::size_t length = std::strlen(name);
    if (length >= ADAPTER_NAME_LENGTH) {
        Fail(EDriverError::NoSuchAdapter);
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
        Fail(EDriverError::NoMemory);
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
    if (!data) return Fail(EDriverError::InvalidParameter);
    if (set || data->Oid != OID_802_3_CURRENT_ADDRESS) return Fail(EDriverError::NotSupported);
    unsigned char address[6];
    if (data->Length < sizeof address) return Fail(EDriverError::BufferTooSmall);
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
    if (!type) return Fail(EDriverError::InvalidParameter);
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

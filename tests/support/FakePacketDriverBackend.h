// A packet-driver backend that answers from a table, for tests of code above the packet driver:
// link speeds, unopenable adapters and refused queries that no machine can be made to show on
// demand. It records which adapters were opened and which are still open. Not thread-safe.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <ferrolink/platform/PacketDriverBackend.h>

namespace ferrolink::platform {

struct SFakeAdapter {
    std::string name;
    std::string description;
    unsigned long long linkSpeed = 1000000000ull;  // bits per second
    unsigned char mac[6] = {0x02, 0, 0, 0, 0, 0x01};
    int openError = 0;     // errno value Adapter_Open fails with, 0: opens
    int addressError = 0;  // errno value of the MAC query
    int netTypeError = 0;  // errno value of the link speed query
};

class CFakePacketDriverBackend : public IPacketDriverBackend {
public:
    std::vector<SFakeAdapter> adapters;
    int listError = 0;
    std::vector<std::string> opened;  // every Adapter_Open call, in order
    std::map<int, std::string> open;  // handle -> name of adapters not yet closed

    SFakeAdapter& Add(const std::string& name, unsigned long long linkSpeed) {
        adapters.push_back({name, "", linkSpeed});
        return adapters.back();
    }

    int Adapters_List(std::vector<SPacketAdapterEntry>& list) override {
        if (listError != 0) return listError;
        list.clear();
        for (const auto& a : adapters) list.push_back({a.name, a.description});
        return 0;
    }
    int Adapter_Open(const std::string& name, int& handle) override {
        opened.push_back(name);
        const SFakeAdapter* a = Find(name);
        if (!a) return ENODEV;
        if (a->openError != 0) return a->openError;
        handle = m_nextHandle++;
        open[handle] = name;
        return 0;
    }
    void Adapter_Close(int handle) override { open.erase(handle); }
    int CurrentAddress_Get(int handle, const std::string& name,
                           unsigned char (&address)[6]) override {
        const SFakeAdapter* a = Opened(handle, name);
        if (!a) return EBADF;
        if (a->addressError != 0) return a->addressError;
        std::memcpy(address, a->mac, sizeof address);
        return 0;
    }
    int NetType_Get(int handle, const std::string& name, NetType& type) override {
        const SFakeAdapter* a = Opened(handle, name);
        if (!a) return EBADF;
        if (a->netTypeError != 0) return a->netTypeError;
        type.LinkType = NdisMedium802_3;
        type.LinkSpeed = a->linkSpeed;
        return 0;
    }

private:
    const SFakeAdapter* Find(const std::string& name) const {
        auto it = std::find_if(adapters.begin(), adapters.end(),
                               [&](const SFakeAdapter& a) { return a.name == name; });
        return it == adapters.end() ? nullptr : &*it;
    }
    // Queries must come with the handle their adapter was opened under.
    const SFakeAdapter* Opened(int handle, const std::string& name) const {
        auto it = open.find(handle);
        return it != open.end() && it->second == name ? Find(name) : nullptr;
    }

    int m_nextHandle = 100;
};

// Installs a backend for the lifetime of a scope and restores the system's one after it.
class CPacketDriverBackendScope {
public:
    explicit CPacketDriverBackendScope(IPacketDriverBackend& backend) {
        SetPacketDriverBackendForTesting(&backend);
    }
    ~CPacketDriverBackendScope() { SetPacketDriverBackendForTesting(nullptr); }
    CPacketDriverBackendScope(const CPacketDriverBackendScope&) = delete;
    CPacketDriverBackendScope& operator=(const CPacketDriverBackendScope&) = delete;
};

}  // namespace ferrolink::platform

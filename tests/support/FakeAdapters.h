// Adapters from a table, for tests of the code above the platform: link speeds, states and
// refused queries that no machine can be made to show on demand. Installed for the object's
// lifetime; records which adapters were asked about. Not thread-safe.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include <ferrolink/platform/Adapters.h>

namespace ferrolink::platform {

struct SFakeAdapter : SAdapter {
    unsigned long queryError = 0;  // the system code a query of this adapter fails with
};

class CFakeAdapters : public IAdapterSource {
public:
    CFakeAdapters() { SetAdapterSourceForTesting(this); }
    ~CFakeAdapters() override { SetAdapterSourceForTesting(nullptr); }
    CFakeAdapters(const CFakeAdapters&) = delete;
    CFakeAdapters& operator=(const CFakeAdapters&) = delete;

    std::vector<SFakeAdapter> adapters;
    unsigned long listError = 0;
    std::vector<std::string> queried;  // every Query, in order

    // An Ethernet adapter that is up, with a MAC of its own.
    SFakeAdapter& Add(const std::string& name, std::uint64_t linkSpeed) {
        SFakeAdapter a;
        a.name = name;
        a.linkSpeed = linkSpeed;
        a.linkUp = a.ethernet = a.hasMac = true;
        a.mac[0] = 0x02;
        a.mac[5] = static_cast<unsigned char>(adapters.size() + 1);
        adapters.push_back(a);
        return adapters.back();
    }

    SSystemError List(std::vector<SAdapter>& list) override {
        if (listError != 0) return {listError, "the adapter list is refused"};
        list.assign(adapters.begin(), adapters.end());
        return {};
    }
    SSystemError Query(const std::string& name, SAdapter& adapter) override {
        queried.push_back(name);
        auto it = std::find_if(adapters.begin(), adapters.end(),
                               [&](const SFakeAdapter& a) { return a.name == name; });
        if (it == adapters.end()) return {2, "no adapter " + name};
        if (it->queryError != 0) return {it->queryError, "refused"};
        adapter = *it;
        return {};
    }
};

}  // namespace ferrolink::platform

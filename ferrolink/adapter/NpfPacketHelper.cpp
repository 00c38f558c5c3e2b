#include <ferrolink/adapter/NpfPacketHelper.h>

#include <pcap/pcap.h>

#include <cstdio>
#include <iostream>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/platform/Adapters.h>

namespace ferrolink::core {

namespace flk = ferrolink::platform;

namespace {

constexpr std::uint64_t GigabitPerSecond = 1000000000ull;
constexpr std::size_t DevicePrefixLength = 8;  // "rpcap://"

// The adapter's facts, or false with the open failure logged as the driver's callers log it.
bool Query(const std::string& name, flk::SAdapter& adapter) {
    if (const flk::SSystemError error = flk::CAdapters::Query(name, adapter)) {
        FLK_LOG(2) << "Unable to open the adapter, Error Code : 0x" << std::hex << error.code;
        return false;
    }
    return true;
}

}  // namespace

bool CNpfPacketHelper::AdapterNameList_Get(std::vector<std::string>& names) {
    std::vector<flk::SAdapter> adapters;
    if (flk::CAdapters::List(adapters)) {
        std::cout << "Unable to retrieve the list of the adapters!\n";
        return false;
    }
    // The board answers Ethernet frames only; the driver lists no other adapter.
    names.clear();
    for (const flk::SAdapter& a : adapters)
        if (a.ethernet) names.push_back(a.name);
    return !names.empty();
}

bool CNpfPacketHelper::GB_AdapterName_Get(std::string& name) {
    std::vector<std::string> names;
    if (!AdapterNameList_Get(names)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    for (const auto& candidate : names) {
        flk::SAdapter adapter;
        if (const flk::SSystemError error = flk::CAdapters::Query(candidate, adapter)) {
            char line[80];
            std::snprintf(line, sizeof line, "Unable to open the adapter, Error Code : %lx\n",
                          error.code);
            std::cout << line;
            continue;
        }
        if (adapter.linkSpeed >= GigabitPerSecond) {
            name = candidate;
            break;
        }
    }
    return !name.empty();
}

bool CNpfPacketHelper::Device_2_MacAddress(void* device, std::vector<unsigned char>& mac) {
    if (!device) {
        FLK_LOG(2) << "failure";
        return false;
    }
    std::string adapterName;
    if (!DeviceName_2_AdapterName(static_cast<pcap_if_t*>(device)->name, adapterName) ||
        !AdapterName_2_MacAddress(adapterName, mac)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return true;
}

bool CNpfPacketHelper::AdapterName_2_MacAddress(std::string name, std::vector<unsigned char>& mac) {
    mac.clear();
    flk::SAdapter adapter;
    if (!Query(name, adapter)) return false;
    if (!adapter.hasMac) {
        FLK_LOG(2) << "error retrieving the MAC address of the adapter!";
        return false;
    }
    mac.assign(adapter.mac, adapter.mac + sizeof adapter.mac);
    return true;
}

// A link that is down, or that does not tell its speed, has the speed 0: asked, not refused.
bool CNpfPacketHelper::AdapterName_2_LinkSpeed(std::string name, std::uint64_t& speed) {
    flk::SAdapter adapter;
    if (!Query(name, adapter)) return false;
    speed = adapter.linkSpeed;
    return true;
}

bool CNpfPacketHelper::DeviceName_2_AdapterName(const char* deviceName, std::string& adapterName) {
    // Counted up to the prefix only: a shorter name must not be read past its end.
    std::size_t length = 0;
    while (deviceName && length < DevicePrefixLength && deviceName[length] != '\0') ++length;
    if (length < DevicePrefixLength) {
        FLK_LOG(2) << "device name shorter than its \"rpcap://\" prefix: "
                   << (deviceName ? deviceName : "(null)");
        return false;
    }
    adapterName.assign(deviceName + DevicePrefixLength);
    return true;
}

}  // namespace ferrolink::core

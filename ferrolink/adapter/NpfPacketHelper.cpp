#include <ferrolink/adapter/NpfPacketHelper.h>

#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/outside/StringUtils.h>
#include <ferrolink/platform/PacketDriver.h>

namespace ferrolink::core {

namespace flk = ferrolink::platform;

namespace {

constexpr std::uint64_t GigabitPerSecond = 1000000000ull;
constexpr std::size_t DevicePrefixLength = 8;  // "rpcap://"
constexpr std::size_t MacLength = 6;

// Null on failure, with the reason in the last error. An object without a valid handle counts as
// a failure too, and is released here so the caller has nothing to close.
flk::ADAPTER* OpenAdapter(const std::string& name) {
    flk::ADAPTER* adapter = flk::PacketOpenAdapter(name.c_str());
    if (adapter && adapter->hFile == flk::INVALID_ADAPTER_FILE) {
        flk::PacketCloseAdapter(adapter);
        return nullptr;
    }
    return adapter;
}

}  // namespace

bool CNpfPacketHelper::AdapterNameList_Get(std::vector<std::string>& names) {
    unsigned long size = 0;
    flk::PacketGetAdapterNames(nullptr, &size);  // only asks for the size
    ++size;
    std::vector<char> buffer(size, '\0');
    if (!flk::PacketGetAdapterNames(buffer.data(), &size)) {
        std::cout << "Unable to retrieve the list of the adapters!\n";
        return false;
    }
    const std::string text(buffer.data(), std::min<std::size_t>(size, buffer.size()));
    StringUtils::Split(text, std::string("\0\0", 2), names, false, true);
    if (!names.empty()) {
        const std::string nameBlock = names.front();
        StringUtils::Split(nameBlock, std::string("\0", 1), names, false, true);
    }
    return !names.empty();
}

bool CNpfPacketHelper::GB_AdapterName_Get(std::string& name) {
    std::vector<std::string> names;
    if (!AdapterNameList_Get(names)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    const std::string* gigabit = nullptr;
    for (const auto& candidate : names) {
        flk::ADAPTER* adapter = OpenAdapter(candidate);
        if (!adapter) {
            char line[80];
            std::snprintf(line, sizeof line, "Unable to open the adapter, Error Code : %lx\n",
                          flk::GetLastError());
            std::cout << line;
            continue;
        }
        flk::NetType type{};
        const bool fast =
            flk::PacketGetNetType(adapter, &type) && type.LinkSpeed >= GigabitPerSecond;
        flk::PacketCloseAdapter(adapter);
        if (fast) {
            gigabit = &candidate;
            break;
        }
    }
    if (gigabit) name = *gigabit;
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
    flk::ADAPTER* adapter = OpenAdapter(name);
    if (!adapter) {
        FLK_LOG(2) << "Unable to open the adapter, Error Code : 0x" << std::hex
                   << flk::GetLastError();
        return false;
    }
    auto* request = static_cast<flk::PACKET_OID_DATA*>(
        std::calloc(1, sizeof(flk::PACKET_OID_DATA) + MacLength));
    if (!request) {
        FLK_LOG(2) << "failure";
        flk::PacketCloseAdapter(adapter);
        return false;
    }
    request->Oid = flk::OID_802_3_CURRENT_ADDRESS;
    request->Length = MacLength;
    if (flk::PacketRequest(adapter, false, request)) {
        const unsigned char* bytes = request->Data;
        mac.assign(bytes, bytes + MacLength);
    } else {
        FLK_LOG(2) << "error retrieving the MAC address of the adapter!";
    }
    std::free(request);
    flk::PacketCloseAdapter(adapter);
    return mac.size() == MacLength;
}

bool CNpfPacketHelper::AdapterName_2_LinkSpeed(std::string name, std::uint64_t& speed) {
    flk::ADAPTER* adapter = OpenAdapter(name);
    if (!adapter) {
        FLK_LOG(2) << "Unable to open the adapter, Error Code : 0x" << std::hex
                   << flk::GetLastError();
        return false;
    }
    flk::NetType type{};
    const bool read = flk::PacketGetNetType(adapter, &type);
    if (read) speed = type.LinkSpeed;
    flk::PacketCloseAdapter(adapter);
    return read;
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

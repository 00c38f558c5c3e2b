#include <ferrolink/adapter/FindAllDevice_Internal.h>

#include <pcap/pcap.h>

#include <cinttypes>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <new>
#include <vector>

#include <ferrolink/adapter/NpfPacketHelper.h>
#include <ferrolink/outside/AdapterInfo.h>
#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/platform/Adapters.h>

namespace ferrolink::core {

namespace flk = ferrolink::platform;

namespace {

const char* DescriptionOf(const pcap_if* device) {
    return device->description ? device->description : "";
}

std::uint32_t FieldLength(const char* text) {
    return static_cast<std::uint32_t>(std::strlen(text) + 1);
}

unsigned char* PutField(unsigned char* at, const char* text) {
    const std::uint32_t length = FieldLength(text);
    std::memcpy(at, &length, sizeof length);
    std::memcpy(at + sizeof length, text, length);
    return at + sizeof length + length;
}

char* CopyText(const std::string& prefix, const std::string& text) {
    auto* copy = static_cast<char*>(std::malloc(prefix.size() + text.size() + 1));
    if (!copy) throw std::bad_alloc();
    std::memcpy(copy, prefix.data(), prefix.size());
    std::memcpy(copy + prefix.size(), text.c_str(), text.size() + 1);
    return copy;
}

void FreeList(pcap_if* device) {
    while (device) {
        pcap_if* next = device->next;
        std::free(device->name);
        std::free(device->description);
        std::free(device);
        device = next;
    }
}

}  // namespace

CFindAllDevice_Internal::~CFindAllDevice_Internal() {
    FreeList(m_deviceList);
    m_deviceList = nullptr;
}

// The capture library's entries, made here from the Ethernet adapters (the board answers on no
// other), each named as a capture source: "rpcap://" and the driver adapter name.
pcap_if* CFindAllDevice_Internal::FindAllDevice() {
    if (m_deviceList) return m_deviceList;
    std::vector<flk::SAdapter> adapters;
    if (const flk::SSystemError error = flk::CAdapters::List(adapters)) {
        FLK_LOG(2) << "Error in pcap_findalldevs_ex: " << error.text;
        return nullptr;
    }
    pcap_if* head = nullptr;
    pcap_if** tail = &head;
    try {
        for (const flk::SAdapter& a : adapters) {
            if (!a.ethernet) continue;
            *tail = static_cast<pcap_if*>(std::calloc(1, sizeof(pcap_if)));
            if (!*tail) throw std::bad_alloc();
            (*tail)->name = CopyText("rpcap://", a.name);
            if (!a.description.empty()) (*tail)->description = CopyText("", a.description);
            tail = &(*tail)->next;
        }
    } catch (...) {
        FreeList(head);
        throw;
    }
    if (!head) {
        FLK_LOG(2) << "find all device failure.";
        return nullptr;
    }
    m_deviceList = head;
    return m_deviceList;
}

int CFindAllDevice_Internal::GetAdaptorInfo(unsigned char* buffer, int& size) {
    if (!FindAllDevice()) return -1;
    std::uint64_t blockSize = 0;
    for (const pcap_if* device = m_deviceList; device; device = device->next)
        blockSize += 2 * sizeof(std::uint32_t) + FieldLength(device->name ? device->name : "") +
                     FieldLength(DescriptionOf(device));
    // Beyond what the int size can say, no buffer can be big enough.
    if (blockSize > static_cast<std::uint64_t>(INT_MAX)) {
        FLK_LOG(2) << "failure";
        return 1;
    }
    const int needed = static_cast<int>(blockSize);
    if (!buffer) {
        size = needed;
        return 0;
    }
    if (size < needed) {
        FLK_LOG(2) << "failure";
        return 1;
    }
    size = needed;
    unsigned char* at = buffer;
    for (const pcap_if* device = m_deviceList; device; device = device->next) {
        at = PutField(at, device->name ? device->name : "");
        at = PutField(at, DescriptionOf(device));
    }
    return 0;
}

void CFindAllDevice_Internal::PrintAllDevice() {
    std::vector<SAdapterInfo> adapters;
    CAdapterInfo::AllAdpaterInfo_Get(adapters);
    int index = 0;
    for (const pcap_if* device = m_deviceList; device; device = device->next, ++index) {
        const char* name = device->name ? device->name : "";
        std::cout << "Index = " << index << ".\n";
        std::cout << "Name = " << name << "\n";
        if (device->description)
            std::cout << "Description = " << device->description << "\n";
        else
            std::cout << " (No description available)\n";

        std::string adapterName;
        const bool named = CNpfPacketHelper::DeviceName_2_AdapterName(name, adapterName);
        std::uint64_t speed = 0;
        if (!named || !CNpfPacketHelper::AdapterName_2_LinkSpeed(adapterName, speed)) speed = 0;
        char line[128];
        std::snprintf(line, sizeof line, "LinkSpeed = %" PRIu64 ", %f GigaBytes\n", speed,
                      static_cast<double>(speed) / 1000000000.0);
        std::cout << line;

        std::vector<unsigned char> mac;
        if (named) CNpfPacketHelper::AdapterName_2_MacAddress(adapterName, mac);
        if (mac.size() == 6) {
            std::snprintf(line, sizeof line, "Mac = %02X-%02X-%02X-%02X-%02X-%02X\n", mac[0],
                          mac[1], mac[2], mac[3], mac[4], mac[5]);
            std::cout << line;
        }
        std::snprintf(line, sizeof line, "Connected = %s\n",
                      CAdapterInfo::IsAdapterConnected(mac, adapters) ? "On" : "Off");
        std::cout << line;
        std::cout << "\n";
    }
}

bool CFindAllDevice_Internal::GetSelectedDeviceName(std::string& name) {
    if (!FindAllDevice()) return false;
    PrintAllDevice();
    std::cout << "Enter the index value of which you want to choose device:" << std::flush;
    // A failed extraction stores 0, which would silently pick the first device for a typo:
    // input that is not a number, or ends, chooses nothing. The rest of a bad line is dropped so
    // the next prompt starts clean.
    int index = -1;
    if (!(std::cin >> index)) {
        if (!std::cin.eof()) {
            std::cin.clear();
            std::cin.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        }
        return false;
    }
    if (index < 0) return false;
    const pcap_if* device = m_deviceList;
    for (int i = 0; i < index && device; ++i) device = device->next;
    if (!device) return false;
    name = device->name ? device->name : "";
    return !name.empty();
}

}  // namespace ferrolink::core

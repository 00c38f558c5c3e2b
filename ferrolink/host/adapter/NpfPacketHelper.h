// Adapter facts that the capture library does not give, asked of the packet driver: the driver's
// adapter names, one adapter's MAC address and link speed, and the first gigabit adapter. Static
// operations only, header-only over the C interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <ferrolink/api/ferrolink.h>

class CNpfPacketHelper {
public:
    CNpfPacketHelper() {}
    ~CNpfPacketHelper() {}
    CNpfPacketHelper(const CNpfPacketHelper&) {}
    CNpfPacketHelper& operator=(const CNpfPacketHelper&) { return *this; }

    // The driver adapter names in the driver's order; true when at least one was found.
    static bool AdapterNameList_Get(std::vector<std::string>& names) {
        std::vector<std::string> found;
        for (std::int32_t index = 0;; ++index) {
            std::string name;
            const flk_status status = Text(
                [index](char* text, std::int32_t capacity, std::int32_t* length) {
                    return flk_npf_adapter_name(index, text, capacity, length);
                },
                name);
            if (status == FLK_NOT_FOUND) break;
            if (status != FLK_OK) return false;
            found.push_back(name);
        }
        if (found.empty()) return false;
        names = found;
        return true;
    }
    // The first adapter, in the driver's order, at 1 Gbit/s or faster; true when `name` is not
    // empty afterwards (it keeps the caller's value when no adapter qualifies).
    static bool GB_AdapterName_Get(std::string& name) {
        std::string found;
        if (Text(&flk_npf_gigabit_adapter_name, found) == FLK_OK && !found.empty()) name = found;
        return !name.empty();
    }
    // `device` is a capture-library device entry (pcap_if) named "rpcap://" + driver name.
    static bool Device_2_MacAddress(void* device, std::vector<unsigned char>& mac) {
        unsigned char bytes[6] = {};
        mac.clear();
        if (flk_npf_device_mac(device, bytes) != FLK_OK) return false;
        mac.assign(bytes, bytes + 6);
        return true;
    }
    // Six bytes in wire order, or false with `mac` empty.
    static bool AdapterName_2_MacAddress(std::string name, std::vector<unsigned char>& mac) {
        unsigned char bytes[6] = {};
        mac.clear();
        if (flk_npf_adapter_mac(name.c_str(), bytes) != FLK_OK) return false;
        mac.assign(bytes, bytes + 6);
        return true;
    }
    // Bits per second; `speed` is untouched when the query fails.
    static bool AdapterName_2_LinkSpeed(std::string name, std::uint64_t& speed) {
        std::uint64_t bits = speed;
        if (flk_npf_adapter_link_speed(name.c_str(), &bits) != FLK_OK) return false;
        speed = bits;
        return true;
    }

    // The driver adapter name of a capture device name: what follows its "rpcap://" prefix.
    // False, with a log record, for a name too short to carry the prefix.
    static bool DeviceName_2_AdapterName(const char* deviceName, std::string& adapterName) {
        std::string text(256, '\0');
        std::int32_t length = 0;
        flk_status status = flk_npf_device_to_adapter_name(
            deviceName, &text[0], static_cast<std::int32_t>(text.size()), &length);
        if (status == FLK_BUFFER_TOO_SMALL) {
            text.assign(static_cast<std::size_t>(length) + 1, '\0');
            status = flk_npf_device_to_adapter_name(
                deviceName, &text[0], static_cast<std::int32_t>(text.size()), &length);
        }
        if (status != FLK_OK) return false;
        adapterName.assign(text.data(), static_cast<std::size_t>(length));
        return true;
    }

private:
    // A text of the library's, asked again with room for it when the first buffer is too small.
    template <typename Query>
    static flk_status Text(Query query, std::string& out) {
        std::string text(1024, '\0');
        std::int32_t length = 0;
        flk_status status = query(&text[0], static_cast<std::int32_t>(text.size()), &length);
        if (status == FLK_BUFFER_TOO_SMALL) {
            text.assign(static_cast<std::size_t>(length) + 1, '\0');
            status = query(&text[0], static_cast<std::int32_t>(text.size()), &length);
        }
        if (status == FLK_OK) out.assign(text.data(), static_cast<std::size_t>(length));
        return status;
    }
};

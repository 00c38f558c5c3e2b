// Adapter facts that the capture library does not give, asked of the platform's adapters: the
// driver adapter names (the Ethernet adapters), one adapter's MAC address and link speed, and the
// first gigabit adapter. Used by the device listing, the adapter selection and the board
// detection. Static operations only; no state survives a call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <ferrolink/FerrolinkExport.h>

namespace ferrolink::core {

class CNpfPacketHelper {
public:
    CNpfPacketHelper() {}
    ~CNpfPacketHelper() {}
    CNpfPacketHelper(const CNpfPacketHelper&) {}
    CNpfPacketHelper& operator=(const CNpfPacketHelper&) { return *this; }

    // The driver adapter names in the driver's order; true when at least one was found.
    static bool AdapterNameList_Get(std::vector<std::string>& names);
    // The first adapter, in the driver's order, at 1 Gbit/s or faster; true when `name` is not
    // empty afterwards (it keeps the caller's value when no adapter qualifies).
    static bool GB_AdapterName_Get(std::string& name);
    // `device` is a capture-library device entry (pcap_if) named "rpcap://" + driver name.
    static bool Device_2_MacAddress(void* device, std::vector<unsigned char>& mac);
    // Six bytes in wire order, or false with `mac` empty.
    static bool AdapterName_2_MacAddress(std::string name, std::vector<unsigned char>& mac);
    // Bits per second; `speed` is untouched when the query fails.
    static bool AdapterName_2_LinkSpeed(std::string name, std::uint64_t& speed);

    // The driver adapter name of a capture device name: what follows its "rpcap://" prefix.
    // False, with a log record, for a name too short to carry the prefix.
    static bool DeviceName_2_AdapterName(const char* deviceName, std::string& adapterName);
};

}  // namespace ferrolink::core

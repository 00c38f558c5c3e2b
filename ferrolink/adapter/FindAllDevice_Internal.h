// The capture device list of one object, read once and kept until the object dies, with the two
// things made from it: the adapter info block for hosts that show their own choice, and the
// console dialogue that lists every device and reads the operator's index. Used by the exported
// facade CFindAllDevice and, directly, by the adapter selection.
#pragma once

#include <string>

struct pcap_if;

namespace ferrolink::core {

class CFindAllDevice_Internal {
public:
    CFindAllDevice_Internal() = default;
    virtual ~CFindAllDevice_Internal();
    CFindAllDevice_Internal(const CFindAllDevice_Internal&) = delete;
    CFindAllDevice_Internal& operator=(const CFindAllDevice_Internal&) = delete;

    // The device list, or null. Later calls return the same list without asking again.
    pcap_if* FindAllDevice();
    // 0: block written (or only its size, for a null buffer); 1: buffer too small, size kept;
    // -1: no device list, size kept.
    int GetAdaptorInfo(unsigned char* buffer, int& size);
    // Lists the devices, asks for an index on standard input and stores that device's name.
    bool GetSelectedDeviceName(std::string& name);

private:
    void PrintAllDevice();

protected:
    // Every entry and text in its own malloc block; entries carry no addresses.
    pcap_if* m_deviceList = nullptr;
};

}  // namespace ferrolink::core

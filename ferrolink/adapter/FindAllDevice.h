// The exported face of the capture device list (see CFindAllDevice_Internal): hosts list the
// devices, read the adapter info block or let the operator choose on the console. Each facade owns
// its implementation object alone, so facades are not copied.
#pragma once

#include <string>

#include <ferrolink/FerrolinkExport.h>

namespace ferrolink::core {

class CFindAllDevice_Internal;

class CFindAllDevice {
public:
    CFindAllDevice();
    virtual ~CFindAllDevice();
    CFindAllDevice(const CFindAllDevice&) = delete;
    CFindAllDevice& operator=(const CFindAllDevice&) = delete;

    // The capture library's device list (pcap_if*), owned by this object; null when none.
    void* FindAllDevice();
    // Adapter info block: per device a 32-bit length (with the zero), the name with its zero, a
    // 32-bit length, the description with its zero. 0 done, 1 buffer too small, -1 no devices.
    int GetAdaptorInfo(unsigned char* buffer, int& size);
    bool GetSelectedDeviceName(std::string& name);

protected:
    CFindAllDevice_Internal* m_internal;
};

}  // namespace ferrolink::core

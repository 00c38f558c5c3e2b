// The capture device list: hosts list the devices, read the adapter info block or let the operator
// choose on the console. Header-only over the C interface: the list is the library's, this object
// owns its handle alone, so it is not copied.
#pragma once

#include <cstdint>
#include <new>
#include <string>

#include <ferrolink/api/ferrolink.h>

class CFindAllDevice {
public:
    // Raises std::bad_alloc when the library cannot make the list.
    CFindAllDevice() : m_internal(flk_device_list_create()) {
        if (m_internal == nullptr) throw std::bad_alloc();
    }
    virtual ~CFindAllDevice() { flk_device_list_destroy(m_internal); }
    CFindAllDevice(const CFindAllDevice&) = delete;
    CFindAllDevice& operator=(const CFindAllDevice&) = delete;

    // The capture library's device list (pcap_if*), owned by this object; null when none.
    void* FindAllDevice() { return flk_device_list_find(m_internal); }
    // Adapter info block: per device a 32-bit length (with the zero), the name with its zero, a
    // 32-bit length, the description with its zero. 0 done, 1 buffer too small, -1 no devices.
    int GetAdaptorInfo(unsigned char* buffer, int& size) {
        std::int32_t n = size;
        const int result = flk_device_list_adaptor_info(m_internal, buffer, &n);
        size = n;
        return result;
    }
    // Lists the devices on the console and stores the operator's choice in `name`.
    bool GetSelectedDeviceName(std::string& name) {
        // Device names are far shorter; a longer one is refused rather than asked for twice.
        std::string text(4096, '\0');
        std::int32_t length = 0;
        const flk_status status = flk_device_list_select(
            m_internal, &text[0], static_cast<std::int32_t>(text.size()), &length);
        if (status != FLK_OK) return false;
        name.assign(text.data(), static_cast<std::size_t>(length));
        return true;
    }

protected:
    flk_device_list* m_internal;
};

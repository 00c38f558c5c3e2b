// The live capture handle on the board's adapter, guarded by one re-entrant mutex: opened by one
// of three selections (automatic with board detection and claim, console choice, device name),
// lent to the host's threads, locked while a thread sends, and closed. Header-only over the C
// interface: the handle, its mutex and the claim on the board are the library's.
#pragma once

#include <cstdint>
#include <new>
#include <string>

#include <ferrolink/api/ferrolink.h>

struct pcap;  // the capture library's handle type (pcap_t)

class CPCapOpen_Network_Internal {
public:
    // Raises std::bad_alloc when the library cannot make the handle's object.
    CPCapOpen_Network_Internal()
        : m_network(flk_network_create()), m_deviceName(new std::string()) {
        if (m_network == nullptr) {
            delete m_deviceName;
            throw std::bad_alloc();
        }
    }
    virtual ~CPCapOpen_Network_Internal() {
        flk_network_destroy(m_network);
        delete m_deviceName;
    }
    CPCapOpen_Network_Internal(const CPCapOpen_Network_Internal&) = delete;
    CPCapOpen_Network_Internal& operator=(const CPCapOpen_Network_Internal&) = delete;

    // The wait pair: longest wait for the handle mutex in ms (0xFFFFFFFF: none), abort flag.
    pcap* GetPCapHandle(unsigned int milliseconds, const bool* abortFlag) {
        return static_cast<pcap*>(flk_network_handle(m_network, milliseconds, abortFlag));
    }
    bool IsOpen(unsigned int milliseconds, const bool* abortFlag) {
        return flk_network_is_open(m_network, milliseconds, abortFlag) != 0;
    }
    bool Open_ByAuto(unsigned int milliseconds, const bool* abortFlag) {
        return Opened(flk_network_open_auto(m_network, milliseconds, abortFlag));
    }
    bool Open_ByConsoleInput(unsigned int milliseconds, const bool* abortFlag) {
        return Opened(flk_network_open_console(m_network, milliseconds, abortFlag));
    }
    // Opens the named device without looking for the board; a handle already open is closed.
    bool Open_ByDeviceName(const char* deviceName) {
        return Opened(flk_network_open_device(m_network, deviceName));
    }
    bool Close(unsigned int milliseconds, const bool* abortFlag) {
        return flk_network_close(m_network, milliseconds, abortFlag) == FLK_OK;
    }
    // The handle with the mutex held (release with Handle_UnLock), or null with it free.
    pcap* Handle_Lock(unsigned int milliseconds, const bool* abortFlag) {
        return static_cast<pcap*>(flk_network_lock(m_network, milliseconds, abortFlag));
    }
    void Handle_UnLock() { flk_network_unlock(m_network); }

    // The device the handle was last opened on (as of the last Open_* through this object).
    const std::string& GetDeviceName() const { return *m_deviceName; }

private:
    bool Opened(flk_status status) {
        std::string name(1024, '\0');
        std::int32_t length = 0;
        if (flk_network_device_name(m_network, &name[0], static_cast<std::int32_t>(name.size()),
                                    &length) == FLK_OK)
            m_deviceName->assign(name.data(), static_cast<std::size_t>(length));
        return status == FLK_OK;
    }

    flk_network* m_network;
    std::string* m_deviceName;
};

// A capture source: one capture handle and the source string it was opened from. Derived classes
// say how the source is named and opened. Header-only; handles are opened and closed by the
// library, so a host needs no capture-library headers.
#pragma once

#include <string>

#include <ferrolink/api/ferrolink.h>

struct pcap;  // the capture library's handle type (pcap_t)

class CPCapOpen {
public:
    CPCapOpen() : m_deviceName(new std::string()) {}
    virtual ~CPCapOpen() {
        ClosePCap();
        delete m_deviceName;
    }
    CPCapOpen(const CPCapOpen&) = delete;
    CPCapOpen& operator=(const CPCapOpen&) = delete;

    virtual bool Initialize_DeviceName(const char* name) = 0;
    virtual bool Initialize_DeviceName_ConsoleInput() = 0;

    const std::string& GetDeviceName() const { return *m_deviceName; }
    pcap* GetPCapHandle() const { return m_handle; }
    bool IsOpen() const { return m_handle != nullptr; }
    // Closes the handle if there is one; always true. The name stays for a later OpenPCap.
    bool ClosePCap() {
        if (m_handle != nullptr) {
            flk_pcap_close(m_handle);
            m_handle = nullptr;
        }
        return true;
    }

protected:
    virtual bool OpenPCap() = 0;

    pcap* m_handle = nullptr;
    std::string* m_deviceName;
};

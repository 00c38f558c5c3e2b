// A capture source: one capture handle and the source string it was opened from. Derived classes
// say how the source is named and opened.
#pragma once

#include <pcap/pcap.h>

#include <string>

#include <ferrolink/FerrolinkExport.h>

namespace ferrolink::core {

class CPCapOpen {
public:
    CPCapOpen();
    virtual ~CPCapOpen();
    CPCapOpen(const CPCapOpen&) = delete;
    CPCapOpen& operator=(const CPCapOpen&) = delete;

    virtual bool Initialize_DeviceName(const char* name) = 0;
    virtual bool Initialize_DeviceName_ConsoleInput() = 0;

    const std::string& GetDeviceName() const { return *m_deviceName; }
    pcap* GetPCapHandle() const { return m_handle; }
    bool IsOpen() const { return m_handle != nullptr; }
    // Closes the handle if there is one; always true. The name stays for a later OpenPCap.
    bool ClosePCap();

protected:
    virtual bool OpenPCap() = 0;

    pcap* m_handle = nullptr;
    std::string* m_deviceName;
};

}  // namespace ferrolink::core

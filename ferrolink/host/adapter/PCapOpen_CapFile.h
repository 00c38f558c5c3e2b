// A saved capture file read through the same capture interface as live traffic. Reports its
// failures on standard error, not in the log. Header-only over the C interface.
#pragma once

#include <cstdint>

#include <ferrolink/adapter/PCapOpen.h>
#include <ferrolink/api/ferrolink.h>

class CPCapOpen_CapFile : public CPCapOpen {
public:
    CPCapOpen_CapFile() = default;
    ~CPCapOpen_CapFile() override = default;

    // Makes the file's source string; false for a null path or a path too long for it.
    bool Initialize_DeviceName(const char* path) override {
        std::string source(1024, '\0');
        std::int32_t length = 0;
        if (flk_capfile_source(path, &source[0], static_cast<std::int32_t>(source.size()),
                               &length) != FLK_OK)
            return false;
        m_deviceName->assign(source.data(), static_cast<std::size_t>(length));
        return true;
    }
    // A file is not chosen on the console.
    bool Initialize_DeviceName_ConsoleInput() override { return false; }
    // Opens the named file; an already open handle is closed first.
    bool OpenPCap() override {
        if (m_deviceName->empty()) return false;
        ClosePCap();  // never leak a handle opened before
        void* handle = nullptr;
        if (flk_capfile_open(m_deviceName->c_str(), &handle) != FLK_OK) return false;
        m_handle = static_cast<pcap*>(handle);
        return true;
    }
};

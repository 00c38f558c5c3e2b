// A saved capture file read through the same capture interface as live traffic. Reports its
// failures on standard error, not in the log.
#pragma once

#include <ferrolink/adapter/PCapOpen.h>

namespace ferrolink::core {

class CPCapOpen_CapFile : public CPCapOpen {
public:
    CPCapOpen_CapFile();
    ~CPCapOpen_CapFile() override;

    // Makes the file's source string; false for a null path or a path too long for it.
    bool Initialize_DeviceName(const char* path) override;
    // A file is not chosen on the console.
    bool Initialize_DeviceName_ConsoleInput() override;
    // Opens the named file; an already open handle is closed first.
    bool OpenPCap() override;
};

}  // namespace ferrolink::core

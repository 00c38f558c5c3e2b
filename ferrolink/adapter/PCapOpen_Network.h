// The host's handle on the board's adapter: opens it (automatically, by console choice or by
// name), lends it out, locks it for a sending thread, closes it. Forwards to its implementation.
#pragma once

#include <ferrolink/FerrolinkExport.h>

namespace ferrolink::core {

class CPCapOpen_Network_Internal;

class CPCapOpen_Network {
public:
    CPCapOpen_Network();
    // Closes the handle and releases the claim on the board.
    virtual ~CPCapOpen_Network();
    CPCapOpen_Network(const CPCapOpen_Network&) = delete;
    CPCapOpen_Network& operator=(const CPCapOpen_Network&) = delete;

    // The wait pair: longest wait for the handle's lock in ms (0xFFFFFFFF: no limit) and an
    // optional abort flag that ends the wait (or the adapter search) when it reads true.
    void* GetPCapHandle(unsigned int milliseconds = 0xFFFFFFFFu, const bool* abortFlag = nullptr);
    bool IsOpen(unsigned int milliseconds = 0xFFFFFFFFu, const bool* abortFlag = nullptr);
    bool Open_ByAuto(unsigned int milliseconds = 0xFFFFFFFFu, const bool* abortFlag = nullptr);
    bool Open_ByConsoleInput(unsigned int milliseconds = 0xFFFFFFFFu,
                             const bool* abortFlag = nullptr);
    bool Open_ByDeviceName(const char* deviceName);
    bool Close(unsigned int milliseconds = 0xFFFFFFFFu, const bool* abortFlag = nullptr);
    // The handle, held for the calling thread until Handle_UnLock; null when none or not obtained.
    void* Handle_Lock(unsigned int milliseconds = 0xFFFFFFFFu, const bool* abortFlag = nullptr);
    void Handle_UnLock();

private:
    CPCapOpen_Network_Internal* m_internal;
};

}  // namespace ferrolink::core

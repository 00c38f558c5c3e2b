// The host's handle on the board's adapter: opens it (automatically, by console choice or by
// name), lends it out, locks it for a sending thread, closes it. Forwards to its implementation.
// Header-only.
#pragma once

#include <ferrolink/adapter/PCapOpen_Network_Internal.h>

class CPCapOpen_Network {
public:
    CPCapOpen_Network() : m_internal(new CPCapOpen_Network_Internal()) {}
    // Closes the handle and releases the claim on the board.
    virtual ~CPCapOpen_Network() { delete m_internal; }
    CPCapOpen_Network(const CPCapOpen_Network&) = delete;
    CPCapOpen_Network& operator=(const CPCapOpen_Network&) = delete;

    // The wait pair: longest wait for the handle's lock in ms (0xFFFFFFFF: no limit) and an
    // optional abort flag that ends the wait (or the adapter search) when it reads true.
    void* GetPCapHandle(unsigned int milliseconds = 0xFFFFFFFFu, const bool* abortFlag = nullptr) {
        return m_internal->GetPCapHandle(milliseconds, abortFlag);
    }
    bool IsOpen(unsigned int milliseconds = 0xFFFFFFFFu, const bool* abortFlag = nullptr) {
        return m_internal->IsOpen(milliseconds, abortFlag);
    }
    bool Open_ByAuto(unsigned int milliseconds = 0xFFFFFFFFu, const bool* abortFlag = nullptr) {
        return m_internal->Open_ByAuto(milliseconds, abortFlag);
    }
    bool Open_ByConsoleInput(unsigned int milliseconds = 0xFFFFFFFFu,
                             const bool* abortFlag = nullptr) {
        return m_internal->Open_ByConsoleInput(milliseconds, abortFlag);
    }
    bool Open_ByDeviceName(const char* deviceName) {
        return m_internal->Open_ByDeviceName(deviceName);
    }
    bool Close(unsigned int milliseconds = 0xFFFFFFFFu, const bool* abortFlag = nullptr) {
        return m_internal->Close(milliseconds, abortFlag);
    }
    // The handle, held for the calling thread until Handle_UnLock; null when none or not obtained.
    void* Handle_Lock(unsigned int milliseconds = 0xFFFFFFFFu, const bool* abortFlag = nullptr) {
        return m_internal->Handle_Lock(milliseconds, abortFlag);
    }
    void Handle_UnLock() { m_internal->Handle_UnLock(); }

private:
    CPCapOpen_Network_Internal* m_internal;
};

// Something a thread can wait on with the wait pair: the mutex and the events derive from it.
// Header-only; the waiting itself happens in the library (see the derived classes).
#pragma once

class CCustomWaitHandle {
public:
    CCustomWaitHandle() = default;
    CCustomWaitHandle(const CCustomWaitHandle&) = delete;
    CCustomWaitHandle& operator=(const CCustomWaitHandle&) = delete;
    virtual ~CCustomWaitHandle() = default;

    // What a host's own wait waits on, as the library gives it: on Windows a HANDLE for
    // WaitForMultipleObjects, signalled while WaitOne(0) would succeed (the OS wait only watches;
    // take the object with WaitOne); on Linux an identity of the object.
    virtual void* GetWaitHandle() = 0;
    // True when obtained (mutex: owned; event: signalled) within `milliseconds` (0xFFFFFFFF: no
    // limit); false on time-out or when `abortFlag` reads true.
    virtual bool WaitOne(unsigned int milliseconds = 0xFFFFFFFFu,
                         const bool* abortFlag = nullptr) = 0;
};

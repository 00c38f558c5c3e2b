// Something a thread can wait on with the wait pair: the mutex and the events derive from it.
// Header-only; the waiting itself happens in the library (see the derived classes).
#pragma once

class CCustomWaitHandle {
public:
    CCustomWaitHandle() = default;
    CCustomWaitHandle(const CCustomWaitHandle&) = delete;
    CCustomWaitHandle& operator=(const CCustomWaitHandle&) = delete;
    virtual ~CCustomWaitHandle() = default;

    // An identity for the object the system waits on; ours is the object itself.
    virtual void* GetWaitHandle() { return this; }
    // True when obtained (mutex: owned; event: signalled) within `milliseconds` (0xFFFFFFFF: no
    // limit); false on time-out or when `abortFlag` reads true.
    virtual bool WaitOne(unsigned int milliseconds = 0xFFFFFFFFu,
                         const bool* abortFlag = nullptr) = 0;
};

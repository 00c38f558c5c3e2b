// Something a thread can wait on with the wait pair: the mutex and the events derive from it.
#pragma once

#include <ferrolink/platform/WaitObject.h>

namespace ferrolink::core {

class CCustomWaitHandle {
public:
    CCustomWaitHandle() = default;
    CCustomWaitHandle(const CCustomWaitHandle&) = delete;
    CCustomWaitHandle& operator=(const CCustomWaitHandle&) = delete;
    virtual ~CCustomWaitHandle();

    // What a host's own wait on this object waits on (see CWaitObject): on Windows an event handle
    // for WaitForMultipleObjects, signalled while WaitOne(0) would succeed; on Linux an identity.
    virtual void* GetWaitHandle();
    // True when obtained (mutex: owned; event: signalled) within `milliseconds` (0xFFFFFFFF: no
    // limit); false on time-out or when `abortFlag` reads true.
    virtual bool WaitOne(unsigned int milliseconds = 0xFFFFFFFFu,
                         const bool* abortFlag = nullptr) = 0;

protected:
    // Shown the derived object's state at each change, under its lock.
    platform::CWaitObject m_waitObject;
};

}  // namespace ferrolink::core

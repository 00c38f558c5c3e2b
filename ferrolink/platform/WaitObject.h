// What a host's own wait on one of our wait handles (the events, the mutex) waits on. Windows: a
// manual-reset Win32 event, kept signalled while the object would let a waiter through, which a
// host passes to WaitForMultipleObjects beside its own handles and then takes the object with
// WaitOne(0) (the OS wait only watches: it never consumes a signal or takes the mutex). Linux has
// no such object to give: the handle is this object's address, an identity and no more.
#pragma once

namespace ferrolink::platform {

class CWaitObject {
public:
    CWaitObject();
    ~CWaitObject();
    CWaitObject(const CWaitObject&) = delete;
    CWaitObject& operator=(const CWaitObject&) = delete;

    // Follows the owner's state: called under the owner's lock at each change.
    void Show(bool passable);
    // Null on Windows when the system had no event to give.
    void* Handle();

private:
    void* m_event = nullptr;
};

}  // namespace ferrolink::platform

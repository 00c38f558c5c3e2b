// A re-entrant mutex with timed and abortable waits: the lock of the shared capture handle.
// Header-only over the C interface: the mutex is the library's, this object owns its handle.
#pragma once

#include <new>

#include <ferrolink/api/ferrolink.h>
#include <ferrolink/outside/CustomWaitHandle.h>

class CCustomMutex : public CCustomWaitHandle {
public:
    // Raises std::bad_alloc when the library cannot make the mutex.
    CCustomMutex() : m_mutex(flk_mutex_create()) {
        if (m_mutex == nullptr) throw std::bad_alloc();
    }
    ~CCustomMutex() override { flk_mutex_destroy(m_mutex); }

    void* GetWaitHandle() override { return flk_mutex_wait_handle(m_mutex); }
    // Obtains one more level of ownership; the owner itself never waits.
    bool WaitOne(unsigned int milliseconds = 0xFFFFFFFFu,
                 const bool* abortFlag = nullptr) override {
        return flk_mutex_wait(m_mutex, milliseconds, abortFlag) == FLK_OK;
    }
    // Gives up one level; false when the calling thread does not own the mutex.
    bool ReleaseOne() { return flk_mutex_release(m_mutex) == FLK_OK; }
    // True when the calling thread owns the mutex.
    bool IsOwnedByCurrentThread() const { return flk_mutex_is_owned(m_mutex) != 0; }

private:
    flk_mutex* m_mutex;
};

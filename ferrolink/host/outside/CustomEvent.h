// A waitable event, manual- or auto-reset: the common part of both event kinds. Header-only over
// the C interface: the event itself is the library's, this object owns its handle.
#pragma once

#include <new>

#include <ferrolink/api/ferrolink.h>
#include <ferrolink/outside/CustomWaitHandle.h>

class CCustomEvent : public CCustomWaitHandle {
public:
    // Auto-reset: a successful wait consumes the signal. Manual-reset: it stays until Reset.
    // Raises std::bad_alloc when the library cannot make the event.
    CCustomEvent(bool autoReset, bool initialState)
        : m_event(flk_event_create(autoReset ? 1 : 0, initialState ? 1 : 0)) {
        if (m_event == nullptr) throw std::bad_alloc();
    }
    ~CCustomEvent() override { flk_event_destroy(m_event); }

    void* GetWaitHandle() override { return flk_event_wait_handle(m_event); }
    bool WaitOne(unsigned int milliseconds = 0xFFFFFFFFu,
                 const bool* abortFlag = nullptr) override {
        return flk_event_wait(m_event, milliseconds, abortFlag) == FLK_OK;
    }
    virtual bool Set() { return flk_event_set(m_event) == FLK_OK; }
    virtual bool Reset() { return flk_event_reset(m_event) == FLK_OK; }
    bool IsSet() const { return flk_event_is_set(m_event) != 0; }

private:
    flk_event* m_event;
};

// A waitable event, manual- or auto-reset: the common part of both event kinds.
#pragma once

#include <condition_variable>
#include <mutex>

#include <ferrolink/outside/CustomWaitHandle.h>

namespace ferrolink::core {

class CCustomEvent : public CCustomWaitHandle {
public:
    // Auto-reset: a successful wait consumes the signal. Manual-reset: it stays until Reset.
    CCustomEvent(bool autoReset, bool initialState);
    ~CCustomEvent() override;

    bool WaitOne(unsigned int milliseconds = 0xFFFFFFFFu, const bool* abortFlag = nullptr) override;
    virtual bool Set();
    virtual bool Reset();
    bool IsSet() const;

private:
    const bool m_autoReset;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_signalled;
};

}  // namespace ferrolink::core

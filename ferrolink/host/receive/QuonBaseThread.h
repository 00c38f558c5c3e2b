// Binds the worker-thread base to one worker class: creates the operating-system thread (through
// the C interface) and contains whatever escapes the worker loop, so that a throwing worker ends
// its thread with a log record instead of ending the process. Complete in this header.
#pragma once

#include <cstdint>

#include <ferrolink/api/LogRecord.h>
#include <ferrolink/api/ferrolink.h>
#include <ferrolink/outside/PellBaseThread.h>

template <typename T>
class CQuonBaseThread : public PellBaseThread {
public:
    CQuonBaseThread() = default;
    CQuonBaseThread(const CQuonBaseThread& other) : PellBaseThread(other) {}
    CQuonBaseThread& operator=(const CQuonBaseThread& other) {
        PellBaseThread::operator=(other);
        return *this;
    }
    ~CQuonBaseThread() override = default;

protected:
    bool OneLoop() override = 0;
    bool CustomCreateThread() override {
        std::uint32_t id = 0;
        m_threadHandle = flk_thread_create(&CustomThreadProc, this, &id);
        if (m_threadHandle != nullptr) {
            m_threadId = id;
            return true;
        }
        m_threadState = 0;
        FLK_LOG(2) << "Start thread error. name = " << *m_threadName;
        return false;
    }

private:
    static std::uint32_t FLK_CALL CustomThreadProc(void* parameter) {
        auto* self = static_cast<CQuonBaseThread*>(parameter);
        std::uint32_t exitCode = 0;
        try {
            exitCode = static_cast<std::uint32_t>(self->CustomThreadProc_Internal());
        } catch (...) {
            FLK_LOG(2) << "Thread terminated with an exception. name = " << *self->m_threadName;
            exitCode = 0;
        }
        return exitCode;
    }
    unsigned long CustomThreadProc_Internal() { return StartThreadWorker(); }
};

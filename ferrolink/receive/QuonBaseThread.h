// Binds the worker-thread base to one worker class: creates the operating-system thread and
// contains whatever escapes the worker loop, so that a throwing worker ends its thread with a log
// record instead of ending the process.
#pragma once

#include <ferrolink/FerrolinkExport.h>
#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/outside/OsThread.h>
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
        m_threadHandle = ferrolink::outside::CreateThread(&CustomThreadProc, this, &m_threadId);
        if (m_threadHandle != nullptr) return true;
        m_threadState = 0;
        FLK_LOG(2) << "Start thread error. name = " << *m_threadName;
        return false;
    }

private:
    static unsigned long CustomThreadProc(void* parameter) {
        auto* self = static_cast<CQuonBaseThread*>(parameter);
        unsigned long exitCode = 0;
        try {
            exitCode = self->CustomThreadProc_Internal();
        } catch (...) {
            FLK_LOG(2) << "Thread terminated with an exception. name = " << *self->m_threadName;
            exitCode = 0;
        }
        return exitCode;
    }

    unsigned long CustomThreadProc_Internal() { return StartThreadWorker(); }
};

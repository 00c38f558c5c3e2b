// The out-of-line half of CQuonBaseThread: thread creation and the containment of exceptions,
// which log. The library instantiates it for its worker (QuonBaseThread.cpp); a worker class of
// the tests includes it too. Not installed: hosts derive from CReceiveWPCapPacket's instance.
#pragma once

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/platform/Thread.h>
#include <ferrolink/receive/QuonBaseThread.h>

namespace ferrolink::core {

template <typename T>
bool CQuonBaseThread<T>::CustomCreateThread() {
    m_threadHandle = platform::CThread::Start(&CustomThreadProc, this, &m_threadId);
    if (m_threadHandle != nullptr) return true;
    m_threadState = 0;
    FLK_LOG(2) << "Start thread error. name = " << *m_threadName;
    return false;
}

template <typename T>
unsigned long CQuonBaseThread<T>::CustomThreadProc(void* parameter) {
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

}  // namespace ferrolink::core

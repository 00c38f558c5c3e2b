// Binds the worker-thread base to one worker class: creates the operating-system thread and
// contains whatever escapes the worker loop, so that a throwing worker ends its thread with a log
// record instead of ending the process.
//
// The operations that start threads and log are compiled into the library for the one worker it
// has (CReceiveWPCapPacket), so that a host's translation unit sees neither the logging machinery
// nor the operating-system thread calls.
#pragma once

#include <ferrolink/outside/PellBaseThread.h>

namespace ferrolink::core {

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
    bool CustomCreateThread() override;

private:
    static unsigned long CustomThreadProc(void* parameter);
    unsigned long CustomThreadProc_Internal() { return StartThreadWorker(); }
};

}  // namespace ferrolink::core

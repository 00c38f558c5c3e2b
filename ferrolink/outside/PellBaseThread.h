// Base of a worker thread: owns its life (start, ready, pause, resume, stop, exit) and runs the
// loop Prepare -> OneLoop while it returns true and no stop is asked -> Finally. Derived classes
// supply OneLoop and the creation of the thread (CustomCreateThread).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <ferrolink/outside/CustomManualResetEvent.h>

namespace ferrolink::core {

class PellBaseThread {
public:
    PellBaseThread();
    virtual ~PellBaseThread();
    PellBaseThread(const PellBaseThread& other);
    PellBaseThread& operator=(const PellBaseThread& other);

    // Starts the thread under `name`; false when it could not be made or one is still running.
    virtual bool Start(const char* name);
    // Waits until Prepare has run (at once when no thread was started).
    virtual void WaitReady();
    // Waits until the loop has paused after Pause (or the thread has ended).
    virtual void WaitPaused();
    // Waits up to `milliseconds` (0xFFFFFFFF: no limit) for the thread's end and joins it. True
    // when no thread runs any more. From the worker itself it cannot wait and answers false.
    virtual bool WaitExit(unsigned int milliseconds);
    // Asks the loop to end after the current OneLoop; never waits. Any thread, the worker too.
    virtual void Stop();
    virtual void Pause();
    virtual void Resume();
    // True once Prepare has returned true on the thread.
    virtual bool IsThreadSuccess();

    // Timed forms of the waits above: true when reached within the limit.
    bool WaitReady(unsigned int milliseconds);
    bool WaitPaused(unsigned int milliseconds);
    bool IsStopRequested() const { return m_stopRequested.load(); }
    const std::string& GetThreadName() const { return *m_threadName; }

    // The worker loop; the thread entry calls it on the new thread. Returns the exit code.
    unsigned long StartThreadWorker();

protected:
    virtual bool OneLoop() = 0;
    virtual bool Prepare();
    virtual void Finally();
    // Makes the operating-system thread that enters StartThreadWorker; fills m_threadHandle.
    virtual bool CustomCreateThread();

    // Non-zero while a created thread belongs to this object; zeroed when creation fails.
    std::uint64_t m_threadState = 0;
    void* m_threadHandle = nullptr;  // the system's thread, made and joined by platform::CThread
    unsigned int m_threadId = 0;
    std::string* m_threadName;

private:
    void JoinFinishedThread();

    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_pauseRequested{false};
    std::atomic<bool> m_prepareSucceeded{false};
    CCustomManualResetEvent m_readyEvent;
    CCustomManualResetEvent m_pausedEvent;
    CCustomManualResetEvent m_resumeEvent;
    CCustomManualResetEvent m_exitEvent;
};

}  // namespace ferrolink::core

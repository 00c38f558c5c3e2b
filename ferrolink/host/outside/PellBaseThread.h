// Base of a worker thread: owns its life (start, ready, pause, resume, stop, exit) and runs the
// loop Prepare -> OneLoop while it returns true and no stop is asked -> Finally. Derived classes
// supply OneLoop and the creation of the thread (CustomCreateThread). Header-only: the thread
// itself is made and joined through the C interface.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include <ferrolink/api/LogRecord.h>
#include <ferrolink/api/ferrolink.h>
#include <ferrolink/outside/CustomManualResetEvent.h>

class PellBaseThread {
public:
    PellBaseThread() : m_threadName(new std::string()) {}
    virtual ~PellBaseThread() {
        // A thread still running here is a caller's mistake; ending it is better than leaving it
        // behind on freed memory.
        if (m_threadHandle != nullptr && flk_thread_is_current(Thread()) == 0) {
            Stop();
            m_exitEvent.WaitOne(0xFFFFFFFFu);
            JoinFinishedThread();
        }
        delete m_threadName;
    }
    // A copy takes the name and nothing of the running thread: threads are not shared.
    PellBaseThread(const PellBaseThread& other)
        : m_threadName(new std::string(*other.m_threadName)) {}
    PellBaseThread& operator=(const PellBaseThread& other) {
        if (this != &other) *m_threadName = *other.m_threadName;
        return *this;
    }

    // Starts the thread under `name`; false when it could not be made or one is still running.
    virtual bool Start(const char* name) {
        if (m_threadHandle != nullptr) {
            if (!m_exitEvent.IsSet()) {
                FLK_LOG(2) << "thread already running. name = " << *m_threadName;
                return false;
            }
            JoinFinishedThread();
        }
        *m_threadName = name ? name : "";
        m_stopRequested = false;
        m_pauseRequested = false;
        m_prepareSucceeded = false;
        m_readyEvent.Reset();
        m_pausedEvent.Reset();
        m_resumeEvent.Reset();
        m_exitEvent.Reset();
        m_threadState = 1;
        return CustomCreateThread();
    }
    // Waits until Prepare has run (at once when no thread was started).
    virtual void WaitReady() { WaitReady(0xFFFFFFFFu); }
    // Waits until the loop has paused after Pause (or the thread has ended).
    virtual void WaitPaused() { WaitPaused(0xFFFFFFFFu); }
    // Waits up to `milliseconds` (0xFFFFFFFF: no limit) for the thread's end and joins it. True
    // when no thread runs any more. From the worker itself it cannot wait and answers false.
    virtual bool WaitExit(unsigned int milliseconds) {
        if (m_threadHandle == nullptr) return true;
        if (flk_thread_is_current(Thread()) != 0) return false;
        if (!m_exitEvent.WaitOne(milliseconds)) return false;
        JoinFinishedThread();
        return true;
    }
    // Asks the loop to end after the current OneLoop; never waits. Any thread, the worker too.
    virtual void Stop() {
        m_stopRequested = true;
        m_resumeEvent.Set();  // a paused loop wakes to see the stop
    }
    virtual void Pause() {
        m_resumeEvent.Reset();
        m_pauseRequested = true;
    }
    virtual void Resume() {
        m_pauseRequested = false;
        m_resumeEvent.Set();
    }
    // True once Prepare has returned true on the thread.
    virtual bool IsThreadSuccess() { return m_prepareSucceeded.load(); }

    // Timed forms of the waits above: true when reached within the limit.
    bool WaitReady(unsigned int milliseconds) {
        if (m_threadHandle == nullptr) return true;
        return m_readyEvent.WaitOne(milliseconds) || m_exitEvent.IsSet();
    }
    bool WaitPaused(unsigned int milliseconds) {
        if (m_threadHandle == nullptr) return true;
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        // Paused, or ended: either way the loop no longer runs.
        for (;;) {
            if (m_pausedEvent.WaitOne(10) || m_exitEvent.IsSet()) return true;
            if (milliseconds != 0xFFFFFFFFu && Clock::now() >= deadline) return false;
        }
    }
    bool IsStopRequested() const { return m_stopRequested.load(); }
    const std::string& GetThreadName() const { return *m_threadName; }

    // The worker loop; the thread entry calls it on the new thread. Returns the exit code.
    unsigned long StartThreadWorker() {
        // Ready and exit are signalled however the worker leaves, an exception included, so that
        // waiters never hang on a thread that is gone.
        struct SSignalOnExit {
            PellBaseThread& self;
            ~SSignalOnExit() {
                self.m_readyEvent.Set();
                self.m_pausedEvent.Reset();
                self.m_exitEvent.Set();
            }
        } signalOnExit{*this};

        const bool prepared = Prepare();
        m_prepareSucceeded = prepared;
        m_readyEvent.Set();
        if (prepared) {
            while (!m_stopRequested.load()) {
                if (m_pauseRequested.load()) {
                    m_pausedEvent.Set();
                    while (m_pauseRequested.load() && !m_stopRequested.load())
                        m_resumeEvent.WaitOne(50);
                    m_pausedEvent.Reset();
                    continue;
                }
                if (!OneLoop()) break;
            }
        }
        Finally();
        return prepared ? 1 : 0;
    }

protected:
    virtual bool OneLoop() = 0;
    virtual bool Prepare() { return true; }
    virtual void Finally() {}
    // Makes the operating-system thread that enters StartThreadWorker; fills m_threadHandle.
    virtual bool CustomCreateThread() {
        FLK_LOG(2) << "no thread facility. name = " << *m_threadName;
        m_threadState = 0;
        return false;
    }

    // Non-zero while a created thread belongs to this object; zeroed when creation fails.
    std::uint64_t m_threadState = 0;
    void* m_threadHandle = nullptr;  // a flk_thread*
    unsigned int m_threadId = 0;
    std::string* m_threadName;

private:
    flk_thread* Thread() const { return static_cast<flk_thread*>(m_threadHandle); }
    void JoinFinishedThread() {
        flk_thread_join(Thread());
        m_threadHandle = nullptr;
        m_threadState = 0;
    }

    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_pauseRequested{false};
    std::atomic<bool> m_prepareSucceeded{false};
    CCustomManualResetEvent m_readyEvent;
    CCustomManualResetEvent m_pausedEvent;
    CCustomManualResetEvent m_resumeEvent;
    CCustomManualResetEvent m_exitEvent;
};

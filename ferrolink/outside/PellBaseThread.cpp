#include <ferrolink/outside/PellBaseThread.h>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/outside/WaitSupport.h>
#include <ferrolink/platform/Thread.h>

namespace ferrolink::core {

using ferrolink::outside::kInfinite;
using ferrolink::platform::CThread;

PellBaseThread::PellBaseThread() : m_threadName(new std::string()) {}

// A copy takes the name and nothing of the running thread: threads are not shared.
PellBaseThread::PellBaseThread(const PellBaseThread& other)
    : m_threadName(new std::string(*other.m_threadName)) {}

PellBaseThread& PellBaseThread::operator=(const PellBaseThread& other) {
    if (this != &other) *m_threadName = *other.m_threadName;
    return *this;
}

PellBaseThread::~PellBaseThread() {
    // A thread still running here is a caller's mistake; ending it is better than leaving it
    // behind on freed memory.
    if (m_threadHandle != nullptr && !CThread::IsCurrent(m_threadHandle)) {
        Stop();
        m_exitEvent.WaitOne(kInfinite);
        JoinFinishedThread();
    }
    delete m_threadName;
}

bool PellBaseThread::Start(const char* name) {
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

bool PellBaseThread::CustomCreateThread() {
    FLK_LOG(2) << "no thread facility. name = " << *m_threadName;
    m_threadState = 0;
    return false;
}

void PellBaseThread::WaitReady() {
    WaitReady(kInfinite);
}

bool PellBaseThread::WaitReady(unsigned int milliseconds) {
    if (m_threadHandle == nullptr) return true;
    return m_readyEvent.WaitOne(milliseconds) || m_exitEvent.IsSet();
}

void PellBaseThread::WaitPaused() {
    WaitPaused(kInfinite);
}

bool PellBaseThread::WaitPaused(unsigned int milliseconds) {
    if (m_threadHandle == nullptr) return true;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    // Paused, or ended: either way the loop no longer runs.
    for (;;) {
        if (m_pausedEvent.WaitOne(10) || m_exitEvent.IsSet()) return true;
        if (milliseconds != kInfinite && Clock::now() >= deadline) return false;
    }
}

bool PellBaseThread::WaitExit(unsigned int milliseconds) {
    if (m_threadHandle == nullptr) return true;
    if (CThread::IsCurrent(m_threadHandle)) return false;
    if (!m_exitEvent.WaitOne(milliseconds)) return false;
    JoinFinishedThread();
    return true;
}

void PellBaseThread::JoinFinishedThread() {
    CThread::Join(m_threadHandle);
    m_threadHandle = nullptr;
    m_threadState = 0;
}

void PellBaseThread::Stop() {
    m_stopRequested = true;
    m_resumeEvent.Set();  // a paused loop wakes to see the stop
}

void PellBaseThread::Pause() {
    m_resumeEvent.Reset();
    m_pauseRequested = true;
}

void PellBaseThread::Resume() {
    m_pauseRequested = false;
    m_resumeEvent.Set();
}

bool PellBaseThread::IsThreadSuccess() {
    return m_prepareSucceeded.load();
}

bool PellBaseThread::Prepare() {
    return true;
}

void PellBaseThread::Finally() {}

unsigned long PellBaseThread::StartThreadWorker() {
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

}  // namespace ferrolink::core

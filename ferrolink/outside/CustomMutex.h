// A re-entrant mutex with timed and abortable waits: the lock of the shared capture handle.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include <ferrolink/outside/CustomWaitHandle.h>

namespace ferrolink::core {

class CCustomMutex : public CCustomWaitHandle {
public:
    CCustomMutex();
    ~CCustomMutex() override;

    // Obtains one more level of ownership; the owner itself never waits.
    bool WaitOne(unsigned int milliseconds = 0xFFFFFFFFu, const bool* abortFlag = nullptr) override;
    // Gives up one level; false when the calling thread does not own the mutex.
    bool ReleaseOne();
    // True when the calling thread owns the mutex.
    bool IsOwnedByCurrentThread() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    std::thread::id m_owner;
    unsigned int m_depth = 0;
};

}  // namespace ferrolink::core

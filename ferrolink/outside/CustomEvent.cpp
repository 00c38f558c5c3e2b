#include <ferrolink/outside/CustomEvent.h>

#include <ferrolink/outside/WaitSupport.h>

namespace ferrolink::core {

CCustomEvent::CCustomEvent(bool autoReset, bool initialState)
    : m_autoReset(autoReset), m_signalled(initialState) {
    m_waitObject.Show(initialState);
}

CCustomEvent::~CCustomEvent() = default;

bool CCustomEvent::WaitOne(unsigned int milliseconds, const bool* abortFlag) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!ferrolink::outside::WaitFor(lock, m_changed, milliseconds, abortFlag,
                                     [this] { return m_signalled; }))
        return false;
    if (m_autoReset) {
        m_signalled = false;
        m_waitObject.Show(false);
    }
    return true;
}

bool CCustomEvent::Set() {
    // Notify under the lock: a woken waiter may destroy the event as soon as the lock is free.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = true;
    m_waitObject.Show(true);
    if (m_autoReset)
        m_changed.notify_one();
    else
        m_changed.notify_all();
    return true;
}

bool CCustomEvent::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = false;
    m_waitObject.Show(false);
    return true;
}

bool CCustomEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_signalled;
}

}  // namespace ferrolink::core

#include <ferrolink/outside/CustomMutex.h>

#include <ferrolink/outside/WaitSupport.h>

namespace ferrolink::core {

CCustomMutex::CCustomMutex() {
    m_waitObject.Show(true);
}
CCustomMutex::~CCustomMutex() = default;

bool CCustomMutex::WaitOne(unsigned int milliseconds, const bool* abortFlag) {
    const auto self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_depth > 0 && m_owner == self) {
        ++m_depth;
        return true;
    }
    if (!ferrolink::outside::WaitFor(lock, m_released, milliseconds, abortFlag,
                                     [this] { return m_depth == 0; }))
        return false;
    m_owner = self;
    m_depth = 1;
    m_waitObject.Show(false);
    return true;
}

bool CCustomMutex::ReleaseOne() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_depth == 0 || m_owner != std::this_thread::get_id()) return false;
    if (--m_depth == 0) {
        m_owner = std::thread::id();
        m_waitObject.Show(true);
        m_released.notify_one();
    }
    return true;
}

bool CCustomMutex::IsOwnedByCurrentThread() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_depth > 0 && m_owner == std::this_thread::get_id();
}

}  // namespace ferrolink::core

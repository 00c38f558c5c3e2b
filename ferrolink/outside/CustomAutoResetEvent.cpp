#include <ferrolink/outside/CustomAutoResetEvent.h>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/platform/NamedClaim.h>

namespace ferrolink::core {

CCustomAutoResetEvent::CCustomAutoResetEvent(bool initialState)
    : CCustomEvent(true, initialState) {}

CCustomAutoResetEvent::CCustomAutoResetEvent(const char* name, bool initialState)
    : CCustomEvent(true, initialState), m_name(name ? name : "") {
    if (m_name.empty()) return;
    m_claim = std::make_unique<platform::CNamedClaim>();
    m_created = m_claim->Acquire(m_name);
    for (const std::string& notice : platform::CNamedClaim::TakeNotices()) FLK_LOG(1) << notice;
    if (!m_created && m_claim->IsNewRefusal())
        FLK_LOG(2) << "claim " << m_name << " refused: " << m_claim->Refusal();
}

CCustomAutoResetEvent::~CCustomAutoResetEvent() = default;

}  // namespace ferrolink::core

#include <ferrolink/outside/CustomAutoResetEvent.h>

#include <ferrolink/outside/NamedClaim.h>

namespace ferrolink::core {

CCustomAutoResetEvent::CCustomAutoResetEvent(bool initialState) : CCustomEvent(true, initialState) {}

CCustomAutoResetEvent::CCustomAutoResetEvent(const char* name, bool initialState)
    : CCustomEvent(true, initialState), m_name(name ? name : "") {
    if (!m_name.empty()) {
        m_claim = std::make_unique<CNamedClaim>();
        m_created = m_claim->Acquire(m_name);
    }
}

CCustomAutoResetEvent::~CCustomAutoResetEvent() = default;

}  // namespace ferrolink::core

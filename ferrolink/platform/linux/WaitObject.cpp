#include <ferrolink/platform/WaitObject.h>

namespace ferrolink::platform {

// No system object to give: the handle is this object's identity.
CWaitObject::CWaitObject() : m_event(this) {}
CWaitObject::~CWaitObject() = default;

void CWaitObject::Show(bool) {}

void* CWaitObject::Handle() {
    return m_event;
}

}  // namespace ferrolink::platform

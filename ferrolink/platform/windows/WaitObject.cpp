#include <ferrolink/platform/WaitObject.h>

#include <windows.h>

namespace ferrolink::platform {

CWaitObject::CWaitObject() : m_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CWaitObject::~CWaitObject() {
    if (m_event != nullptr) ::CloseHandle(static_cast<HANDLE>(m_event));
}

void CWaitObject::Show(bool passable) {
    if (m_event == nullptr) return;
    if (passable)
        ::SetEvent(static_cast<HANDLE>(m_event));
    else
        ::ResetEvent(static_cast<HANDLE>(m_event));
}

void* CWaitObject::Handle() {
    return m_event;
}

}  // namespace ferrolink::platform

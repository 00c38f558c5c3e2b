#include <ferrolink/outside/CustomWaitHandle.h>

namespace ferrolink::core {

CCustomWaitHandle::~CCustomWaitHandle() = default;

void* CCustomWaitHandle::GetWaitHandle() {
    return m_waitObject.Handle();
}

}  // namespace ferrolink::core

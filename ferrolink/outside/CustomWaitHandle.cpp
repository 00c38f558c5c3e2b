#include <ferrolink/outside/CustomWaitHandle.h>

namespace ferrolink::core {

CCustomWaitHandle::~CCustomWaitHandle() = default;

void* CCustomWaitHandle::GetWaitHandle() { return this; }

}  // namespace ferrolink::core

#include <ferrolink/platform/WaitObject.h>

namespace ferrolink::platform {

CWaitObject::CWaitObject() = default;
CWaitObject::~CWaitObject() = default;

void CWaitObject::Show(bool) {}

void* CWaitObject::Handle() {
    return this;
}

}  // namespace ferrolink::platform

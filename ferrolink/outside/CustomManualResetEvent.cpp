#include <ferrolink/outside/CustomManualResetEvent.h>

namespace ferrolink::core {

CCustomManualResetEvent::CCustomManualResetEvent(bool initialState)
    : CCustomEvent(false, initialState) {}

CCustomManualResetEvent::~CCustomManualResetEvent() = default;

}  // namespace ferrolink::core

#include <ferrolink/outside/CustomManualResetEvent.h>

CCustomManualResetEvent::CCustomManualResetEvent(bool initialState)
    : CCustomEvent(false, initialState) {}

CCustomManualResetEvent::~CCustomManualResetEvent() = default;

// An event that stays signalled until Reset: every waiter passes while it is set.
#pragma once

#include <ferrolink/outside/CustomEvent.h>

class CCustomManualResetEvent : public CCustomEvent {
public:
    explicit CCustomManualResetEvent(bool initialState = false)
        : CCustomEvent(false, initialState) {}
    ~CCustomManualResetEvent() override = default;
};

// An event that lets one waiter through per Set. (The named form, the cross-process claim on a
// board, is the library's own business: the shared network handle takes and drops it.)
#pragma once

#include <ferrolink/outside/CustomEvent.h>

class CCustomAutoResetEvent : public CCustomEvent {
public:
    explicit CCustomAutoResetEvent(bool initialState = false) : CCustomEvent(true, initialState) {}
    ~CCustomAutoResetEvent() override = default;

    // An unnamed event is always created.
    bool IsCreated() const { return true; }
};

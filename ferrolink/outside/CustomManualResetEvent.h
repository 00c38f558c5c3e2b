// An event that stays signalled until Reset: every waiter passes while it is set.
#pragma once

#include <ferrolink/outside/CustomEvent.h>

namespace ferrolink::core {

class CCustomManualResetEvent : public CCustomEvent {
public:
    explicit CCustomManualResetEvent(bool initialState = false);
    ~CCustomManualResetEvent() override;
};

}  // namespace ferrolink::core

// An event that lets one waiter through per Set. The named form is also a claim on its name that
// is exclusive across the processes of the machine and ends with its holder, even a killed one:
// IsCreated() is false when someone else holds the name.
#pragma once

#include <memory>
#include <string>

#include <ferrolink/outside/CustomEvent.h>

namespace ferrolink::platform {
class CNamedClaim;
}

namespace ferrolink::core {

class CCustomAutoResetEvent : public CCustomEvent {
public:
    explicit CCustomAutoResetEvent(bool initialState = false);
    CCustomAutoResetEvent(const char* name, bool initialState);
    ~CCustomAutoResetEvent() override;

    // False for a named event whose name another holder has, or that could not be claimed.
    bool IsCreated() const { return m_created; }
    const std::string& GetName() const { return m_name; }

private:
    std::string m_name;
    std::unique_ptr<platform::CNamedClaim> m_claim;
    bool m_created = true;
};

}  // namespace ferrolink::core

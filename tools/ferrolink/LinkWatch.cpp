#include "LinkWatch.h"

#include <chrono>
#include <thread>

#include "JobLink.h"
#include "ReplyTimer.h"

CLinkWatch::CLinkWatch(CJobLink& link, unsigned waitMs, const std::atomic<bool>& stop,
                       Notice notice, Change change)
    : m_link(link),
      m_waitMs(waitMs),
      m_stop(stop),
      m_notice(std::move(notice)),
      m_change(std::move(change)) {}

bool CLinkWatch::WaitUntilUp(std::string& why, EExitStatus& status) {
    ELinkState state = m_link.LinkState();
    if (state == ELinkState::Up) return true;
    const std::string interface = m_link.InterfaceName();
    const auto since = SendClock::now();
    ++m_outages;
    if (m_change) m_change(false);
    if (state == ELinkState::Down && m_notice)
        m_notice("the link on " + interface + " is down; waiting up to " +
                 std::to_string(m_waitMs) + " ms for it");
    while (state == ELinkState::Down && !m_stop.load() &&
           SendClock::now() - since < std::chrono::milliseconds(m_waitMs)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        state = m_link.LinkState();
    }
    status = ExitStatus_LinkFailed;
    if (state == ELinkState::Gone) {
        why = "the interface " + interface + " is gone (removed from the system) during the job";
        return false;
    }
    if (state == ELinkState::Down) {
        if (m_stop.load()) {
            why = "interrupted";
            status = ExitStatus_Interrupted;
        } else {
            why = "the link on " + interface + " stayed down for more than " +
                  std::to_string(m_waitMs) + " ms; check the cable and that the board is powered";
        }
        return false;
    }
    if (m_change) m_change(true);
    if (m_notice)
        m_notice("the link on " + interface + " is back after " +
                 std::to_string(static_cast<long long>(Milliseconds(SendClock::now() - since))) +
                 " ms; asking the board where each band stands");
    return true;
}

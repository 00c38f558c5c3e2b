// The adapter's link during a job: a link that goes down is waited for (up to --link-wait-ms),
// an interface that vanishes or a link that stays down ends the job with the cause. Each outage
// is counted when it begins, so a job that fails on one reports it too. Used by CPrintJob when a
// send is refused or the board stops answering.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "ExitStatus.h"

class CJobLink;

class CLinkWatch {
public:
    // A message to show (an outage and its end).
    using Notice = std::function<void(const std::string&)>;
    // The link went down (false) or came back (true).
    using Change = std::function<void(bool up)>;

    CLinkWatch(CJobLink& link, unsigned waitMs, const std::atomic<bool>& stop, Notice notice,
               Change change);
    // True when the link is up, at once or after an outage shorter than the wait; otherwise
    // `why` and `status` say what ended the job.
    bool WaitUntilUp(std::string& why, EExitStatus& status);
    std::uint64_t Outages() const { return m_outages; }

private:
    CJobLink& m_link;
    unsigned m_waitMs;
    const std::atomic<bool>& m_stop;
    Notice m_notice;
    Change m_change;
    std::uint64_t m_outages = 0;
};

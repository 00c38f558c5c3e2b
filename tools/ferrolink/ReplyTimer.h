// When to ask a band's question (its EndOfBand) again and when to give up on the board. A lost
// command or answer is asked again after a few round trips rather than the whole time-out, so
// one loss never stalls the bands behind it; each repeat waits twice as long as the one before,
// so answers slower than the estimate are still taken in the end. One per band in flight; the
// round-trip estimate is shared by the job.
#pragma once

#include <chrono>

using SendClock = std::chrono::steady_clock;

double Milliseconds(SendClock::duration d);

// Smoothed time from a question to its answer, over all bands.
class CRoundTrip {
public:
    void Add(double milliseconds);
    double Milliseconds() const { return m_ms; }

private:
    double m_ms = 0;
};

class CReplyTimer {
public:
    CReplyTimer(unsigned timeoutMs, int tries);

    // A question left now (the answer is awaited since the band's last answer or send).
    void Asked(SendClock::time_point now);
    // Its answer came now: the back-off starts over; returns the question's round trip in ms.
    double Answered(SendClock::time_point now, CRoundTrip& roundTrip);
    // Waiting starts afresh (the link came back).
    void Restart(SendClock::time_point now);
    // The question has waited long enough to be asked again.
    bool Due(SendClock::time_point now, const CRoundTrip& roundTrip) const;
    // The next repeat waits twice as long.
    void BackOff(SendClock::time_point now, const CRoundTrip& roundTrip);
    // No answer for tries x time-out since the last answer or send.
    bool Expired(SendClock::time_point now) const;

private:
    double Delay(const CRoundTrip& roundTrip) const;

    double m_timeoutMs;
    int m_tries;
    SendClock::time_point m_asked;
    SendClock::time_point m_waiting;
    double m_retryMs = 0;
};

#include "ReplyTimer.h"

#include <algorithm>

double Milliseconds(SendClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void CRoundTrip::Add(double milliseconds) {
    m_ms = m_ms > 0 ? 0.875 * m_ms + 0.125 * milliseconds : milliseconds;
}

CReplyTimer::CReplyTimer(unsigned timeoutMs, int tries)
    : m_timeoutMs(static_cast<double>(timeoutMs)), m_tries(tries) {}

void CReplyTimer::Asked(SendClock::time_point now) {
    m_asked = now;
}

double CReplyTimer::Answered(SendClock::time_point now, CRoundTrip& roundTrip) {
    const double ms = ::Milliseconds(now - m_asked);
    roundTrip.Add(ms);
    m_waiting = now;
    m_retryMs = 0;
    return ms;
}

void CReplyTimer::Restart(SendClock::time_point now) {
    m_waiting = now;
}

double CReplyTimer::Delay(const CRoundTrip& roundTrip) const {
    return std::min(
        std::max(std::clamp(4 * roundTrip.Milliseconds(), 30.0, m_timeoutMs), m_retryMs),
        m_timeoutMs);
}

bool CReplyTimer::Due(SendClock::time_point now, const CRoundTrip& roundTrip) const {
    return ::Milliseconds(now - m_asked) >= Delay(roundTrip);
}

void CReplyTimer::BackOff(SendClock::time_point now, const CRoundTrip& roundTrip) {
    m_retryMs = 2 * Delay(roundTrip);
    m_asked = now;
}

bool CReplyTimer::Expired(SendClock::time_point now) const {
    return ::Milliseconds(now - m_waiting) >= m_timeoutMs * m_tries;
}

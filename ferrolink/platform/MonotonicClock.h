// Monotonic milliseconds, for every time limit the library polls and the receiver's gap watch.
// Wall-clock adjustments must not shorten or stretch a wait, and CPU time (what clock() counts
// on Linux) stands still while a thread waits.
#pragma once

#include <atomic>
#include <cstdint>

namespace ferrolink::platform {

class CMonotonicClock {
public:
    // Milliseconds since an arbitrary start.
    static std::uint64_t Milliseconds();
    // Their low 32 bits, for the callers that keep time in 32 bits and compare by difference
    // (it wraps after 49.7 days, which such callers expect).
    static std::uint32_t Ticks() { return static_cast<std::uint32_t>(Milliseconds()); }
};

// Replaces the clock, so tests can step time; null restores it. Defined only in what the tests
// link (tests/support/TestSeams.cpp): the shared library offers no way to set it.
using ClockSource = std::uint64_t (*)();
void SetClockForTesting(ClockSource source);

namespace detail {
extern std::atomic<ClockSource> g_clockSource;  // null: the monotonic clock
}

}  // namespace ferrolink::platform

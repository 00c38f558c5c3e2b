// The standard library's steady clock is the system's monotonic one on both systems
// (CLOCK_MONOTONIC on Linux, the performance counter on Windows): one implementation serves.
#include <ferrolink/platform/MonotonicClock.h>

#include <chrono>

namespace ferrolink::platform {

namespace detail {
std::atomic<ClockSource> g_clockSource{nullptr};
}

std::uint64_t CMonotonicClock::Milliseconds() {
    if (ClockSource source = detail::g_clockSource.load(std::memory_order_relaxed)) return source();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

}  // namespace ferrolink::platform

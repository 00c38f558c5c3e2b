// Monotonic milliseconds, for the polled time limits. Wall-clock adjustments must not shorten or
// stretch a wait, and CPU time (what clock() counts here) stands still while a thread waits.
#pragma once

#include <chrono>
#include <cstdint>

namespace ferrolink::platform {

inline std::uint64_t TickCountMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

}  // namespace ferrolink::platform

// Monotonic milliseconds, for the polled time limits. Wall-clock adjustments must not shorten or
// stretch a wait, and CPU time (what clock() counts here) stands still while a thread waits.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include <ferrolink/FerrolinkExport.h>

namespace ferrolink::platform {

inline std::uint64_t TickCountMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// The 32-bit millisecond tick of the receive path (wraps after 49.7 days, as callers expect).
FERROLINK_API std::uint32_t GetTickCount();

// Replaces the tick source, so tests can step time; null restores the clock. Defined only in
// what the tests link (tests/support/TestSeams.cpp): the shared library offers no way to set it.
using TickSource = std::uint32_t (*)();
void SetTickSourceForTesting(TickSource source);

namespace detail {
extern std::atomic<TickSource> g_tickSource;  // null: the monotonic clock
}

}  // namespace ferrolink::platform

// The wait pair shared by every waiting operation: a limit in milliseconds (kInfinite for none)
// and an optional caller-owned abort flag, polled every few milliseconds while waiting.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ferrolink::outside {

constexpr unsigned int kInfinite = 0xFFFFFFFFu;

// The flag is written by another thread without our lock: read it atomically.
inline bool IsAbortSet(const bool* abortFlag) {
    return abortFlag != nullptr && __atomic_load_n(abortFlag, __ATOMIC_ACQUIRE);
}

// Waits on `cv` until `ready()` holds (true), the limit passes or the abort flag is set (false).
template <typename Predicate>
bool WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
             unsigned int milliseconds, const bool* abortFlag, Predicate ready) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kAbortPoll = std::chrono::milliseconds(2);
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (ready()) return true;
        if (IsAbortSet(abortFlag)) return false;
        Clock::duration slice = abortFlag ? kAbortPoll : std::chrono::milliseconds(50);
        if (milliseconds != kInfinite) {
            const auto now = Clock::now();
            if (now >= deadline) return false;
            slice = std::min<Clock::duration>(slice, deadline - now);
        }
        cv.wait_for(lock, slice);
    }
}

}  // namespace ferrolink::outside

// The wait pair shared by every waiting operation: a limit in milliseconds (kInfinite for none)
// and an optional caller-owned abort flag, polled every few milliseconds while waiting.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ferrolink::outside {

constexpr unsigned int kInfinite = 0xFFFFFFFFu;

// The flag is the caller's plain bool, written by another thread without our lock: read it
// atomically. C++17 has no atomic view of a plain object (atomic_ref is C++20); a lock-free
// atomic<bool> has the bool's size and representation on every compiler we build with, which the
// assertion holds us to.
static_assert(sizeof(std::atomic<bool>) == sizeof(bool) && std::atomic<bool>::is_always_lock_free,
              "the abort flag is read as an atomic<bool>");
inline bool IsAbortSet(const bool* abortFlag) {
    return abortFlag != nullptr &&
           reinterpret_cast<const std::atomic<bool>*>(abortFlag)->load(std::memory_order_acquire);
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

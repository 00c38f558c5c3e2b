#include "JobLink.h"

#include <chrono>

bool CJobLink::Command(std::uint16_t symbol, std::uint32_t frameIndex,
                       const std::vector<std::uint32_t>& words, unsigned timeoutMs, int tries,
                       SCommandReply& reply) {
    using Clock = std::chrono::steady_clock;
    for (int attempt = 0; attempt < tries; ++attempt) {
        const std::uint32_t sequence = PostCommand(symbol, frameIndex, words);
        if (sequence == 0) return false;
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < end) {
            if (TakeReply(sequence, reply)) return true;
            WaitForReply(
                static_cast<unsigned>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now())
                        .count()) +
                1);
        }
        if (TakeReply(sequence, reply)) return true;
        Forget(sequence);
    }
    return false;
}

#include "board-sim/Impairment.h"

#include <cmath>

namespace ferrolink::tools {

namespace {
std::mt19937 Seeded(std::uint32_t seed, std::uint32_t direction) {
    // seed_seq's mixing is fixed by the standard, so both directions get distinct, repeatable
    // streams from the one seed on the command line.
    std::seed_seq sequence{seed, direction};
    return std::mt19937(sequence);
}
}  // namespace

CImpairment::CImpairment(const SImpairmentRates& rates, std::uint32_t seed, EDirection direction)
    : m_generator(Seeded(seed, static_cast<std::uint32_t>(direction))),
      m_drop(Threshold(rates.m_drop)),
      m_corrupt(Threshold(rates.m_corrupt)),
      m_duplicate(Threshold(rates.m_duplicate)),
      m_reorder(Threshold(rates.m_reorder)),
      m_delay(rates.m_delayMs > 0 ? Threshold(rates.m_delay) : 0),
      m_active((m_drop | m_corrupt | m_duplicate | m_reorder | m_delay) != 0) {}

std::uint64_t CImpairment::Threshold(double rate) {
    if (!(rate > 0)) return 0;
    if (rate >= 1) return std::uint64_t{1} << 32;
    return static_cast<std::uint64_t>(std::llround(rate * 4294967296.0));
}

SImpairmentDecision CImpairment::Next() {
    SImpairmentDecision decision;
    // All draws happen whatever the outcome, in this order: that keeps frame n's fate fixed.
    decision.m_drop = Draw(m_drop);
    decision.m_corrupt = Draw(m_corrupt);
    decision.m_duplicate = Draw(m_duplicate);
    decision.m_reorder = Draw(m_reorder);
    decision.m_delay = Draw(m_delay);
    decision.m_corruptPick = m_generator();
    return decision;
}

void CImpairment::Corrupt(unsigned char* frame, int length, std::uint32_t pick) {
    constexpr int kFirst = 6;
    if (!frame || length <= kFirst) return;
    const std::uint32_t bits = static_cast<std::uint32_t>(length - kFirst) * 8;
    const std::uint32_t bit = pick % bits;
    frame[kFirst + bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
}

}  // namespace ferrolink::tools

// Deterministic faults for one direction of the link (frames the board receives, or reports it
// sends): which frames to drop, corrupt, duplicate, reorder or delay. Every frame costs the same
// number of draws from the direction's own generator, so the n-th frame's fate depends only on
// the seed and n, never on the other direction or on timing. Applying a decision is the
// emulator's business; this class only decides.
#pragma once

#include <cstdint>
#include <random>

namespace ferrolink::tools {

struct SImpairmentRates {
    double m_drop = 0;  // fractions of frames, 0..1
    double m_corrupt = 0;
    double m_duplicate = 0;
    double m_reorder = 0;
    double m_delay = 0;  // fraction of frames held back for m_delayMs
    int m_delayMs = 0;
};

struct SImpairmentDecision {
    bool m_drop = false;
    bool m_corrupt = false;
    bool m_duplicate = false;
    bool m_reorder = false;
    bool m_delay = false;
    std::uint32_t m_corruptPick = 0;  // which bit to flip, see Corrupt
};

class CImpairment {
public:
    enum class EDirection : std::uint32_t { Receive = 1, Send = 2 };

    CImpairment(const SImpairmentRates& rates, std::uint32_t seed, EDirection direction);

    // False when no rate is set: the caller may skip Next() and any copying.
    bool Active() const { return m_active; }
    SImpairmentDecision Next();

    // Flips one bit in frame bytes [6, length): past the destination address, so the frame still
    // reaches the board and fails its checksum there instead of looking like another station's.
    static void Corrupt(unsigned char* frame, int length, std::uint32_t pick);

private:
    // The rate as a threshold on a 32-bit draw: exact, and the same on every platform (the
    // standard distributions may give other values with another library).
    static std::uint64_t Threshold(double rate);
    bool Draw(std::uint64_t threshold) { return std::uint64_t{m_generator()} < threshold; }

    std::mt19937 m_generator;
    std::uint64_t m_drop, m_corrupt, m_duplicate, m_reorder, m_delay;
    bool m_active;
};

}  // namespace ferrolink::tools

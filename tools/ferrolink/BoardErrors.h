// The board's error bits in words a technician can act on: what each bit means and what to do
// about it. Used by send's failure messages and by monitor.
#pragma once

#include <cstdint>
#include <string>

namespace ferrolink::core {
struct SWaitCheckParam;
}
using ferrolink::core::SWaitCheckParam;

class CBoardErrors {
public:
    // The error word (bits 0..13) as parsed into `status`.
    static std::uint32_t Word(const SWaitCheckParam& status);
    static const char* Meaning(int bit);
    static const char* Remedy(int bit);
    // "bit 2 (overflow while ...)" for each set bit of `mask` within `word`, joined by "; ".
    static std::string Describe(std::uint32_t word, std::uint32_t mask = 0x3FFF);
    // What to do about the lowest fatal bit (2..7) of `word`; empty when none is set.
    static std::string FirstRemedy(std::uint32_t word);
    // A fault latched before a job: a Reset clears it, a fault of the board's own reading also
    // wants the board checked.
    static std::string LatchedRemedy(std::uint32_t word, const std::string& interface);
};

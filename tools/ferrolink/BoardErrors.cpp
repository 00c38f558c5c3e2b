#include "BoardErrors.h"

#include <ferrolink/reply/SWaitCheckParam.h>

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

struct SBit {
    const char* meaning;
    const char* remedy;
};

constexpr const char* kResetBoard =
    "reset the board (`ferrolink reset`, or power it off and on) and send the job again; if it "
    "comes back, the board needs service";

const SBit kBits[14] = {
    {"a frame for the board failed its checksum", "none needed: the sender resends"},
    {"packets of the band are missing at the board", "none needed: the sender resends"},
    {"the board's memory overflowed (memory full)",
     "send smaller bands (--band-size) or fewer at once (--window)"},
    {"checksum error while the board read its memory", kResetBoard},
    {"frame header not found while the board read its memory", kResetBoard},
    {"frame lost while the board read its memory", kResetBoard},
    {"the board's memory was found empty while reading it", kResetBoard},
    {"a firing or start-print command came before one firing's data reached the head board",
     "lower the print speed, or check the encoder and firing signals"},
    {"the head board's fibre receiver found no frame header",
     "check the fibre between the board and the head board"},
    {"bit 9 (not used by the board)", "none"},
    {"bit 10 (not named by the board)", "none"},
    {"first-frame memory address error", kResetBoard},
    {"memory addresses out of sequence", kResetBoard},
    {"the board's memory is empty", "none: informational"},
};

}  // namespace

std::uint32_t CBoardErrors::Word(const SWaitCheckParam& s) {
    const bool bits[14] = {s.m_b0_Re_Frame_Ver_Err,
                           s.m_b1_Re_Frame_Lose_Err,
                           s.m_b2_L2_Wr_DDR2_over,
                           s.m_b3_L2_Rd_DDR2_FIFO_Verr,
                           s.m_b4_L2_Rd_DDR2_FIFO_ZhenTou,
                           s.m_b5_L2_Rd_DDR2_FIFO_Lose,
                           s.m_b6_L2_Rd_DDR2_FIFO_Epty,
                           s.m_b7_Rd_DDR2_FIFO_FireOverrun,
                           s.m_b8_HB_Fiber_ReData_Zhentou,
                           s.m_b9,
                           s.m_b10,
                           s.m_b11_FirstFrame_FifoAddress_Error,
                           s.m_b12_FifoAdress_None_Sequence,
                           s.m_b13_DDR2_Empty};
    std::uint32_t word = 0;
    for (int bit = 0; bit < 14; ++bit)
        if (bits[bit]) word |= 1u << bit;
    return word;
}

const char* CBoardErrors::Meaning(int bit) {
    return bit >= 0 && bit < 14 ? kBits[bit].meaning : "unknown bit";
}

const char* CBoardErrors::Remedy(int bit) {
    return bit >= 0 && bit < 14 ? kBits[bit].remedy : "none";
}

std::string CBoardErrors::Describe(std::uint32_t word, std::uint32_t mask) {
    std::string text;
    for (int bit = 0; bit < 14; ++bit) {
        if (!(word & mask & (1u << bit))) continue;
        if (!text.empty()) text += "; ";
        text += "bit " + std::to_string(bit) + " (" + Meaning(bit) + ")";
    }
    return text;
}

std::string CBoardErrors::FirstRemedy(std::uint32_t word) {
    for (int bit = 2; bit < 8; ++bit)
        if (word & (1u << bit)) return Remedy(bit);
    return std::string();
}

std::string CBoardErrors::LatchedRemedy(std::uint32_t word, const std::string& interface) {
    std::string text = "the bit stays until the board is reset: run `ferrolink reset -i " +
                       interface + "`, then send again";
    const std::string remedy = FirstRemedy(word);
    if (!remedy.empty() && remedy.rfind("reset the board", 0) != 0)
        text += "; if it comes back: " + remedy;
    else if (!remedy.empty())
        text += "; if it comes back, the board needs service";
    return text;
}

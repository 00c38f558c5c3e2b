// Builds the frames the board sends to the PC: PC MAC as destination, board MAC as source, the
// header fields, a data area and the frame checksum. The library's builder only knows the PC to
// board direction. Owned by the emulator; one per board MAC.
#pragma once

#include <cstdint>
#include <vector>

#include "board-sim/BoardStatus.h"

namespace ferrolink::tools {

class CBoardFrameWriter {
public:
    // Data area of a report: the 32 status bytes, zero-padded to the minimum frame of 88 bytes.
    static constexpr int kReportDataCapacity = 60;

    explicit CBoardFrameWriter(unsigned char boardMacFirstByte);

    const unsigned char* BoardMac() const { return m_boardMac; }

    // `data` fills the start of a data area of `dataCapacity` bytes (zero after it); false when
    // the data does not fit or the frame would not fit the 16-bit frameLength.
    bool Build(std::uint16_t dataSymbol, std::uint32_t frameIndex, std::uint32_t packetIndex,
               const unsigned char* data, int dataLength, int dataCapacity,
               std::vector<unsigned char>& frame) const;
    // An 88-byte report carrying `status`.
    void Report(std::uint16_t dataSymbol, std::uint32_t frameIndex, std::uint32_t packetIndex,
                const SBoardStatus& status, std::vector<unsigned char>& frame) const;

private:
    unsigned char m_boardMac[6];
};

}  // namespace ferrolink::tools

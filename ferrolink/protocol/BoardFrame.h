// The board frame, shared by both directions:
//   0  destination MAC (6)   6  source MAC (6)    12 frameLength (u16, whole frame)
//   14 dataSymbol (u16)      16 frameIndex (u32)  20 packetIndex (u32)
//   24 actual data, then padding up to the data-area capacity, then a 4-byte checksum.
// Multi-byte fields are big-endian.
#pragma once

#include <cstdint>

// What a frame carries. Values other than these two belong to the host application and are
// carried through unchanged, so the type is an open set of 16-bit values.
enum MacDataSymbolType : std::uint16_t {
    MacDataSymbol_PrintData = 0,  // PC to board
    MacDataSymbol_Check = 3,      // board to PC
};

// How the bytes between the actual data and the checksum are filled.
enum PaddingValueType : int {
    PaddingValue_Zero = 0,
    PaddingValue_Random = 1,    // low byte of one rand() call per byte; never seeded by us
    PaddingValue_Sequence = 2,  // process-wide counter, each whole group of 4 stored reversed
};

namespace ferrolink::protocol::frame {
constexpr int kDestinationMacOffset = 0;
constexpr int kSourceMacOffset = 6;
constexpr int kFrameLengthOffset = 12;
constexpr int kDataSymbolOffset = 14;
constexpr int kFrameIndexOffset = 16;
constexpr int kPacketIndexOffset = 20;
constexpr int kActualDataOffset = 24;  // also the header's size
constexpr int kCheckSumSize = 4;       // after the data area
constexpr int kHeaderAndCheckSumSize = kActualDataOffset + kCheckSumSize;
// Largest data area whose frame length still fits the 16-bit frameLength field.
constexpr int kMaximumActualDataCapacity = 65535 - kHeaderAndCheckSumSize;
}  // namespace ferrolink::protocol::frame

// The board's status reply: big-endian 32-bit words at these offsets of the reply's data area
// (frame offset = kActualDataOffset + data offset).
namespace ferrolink::protocol::reply {
constexpr int kErrorWordOffset = 0;       // error bits 0 to 13
constexpr int kResendIndexOffset = 4;     // frame index from which to resend
constexpr int kCurrentMaximumOffset = 8;  // current maximum frame index
constexpr int kVersionOffset = 12;        // high 16 bits, then low 16 bits
constexpr int kBandInfoOffset = 16;       // kBandInfoCount words, in reply order
constexpr int kBandInfoCount = 4;
constexpr int kLength = kBandInfoOffset + 4 * kBandInfoCount;
}  // namespace ferrolink::protocol::reply

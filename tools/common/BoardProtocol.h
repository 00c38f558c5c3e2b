// The host commands and board reports that the tools (and a host application) exchange with the
// board on top of the library's frame format. Documented in docs/board-protocol.md.
#pragma once

#include <cstdint>

#include <ferrolink/protocol/BoardFrame.h>

namespace ferrolink::tools {

// dataSymbol values of frames from the PC to the board.
constexpr std::uint16_t kSymbolPrintData = 0;       // print data (the library's own value)
constexpr std::uint16_t kSymbolEndOfBand = 0x0010;  // words: packet count, band bytes, packet size
constexpr std::uint16_t kSymbolStatusQuery = 0x0011;
constexpr std::uint16_t kSymbolReset = 0x0012;
constexpr std::uint16_t kSymbolSetErrors = 0x0013;  // word: error bits to raise (fatal on request)

// dataSymbol values of frames from the board to the PC.
constexpr std::uint16_t kSymbolAutoReport = 3;        // periodic status (the library's check frame)
constexpr std::uint16_t kSymbolStatusReply = 0x0101;  // status in answer to a command

// Both report kinds carry the library's reply layout (ferrolink::protocol::reply), filled so:
//   resend index     first packet to send again
//   current maximum  last packet index of the intact prefix of the band, -1 when none
//   band words       band (frameIndex), packets held, bands completed, command sequence answered
constexpr int kStatusWords = ferrolink::protocol::reply::kLength / 4;
// The words of an EndOfBand command, at these data offsets.
constexpr int kEndOfBandPacketsOffset = 0;
constexpr int kEndOfBandBytesOffset = 4;
constexpr int kEndOfBandPacketSizeOffset = 8;
constexpr int kEndOfBandLength = 12;
constexpr int kSetErrorsBitsOffset = 0;              // the SetErrors command's one word
constexpr std::uint32_t kBoardVersion = 0x00010002;  // 1.2

// Error bits of the status word.
constexpr std::uint32_t kErrorChecksum = 1u << 0;  // a frame failed its checksum
constexpr std::uint32_t kErrorLost = 1u << 1;      // a packet is missing
constexpr std::uint32_t kFatalMask = 0xFCu;        // bits 2..7

}  // namespace ferrolink::tools

// Board frames in words for dump and monitor: a one-line summary (direction, kind, band, packet
// or sequence, command words or status), hexadecimal lines with offsets, and timestamps.
#pragma once

#include <cstdint>
#include <string>

class CFrameText {
public:
    // "PC > board" or "board > PC" (or "?" for neither), from the frame's addresses.
    static std::string Direction(const unsigned char* frame, int length);
    static bool IsToBoard(const unsigned char* frame, int length);
    static std::string Summary(const unsigned char* frame, int length);
    // Lines "  0x0000:  7b23 fc98 ..." of 16 bytes each, offsets from the frame's start.
    static std::string Hex(const unsigned char* frame, int length);
    // Local time "YYYY-MM-DD HH:MM:SS.uuuuuu".
    static std::string Timestamp(std::int64_t seconds, std::int64_t microseconds);
    static std::string Now();
    // Whole-frame checksum (all big-endian words sum to zero); false for a short frame.
    static bool ChecksumValid(const unsigned char* frame, int length);
};

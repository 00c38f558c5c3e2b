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
    // Lines "  0x0000:  7b23 fc98 ..." of 16 bytes each, offsets from the frame's start; with
    // `ascii`, the printable bytes beside them, as tcpdump -X shows them.
    static std::string Hex(const unsigned char* frame, int length, bool ascii = false);
    // Local time "YYYY-MM-DD HH:MM:SS.uuuuuu".
    static std::string Timestamp(std::int64_t seconds, std::int64_t microseconds);
    static std::string Now();
    // RFC 3339 with the local zone, for JSON: "2026-12-06T19:43:00.123456+01:00".
    static std::string Rfc3339(std::int64_t seconds, std::int64_t microseconds);
    static std::string NowRfc3339();
    // Whole-frame checksum (all big-endian words sum to zero); false for a short frame.
    static bool ChecksumValid(const unsigned char* frame, int length);
    // The frame's own length field is beyond what was captured (a snapshot length cut it).
    static bool IsCut(const unsigned char* frame, int length);
};

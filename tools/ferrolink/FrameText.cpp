#include "FrameText.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/WireBytes.h>

#include "../common/BoardProtocol.h"
#include "platform/LocalTime.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace tools = ferrolink::tools;
namespace layout = ferrolink::protocol::frame;
namespace reply = ferrolink::protocol::reply;
using ferrolink::protocol::CWireReader;

namespace {

// The frameLength field, or -1 when the frame is too short to hold it.
int FrameLength(const unsigned char* bytes, int length) {
    std::uint16_t value = 0;
    return CWireReader(bytes, length).Load16(layout::kFrameLengthOffset, value) ? value : -1;
}

// The word at `offset` of the data area (0 when it is not there; callers check the length).
std::uint32_t DataWord(const unsigned char* bytes, int length, int offset) {
    std::uint32_t value = 0;
    CWireReader(bytes, length)
        .Load32(static_cast<std::size_t>(layout::kActualDataOffset + offset), value);
    return value;
}

bool IsBoardAddress(const unsigned char* mac) {
    return std::memcmp(mac + 1, CConstValue::BoardMac_Get() + 1, 5) == 0;
}

const char* CommandName(std::uint16_t symbol) {
    switch (symbol) {
        case tools::kSymbolPrintData:
            return "print";
        case tools::kSymbolEndOfBand:
            return "EndOfBand";
        case tools::kSymbolStatusQuery:
            return "StatusQuery";
        case tools::kSymbolReset:
            return "Reset";
        case tools::kSymbolSetErrors:
            return "SetErrors";
        case tools::kSymbolAutoReport:
            return "AutoReport";
        case tools::kSymbolStatusReply:
            return "StatusReply";
        default:
            return nullptr;
    }
}

}  // namespace

bool CFrameText::IsToBoard(const unsigned char* frame, int length) {
    return length >= 12 && IsBoardAddress(frame);
}

std::string CFrameText::Direction(const unsigned char* frame, int length) {
    if (length < 12) return "?";
    if (CConstValue::IsPcMac(frame)) return "board > PC";
    if (IsBoardAddress(frame)) return "PC > board";
    return "?";
}

bool CFrameText::ChecksumValid(const unsigned char* frame, int length) {
    const int frameLength = FrameLength(frame, length);
    if (frameLength < layout::kHeaderAndCheckSumSize || frameLength > length ||
        frameLength % 4 != 0)
        return false;
    return CNetworkHelper::IsValidCheckSum(frame, frameLength);
}

bool CFrameText::IsCut(const unsigned char* frame, int length) {
    const int frameLength = FrameLength(frame, length);
    return frameLength > length && frameLength % 4 == 0 &&
           frameLength >= layout::kHeaderAndCheckSumSize;
}

std::string CFrameText::Summary(const unsigned char* frame, int length) {
    char text[256];
    const CWireReader in(frame, length);
    std::uint16_t symbol = 0;
    std::uint32_t band = 0, index = 0;
    if (!in.Load32(layout::kPacketIndexOffset, index)) {  // the header's last field
        std::snprintf(text, sizeof text, "%s, %d bytes: too short for a board frame",
                      Direction(frame, length).c_str(), length);
        return text;
    }
    const int frameLength = FrameLength(frame, length);
    in.Load16(layout::kDataSymbolOffset, symbol);
    in.Load32(layout::kFrameIndexOffset, band);
    const auto word = [&](int offset) { return DataWord(frame, length, offset); };
    const char* name = CommandName(symbol);
    std::string kind = name ? name : "symbol 0x" + [&] {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X", symbol);
        return std::string(hex);
    }();
    std::string detail;
    const int data = length - layout::kActualDataOffset;
    if (symbol == tools::kSymbolPrintData) {
        std::snprintf(text, sizeof text, "band %u packet %u", band, index);
        detail = text;
    } else if (symbol == tools::kSymbolAutoReport || symbol == tools::kSymbolStatusReply) {
        if (data >= reply::kLength) {
            std::uint16_t versionHigh = 0, versionLow = 0;
            in.Load16(layout::kActualDataOffset + reply::kVersionOffset, versionHigh);
            in.Load16(layout::kActualDataOffset + reply::kVersionOffset + 2, versionLow);
            std::snprintf(text, sizeof text,
                          "band %u %s %u: errors 0x%04X resend %d current max %d version %u.%u",
                          band, symbol == tools::kSymbolAutoReport ? "report" : "seq", index,
                          word(reply::kErrorWordOffset) & 0x3FFF,
                          static_cast<std::int32_t>(word(reply::kResendIndexOffset)),
                          static_cast<std::int32_t>(word(reply::kCurrentMaximumOffset)),
                          unsigned{versionHigh}, unsigned{versionLow});
        } else {
            std::snprintf(text, sizeof text, "band %u seq %u (status cut short)", band, index);
        }
        detail = text;
    } else if (symbol == tools::kSymbolEndOfBand && data >= tools::kEndOfBandLength) {
        std::snprintf(text, sizeof text, "band %u seq %u: packets %u bytes %u packet size %u", band,
                      index, word(tools::kEndOfBandPacketsOffset),
                      word(tools::kEndOfBandBytesOffset), word(tools::kEndOfBandPacketSizeOffset));
        detail = text;
    } else if (symbol == tools::kSymbolSetErrors && data >= 4) {
        std::snprintf(text, sizeof text, "band %u seq %u: bits 0x%04X", band, index,
                      word(tools::kSetErrorsBitsOffset));
        detail = text;
    } else {
        std::snprintf(text, sizeof text, "band %u seq %u", band, index);
        detail = text;
    }
    // A frame cut by the snapshot length cannot be checked.
    if (IsCut(frame, length))
        std::snprintf(text, sizeof text, ", length %d (%d captured)", frameLength, length);
    else
        std::snprintf(text, sizeof text, ", length %d%s", frameLength,
                      ChecksumValid(frame, length) ? "" : ", BAD CHECKSUM");
    return Direction(frame, length) + " " + kind + " " + detail + text;
}

std::string CFrameText::Hex(const unsigned char* frame, int length, bool ascii) {
    std::string out;
    char line[96];
    for (int at = 0; at < length; at += 16) {
        int n = std::snprintf(line, sizeof line, "  0x%04x: ", at);
        const int end = at + 16 < length ? at + 16 : length;
        for (int i = at; i < end; ++i)
            n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%s%02x",
                               (i - at) % 2 == 0 ? " " : "", frame[i]);
        out += line;
        if (ascii) {
            // Pad a short last line so that the text column stays in place.
            const int missing = 16 - (end - at);
            out.append(static_cast<std::size_t>(missing * 2 + missing / 2) + 2, ' ');
            for (int i = at; i < end; ++i)
                out += frame[i] >= 0x20 && frame[i] < 0x7F ? static_cast<char>(frame[i]) : '.';
        }
        out += '\n';
    }
    return out;
}

std::string CFrameText::Timestamp(std::int64_t seconds, std::int64_t microseconds) {
    std::tm local{};
    long offset = 0;
    ferrolink::tools::CLocalTime::Split(static_cast<std::time_t>(seconds), local, offset);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%06lld", static_cast<long long>(microseconds));
    return text;
}

std::string CFrameText::Rfc3339(std::int64_t seconds, std::int64_t microseconds) {
    std::tm local{};
    long offset = 0;  // minutes east of UTC
    ferrolink::tools::CLocalTime::Split(static_cast<std::time_t>(seconds), local, offset);
    char text[64];
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%06lld%c%02ld:%02ld",
                  static_cast<long long>(microseconds), offset < 0 ? '-' : '+',
                  (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
    return text;
}

std::string CFrameText::NowRfc3339() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    return Rfc3339(us / 1000000, us % 1000000);
}

std::string CFrameText::Now() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    return Timestamp(us / 1000000, us % 1000000);
}

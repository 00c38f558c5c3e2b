// The board emulator's frame path over arbitrary frames: storing print data, judging bands,
// answering commands, impairing both directions. Whatever arrives, every frame it sends is a
// valid 88-byte report to the PC, and its memory stays within what a small board memory and the
// emulator's own bounds allow (scripts/fuzz runs it under a low allocation limit).
//
// Input: records of [flags][length high][length low][bytes]. Flag bits: 1 address the frame to
// the board, 2 make its frameLength and checksum right (so the fuzzer reaches the commands),
// 4 move the clock on by 30 ms and tick, 8/16 raise the packet index to 2^20-1 / a high band.
#include <boost/log/core.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/WireBytes.h>

#include "board-sim/BoardEmulator.h"
#include "common/BoardProtocol.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

namespace tools = ferrolink::tools;
namespace layout = ferrolink::protocol::frame;
using ferrolink::protocol::CWireWriter;

// With the send impairment on, a report may carry a flipped bit past its destination address.
bool g_corrupting = false;

void CheckSent(const unsigned char* frame, int length) {
    if (length != 88) __builtin_trap();
    if (!g_corrupting && !CNetworkHelper::IsValidCheckSum(frame, length)) __builtin_trap();
    static const unsigned char kPc[6] = {0x7B, 0x23, 0xFC, 0x98, 0x10, 0x99};
    if (std::memcmp(frame, kPc, 6) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    boost::log::core::get()->set_logging_enabled(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    tools::SBoardEmulatorOptions options;
    options.m_boardMemoryBytes = std::size_t{2} << 20;  // one chunk: quick to make, soon full
    options.m_reportIntervalMs = 100;
    // The first byte picks the impairment, so both the plain and the held paths are reached.
    if (data[0] & 1) {
        options.m_impairment = {0.1, 0.1, 0.1, 0.2, (data[0] & 2) ? 0.5 : 0.0, 50};
        options.m_seed = data[0];
    }
    g_corrupting = data[0] & 1;
    ++data;
    --size;
    tools::CBoardEmulator board(options);
    board.SetFrameSink(&CheckSent);
    auto now = tools::CBoardEmulator::Clock::time_point{} + std::chrono::hours(1);

    std::vector<unsigned char> frame;
    while (size >= 3) {
        const std::uint8_t flags = data[0];
        const std::size_t length = std::min<std::size_t>((data[1] << 8) | data[2], 2100);
        data += 3;
        size -= 3;
        frame.assign(length + 1, 0);  // never empty, so data() is never null
        const std::size_t used = std::min(length, size);
        if (used) std::memcpy(frame.data(), data, used);
        data += used;
        size -= used;
        if ((flags & 1) && length >= 6) std::memcpy(frame.data(), board.BoardMac(), 6);
        const CWireWriter out(frame.data(), length);
        if (flags & 8) out.Store32(layout::kPacketIndexOffset, (1u << 20) - 1);
        if (flags & 16) out.Store32(layout::kFrameIndexOffset, 0xFFFFFF00u | flags);
        if ((flags & 2) && length >= 28 && length % 4 == 0) {
            out.Store16(layout::kFrameLengthOffset, static_cast<std::uint16_t>(length));
            out.Store32(length - 4,
                        CNetworkHelper::CheckSum_Get(frame.data(), static_cast<int>(length) - 4));
        }
        // Bit 5: the capture cut the frame short.
        const int wire = static_cast<int>(length) + ((flags & 32) ? 4 : 0);
        board.OfferFrame(frame.data(), static_cast<int>(length), wire, now);
        if (flags & 4) {
            now += std::chrono::milliseconds(30);
            board.Tick(now);
        }
    }
    now += std::chrono::seconds(1);
    board.Tick(now);
    const tools::SEmulatorStatistics s = board.Statistics();
    if (s.m_bands.size() > tools::CBoardEmulator::kBandsListed ||
        s.m_bands.size() > s.m_bandsCompleted)
        __builtin_trap();
    return 0;
}

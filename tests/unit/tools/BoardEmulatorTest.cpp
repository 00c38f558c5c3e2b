// The emulator's frame-level behaviour without a link (frames in through OfferFrame, reports out
// through a sink, read back with the library's own reply parser as a host would) and the
// impairment decisions it applies to both directions.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/PacketDataWrapper.h>
#include <ferrolink/reply/SWaitCheckParam.h>

#include "board-sim/BoardEmulator.h"
#include "board-sim/BoardFrameWriter.h"
#include "board-sim/Impairment.h"
#include "common/BoardProtocol.h"
#include "common/Sha256.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace ferrolink::tools {
namespace {

using Frame = std::vector<unsigned char>;
using EDirection = CImpairment::EDirection;

std::uint32_t Word(const Frame& f, std::size_t at) {
    return (std::uint32_t{f[at]} << 24) | (std::uint32_t{f[at + 1]} << 16) |
           (std::uint32_t{f[at + 2]} << 8) | f[at + 3];
}

TEST(BoardFrameWriterTest, ReportIsABoardToPcFrame) {
    SBoardStatus status;
    status.m_error = 0x0106;
    status.m_resendIndex = 7;  // the current maximum stays -1
    status.m_band[0] = 3;
    status.m_band[3] = 0xA1B2C3D4;
    Frame f;
    CBoardFrameWriter(0x5A).Report(kSymbolStatusReply, 3, 9, status, f);
    const unsigned char header[] = {
        0x7b, 0x23, 0xfc, 0x98, 0x10, 0x99,  //  0 destination: the PC
        0x5a, 0x34, 0x56, 0x78, 0x9a, 0xbc,  //  6 source: the board, first byte as configured
        0x00, 0x58,                          // 12 frameLength 88
        0x01, 0x01,                          // 14 status reply
        0x00, 0x00, 0x00, 0x03,              // 16 frameIndex
        0x00, 0x00, 0x00, 0x09,              // 20 packetIndex: the sequence
        0x00, 0x00, 0x01, 0x06,              // 24 error word
        0x00, 0x00, 0x00, 0x07,              // 28 resend index
        0xff, 0xff, 0xff, 0xff,              // 32 current maximum -1
        0x00, 0x01, 0x00, 0x02,              // 36 version 1.2
        0x00, 0x00, 0x00, 0x03,              // 40 band
    };
    ASSERT_EQ(88u, f.size());
    EXPECT_EQ(0, std::memcmp(header, f.data(), sizeof(header)));
    EXPECT_EQ(0xA1B2C3D4u, Word(f, 52));  // 52 last band word
    EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(f.data(), 88));
}

class BoardEmulatorTest : public ::testing::Test {
protected:
    // The library builds the host's frames for the board MAC it was told; the emulator's default.
    void SetUp() override { CConstValue::BoardMac_FirstByte_Update(0x12); }

    void Make(const SBoardEmulatorOptions& options = {}) {
        m_board = std::make_unique<CBoardEmulator>(options);
        m_board->SetFrameSink(
            [this](const unsigned char* f, int n) { m_sent.emplace_back(f, f + n); });
        m_sent.clear();
    }
    // A PC-to-board frame as the library builds it: command words, or print data `fill` bytes.
    void Offer(std::uint16_t symbol, std::uint32_t frameIndex, std::uint32_t packetIndex,
               const std::vector<std::uint32_t>& words = {}, unsigned char fill = 0,
               int damageAt = -1) {
        Frame data;
        for (std::uint32_t w : words)
            for (int s = 24; s >= 0; s -= 8) data.push_back(static_cast<unsigned char>(w >> s));
        data.resize(60, fill);
        SBufferData<unsigned char> f;
        ASSERT_TRUE(CNetworkHelper::PreparePacket(symbol, frameIndex, packetIndex, data.data(), 60,
                                                  60, PaddingValue_Zero, f));
        if (damageAt >= 0) f.m_pBuffer[damageAt] ^= 0x01;
        m_board->OfferFrame(f.m_pBuffer, f.m_count, f.m_count, m_now);
    }
    // The last report, parsed by the library as a host parses it; throws when none was sent.
    SWaitCheckParam LastReply(std::uint16_t symbol = kSymbolStatusReply) {
        const Frame& f = m_sent.at(m_sent.size() - 1);
        EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(f.data(), static_cast<int>(f.size())));
        EXPECT_EQ(symbol, Word(f, 12) & 0xFFFF);
        CPacketDataWrapper wrapper;
        SWaitCheckParam param(true);
        EXPECT_TRUE(wrapper.InitializeByFrameData(f.data(), static_cast<std::uint32_t>(f.size())) &&
                    param.ParseInfo(wrapper.PacketData()));
        return param;
    }

    std::unique_ptr<CBoardEmulator> m_board;
    std::vector<Frame> m_sent;
    CBoardEmulator::Clock::time_point m_now =
        CBoardEmulator::Clock::time_point{} + std::chrono::hours(1);
};

// Whether a corrupt frame is kept out of the band shows end to end (bands byte-exact through
// corruption); here what only the board's own reports and counters show.
TEST_F(BoardEmulatorTest, DamagedFramesAreCountedAndNotAnsweredAndSetTheChecksumBit) {
    Make();
    Offer(kSymbolPrintData, 2, 0, {}, 2, 0);     // another board's frame is not ours to judge
    Offer(kSymbolStatusQuery, 0, 1, {}, 0, 12);  // frameLength 0x0158: more than arrived
    Offer(kSymbolPrintData, 2, 0, {}, 2, 30);
    EXPECT_EQ(2u, m_board->Statistics().m_checksumErrors);
    EXPECT_TRUE(m_sent.empty()) << "a damaged command is not answered";
    Offer(kSymbolEndOfBand, 2, 2, {2, 60, 60});
    EXPECT_TRUE(LastReply().m_b0_Re_Frame_Ver_Err);
}

TEST_F(BoardEmulatorTest, RequestedErrorsAndAFullMemoryStayUntilReset) {
    SBoardEmulatorOptions options;
    options.m_requestedErrors = 0x0100;  // informational bit 8 from the command line
    Make(options);
    Offer(kSymbolSetErrors, 0, 1, {0x0004 | 0x0003});
    SWaitCheckParam reply = LastReply();
    EXPECT_TRUE(reply.m_b2_L2_Wr_DDR2_over && reply.m_b8_HB_Fiber_ReData_Zhentou);
    EXPECT_FALSE(reply.ExistError_Resend()) << "bits 0 and 1 are the board's own judgement";
    m_board->Tick(m_now);
    reply = LastReply(kSymbolAutoReport);
    EXPECT_TRUE(reply.ExistError_Fatal()) << "periodic reports carry them too";
    EXPECT_EQ(1u, reply.m_bandInfo[3]) << "last sequence answered";
    Offer(kSymbolReset, 0, 2);
    reply = LastReply();
    EXPECT_FALSE(reply.ExistError() || reply.m_b8_HB_Fiber_ReData_Zhentou);
    EXPECT_EQ(2u, Word(m_sent.back(), 20));

    options = {};
    options.m_boardMemoryBytes = 2 << 20;  // 1024 slots: 1015 packets and their 9 table slots
    Make(options);
    for (std::uint32_t p = 0; p < 1024; ++p) Offer(kSymbolPrintData, 1, p, {}, 1);
    Offer(kSymbolStatusQuery, 1, 1);
    EXPECT_TRUE(LastReply().m_b2_L2_Wr_DDR2_over);
    EXPECT_EQ(9u, m_board->Statistics().m_refusedPackets);
    Offer(kSymbolReset, 0, 2);
    Offer(kSymbolPrintData, 1, 0, {}, 1);
    Offer(kSymbolEndOfBand, 1, 3, {1, 60, 60});
    EXPECT_FALSE(LastReply().ExistError()) << "Reset gave the memory back";
}

TEST_F(BoardEmulatorTest, CompletedBandLinesAreBoundedAndCarryTheDigest) {
    std::ostringstream events;
    SBoardEmulatorOptions options;
    options.m_reportIntervalMs = 0;
    options.m_events = &events;
    Make(options);
    const int bands = CBoardEmulator::kBandLinesPerSecond + 5;
    for (int b = 0; b < bands; ++b) {
        Offer(kSymbolPrintData, static_cast<std::uint32_t>(b), 0, {}, 7);
        Offer(kSymbolEndOfBand, static_cast<std::uint32_t>(b), 1, {1, 50, 60});
    }
    m_board->FinishDigests();
    m_board->Tick(m_now);  // the second's summary
    const Frame content(50, 7);
    const std::string text = events.str();
    EXPECT_EQ(0u, text.find("band 0 complete: 1 packets, 50 bytes, sha256 " +
                            CSha256::Hex(content.data(), content.size()) + "\n"));
    std::istringstream lines(text);
    int listed = 0, summaries = 0;
    for (std::string line; std::getline(lines, line);) {
        listed += line.find(" complete: ") != std::string::npos;
        summaries += line == "and 5 more bands completed in the last second, not listed here";
    }
    EXPECT_EQ(std::make_tuple(CBoardEmulator::kBandLinesPerSecond, 1),
              std::make_tuple(listed, summaries));
    EXPECT_EQ(static_cast<std::uint64_t>(bands), m_board->Statistics().m_bandsCompleted)
        << "the statistics count every band";
}

// What the tools' tests ask of the board: floods at a rate for a while, a second board address
// heard first, and a board that falls silent while its link stays up.
TEST_F(BoardEmulatorTest, TestAidsAsThePcSeesThem) {
    using ms = std::chrono::milliseconds;
    struct SCase {
        EFloodKind m_kind;
        int m_rate, m_afterMs, m_forMs;
        std::size_t m_at100ms, m_atEnd;  // frames sent by then (after 1 s: the end)
        bool m_validChecksum;
    };
    const SCase cases[] = {
        {EFloodKind::BadChecksum, 1000, 50, 100, 50, 100, false},
        {EFloodKind::DuplicateReports, 5000, 0, 1000, 500, 5000, true},
        // Beyond one batch a turn, frames are left out, not sent late.
        {EFloodKind::BadChecksum, 1000000, 0, 10, CBoardEmulator::kFloodBatch,
         CBoardEmulator::kFloodBatch, false},
    };
    for (const SCase& c : cases) {
        SBoardEmulatorOptions options;
        options.m_reportIntervalMs = 0;
        options.m_flood = {c.m_kind, c.m_rate, c.m_afterMs, c.m_forMs};
        Make(options);
        m_board->Tick(m_now);
        EXPECT_EQ(0u, m_sent.size()) << c.m_rate;
        m_board->Tick(m_now + ms(100));
        EXPECT_EQ(c.m_at100ms, m_sent.size()) << c.m_rate << ": at most one batch at a time";
        for (int t = 200; t <= 2000; t += 100) m_board->Tick(m_now + ms(t));
        EXPECT_EQ(c.m_atEnd, m_sent.size()) << c.m_rate;
        EXPECT_EQ(m_sent.size(), m_board->Statistics().m_testFramesSent);
        EXPECT_EQ(0u, m_board->Statistics().m_reportsSent) << "not the board's reports";
        for (const Frame& f : m_sent) {
            ASSERT_EQ(c.m_validChecksum, CNetworkHelper::IsValidCheckSum(f.data(), 88));
            ASSERT_EQ(0, std::memcmp(f.data() + 6, m_board->BoardMac(), 6));
        }
    }

    // A second board reports just before the board, and answers nothing.
    SBoardEmulatorOptions options;
    options.m_reportIntervalMs = 100;
    options.m_secondBoardFirstByte = 0x07;
    Make(options);
    m_board->Tick(m_now);
    ASSERT_EQ(2u, m_sent.size());
    EXPECT_EQ(0x07, m_sent[0][6]);
    EXPECT_EQ(0x12, m_sent[1][6]);
    EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(m_sent[0].data(), 88));
    Frame query(88, 0);
    std::memcpy(query.data(), m_sent[0].data() + 6, 6);  // a command to the second board
    m_board->OfferFrame(query.data(), 88, 88, m_now);
    EXPECT_EQ(2u, m_sent.size());

    // Silent from 100 ms for 200 ms: no report, no answer, the frames counted as ignored.
    options = {};
    options.m_reportIntervalMs = 100;
    options.m_silentAfterMs = 100;
    options.m_silentForMs = 200;
    Make(options);
    m_board->Tick(m_now);
    m_board->Tick(m_now + ms(150));
    Offer(kSymbolStatusQuery, 0, 1);
    m_board->Tick(m_now + ms(250));
    EXPECT_EQ(1u, m_sent.size());
    EXPECT_EQ(1u, m_board->Statistics().m_ignoredWhileSilent);
    m_board->Tick(m_now + ms(300));
    Offer(kSymbolStatusQuery, 0, 2);
    EXPECT_EQ(3u, m_sent.size()) << "a report and the answer once the silence is over";
    EXPECT_EQ(2u, LastReply().m_bandInfo[3]);
}

TEST_F(BoardEmulatorTest, ImpairmentOnBothDirections) {
    SBoardEmulatorOptions options;
    options.m_reportIntervalMs = 0;
    options.m_impairment.m_duplicate = 1;  // every frame twice, each way
    Make(options);
    Offer(kSymbolStatusQuery, 1, 5);
    EXPECT_EQ(2u, m_board->Statistics().m_commandsAnswered);
    EXPECT_EQ(4u, m_sent.size()) << "two answers, each sent twice";

    // Delay: held until due, then processed; the reply is delayed in its turn.
    options.m_impairment = {0, 0, 0, 0, 1, 50};
    Make(options);
    Offer(kSymbolStatusQuery, 1, 6);
    m_board->Tick(m_now + std::chrono::milliseconds(49));
    EXPECT_EQ(0u, m_board->Statistics().m_commandsAnswered);
    m_board->Tick(m_now + std::chrono::milliseconds(50));
    EXPECT_EQ(1u, m_board->Statistics().m_commandsAnswered);
    EXPECT_TRUE(m_sent.empty());
    m_board->Tick(m_now + std::chrono::milliseconds(100));
    EXPECT_EQ(1u, m_sent.size());
    // A long delay under a flood holds at most kHeldBytesLimit; the rest is dropped, and counted.
    Frame big(2000, 0);
    std::memcpy(big.data(), m_board->BoardMac(), 6);
    const std::size_t fit = CBoardEmulator::kHeldBytesLimit / big.size();
    for (std::size_t i = 0; i < fit + 100; ++i) m_board->OfferFrame(big.data(), 2000, 2000, m_now);
    EXPECT_EQ(100u, m_board->Statistics().m_receiveImpairment.m_dropped);

    // Reorder: a frame goes after the one that follows it.
    options.m_impairment = {0, 0, 0, 0.5};
    options.m_seed = 3;
    Make(options);
    for (std::uint32_t seq = 1; seq <= 40; ++seq) Offer(kSymbolStatusQuery, 0, seq);
    EXPECT_GT(m_sent.size(), 30u) << "a held frame goes on with the next one, not on the timer";
    m_board->Tick(m_now + std::chrono::seconds(1));
    m_board->Tick(m_now + std::chrono::seconds(2));  // replies held by the first
    ASSERT_EQ(40u, m_sent.size()) << "nothing lost, only moved";
    int outOfOrder = 0;
    for (std::size_t i = 1; i < m_sent.size(); ++i)
        outOfOrder += Word(m_sent[i], 20) < Word(m_sent[i - 1], 20);
    EXPECT_GT(outOfOrder, 3);
}

std::vector<SImpairmentDecision> Draw(const SImpairmentRates& rates, std::uint32_t seed,
                                      EDirection direction = EDirection::Receive) {
    CImpairment impairment(rates, seed, direction);
    std::vector<SImpairmentDecision> decisions(10000);
    for (auto& d : decisions) d = impairment.Next();
    return decisions;
}

TEST(ImpairmentTest, RatesAreKeptAndTheSameSeedAndDirectionGiveTheSameDecisions) {
    // Rates in field order: drop, corrupt, duplicate, reorder, delay; then the delay time.
    const SImpairmentRates rates{0.1, 0.02, 0.5, 0, 0.25, 10};
    const auto a = Draw(rates, 7);
    int n[5] = {};
    for (const auto& d : a) {
        const bool fates[5] = {d.m_drop, d.m_corrupt, d.m_duplicate, d.m_reorder, d.m_delay};
        for (int k = 0; k < 5; ++k) n[k] += fates[k];
    }
    // Bounds of about four standard deviations.
    const double expected[5] = {1000, 200, 5000, 0, 2500}, bound[5] = {120, 60, 200, 0, 175};
    for (int k = 0; k < 5; ++k) EXPECT_NEAR(expected[k], n[k], bound[k]) << k;

    const auto same = [&a](const std::vector<SImpairmentDecision>& b) {
        int equal = 0;
        for (std::size_t i = 0; i < a.size(); ++i)
            equal += std::make_tuple(a[i].m_drop, a[i].m_corrupt, a[i].m_duplicate, a[i].m_delay,
                                     a[i].m_corruptPick) ==
                     std::make_tuple(b[i].m_drop, b[i].m_corrupt, b[i].m_duplicate, b[i].m_delay,
                                     b[i].m_corruptPick);
        return equal;
    };
    EXPECT_EQ(10000, same(Draw(rates, 7)));
    EXPECT_LT(same(Draw(rates, 8)), 10);
    EXPECT_LT(same(Draw(rates, 7, EDirection::Send)), 10);
    // A frame's fate does not depend on the rates of the other faults: the draws are fixed.
    const auto dropOnly = Draw({0.1}, 7);
    for (std::size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i].m_drop, dropOnly[i].m_drop) << i;

    EXPECT_FALSE(CImpairment({0, 0, 0, 0, 1}, 1, EDirection::Receive).Active()) << "no delay time";
    CImpairment always({1}, 1, EDirection::Send);
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(always.Active() && always.Next().m_drop);
}

TEST(ImpairmentTest, CorruptFlipsOneBitPastTheDestination) {
    // Picks 0 and 655 are the first and last bits after the destination.
    for (std::uint32_t pick : {0u, 655u, 12345u, 0xFFFFFFFFu}) {
        Frame frame(88, 0);
        CImpairment::Corrupt(frame.data(), 88, pick);
        int bits = 0;
        for (std::size_t i = 6; i < frame.size(); ++i) bits += __builtin_popcount(frame[i]);
        EXPECT_EQ(1, bits) << pick;
        EXPECT_EQ(Frame(6, 0), Frame(frame.begin(), frame.begin() + 6)) << pick;
    }
}

}  // namespace
}  // namespace ferrolink::tools

// The board emulator on a real link: it runs in-process on namespace B's end of a veth pair, the
// host side sends from namespace A with the library, and what comes back is read as a host would.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <sstream>
#include <vector>

#include <ferrolink/platform/PcapTimedRead.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/PacketDataWrapper.h>
#include <ferrolink/reply/SWaitCheckParam.h>
#include <ferrolink/transmit/Ferrolink.h>

#include "LinkEnds.h"
#include "board-sim/BoardEmulator.h"
#include "common/BoardProtocol.h"
#include "common/Sha256.h"

namespace {

namespace flk = ferrolink::platform;
namespace tools = ferrolink::tools;
using ESide = CVethRig::ESide;
using Clock = std::chrono::steady_clock;

std::uint32_t Word(const Frame& f, std::size_t at) {
    return (std::uint32_t{f[at]} << 24) | (std::uint32_t{f[at + 1]} << 16) |
           (std::uint32_t{f[at + 2]} << 8) | f[at + 3];
}
std::uint16_t Symbol(const Frame& f) {
    return static_cast<std::uint16_t>((f[14] << 8) | f[15]);
}

struct SArrival {
    Frame m_frame;
    double m_ms;  // capture time stamp
};

class BoardSimNetTest : public VethRigTest {
protected:
    void SetUp() override {
        VethRigTest::SetUp();
        if (IsSkipped()) return;
        CConstValue::BoardMac_FirstByte_Update(0x12);  // the emulator's default
        m_host = OpenOurs(*m_rig, ESide::A);
        ASSERT_TRUE(m_host);
    }
    void TearDown() override {
        StopBoard();
        m_host.reset();
        VethRigTest::TearDown();
    }

    void StartBoard(tools::SBoardEmulatorOptions options) {
        options.m_interface = m_rig->Interface(ESide::B);
        options.m_events = &m_events;
        options.m_boardMemoryBytes = 32 << 20;
        m_board = std::make_unique<tools::CBoardEmulator>(options);
        std::string why;
        ASSERT_TRUE(m_rig->RunIn(ESide::B, [&] { return m_board->Open(why); })) << why;
        m_running = m_rig->StartIn(ESide::B, [this] { return m_board->Run(); });
    }
    void StopBoard() {
        if (!m_board) return;
        m_board->Stop();
        EXPECT_TRUE(m_running.get());
        m_board.reset();
    }

    // Valid frames from the board to the PC, until `done` says so or time is up.
    template <typename Done>
    std::vector<SArrival> Collect(std::chrono::milliseconds limit, Done done) {
        std::vector<SArrival> frames;
        for (const auto end = Clock::now() + limit; Clock::now() < end;) {
            pcap_pkthdr* h = nullptr;
            const u_char* p = nullptr;
            const int read = flk::pcap_next_ex(m_host.get(), &h, &p);
            if (read < 0) break;
            if (read == 0 || h->caplen < 88 || std::memcmp(p, CConstValue::GetPcMac(), 6) != 0 ||
                !CNetworkHelper::IsValidCheckSum(p, static_cast<int>(h->caplen)))
                continue;
            frames.push_back({Frame(p, p + h->caplen), h->ts.tv_sec * 1e3 + h->ts.tv_usec / 1e3});
            if (done(frames.back().m_frame)) break;
        }
        return frames;
    }

    // Sends a command with a new sequence; true with `reply` parsed when its answer comes.
    bool Ask(std::uint16_t symbol, std::uint32_t frameIndex,
             const std::vector<std::uint32_t>& words, SWaitCheckParam& reply,
             std::chrono::milliseconds limit = std::chrono::milliseconds(1000)) {
        const std::uint32_t sequence = ++m_sequence;
        std::vector<unsigned char> data;
        for (std::uint32_t w : words)
            for (int s = 24; s >= 0; s -= 8) data.push_back(static_cast<unsigned char>(w >> s));
        SBufferData<unsigned char> command;
        if (!CNetworkHelper::PreparePacket(symbol, frameIndex, sequence, data.data(),
                                           static_cast<int>(data.size()), 60, PaddingValue_Zero,
                                           command) ||
            !CNetworkHelper::SendOnePacket(m_host.get(), command, true))
            return false;
        const auto isAnswer = [&](const Frame& f) {
            return Symbol(f) == tools::kSymbolStatusReply && Word(f, 20) == sequence;
        };
        const auto frames = Collect(limit, isAnswer);
        if (frames.empty() || !isAnswer(frames.back().m_frame)) return false;
        const Frame& f = frames.back().m_frame;
        CPacketDataWrapper wrapper;
        reply = SWaitCheckParam(true);
        return wrapper.InitializeByFrameData(f.data(), static_cast<std::uint32_t>(f.size())) &&
               reply.ParseInfo(wrapper.PacketData());
    }

    // `bytes` bytes whose content is fixed by `seed`.
    static std::vector<unsigned char> Band(std::size_t bytes, unsigned seed) {
        std::vector<unsigned char> data(bytes);
        std::uint32_t x = seed * 2654435761u + 1;
        for (auto& b : data) {
            x = x * 1664525u + 1013904223u;
            b = static_cast<unsigned char>(x >> 24);
        }
        return data;
    }

    PcapHandle m_host{nullptr, nullptr};
    std::unique_ptr<tools::CBoardEmulator> m_board;
    std::future<bool> m_running;
    std::ostringstream m_events;
    std::uint32_t m_sequence = 0;
};

TEST_F(BoardSimNetTest, PeriodicReportsArriveAboutEveryIntervalAndDetectionHearsThem) {
    tools::SBoardEmulatorOptions options;
    options.m_reportIntervalMs = 100;
    StartBoard(options);
    ASSERT_TRUE(CNetworkHelper::Detect_ReplyPacket(m_host.get(), 1000));

    const auto frames =
        Collect(std::chrono::milliseconds(1050), [](const Frame&) { return false; });
    std::vector<double> at;
    for (const SArrival& a : frames) {
        if (Symbol(a.m_frame) == tools::kSymbolAutoReport) at.push_back(a.m_ms);
    }
    ASSERT_GE(at.size(), 8u);
    EXPECT_LE(at.size(), 12u);
    const double mean = (at.back() - at.front()) / static_cast<double>(at.size() - 1);
    EXPECT_NEAR(100.0, mean, 15.0);
    for (std::size_t i = 1; i < at.size(); ++i) EXPECT_LT(at[i] - at[i - 1], 180.0) << i;
}

TEST_F(BoardSimNetTest, BandArrivesWholeAndTheReplyCarriesItsState) {
    tools::SBoardEmulatorOptions options;
    options.m_reportIntervalMs = 0;
    StartBoard(options);
    // Ten packets, the last one half full: its random padding must not reach the band.
    const std::vector<unsigned char> data = Band(9500, 1);
    CActualPrintData print;
    print.AssignCopy(data.data(), data.size());
    print.CutIntoPackets(1000);
    ASSERT_TRUE(FLK_SendPrintData(m_host.get(), &print, 5));

    SWaitCheckParam reply;
    ASSERT_TRUE(Ask(tools::kSymbolEndOfBand, 5, {10, 9500, 1000}, reply));
    EXPECT_FALSE(reply.ExistError());
    EXPECT_EQ(10, reply.m_frameIndexOfResend);
    EXPECT_EQ(9, reply.m_frameIndexOfCurMax);
    EXPECT_EQ(5u, reply.m_bandInfo[0]);
    EXPECT_EQ(10u, reply.m_bandInfo[1]);
    EXPECT_EQ(1u, reply.m_bandInfo[2]);
    EXPECT_EQ(m_sequence, reply.m_bandInfo[3]);

    const std::string sha = CSha256::Hex(data.data(), data.size());
    const tools::SEmulatorStatistics s = m_board->Statistics();
    ASSERT_EQ(1u, s.m_bands.size());
    EXPECT_EQ(sha, s.m_bands[0].m_sha256);
    EXPECT_EQ(10u, s.m_printFrames);
    EXPECT_EQ(0u, s.m_checksumErrors);
    StopBoard();
    EXPECT_NE(std::string::npos,
              m_events.str().find("band 5 complete: 10 packets, 9500 bytes, sha256 " + sha));
}

TEST_F(BoardSimNetTest, HostRecoversEveryBandOverAnImpairedLink) {
    tools::SBoardEmulatorOptions options;
    options.m_reportIntervalMs = 0;
    options.m_seed = 11;
    options.m_impairment.m_drop = 0.05;
    options.m_impairment.m_corrupt = 0.03;
    options.m_impairment.m_duplicate = 0.03;
    options.m_impairment.m_reorder = 0.03;
    StartBoard(options);

    for (std::uint32_t band = 1; band <= 3; ++band) {
        const std::vector<unsigned char> data = Band(100000, band);
        CActualPrintData print;
        print.AssignCopy(data.data(), data.size());
        print.CutIntoPackets(500);
        const std::uint32_t packets = static_cast<std::uint32_t>(print.m_packetList.size());
        bool complete = false;
        for (int round = 0; round < 40 && !complete; ++round) {
            ASSERT_TRUE(FLK_SendPrintData(m_host.get(), &print, static_cast<int>(band)));
            SWaitCheckParam reply;
            // A lost command or reply: ask again.
            bool answered = false;
            for (int tries = 0; tries < 10 && !answered; ++tries)
                answered = Ask(tools::kSymbolEndOfBand, band, {packets, 100000, 500}, reply,
                               std::chrono::milliseconds(200));
            ASSERT_TRUE(answered);
            ASSERT_FALSE(reply.ExistError_Fatal());
            complete = !reply.ExistError_Resend();
            print.m_startPacketIndex = reply.GetFrameIndexOfResend();
        }
        ASSERT_TRUE(complete) << "band " << band;
        const tools::SEmulatorStatistics s = m_board->Statistics();
        ASSERT_EQ(band, s.m_bands.size());
        EXPECT_EQ(CSha256::Hex(data.data(), data.size()), s.m_bands.back().m_sha256);
    }
    const tools::SEmulatorStatistics s = m_board->Statistics();
    EXPECT_GT(s.m_receiveImpairment.m_dropped, 0u);
    EXPECT_GT(s.m_checksumErrors, 0u);
    EXPECT_GT(s.m_lossesDetected, 0u);
    EXPECT_EQ(0u, s.m_captureDropped);
}

}  // namespace

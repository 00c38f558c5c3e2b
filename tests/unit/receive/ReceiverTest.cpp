// The receiver without a link: its per-frame path (fed through the probe, on a fake clock) and
// the worker-thread base it runs on.
#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <ferrolink/outside/OsThread.h>
#include <ferrolink/platform/TickCount.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/receive/QuonBaseThread.h>
#include <ferrolink/receive/ReceiveWPCapPacket.h>
#include "support/LogCapture.h"
#include "support/ReceiveProbe.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Probe = CReceiveWPCapPacketProbe;

std::uint32_t g_now = 0;
std::uint32_t FakeTick() {
    return g_now;
}

bool Collect(const unsigned char* frame, int length, void* user) {
    static_cast<std::vector<Bytes>*>(user)->emplace_back(frame, frame + length);
    return false;  // the result is not looked at
}

// Recomputes the checksum after a test changed a frame's addresses.
void Reseal(Bytes& v) {
    const std::uint32_t c = CNetworkHelper::CheckSum_Get(v.data(), static_cast<int>(v.size()) - 4);
    for (int i = 0; i < 4; ++i) v[v.size() - 4 + i] = static_cast<unsigned char>(c >> (24 - 8 * i));
}

// A valid check frame from the board to the PC (or the reverse) with `capacity` data bytes.
Bytes BoardFrame(bool toPc, std::uint32_t index, std::uint16_t capacity = 60) {
    SBufferData<unsigned char> f;
    const unsigned char data[4] = {9, 8, 7, 6};
    CNetworkHelper::PreparePacket(MacDataSymbol_Check, index, 0, data, 4, capacity,
                                  PaddingValue_Zero, f);
    Bytes v(f.m_pBuffer, f.m_pBuffer + f.m_count);
    if (toPc) {  // built frames go PC -> board
        std::swap_ranges(v.begin(), v.begin() + 6, v.begin() + 6);
        Reseal(v);
    }
    return v;
}

class ReceiveFramePathTest : public ::testing::Test {
protected:
    void SetUp() override { ferrolink::platform::SetTickSourceForTesting(&FakeTick); }
    void TearDown() override { ferrolink::platform::SetTickSourceForTesting(nullptr); }

    bool Offer(const Bytes& f, std::uint32_t caplen = 0, std::uint32_t len = 0) {
        pcap_pkthdr h{};
        h.caplen = caplen ? caplen : static_cast<std::uint32_t>(f.size());
        h.len = len ? len : h.caplen;
        return Probe::Handle(m_receiver, &h, f.data());
    }
    void Configure(int mode, ReceiveCallback callback = &Collect) {
        Probe::Configure(m_receiver, static_cast<ECaptureMode>(mode), callback, &m_delivered);
    }

    CReceiveWPCapPacket m_receiver;
    std::vector<Bytes> m_delivered;
};

TEST_F(ReceiveFramePathTest, OnlyWholeValidFramesOfTheModeReachTheCallback) {
    Configure(CaptureMode_BoardToPc);
    const Bytes valid = BoardFrame(true, 1);
    Bytes corrupt = BoardFrame(true, 2);
    corrupt[40] ^= 0x01;
    EXPECT_TRUE(Offer(valid));
    EXPECT_FALSE(Offer(Bytes(valid.begin(), valid.end() - 1))) << "under 88 bytes";
    EXPECT_FALSE(Offer(valid, 88, 200)) << "captured partly";
    EXPECT_FALSE(Offer(BoardFrame(false, 3))) << "wrong direction";
    EXPECT_FALSE(Offer(corrupt));
    EXPECT_TRUE(Offer(BoardFrame(true, 4, 1468)));
    ASSERT_EQ(2u, m_delivered.size());
    EXPECT_EQ(valid, m_delivered[0]);
    EXPECT_EQ(1496u, m_delivered[1].size());
}

TEST_F(ReceiveFramePathTest, CaptureModesSelectByAddresses) {
    const Bytes toPc = BoardFrame(true, 1), toBoard = BoardFrame(false, 1);
    Bytes toBoardFromElsewhere = toBoard;
    std::memset(toBoardFromElsewhere.data() + 6, 0x44, 6);
    Reseal(toBoardFromElsewhere);
    // Per mode (none, PC to board, board to PC, to either): the three frames accepted.
    const bool accepted[4][3] = {
        {false, false, false}, {false, true, false}, {true, false, false}, {true, true, true}};
    for (int mode = 0; mode < 4; ++mode) {
        Configure(mode);
        EXPECT_EQ(accepted[mode][0], Offer(toPc)) << mode;
        EXPECT_EQ(accepted[mode][1], Offer(toBoard)) << mode;
        EXPECT_EQ(accepted[mode][2], Offer(toBoardFromElsewhere)) << mode;
    }
}

TEST_F(ReceiveFramePathTest, SilenceOverTwoSecondsIsLoggedAndAnyFrameRestartsTheWatch) {
    CLogCapture log;
    Configure(CaptureMode_BoardToPc, nullptr);
    const Bytes valid = BoardFrame(true, 1), shortFrame(20, 0);
    g_now = 5000;
    EXPECT_TRUE(Offer(valid)) << "a null callback: frames are checked, then discarded";
    g_now = 7000;  // exactly 2000 ms
    Offer(shortFrame);
    g_now = 9001;  // 2001 ms after a dropped frame
    Offer(valid);
    g_now = 9001 + 3000;
    Offer(shortFrame);
    const std::vector<std::string> expected = {"auto report packet time interval = 2001",
                                               "auto report packet time interval = 3000"};
    EXPECT_EQ(expected, log.Messages());
    EXPECT_EQ(2, log.Count(expected[0], 1) + log.Count(expected[1], 1));
}

TEST_F(ReceiveFramePathTest, CheckFrameIsAnnouncedOnlyForTheBoardsCheckSymbol) {
    const Bytes check = BoardFrame(true, 1);
    Bytes other = check;
    other[15] = 4;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(CReceiveWPCapPacket::ProcessPacket_Check(check.data(), 88));
    EXPECT_TRUE(CReceiveWPCapPacket::ProcessPacket_Check(check.data(), 87));
    EXPECT_TRUE(CReceiveWPCapPacket::ProcessPacket_Check(BoardFrame(false, 1).data(), 88));
    EXPECT_TRUE(CReceiveWPCapPacket::ProcessPacket_Check(other.data(), 88));
    EXPECT_EQ("received check packet.\n", testing::internal::GetCapturedStdout());
}

TEST(ReceiverLifecycleTest, MisuseNeitherCrashesNorHangs) {
    CReceiveWPCapPacket r;
    r.Stop();  // before Create
    r.Stop();
    EXPECT_FALSE(r.Create(CaptureMode_BoardToPc, nullptr, &Collect, nullptr));
    EXPECT_TRUE(r.WaitExit(0)) << "no thread was started";
}

class CCountingWorker : public CQuonBaseThread<CCountingWorker> {
public:
    std::atomic<int> loops{0}, finallies{0};
    int throwIn = 0;  // 1 Prepare, 2 OneLoop, 3 Finally
    int stopAfter = -1;
    bool prepareResult = true;

protected:
    bool Prepare() override {
        if (throwIn == 1) throw std::runtime_error("prepare");
        return prepareResult;
    }
    bool OneLoop() override {
        if (throwIn == 2) throw 42;
        if (++loops == stopAfter) Stop();  // the worker stops itself
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }
    void Finally() override {
        ++finallies;
        if (throwIn == 3) throw std::logic_error("finally");
    }
};

TEST(WorkerThreadTest, RunsPrepareLoopFinallyAndStopsFromEitherSide) {
    CCountingWorker w;
    ASSERT_TRUE(w.Start("Counting"));
    w.WaitReady();
    EXPECT_TRUE(w.IsThreadSuccess());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(w.WaitExit(0));
    w.Stop();
    EXPECT_TRUE(w.WaitExit(1000));
    EXPECT_GT(w.loops.load(), 0);
    EXPECT_EQ(1, w.finallies.load());

    CCountingWorker self;
    self.stopAfter = 3;
    ASSERT_TRUE(self.Start("Self"));
    EXPECT_TRUE(self.WaitExit(1000));
    EXPECT_EQ(3, self.loops.load());

    CCountingWorker refused;
    refused.prepareResult = false;
    ASSERT_TRUE(refused.Start("Refused"));
    EXPECT_TRUE(refused.WaitExit(1000));
    EXPECT_FALSE(refused.IsThreadSuccess());
    EXPECT_EQ(0, refused.loops.load());
    EXPECT_EQ(1, refused.finallies.load());
}

TEST(WorkerThreadTest, PauseHoldsTheLoopUntilResumeAndAPausedWorkerStops) {
    CCountingWorker w;
    ASSERT_TRUE(w.Start("Pausing"));
    w.Pause();
    ASSERT_TRUE(w.WaitPaused(1000));
    const int atPause = w.loops.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(atPause, w.loops.load());
    w.Resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_GT(w.loops.load(), atPause);
    w.Pause();
    ASSERT_TRUE(w.WaitPaused(1000));
    w.Stop();
    EXPECT_TRUE(w.WaitExit(1000));
}

TEST(WorkerThreadTest, AnExceptionEndsTheThreadWithOneRecord) {
    for (int where : {1, 2, 3}) {
        CLogCapture log;
        CCountingWorker w;
        w.throwIn = where;
        ASSERT_TRUE(w.Start("Thrower"));
        if (where == 3) w.Stop();  // Finally runs once the loop ends
        EXPECT_TRUE(w.WaitExit(1000)) << where;
        // The record is all that is left of the failure.
        const std::vector<std::string> expected = {
            "Thread terminated with an exception. name = Thrower"};
        EXPECT_EQ(expected, log.Messages()) << where;
    }
}

TEST(WorkerThreadTest, NoThreadToWaitForThenManyStartStopCyclesAfterAFailedCreation) {
    CCountingWorker w;
    EXPECT_TRUE(w.WaitExit(0)) << "never started";
    w.WaitReady();
    w.Stop();
    ferrolink::outside::FailThreadCreationForTesting(1);
    EXPECT_FALSE(w.Start("Failing"));
    EXPECT_TRUE(w.WaitExit(0));
    for (int i = 0; i < 200; ++i) {  // the object is usable afterwards, cycle after cycle
        CCountingWorker fresh;
        CCountingWorker& cycled = i % 2 ? w : fresh;
        ASSERT_TRUE(cycled.Start("Cycle"));
        cycled.Stop();
        ASSERT_TRUE(cycled.WaitExit(2000)) << i;
    }
}

}  // namespace

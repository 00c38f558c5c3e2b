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
#include <utility>
#include <vector>

#include <ferrolink/platform/MonotonicClock.h>
#include <ferrolink/platform/Thread.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/receive/QuonBaseThread_Definition.h>
#include <ferrolink/receive/ReceiveWPCapPacket.h>
#include "support/LogCapture.h"
#include "support/ReceiveProbe.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

using Bytes = std::vector<unsigned char>;
using Probe = CReceiveWPCapPacketProbe;

std::uint64_t g_now = 0;
std::uint64_t FakeTick() {
    return g_now;
}

bool Collect(const unsigned char* frame, int length, void* user) {
    static_cast<std::vector<Bytes>*>(user)->emplace_back(frame, frame + length);
    return false;  // the result is not looked at
}

// A valid check frame from the PC to the board, or with `source` in place of the PC's address;
// `toPc` swaps the two addresses.
Bytes CheckFrame(bool toPc, unsigned char source = 0, std::uint16_t capacity = 60) {
    SBufferData<unsigned char> f;
    const unsigned char data[4] = {9, 8, 7, 6};
    CNetworkHelper::PreparePacket(MacDataSymbol_Check, 1, 0, data, 4, capacity, PaddingValue_Zero,
                                  f);
    Bytes v(f.m_pBuffer, f.m_pBuffer + f.m_count);
    if (source) std::memset(v.data() + 6, source, 6);
    if (toPc) std::swap_ranges(v.begin(), v.begin() + 6, v.begin() + 6);
    const std::size_t at = v.size() - 4;
    const std::uint32_t c = CNetworkHelper::CheckSum_Get(v.data(), static_cast<int>(at));
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<unsigned char>(c >> (24 - 8 * i));
    return v;
}

// Offers one frame to the per-frame path as captured, `len` bytes long on the wire.
bool Offer(CReceiveWPCapPacket& r, const Bytes& f, std::uint32_t len = 0) {
    pcap_pkthdr h{};
    h.caplen = static_cast<std::uint32_t>(f.size());
    h.len = len ? len : h.caplen;
    return Probe::Handle(r, &h, f.data());
}

TEST(ReceiveFramePathTest, CaptureModesSelectByAddressesAndOnlyWholeFramesPass) {
    CReceiveWPCapPacket r;
    std::vector<Bytes> delivered;
    const Bytes toPc = CheckFrame(true), toBoard = CheckFrame(false),
                toBoardFromElsewhere = CheckFrame(false, 0x44);
    // Per mode (none, PC to board, board to PC, to either): the three frames accepted.
    const bool accepted[4][3] = {
        {false, false, false}, {false, true, false}, {true, false, false}, {true, true, true}};
    for (int mode = 0; mode < 4; ++mode) {
        Probe::Configure(r, static_cast<ECaptureMode>(mode), &Collect, &delivered);
        EXPECT_EQ(accepted[mode][0], Offer(r, toPc)) << mode;
        EXPECT_EQ(accepted[mode][1], Offer(r, toBoard)) << mode;
        EXPECT_EQ(accepted[mode][2], Offer(r, toBoardFromElsewhere)) << mode;
    }
    const std::vector<Bytes> expected = {toBoard, toPc, toPc, toBoard, toBoardFromElsewhere};
    EXPECT_EQ(expected, delivered);
    EXPECT_FALSE(Offer(r, toPc, 200)) << "captured partly";
    Bytes shortFrame = CheckFrame(true, 0, 56);
    shortFrame.resize(87, 0);  // its 21 words still sum to 0
    EXPECT_FALSE(Offer(r, shortFrame)) << "under 88 bytes";
}

TEST(ReceiveFramePathTest, SilenceOverTwoSecondsIsLoggedAndAnyFrameRestartsTheWatch) {
    ferrolink::platform::SetClockForTesting(&FakeTick);
    CLogCapture log;
    CReceiveWPCapPacket r;
    Probe::Configure(r, CaptureMode_BoardToPc, nullptr, nullptr);
    const Bytes valid = CheckFrame(true), shortFrame(20, 0);
    g_now = 5000;
    EXPECT_TRUE(Offer(r, valid)) << "a null callback: frames are checked, then discarded";
    g_now = 7000;  // exactly 2000 ms
    Offer(r, shortFrame);
    g_now = 9001;  // 2001 ms after a dropped frame
    Offer(r, valid);
    g_now = 9001 + 3000;
    Offer(r, shortFrame);
    ferrolink::platform::SetClockForTesting(nullptr);
    const std::vector<std::string> expected = {"auto report packet time interval = 2001",
                                               "auto report packet time interval = 3000"};
    EXPECT_EQ(expected, log.Messages());  // their severity (notice) shows end to end
}

TEST(ReceiverTest, CheckFrameIsAnnouncedOnlyForTheBoardsCheckSymbolAndMisuseIsHarmless) {
    Bytes check = CheckFrame(true);
    EXPECT_FALSE(CReceiveWPCapPacket::ProcessPacket_Check(check.data(), 88));
    EXPECT_TRUE(CReceiveWPCapPacket::ProcessPacket_Check(check.data(), 87));
    EXPECT_TRUE(CReceiveWPCapPacket::ProcessPacket_Check(CheckFrame(false).data(), 88));
    check[15] = 4;
    EXPECT_TRUE(CReceiveWPCapPacket::ProcessPacket_Check(check.data(), 88));

    CReceiveWPCapPacket r;
    r.Stop();  // before Create
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

TEST(WorkerThreadTest, RunsPausesResumesAndStopsFromEitherSideAfterAFailedCreation) {
    CCountingWorker w;
    EXPECT_TRUE(w.WaitExit(0)) << "never started";
    w.WaitReady();
    w.Stop();
    ferrolink::platform::FailThreadCreationForTesting(1);
    EXPECT_FALSE(w.Start("Failing"));
    EXPECT_TRUE(w.WaitExit(0));
    ASSERT_TRUE(w.Start("Counting"));  // the object is usable afterwards
    w.WaitReady();
    EXPECT_TRUE(w.IsThreadSuccess());
    w.Pause();
    ASSERT_TRUE(w.WaitPaused(5000));
    const int atPause = w.loops.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(atPause, w.loops.load());
    w.Resume();
    for (int i = 0; i < 5000 && w.loops.load() == atPause; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GT(w.loops.load(), atPause);
    w.Pause();
    ASSERT_TRUE(w.WaitPaused(5000));
    w.Stop();  // while paused
    EXPECT_TRUE(w.WaitExit(5000));
    EXPECT_EQ(1, w.finallies.load());
    for (int i = 0; i < 200; ++i) {  // cycle after cycle
        ASSERT_TRUE(w.Start("Cycle"));
        w.Stop();
        ASSERT_TRUE(w.WaitExit(5000)) << i;
    }

    CCountingWorker self;
    self.stopAfter = 3;
    ASSERT_TRUE(self.Start("Self"));
    EXPECT_TRUE(self.WaitExit(5000));
    EXPECT_EQ(3, self.loops.load());

    CCountingWorker refused;
    refused.prepareResult = false;
    ASSERT_TRUE(refused.Start("Refused"));
    EXPECT_TRUE(refused.WaitExit(5000));
    EXPECT_FALSE(refused.IsThreadSuccess());
    EXPECT_EQ(std::make_pair(0, 1), std::make_pair(refused.loops.load(), refused.finallies.load()));
}

TEST(WorkerThreadTest, AnExceptionEndsTheThreadWithOneRecord) {
    for (int where : {1, 2, 3}) {
        CLogCapture log;
        CCountingWorker w;
        w.throwIn = where;
        ASSERT_TRUE(w.Start("Thrower"));
        if (where == 3) w.Stop();  // Finally runs once the loop ends
        EXPECT_TRUE(w.WaitExit(5000)) << where;
        // The record is all that is left of the failure.
        EXPECT_EQ(std::vector<std::string>{"Thread terminated with an exception. name = Thrower"},
                  log.Messages())
            << where;
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <cstring>
#include <sstream>
#include <vector>

#include <ferrolink/platform/TickCount.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/receive/ReceiveWPCapPacket.h>
#include "support/LogCapture.h"
#include "support/ReceiveProbe.h"

namespace {

std::uint32_t g_now = 0;
std::uint32_t FakeTick() { return g_now; }

struct SDelivered {
    std::vector<std::vector<unsigned char>> frames;
};
bool Collect(const unsigned char* frame, int length, void* user) {
    static_cast<SDelivered*>(user)->frames.emplace_back(frame, frame + length);
    return false;  // the result is not looked at
}

// A valid frame from the board to the PC (or the reverse), `capacity` data bytes.
std::vector<unsigned char> BoardFrame(bool toPc, std::uint32_t index, std::uint16_t capacity = 60) {
    SBufferData<unsigned char> f;
    const unsigned char data[4] = {9, 8, 7, 6};
    CNetworkHelper::PreparePacket(MacDataSymbol_Check, index, 0, data, 4, capacity,
                                  PaddingValue_Zero, f);
    std::vector<unsigned char> v(f.m_pBuffer, f.m_pBuffer + f.m_count);
    if (toPc) {  // built frames go PC -> board: swap the addresses and fix the checksum
        std::swap_ranges(v.begin(), v.begin() + 6, v.begin() + 6);
        const std::uint32_t c = CNetworkHelper::CheckSum_Get(v.data(), static_cast<int>(v.size()) - 4);
        for (int i = 0; i < 4; ++i) v[v.size() - 4 + i] = static_cast<unsigned char>(c >> (24 - 8 * i));
    }
    return v;
}

class ReceiveFramePathTest : public ::testing::Test {
protected:
    void SetUp() override { ferrolink::platform::SetTickSourceForTesting(&FakeTick); }
    void TearDown() override { ferrolink::platform::SetTickSourceForTesting(nullptr); }

    bool Offer(const std::vector<unsigned char>& f, std::uint32_t caplen = 0, std::uint32_t len = 0) {
        pcap_pkthdr h{};
        h.caplen = caplen ? caplen : static_cast<std::uint32_t>(f.size());
        h.len = len ? len : h.caplen;
        return CReceiveWPCapPacketProbe::Handle(m_receiver, &h, f.data());
    }

    CReceiveWPCapPacket m_receiver;
    SDelivered m_delivered;
};

TEST_F(ReceiveFramePathTest, OnlyWholeValidFramesOfTheModeReachTheCallback) {
    CLogCapture log;
    CReceiveWPCapPacketProbe::Configure(m_receiver, CaptureMode_BoardToPc, &Collect, &m_delivered);
    g_now = 1000;
    auto valid = BoardFrame(true, 1);
    auto shortFrame = valid;
    shortFrame.resize(87);
    auto corrupt = BoardFrame(true, 2);
    corrupt[40] ^= 0x01;

    EXPECT_TRUE(Offer(valid));
    EXPECT_FALSE(Offer(shortFrame));
    EXPECT_FALSE(Offer(valid, 88, 200)) << "captured partly";
    EXPECT_FALSE(Offer(BoardFrame(false, 3))) << "wrong direction";
    EXPECT_FALSE(Offer(corrupt));
    EXPECT_TRUE(Offer(BoardFrame(true, 4, 1468)));

    ASSERT_EQ(2u, m_delivered.frames.size());
    EXPECT_EQ(valid, m_delivered.frames[0]);
    EXPECT_EQ(1496u, m_delivered.frames[1].size());
    const auto messages = log.Messages();
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ("check sum error.", messages[0]);
    EXPECT_EQ(1, log.Records()[0].severity);
    EXPECT_EQ("failure", messages[1]);
    EXPECT_EQ(2, log.Records()[1].severity);
}

TEST_F(ReceiveFramePathTest, CaptureModesSelectByAddresses) {
    const auto toPc = BoardFrame(true, 1);
    const auto toBoard = BoardFrame(false, 1);
    auto toBoardFromElsewhere = toBoard;
    std::memset(toBoardFromElsewhere.data() + 6, 0x44, 6);
    const std::uint32_t c = CNetworkHelper::CheckSum_Get(toBoardFromElsewhere.data(), 84);
    for (int i = 0; i < 4; ++i) toBoardFromElsewhere[84 + i] = static_cast<unsigned char>(c >> (24 - 8 * i));

    struct SCase {
        int mode;
        bool toPc, toBoard, elsewhere;
    } cases[] = {{1, false, true, false}, {2, true, false, false}, {3, true, true, true},
                 {0, false, false, false}, {4, false, false, false}};
    for (const auto& c : cases) {
        CReceiveWPCapPacketProbe::Configure(m_receiver, static_cast<ECaptureMode>(c.mode), &Collect,
                                            &m_delivered);
        EXPECT_EQ(c.toPc, Offer(toPc)) << c.mode;
        EXPECT_EQ(c.toBoard, Offer(toBoard)) << c.mode;
        EXPECT_EQ(c.elsewhere, Offer(toBoardFromElsewhere)) << c.mode;
    }
}

TEST_F(ReceiveFramePathTest, SilenceOverTwoSecondsIsLoggedAndAnyFrameRestartsTheWatch) {
    CLogCapture log;
    CReceiveWPCapPacketProbe::Configure(m_receiver, CaptureMode_BoardToPc, nullptr, nullptr);
    const auto valid = BoardFrame(true, 1);
    auto shortFrame = valid;
    shortFrame.resize(20);

    g_now = 5000;
    EXPECT_TRUE(Offer(valid)) << "a null callback: frames are checked, then discarded";
    g_now = 7000;  // exactly 2000 ms
    Offer(shortFrame);
    g_now = 9001;  // 2001 ms after a dropped frame
    Offer(valid);
    g_now = 9001 + 3000;
    Offer(shortFrame);
    const auto records = log.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ("auto report packet time interval = 2001", records[0].message);
    EXPECT_EQ(1, records[0].severity);
    EXPECT_EQ("auto report packet time interval = 3000", records[1].message);
}

TEST_F(ReceiveFramePathTest, CheckFrameIsAnnouncedOnlyForTheBoardsCheckSymbol) {
    const auto check = BoardFrame(true, 1);  // MacDataSymbol_Check
    testing::internal::CaptureStdout();
    EXPECT_FALSE(CReceiveWPCapPacket::ProcessPacket_Check(check.data(), 88));
    EXPECT_TRUE(CReceiveWPCapPacket::ProcessPacket_Check(check.data(), 87));
    EXPECT_TRUE(CReceiveWPCapPacket::ProcessPacket_Check(BoardFrame(false, 1).data(), 88));
    auto other = check;
    other[15] = 4;
    EXPECT_TRUE(CReceiveWPCapPacket::ProcessPacket_Check(other.data(), 88));
    EXPECT_EQ("received check packet.\n", testing::internal::GetCapturedStdout());
}

TEST(ReceiverLifecycleTest, MisuseNeitherCrashesNorHangs) {
    CLogCapture log;
    CReceiveWPCapPacket r;
    r.Stop();  // before Create
    r.Stop();
    EXPECT_TRUE(r.WaitExit(0));
    EXPECT_FALSE(r.Create(CaptureMode_BoardToPc, nullptr, &Collect, nullptr));
    EXPECT_EQ(1, log.Count("failure", 2));
    EXPECT_TRUE(r.WaitExit(0)) << "no thread was started";
}

}  // namespace

// Every sending operation on a real link: what arrives at the far end, byte for byte.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/transmit/Ferrolink.h>
#include "LinkEnds.h"
#include "support/LogCapture.h"

namespace {

using ESide = CVethRig::ESide;
const char* const kFromPc = "ether src 7b:23:fc:98:10:99";

std::uint32_t Word(const Frame& f, std::size_t at) {
    return (std::uint32_t{f[at]} << 24) | (std::uint32_t{f[at + 1]} << 16) |
           (std::uint32_t{f[at + 2]} << 8) | f[at + 3];
}

class TransmitNetTest : public VethRigTest {
protected:
    // A print job of `count` slices whose lengths cycle through short and full packets.
    void MakeJob(int count) {
        m_data.clear();
        m_print.m_packetList.clear();
        for (int i = 0; i < count; ++i) {
            const int length = (i % 5 == 4) ? 37 + i % 100 : 1468;
            m_print.m_packetList.push_back({static_cast<std::int32_t>(m_data.size()), length});
            for (int k = 0; k < length; ++k) m_data.push_back(static_cast<unsigned char>(i * 13 + k));
        }
        m_print.UseBuffer(m_data.data(), static_cast<std::int64_t>(m_data.size()));
        m_print.m_packetDataSize = 1468;
        m_print.m_startPacketIndex = 0;
    }

    void ExpectJobFrames(const std::vector<Frame>& frames, int first, std::uint32_t frameIndex) {
        const auto& slices = m_print.m_packetList;
        ASSERT_EQ(slices.size() - static_cast<std::size_t>(first), frames.size());
        for (std::size_t n = 0; n < frames.size(); ++n) {
            const Frame& f = frames[n];
            const std::size_t i = static_cast<std::size_t>(first) + n;
            ASSERT_EQ(1496u, f.size()) << i;
            EXPECT_EQ(0, std::memcmp(f.data(), CConstValue::BoardMac_Get(), 6)) << i;
            EXPECT_EQ(frameIndex, Word(f, 16)) << i;
            ASSERT_EQ(i, Word(f, 20)) << "packetIndex order";
            ASSERT_EQ(0, std::memcmp(f.data() + 24, m_data.data() + slices[i].offset,
                                     static_cast<std::size_t>(slices[i].length)))
                << i;
            ASSERT_TRUE(CNetworkHelper::IsValidCheckSum(f.data(), 1496)) << i;
            if (slices[i].length < 1400) {
                int nonZero = 0;
                for (std::size_t k = 24 + static_cast<std::size_t>(slices[i].length); k < 1492; ++k)
                    nonZero += f[k] != 0;
                EXPECT_GT(nonZero, 1000) << "random padding in the short frame " << i;
            }
        }
    }

    std::vector<unsigned char> m_data;
    CActualPrintData m_print;
};

TEST_F(TransmitNetTest, BulkJobArrivesInOrderOnOurHandleAndOnAHostsOwn) {
    PcapHandle capture = OpenRoomyCapture(*m_rig, ESide::B, kFromPc);
    ASSERT_TRUE(capture);
    MakeJob(3000);

    PcapHandle ours = OpenOurs(*m_rig, ESide::A);
    ASSERT_TRUE(ours);
    ASSERT_TRUE(FLK_SendPrintData(ours.get(), &m_print, 77));
    ExpectJobFrames(Drain(capture.get(), 3000), 0, 77);

    // Resume from packet 2990 on a handle a host opened with plain libpcap.
    PcapHandle plain = OpenPlain(*m_rig, ESide::A);
    ASSERT_TRUE(plain);
    m_print.m_startPacketIndex = 2990;
    ASSERT_TRUE(FLK_SendPrintData(plain.get(), &m_print, 78));
    ExpectJobFrames(Drain(capture.get(), 10), 2990, 78);
}

TEST_F(TransmitNetTest, SingleFramesAndTheDeliberatelyWrongChecksum) {
    CLogCapture log;
    PcapHandle capture = OpenRoomyCapture(*m_rig, ESide::B, kFromPc);
    PcapHandle out = OpenOurs(*m_rig, ESide::A);
    ASSERT_TRUE(capture && out);
    const unsigned char abc[3] = {'a', 'b', 'c'};

    ASSERT_TRUE(CNetworkHelper::SendOnePacket_PrintData(out.get(), 1, 0, abc, 3, true));
    ASSERT_TRUE(CNetworkHelper::SendOnePacket_PrintData(out.get(), 1, 0, abc, 3, false));
    ASSERT_TRUE(CNetworkHelper::SendOnePacket_PrintData(out.get(), 2, 5, PaddingValue_Sequence, abc, 3));

    SBufferData<unsigned char> frame;
    ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(3, 0, PaddingValue_Zero, 3, abc, 3, frame));
    frame.m_pBuffer[87] ^= 0x10;
    EXPECT_FALSE(CNetworkHelper::SendOnePacket(out.get(), frame, true)) << "checked: refused";
    EXPECT_TRUE(CNetworkHelper::SendOnePacket(out.get(), frame, false)) << "unchecked: sent";

    const auto frames = Drain(capture.get(), 4);
    ASSERT_EQ(4u, frames.size());
    const unsigned char good[4] = {0xf4, 0xbc, 0xba, 0xcb};
    const unsigned char bad[4] = {0xf5, 0xbc, 0xba, 0xcb};
    EXPECT_EQ(0, std::memcmp(frames[0].data() + 84, good, 4));
    EXPECT_EQ(0, std::memcmp(frames[1].data() + 84, bad, 4)) << "exactly the altered checksum";
    EXPECT_EQ(5u, Word(frames[2], 20));
    EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(frames[2].data(), 88));
    EXPECT_EQ(3u, Word(frames[3], 16)) << "the unchecked corrupt frame";
    EXPECT_EQ(1, log.Count("failure", 2));
}

TEST_F(TransmitNetTest, ReplyDetectionWaitsOnlyForTheBoardsFramesToThePc) {
    PcapHandle listener = OpenOurs(*m_rig, ESide::A);
    PcapHandle board = OpenOurs(*m_rig, ESide::B);
    ASSERT_TRUE(listener && board);

    auto frameFrom = [](const unsigned char* destination, const unsigned char* source) {
        Frame f(88, 0);
        std::memcpy(f.data(), destination, 6);
        std::memcpy(f.data() + 6, source, 6);
        f[15] = 0x42;  // any symbol counts
        return f;
    };
    const unsigned char other[6] = {0x02, 1, 2, 3, 4, 5};
    const Frame wrongDestination = frameFrom(other, CConstValue::BoardMac_Get());
    const Frame toPc = frameFrom(CConstValue::GetPcMac(), CConstValue::BoardMac_Get());

    EXPECT_FALSE(CNetworkHelper::Detect_ReplyPacket(listener.get(), 0));
    std::thread sender([&] {
        for (int i = 0; i < 5; ++i) {
            pcap_sendpacket(board.get(), wrongDestination.data(), 88);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(CNetworkHelper::Detect_ReplyPacket(listener.get(), 300));
    const auto waited = std::chrono::steady_clock::now() - start;
    sender.join();
    EXPECT_GE(waited, std::chrono::milliseconds(290));
    EXPECT_LT(waited, std::chrono::milliseconds(800)) << "the time-out ends the wait";

    std::thread reply([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pcap_sendpacket(board.get(), toPc.data(), 88);
    });
    EXPECT_TRUE(CNetworkHelper::Detect_ReplyPacket(listener.get(), 3000));
    reply.join();
}

}  // namespace

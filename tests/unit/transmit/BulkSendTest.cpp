// The bulk send without a link: frames read back from the send queue, and jobs refused before
// anything is transmitted (a dead capture handle cannot transmit).
#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <ferrolink/platform/PcapSendQueue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/transmit/CustomPCapSendQueue.h>
#include <ferrolink/transmit/Ferrolink.h>
#include <ferrolink/transmit/InternalProcessor.h>
#include "support/LogCapture.h"

namespace {

class BulkSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (std::size_t i = 0; i < m_data.size(); ++i)
            m_data[i] = static_cast<unsigned char>(i * 7 + 3);
        m_print.UseBuffer(m_data.data(), static_cast<std::int64_t>(m_data.size()));
    }
    void TearDown() override { pcap_close(m_dead); }

    std::vector<unsigned char> m_data = std::vector<unsigned char>(4000);
    CActualPrintData m_print;
    pcap_t* m_dead = pcap_open_dead(DLT_EN10MB, 65535);
};

std::uint32_t Word(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

TEST_F(BulkSendTest, SlicesFromTheStartIndexBecomeEqualLengthFramesInListOrder) {
    // Slice 0 went out before: the others keep their positions as packetIndex. The last one ends
    // exactly at the end of the data.
    m_print.m_packetList = {{0, 5}, {0, 100}, {100, 1468}, {3990, 10}};
    m_print.m_packetDataSize = 1468;
    m_print.m_startPacketIndex = 1;
    CCustomPCapSendQueue queue(3 * (16 + 1496));
    ASSERT_TRUE(CInternalProcessor::AddPrintDataToQueue(queue.m_queue, m_print, -5));
    // Records of a 16-byte header and a 1496-byte frame, back to back.
    ASSERT_EQ(3u * (16 + 1496), queue.m_queue->len);
    for (std::uint32_t i = 1; i <= 3; ++i) {
        const auto* f = reinterpret_cast<const unsigned char*>(queue.m_queue->buffer) +
                        (i - 1) * (16 + 1496) + 16;
        const SPacketSlice& slice = m_print.m_packetList[i];
        EXPECT_EQ(0xFFFFFFFBu, Word(f + 16)) << "frameIndex -5 as its bit pattern";
        EXPECT_EQ(i, Word(f + 20)) << "packetIndex is the slice position";
        EXPECT_EQ(0, std::memcmp(f + 24, m_data.data() + slice.offset,
                                 static_cast<std::size_t>(slice.length)));
        EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(f, 1496));
        const std::set<unsigned char> padding(f + 24 + slice.length, f + 1492);
        EXPECT_TRUE(slice.length == 1468 || padding.size() > 200) << "random padding, frame " << i;
    }

    // A queue that is too small keeps what fitted; the caller hears of the rest only by a record.
    CLogCapture log;
    CCustomPCapSendQueue small(2 * (16 + 1496));
    EXPECT_TRUE(CInternalProcessor::AddPrintDataToQueue(small.m_queue, m_print, 1));
    EXPECT_EQ(2u * (16 + 1496), small.m_queue->len);
    ASSERT_EQ(1u, log.Records().size());
    EXPECT_EQ(2, log.Records()[0].severity);
}

TEST_F(BulkSendTest, RefusedJobsSendNothing) {
    EXPECT_FALSE(FLK_SendPrintData(nullptr, &m_print, 0));
    EXPECT_FALSE(FLK_SendPrintData(m_dead, nullptr, 0));
    struct SCase {
        const char* what;
        std::vector<SPacketSlice> slices;
        int packetDataSize, start;
        bool result;
    };
    const SCase cases[] = {
        {"empty list", {}, 1468, 0, true},
        {"start at the end", {{0, 10}, {10, 10}}, 1468, 2, true},
        {"start beyond the list", {{0, 10}}, 1468, 2, false},
        {"negative start", {{0, 10}}, 1468, -1, false},
        {"slice past the buffer end", {{0, 10}, {3990, 11}}, 1468, 0, false},
        {"negative offset", {{-1, 10}}, 1468, 0, false},
        {"negative length", {{0, -3}}, 1468, 0, false},
        {"slice longer than the capacity", {{0, 100}, {100, 101}}, 100, 0, false},
        // 66100 records of 65048 bytes: past 4 GiB, where a 32-bit size would wrap to 4.7 MB.
        {"queue of 4 GiB", std::vector<SPacketSlice>(66100, {0, 10}), 65000, 0, false},
    };
    for (const auto& c : cases) {
        CLogCapture log;
        m_print.m_packetList = c.slices;
        m_print.m_packetDataSize = c.packetDataSize;
        m_print.m_startPacketIndex = c.start;
        EXPECT_EQ(c.result, FLK_SendPrintData(m_dead, &m_print, 0)) << c.what;
        // A job that reached the transmission would log the dead handle's short send.
        for (const auto& r : log.Records())
            EXPECT_EQ(std::string::npos, r.message.find("sendCount")) << c.what;
    }
}

}  // namespace

// The bulk send without a link: frames read back from the send queue, and jobs refused before
// anything is transmitted (a dead capture handle cannot transmit).
#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <ferrolink/platform/PcapSendQueue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/transmit/CustomPCapSendQueue.h>
#include <ferrolink/transmit/Ferrolink.h>
#include <ferrolink/transmit/InternalProcessor.h>
#include "support/LogCapture.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

class BulkSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (std::size_t i = 0; i < m_data.size(); ++i)
            m_data[i] = static_cast<unsigned char>(i * 7 + 3);
        m_print.UseBuffer(m_data.data(), static_cast<std::int64_t>(m_data.size()));
    }
    void TearDown() override { pcap_close(m_dead); }

    std::vector<unsigned char> m_data = std::vector<unsigned char>(20000);
    CActualPrintData m_print;
    pcap_t* m_dead = pcap_open_dead(DLT_EN10MB, 65535);
};

// The queue must hold exactly what building each frame with the frame builder and queueing it
// gives, random padding included (same rand() sequence), wherever the queue's free space starts.
TEST_F(BulkSendTest, QueueHoldsTheBuiltFramesFromTheStartIndexInListOrder) {
    struct SCase {
        const char* what;
        std::vector<SPacketSlice> slices;
        int packetDataSize, start;
        std::int64_t printDataSize;  // 0: the host never set it
        u_int queuedBefore;          // bytes of an earlier record ahead of ours
    };
    // clang-format off
    const SCase cases[] = {
        // Slice 0 went out before; the last slice ends exactly at the end of the data.
        {"full and padded frames", {{0, 5}, {0, 100}, {100, 1468}, {19990, 10}}, 1468, 1, 20000, 0},
        {"odd lengths and offsets", {{1, 1}, {3, 2}, {7, 3}, {13, 1467}, {0, 0}, {5, 999}},
         1468, 0, 20000, 0},
        {"size never set", {{0, 1468}, {1468, 1468}, {2936, 77}}, 1468, 0, 0, 0},
        {"after a record of odd length", {{2, 1000}, {1003, 997}, {9, 1}}, 1000, 0, 20000, 21},
        // 16-bit partial sums of the checksum overflow past 4096 bytes.
        {"frames of 9000 bytes", {{0, 9000}, {9000, 9000}, {18000, 2000}}, 9000, 0, 20000, 19},
        // From 16 MiB on the records are stored past the caches.
        {"queue of 16.9 MB", std::vector<SPacketSlice>(11200, {1, 1467}), 1468, 0, 20000, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        m_print.m_packetList.assign(c.slices.begin(), c.slices.end());
        m_print.m_packetDataSize = c.packetDataSize;
        m_print.m_startPacketIndex = c.start;
        m_print.m_printDataSize = c.printDataSize;
        const int frameLength = CNetworkHelper::GetActualPrintDataCapacity(c.packetDataSize) + 28;
        const std::size_t records = c.slices.size() - static_cast<std::size_t>(c.start);
        CCustomPCapSendQueue queue(static_cast<int>(c.queuedBefore + records * (16 + frameLength)));
        std::vector<unsigned char> expected;
        if (c.queuedBefore > 0) {
            pcap_pkthdr earlier{};
            earlier.caplen = earlier.len = c.queuedBefore - 16;
            ASSERT_EQ(0, ferrolink::platform::pcap_sendqueue_queue(queue.m_queue, &earlier,
                                                                   m_data.data()));
            expected.assign(queue.m_queue->buffer, queue.m_queue->buffer + c.queuedBefore);
        }
        std::srand(77);
        SBufferData<unsigned char> frame;
        for (std::size_t i = static_cast<std::size_t>(c.start); i < c.slices.size(); ++i) {
            ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(
                -5, static_cast<std::uint32_t>(i), PaddingValue_Random, c.packetDataSize,
                m_data.data() + c.slices[i].offset, c.slices[i].length, frame));
            const std::uint32_t header[4] = {0, 0, static_cast<std::uint32_t>(frame.m_count),
                                             static_cast<std::uint32_t>(frame.m_count)};
            const auto* h = reinterpret_cast<const unsigned char*>(header);
            expected.insert(expected.end(), h, h + 16);
            expected.insert(expected.end(), frame.m_pBuffer, frame.m_pBuffer + frame.m_count);
        }
        std::srand(77);
        ASSERT_TRUE(CInternalProcessor::AddPrintDataToQueue(queue.m_queue, m_print, -5)) << c.what;
        ASSERT_EQ(expected.size(), queue.m_queue->len) << c.what;
        EXPECT_EQ(0, std::memcmp(expected.data(), queue.m_queue->buffer, expected.size()))
            << c.what;
    }

    // A queue that is too small keeps what fitted; the caller hears of the rest only by a record.
    m_print.m_packetList = {{0, 100}, {100, 1468}, {1568, 10}};
    m_print.m_packetDataSize = 1468;
    m_print.m_startPacketIndex = 0;
    CLogCapture log;
    CCustomPCapSendQueue small(2 * (16 + 1496) + 1511);
    EXPECT_TRUE(CInternalProcessor::AddPrintDataToQueue(small.m_queue, m_print, 1));
    EXPECT_EQ(2u * (16 + 1496), small.m_queue->len);
    ASSERT_EQ(1u, log.Records().size());
    EXPECT_EQ(2, log.Records()[0].severity);
}

TEST_F(BulkSendTest, RefusedJobsSendNothingAndOthersReachTheTransmission) {
    EXPECT_FALSE(FLK_SendPrintData(nullptr, &m_print, 0));
    EXPECT_FALSE(FLK_SendPrintData(m_dead, nullptr, 0));
    struct SCase {
        const char* what;
        std::vector<SPacketSlice> slices;
        int packetDataSize, start;
        std::int64_t printDataSize;  // 0: never set, the slices are the host's word
        bool result, transmitted;
    };
    const SCase cases[] = {
        {"empty list", {}, 1468, 0, 20000, true, false},
        {"start at the end", {{0, 10}, {10, 10}}, 1468, 2, 20000, true, false},
        {"start beyond the list", {{0, 10}}, 1468, 2, 20000, false, false},
        {"negative start", {{0, 10}}, 1468, -1, 20000, false, false},
        {"slice past the given size", {{0, 10}, {3990, 11}}, 1468, 0, 4000, false, false},
        {"size never set", {{0, 10}, {3990, 11}}, 1468, 0, 0, true, true},
        {"negative offset", {{-1, 10}}, 1468, 0, 0, false, false},
        {"negative length", {{0, -3}}, 1468, 0, 20000, false, false},
        {"negative length, size never set", {{0, -3}}, 1468, 0, 0, false, false},
        {"slice longer than the capacity", {{0, 100}, {100, 101}}, 100, 0, 0, false, false},
        // 66100 records of 65048 bytes: past 4 GiB, where a 32-bit size would wrap to 4.7 MB.
        {"queue of 4 GiB", std::vector<SPacketSlice>(66100, {0, 10}), 65000, 0, 20000, false,
         false},
    };
    for (const auto& c : cases) {
        CLogCapture log;
        m_print.m_packetList.assign(c.slices.begin(), c.slices.end());
        m_print.m_packetDataSize = c.packetDataSize;
        m_print.m_startPacketIndex = c.start;
        m_print.m_printDataSize = c.printDataSize;
        EXPECT_EQ(c.result, FLK_SendPrintData(m_dead, &m_print, 0)) << c.what;
        // A job that reached the transmission logs the dead handle's short send.
        bool shortSend = false;
        for (const auto& r : log.Records())
            shortSend = shortSend || r.message.find("sendCount") != std::string::npos;
        EXPECT_EQ(c.transmitted, shortSend) << c.what;
    }
}

}  // namespace

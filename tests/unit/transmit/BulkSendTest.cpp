#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <cstring>
#include <vector>

#include <ferrolink/platform/PcapSendQueue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/transmit/CustomPCapSendQueue.h>
#include <ferrolink/transmit/Ferrolink.h>
#include <ferrolink/transmit/InternalProcessor.h>
#include "support/LogCapture.h"

namespace {

namespace platform = ferrolink::platform;

struct SQueuedFrame {
    std::uint32_t caplen, len;
    std::vector<unsigned char> bytes;
};

// Reads the queue's records back: 16-byte header (two timestamp halves, caplen, len), then bytes.
std::vector<SQueuedFrame> Records(const platform::pcap_send_queue* queue) {
    std::vector<SQueuedFrame> out;
    std::size_t at = 0;
    while (at + 16 <= queue->len) {
        platform::SSendQueueRecordHeader h;
        std::memcpy(&h, queue->buffer + at, 16);
        EXPECT_EQ(0u, h.ts_sec);
        EXPECT_EQ(0u, h.ts_usec);
        at += 16;
        const auto* p = reinterpret_cast<const unsigned char*>(queue->buffer + at);
        out.push_back({h.caplen, h.len, std::vector<unsigned char>(p, p + h.caplen)});
        at += h.caplen;
    }
    EXPECT_EQ(at, queue->len);
    return out;
}

std::uint32_t Word(const std::vector<unsigned char>& f, std::size_t at) {
    return (std::uint32_t{f[at]} << 24) | (std::uint32_t{f[at + 1]} << 16) |
           (std::uint32_t{f[at + 2]} << 8) | f[at + 3];
}

class BulkSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_data.resize(4000);
        for (std::size_t i = 0; i < m_data.size(); ++i)
            m_data[i] = static_cast<unsigned char>(i * 7 + 3);
        m_print.UseBuffer(m_data.data(), static_cast<std::int64_t>(m_data.size()));
    }
    void TearDown() override {
        if (m_dead) pcap_close(m_dead);
    }
    pcap_t* DeadHandle() {
        if (!m_dead) m_dead = pcap_open_dead(DLT_EN10MB, 65535);
        return m_dead;
    }

    std::vector<unsigned char> m_data;
    CActualPrintData m_print;
    pcap_t* m_dead = nullptr;
};

TEST_F(BulkSendTest, ShortAndFullSlicesBecomeEqualLengthFramesInListOrder) {
    m_print.m_packetList = {{0, 100}, {100, 1468}, {1568, 10}};
    m_print.m_packetDataSize = 1468;
    CCustomPCapSendQueue queue(3 * (16 + 1496));
    ASSERT_NE(nullptr, queue.m_queue);
    EXPECT_EQ(4536u, queue.m_queue->maxlen);
    ASSERT_TRUE(CInternalProcessor::AddPrintDataToQueue(queue.m_queue, m_print, -5));

    const auto frames = Records(queue.m_queue);
    ASSERT_EQ(3u, frames.size());
    const int lengths[3] = {100, 1468, 10};
    const int offsets[3] = {0, 100, 1568};
    for (std::uint32_t i = 0; i < 3; ++i) {
        const auto& f = frames[i].bytes;
        ASSERT_EQ(1496u, frames[i].caplen);
        EXPECT_EQ(1496u, frames[i].len);
        EXPECT_EQ(0x05D8u, (f[12] << 8) | f[13]) << "frameLength";
        EXPECT_EQ(0u, (f[14] << 8) | f[15]) << "print data symbol";
        EXPECT_EQ(0xFFFFFFFBu, Word(f, 16)) << "frameIndex -5 as its bit pattern";
        EXPECT_EQ(i, Word(f, 20)) << "packetIndex is the slice position";
        EXPECT_EQ(0, std::memcmp(f.data() + 24, m_data.data() + offsets[i],
                                 static_cast<std::size_t>(lengths[i])));
        EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(f.data(), 1496));
    }
    // Random padding: the short frames' padding is not all zero.
    int nonZero = 0;
    for (std::size_t k = 24 + 10; k < 24 + 1468; ++k) nonZero += frames[2].bytes[k] != 0;
    EXPECT_GT(nonZero, 1000);
}

TEST_F(BulkSendTest, StartIndexSkipsLeadingPacketsButKeepsTheirNumbers) {
    for (int i = 0; i < 5; ++i) m_print.m_packetList.push_back({i * 100, 100});
    m_print.m_packetDataSize = 1000;
    m_print.m_startPacketIndex = 2;
    CCustomPCapSendQueue queue(3 * 1048);
    ASSERT_TRUE(CInternalProcessor::AddPrintDataToQueue(queue.m_queue, m_print, 9));
    const auto frames = Records(queue.m_queue);
    ASSERT_EQ(3u, frames.size());
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(1032u, frames[i].caplen);
        EXPECT_EQ(i + 2, Word(frames[i].bytes, 20));
        EXPECT_EQ(0, std::memcmp(frames[i].bytes.data() + 24, m_data.data() + (i + 2) * 100, 100));
    }
}

TEST_F(BulkSendTest, QueueRefusingARecordSendsWhatFitted) {
    CLogCapture log;
    for (int i = 0; i < 3; ++i) m_print.m_packetList.push_back({0, 50});
    m_print.m_packetDataSize = 60;
    CCustomPCapSendQueue queue(2 * (16 + 88));
    EXPECT_TRUE(CInternalProcessor::AddPrintDataToQueue(queue.m_queue, m_print, 1));
    EXPECT_EQ(2u, Records(queue.m_queue).size());
    EXPECT_TRUE(log.Contains("pcap_sendqueue_queue(...) failure: packet buffer too small, not all "
                             "the packets will be sent.",
                             2));
}

TEST_F(BulkSendTest, RefusalsLogAndSendNothing) {
    CLogCapture log;
    EXPECT_FALSE(FLK_SendPrintData(nullptr, &m_print, 0));
    EXPECT_FALSE(FLK_SendPrintData(DeadHandle(), nullptr, 0));
    EXPECT_EQ(2, log.Count("failure", 2));

    log.Clear();
    EXPECT_TRUE(FLK_SendPrintData(DeadHandle(), &m_print, 0)) << "empty list";
    EXPECT_TRUE(log.Contains("all print data is already sent.", 2));

    struct SCase {
        const char* what;
        std::vector<SPacketSlice> slices;
        int packetDataSize;
        int start;
    };
    const SCase cases[] = {
        {"start beyond the list", {{0, 10}}, 1468, 2},
        {"negative start", {{0, 10}}, 1468, -1},
        {"slice past the buffer end", {{0, 10}, {3990, 11}}, 1468, 0},
        {"negative offset", {{-1, 10}}, 1468, 0},
        {"negative length", {{0, -3}}, 1468, 0},
        {"slice longer than the capacity", {{0, 100}, {100, 101}}, 100, 0},
        {"queue larger than 2 GiB", std::vector<SPacketSlice>(1500000, {0, 10}), 1468, 0},
    };
    for (const auto& c : cases) {
        log.Clear();
        m_print.m_packetList = c.slices;
        m_print.m_packetDataSize = c.packetDataSize;
        m_print.m_startPacketIndex = c.start;
        // A dead handle cannot transmit: a case that got that far would log the short send.
        EXPECT_FALSE(FLK_SendPrintData(DeadHandle(), &m_print, 0)) << c.what;
        EXPECT_TRUE(log.Contains("failure", 2)) << c.what;
        for (const auto& r : log.Records())
            EXPECT_EQ(std::string::npos, r.message.find("sendCount")) << c.what;
    }
    m_print.m_packetList = {{0, 100}, {100, 101}};
    m_print.m_packetDataSize = 100;
    m_print.m_startPacketIndex = 0;
    log.Clear();
    EXPECT_FALSE(FLK_SendPrintData(DeadHandle(), &m_print, 0));
    EXPECT_TRUE(log.Contains("actualDataLen = 101,actualDataCapacity = 100", 2));
}

TEST_F(BulkSendTest, StartAtTheEndQueuesNothingAndSucceeds) {
    CLogCapture log;
    m_print.m_packetList = {{0, 10}, {10, 10}};
    m_print.m_packetDataSize = 1468;
    m_print.m_startPacketIndex = 2;
    EXPECT_TRUE(FLK_SendPrintData(DeadHandle(), &m_print, 0));
    for (const auto& r : log.Records()) EXPECT_NE(2, r.severity) << r.message;
}

TEST(CustomPCapSendQueueTest, NegativeSizeIsRefusedWithItsValue) {
    CLogCapture log;
    CCustomPCapSendQueue queue(-1);
    EXPECT_EQ(nullptr, queue.m_queue);
    EXPECT_TRUE(log.Contains("memorySize = -1", 2));
}

}  // namespace

// The bulk send without a link: frames read back from the send queue, and jobs refused before
// anything is transmitted (a dead capture handle cannot transmit).
#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <cstring>
#include <string>
#include <vector>

#include <ferrolink/platform/PcapSendQueue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/transmit/CustomPCapSendQueue.h>
#include <ferrolink/transmit/Ferrolink.h>
#include <ferrolink/transmit/InternalProcessor.h>
#include "support/LogCapture.h"

namespace {

using Bytes = std::vector<unsigned char>;

class BulkSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (std::size_t i = 0; i < m_data.size(); ++i)
            m_data[i] = static_cast<unsigned char>(i * 7 + 3);
        m_print.UseBuffer(m_data.data(), static_cast<std::int64_t>(m_data.size()));
    }
    void TearDown() override { pcap_close(m_dead); }

    // The queue's records: 16-byte header (two zero timestamp halves, caplen, len), then bytes.
    static std::vector<Bytes> Records(const ferrolink::platform::pcap_send_queue* queue) {
        std::vector<Bytes> out;
        std::size_t at = 0;
        while (at + 16 <= queue->len) {
            ferrolink::platform::SSendQueueRecordHeader h;
            std::memcpy(&h, queue->buffer + at, 16);
            EXPECT_EQ(0u, h.ts_sec | h.ts_usec);
            EXPECT_EQ(h.caplen, h.len);
            const auto* p = reinterpret_cast<const unsigned char*>(queue->buffer + at + 16);
            out.emplace_back(p, p + h.caplen);
            at += 16 + h.caplen;
        }
        EXPECT_EQ(at, queue->len);
        return out;
    }
    static std::uint32_t Word(const Bytes& f, std::size_t at) {
        return (std::uint32_t{f[at]} << 24) | (std::uint32_t{f[at + 1]} << 16) |
               (std::uint32_t{f[at + 2]} << 8) | f[at + 3];
    }

    Bytes m_data = Bytes(4000);
    CActualPrintData m_print;
    pcap_t* m_dead = pcap_open_dead(DLT_EN10MB, 65535);
};

TEST_F(BulkSendTest, SlicesFromTheStartIndexBecomeEqualLengthFramesInListOrder) {
    // Slice 0 went out before: the others keep their positions as packetIndex.
    m_print.m_packetList = {{0, 5}, {0, 100}, {100, 1468}, {1568, 10}};
    m_print.m_packetDataSize = 1468;
    m_print.m_startPacketIndex = 1;
    CCustomPCapSendQueue queue(3 * (16 + 1496));
    ASSERT_NE(nullptr, queue.m_queue);
    ASSERT_TRUE(CInternalProcessor::AddPrintDataToQueue(queue.m_queue, m_print, -5));

    const auto frames = Records(queue.m_queue);
    ASSERT_EQ(3u, frames.size());
    for (std::uint32_t i = 1; i <= 3; ++i) {
        const Bytes& f = frames[i - 1];
        const SPacketSlice& slice = m_print.m_packetList[i];
        ASSERT_EQ(1496u, f.size());
        EXPECT_EQ(0x05D8u, Word(f, 12) >> 16) << "frameLength";
        EXPECT_EQ(0u, Word(f, 12) & 0xFFFF) << "print data symbol";
        EXPECT_EQ(0xFFFFFFFBu, Word(f, 16)) << "frameIndex -5 as its bit pattern";
        EXPECT_EQ(i, Word(f, 20)) << "packetIndex is the slice position";
        EXPECT_EQ(0, std::memcmp(f.data() + 24, m_data.data() + slice.offset,
                                 static_cast<std::size_t>(slice.length)));
        EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(f.data(), 1496));
    }
    int nonZero = 0;  // the short frames get random padding
    for (std::size_t k = 24 + 10; k < 24 + 1468; ++k) nonZero += frames[2][k] != 0;
    EXPECT_GT(nonZero, 1000);
}

TEST_F(BulkSendTest, AFullQueueKeepsWhatFittedAndSaysSo) {
    CLogCapture log;
    m_print.m_packetList = {{0, 50}, {0, 50}, {0, 50}};
    m_print.m_packetDataSize = 60;
    CCustomPCapSendQueue queue(2 * (16 + 88));
    EXPECT_TRUE(CInternalProcessor::AddPrintDataToQueue(queue.m_queue, m_print, 1));
    EXPECT_EQ(2u, Records(queue.m_queue).size());
    // The caller hears of the frames left out only through this record.
    ASSERT_EQ(1u, log.Records().size());
    EXPECT_EQ(2, log.Records()[0].severity);
    EXPECT_EQ(nullptr, CCustomPCapSendQueue(-1).m_queue);
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

// The bulk send without a link: frames gathered from their pieces as the socket would gather
// them, send-queue records made from them, and jobs refused before anything is transmitted (a dead
// capture handle cannot transmit).
#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <ferrolink/platform/FrameSender.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/transmit/Ferrolink.h>
#include <ferrolink/transmit/InternalProcessor.h>
#include <ferrolink/transmit/PrintFrameBatch.h>
#include "support/LogCapture.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

using Bytes = std::vector<unsigned char>;
using ferrolink::platform::SOutgoingFrame;

// Takes frames up to `limit`, each gathered whole, and appends each as a send-queue record; then
// refuses one frame and would take everything after it, which no frame must reach.
struct STaker {
    std::size_t limit;
    std::vector<Bytes> frames;
    std::vector<char> queue;
    std::uint32_t queued = 0;
    bool refused = false;

    static std::size_t Take(void* context, const SOutgoingFrame* frames, std::size_t count) {
        auto* t = static_cast<STaker*>(context);
        std::size_t k = 0;
        for (; k < count && (t->refused || t->frames.size() < t->limit); ++k) {
            Bytes f;
            for (unsigned p = 0; p < frames[k].pieceCount; ++p)
                f.insert(f.end(), frames[k].pieces[p].data,
                         frames[k].pieces[p].data + frames[k].pieces[p].length);
            t->frames.push_back(f);
            CPrintFrameBatch::AppendRecord(frames[k], t->queue.data(),
                                           static_cast<std::uint32_t>(t->queue.size()), t->queued);
        }
        t->refused = t->refused || k < count;
        return k;
    }
};

class BulkSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (std::size_t i = 0; i < m_data.size(); ++i)
            m_data[i] = static_cast<unsigned char>(i * 7 + 3);
        m_print.UseBuffer(m_data.data(), static_cast<std::int64_t>(m_data.size()));
    }
    void TearDown() override { pcap_close(m_dead); }

    Bytes m_data = Bytes(20000);
    CActualPrintData m_print;
    pcap_t* m_dead = pcap_open_dead(DLT_EN10MB, 65535);
};

// Every frame must be what the frame builder makes for its packet, random padding included (same
// rand() sequence), from the start index on in list order, however the batches fall; every record
// is its header (zero time stamp, caplen = len = frame length) and the frame.
TEST_F(BulkSendTest, FramesAreTheBuiltFramesFromTheStartIndexInListOrderAndRecordsHoldThem) {
    struct SCase {
        const char* what;
        std::vector<SPacketSlice> slices;
        int packetDataSize, start;
        std::int64_t printDataSize;  // 0: the host never set it
        std::size_t taken;           // frames the taker takes before it refuses
    };
    // Mostly short frames: their padding fills a batch's room for tails before its frame count.
    std::vector<SPacketSlice> mixed;
    for (int i = 0; i < 300; ++i) mixed.push_back({i * 13, i % 5 == 0 ? 1468 : (i * 7) % 200});
    // clang-format off
    const SCase cases[] = {
        // Slice 0 went out before; the last slice ends exactly at the end of the data.
        {"full and padded frames", {{0, 5}, {0, 100}, {100, 1468}, {19990, 10}}, 1468, 1, 20000, 9},
        {"odd lengths and offsets", {{1, 1}, {3, 2}, {7, 3}, {13, 1467}, {0, 0}, {5, 999}},
         1468, 0, 20000, 9},
        {"size never set", {{0, 1468}, {1468, 1468}, {2936, 77}}, 1468, 0, 0, 9},
        // 16-bit partial sums of the checksum overflow past 4096 bytes.
        {"frames of 9000 bytes", {{0, 9000}, {9000, 9000}, {18000, 2000}}, 9000, 0, 20000, 9},
        {"several batches", mixed, 1468, 2, 20000, 1000},
        {"a taker that stops mid-batch", mixed, 1468, 0, 20000, 100},
    };
    // clang-format on
    for (const auto& c : cases) {
        m_print.m_packetList.assign(c.slices.begin(), c.slices.end());
        m_print.m_packetDataSize = c.packetDataSize;
        m_print.m_startPacketIndex = c.start;
        m_print.m_printDataSize = c.printDataSize;
        const std::size_t wanted = c.slices.size() - static_cast<std::size_t>(c.start);
        const std::size_t taken = std::min(wanted, c.taken);
        std::srand(77);
        Bytes records;
        std::vector<Bytes> expected;
        SBufferData<unsigned char> frame;
        for (std::size_t i = static_cast<std::size_t>(c.start); i < c.slices.size(); ++i) {
            ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(
                -5, static_cast<std::uint32_t>(i), PaddingValue_Random, c.packetDataSize,
                m_data.data() + c.slices[i].offset, c.slices[i].length, frame));
            expected.emplace_back(frame.m_pBuffer, frame.m_pBuffer + frame.m_count);
            if (expected.size() > taken) continue;
            const std::uint32_t header[4] = {0, 0, static_cast<std::uint32_t>(frame.m_count),
                                             static_cast<std::uint32_t>(frame.m_count)};
            const auto* h = reinterpret_cast<const unsigned char*>(header);
            records.insert(records.end(), h, h + 16);
            records.insert(records.end(), expected.back().begin(), expected.back().end());
        }
        expected.resize(taken);
        int capacity = -1;
        ASSERT_TRUE(CInternalProcessor::CheckPackets(m_print, -5, capacity)) << c.what;
        STaker taker{c.taken, {}, std::vector<char>(records.size()), 0};
        std::srand(77);
        EXPECT_EQ(taken,
                  CInternalProcessor::MakeFrames(m_print, -5, capacity, &STaker::Take, &taker))
            << c.what;
        ASSERT_EQ(expected.size(), taker.frames.size()) << c.what;
        for (std::size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(expected[i], taker.frames[i]) << c.what << ", frame " << i;
        EXPECT_EQ(records, Bytes(taker.queue.begin(), taker.queue.end())) << c.what;
    }

    // The queues above were exactly full; a record that does not fit leaves the queue as it was:
    // one byte short, or a queue whose length is already past its room.
    CPrintFrameBatch batch(1, 100);
    ASSERT_TRUE(batch.Add(0, m_data.data(), 100));
    std::vector<char> block(17 + 16 + 128);
    for (const auto& [room, len] :
         {std::pair<std::uint32_t, std::uint32_t>{17 + 16 + 127, 17}, {16, 17}}) {
        std::uint32_t at = len;
        EXPECT_FALSE(CPrintFrameBatch::AppendRecord(batch.Frames()[0], block.data(), room, at));
        EXPECT_EQ(len, at);
    }
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
        // A job that reached the transmission logs the dead handle's short send with its
        // reason, which is short enough to be logged.
        bool shortSend = false;
        for (const auto& r : log.Records()) {
            if (r.message.find("sendCount") == std::string::npos) continue;
            shortSend = true;
            EXPECT_EQ(1, r.severity);
            EXPECT_EQ(0u, r.message.find("sendCount = 0, ")) << r.message;
            EXPECT_GT(r.message.size(), std::strlen("sendCount = 0, ")) << "no reason given";
        }
        EXPECT_EQ(c.transmitted, shortSend) << c.what;
    }
}

}  // namespace

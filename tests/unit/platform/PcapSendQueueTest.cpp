#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <ferrolink/platform/PcapSendQueue.h>
#include <ferrolink/platform/PcapTimedRead.h>

namespace flk = ferrolink::platform;

namespace {

using QueuePtr = std::unique_ptr<flk::pcap_send_queue, decltype(&flk::pcap_sendqueue_destroy)>;

QueuePtr Alloc(u_int size) {
    return QueuePtr(flk::pcap_sendqueue_alloc(size), &flk::pcap_sendqueue_destroy);
}

pcap_pkthdr Header(u_int caplen, u_int len, long sec = 0, long usec = 0) {
    pcap_pkthdr h{};
    h.ts.tv_sec = sec;
    h.ts.tv_usec = usec;
    h.caplen = caplen;
    h.len = len;
    return h;
}

std::vector<std::uint32_t> WordsAt(const flk::pcap_send_queue& q, u_int offset) {
    std::vector<std::uint32_t> words(4);
    std::memcpy(words.data(), q.buffer + offset, 16);
    return words;
}

TEST(PcapSendQueueTest, RecordsAreHeaderThenFrameBackToBack) {
    QueuePtr q = Alloc(200);
    const std::vector<u_char> first = {1, 2, 3, 4, 5};
    const std::vector<u_char> second = {0xa0, 0xa1, 0xa2};
    const pcap_pkthdr h1 = Header(5, 60, 7, 9);
    const pcap_pkthdr h2 = Header(3, 3);
    ASSERT_EQ(0, flk::pcap_sendqueue_queue(q.get(), &h1, first.data()));
    ASSERT_EQ(0, flk::pcap_sendqueue_queue(q.get(), &h2, second.data()));
    EXPECT_EQ(2 * flk::SENDQUEUE_RECORD_HEADER_SIZE + 5 + 3, q->len);
    // Record 1 at 0: ts_sec, ts_usec, caplen, len (host order); its 5 frame bytes at 16.
    EXPECT_EQ((std::vector<std::uint32_t>{7, 9, 5, 60}), WordsAt(*q, 0));
    EXPECT_EQ(0, std::memcmp(q->buffer + 16, first.data(), 5));
    // Record 2 right behind the first frame, at 21; its frame at 37.
    EXPECT_EQ((std::vector<std::uint32_t>{0, 0, 3, 3}), WordsAt(*q, 21));
    EXPECT_EQ(0, std::memcmp(q->buffer + 37, second.data(), 3));
}

TEST(PcapSendQueueTest, RecordThatDoesNotFitIsRefusedAndLeavesTheQueueAsItWas) {
    const std::vector<u_char> frame(10, 0x5a);
    const pcap_pkthdr h = Header(10, 10);
    const u_int record = flk::SENDQUEUE_RECORD_HEADER_SIZE + 10;
    QueuePtr exact = Alloc(2 * record);
    ASSERT_EQ(0, flk::pcap_sendqueue_queue(exact.get(), &h, frame.data()));
    ASSERT_EQ(0, flk::pcap_sendqueue_queue(exact.get(), &h, frame.data())) << "exact fit";
    EXPECT_EQ(-1, flk::pcap_sendqueue_queue(exact.get(), &h, frame.data()));
    EXPECT_EQ(2 * record, exact->len);

    QueuePtr oneShort = Alloc(2 * record - 1);
    ASSERT_EQ(0, flk::pcap_sendqueue_queue(oneShort.get(), &h, frame.data()));
    EXPECT_EQ(-1, flk::pcap_sendqueue_queue(oneShort.get(), &h, frame.data()));
    EXPECT_EQ(record, oneShort->len);
    // A caplen that would wrap a 32-bit sum must not look small.
    const pcap_pkthdr huge = Header(0xFFFFFFF8u, 0xFFFFFFF8u);
    EXPECT_EQ(-1, flk::pcap_sendqueue_queue(oneShort.get(), &huge, frame.data()));
    EXPECT_EQ(record, oneShort->len);
}

TEST(PcapSendQueueTest, ZeroSizedQueueIsValidAndEmpty) {
    QueuePtr q = Alloc(0);
    ASSERT_NE(nullptr, q);
    EXPECT_EQ(0u, q->maxlen);
    EXPECT_EQ(0u, q->len);
    const pcap_pkthdr empty = Header(0, 0);
    EXPECT_EQ(-1, flk::pcap_sendqueue_queue(q.get(), &empty, nullptr)) << "not even a header fits";
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    EXPECT_EQ(0u, flk::pcap_sendqueue_transmit(dead, q.get(), 1)) << "0 of 0 bytes";
    flk::pcap_close(dead);
}

TEST(PcapSendQueueTest, TransmitOnHandleWithoutLinkSendsNothingAndSaysWhy) {
    QueuePtr q = Alloc(100);
    const std::vector<u_char> frame(60, 0);
    const pcap_pkthdr h = Header(60, 60);
    ASSERT_EQ(0, flk::pcap_sendqueue_queue(q.get(), &h, frame.data()));
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    EXPECT_EQ(0u, flk::pcap_sendqueue_transmit(dead, q.get(), 1));
    const std::string reason = pcap_geterr(dead);
    EXPECT_FALSE(reason.empty());
    // The bulk sender logs the reason only when it is shorter than 100 characters.
    EXPECT_LT(reason.size(), 100u) << reason;
    flk::pcap_close(dead);
}

}  // namespace

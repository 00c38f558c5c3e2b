// The WinPcap extensions on Linux: source strings, opening, listing, the send queue and the
// per-handle state, with capture files and dead handles instead of a link.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <ferrolink/platform/PcapExtensions.h>
#include <ferrolink/platform/PcapHandleRegistry.h>
#include <ferrolink/platform/PcapSendQueue.h>
#include <ferrolink/platform/PcapTimedRead.h>

namespace flk = ferrolink::platform;
using Frame = std::vector<u_char>;

namespace {

TEST(PcapSourceStringTest, LocalFormsUpToTheLongestNameThatFitsOthersRefused) {
    char source[flk::PCAP_BUF_SIZE];
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    ASSERT_EQ(0, flk::pcap_createsrcstr(source, flk::PCAP_SRC_IFLOCAL, "ignored", "2002", "eth1",
                                        errbuf));
    EXPECT_STREQ("rpcap://eth1", source);
    // "file://" takes 7 characters and the terminating zero one.
    const std::string fits(flk::PCAP_BUF_SIZE - 8, 'f');
    ASSERT_EQ(0, flk::pcap_createsrcstr(source, flk::PCAP_SRC_FILE, nullptr, nullptr, fits.c_str(),
                                        errbuf));
    EXPECT_EQ("file://" + fits, std::string(source));

    std::snprintf(source, sizeof(source), "untouched");
    EXPECT_EQ(-1, flk::pcap_createsrcstr(source, flk::PCAP_SRC_FILE, nullptr, nullptr,
                                         (fits + "x").c_str(), errbuf));
    EXPECT_STREQ("untouched", source);
    // "rpcap://" is one longer, so the same name no longer fits; remote, unknown and nameless
    // sources are refused with a reason.
    const struct {
        int type;
        const char* name;
    } refused[] = {{flk::PCAP_SRC_IFLOCAL, fits.c_str()},
                   {0, "eth0"},
                   {4, "eth0"},
                   {flk::PCAP_SRC_FILE, nullptr}};
    for (const auto& r : refused) {
        errbuf[0] = '\0';
        EXPECT_EQ(-1, flk::pcap_createsrcstr(source, r.type, "host", "2002", r.name, errbuf))
            << r.type;
        EXPECT_STRNE("", errbuf) << r.type;
    }
}

TEST(PcapOpenTest, CaptureFileReadsBackInOrderThroughItsFileSource) {
    const std::string path =
        ::testing::TempDir() + "flk_open_" + std::to_string(::getpid()) + ".pcap";
    std::vector<Frame> frames = {Frame(60, 0x11), Frame(1496), Frame{0xde, 0xad, 0xbe, 0xef}};
    for (std::size_t i = 0; i < frames[1].size(); ++i) frames[1][i] = static_cast<u_char>(i * 7);
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    ASSERT_NE(nullptr, dumper) << pcap_geterr(dead);
    for (const Frame& f : frames) {
        pcap_pkthdr h{};
        h.caplen = h.len = static_cast<bpf_u_int32>(f.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, f.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);

    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = flk::pcap_open(("file://" + path).c_str(), 65536,
                                    flk::PCAP_OPENFLAG_PROMISCUOUS, 1000, nullptr, errbuf);
    ASSERT_NE(nullptr, handle) << errbuf;
    EXPECT_EQ(DLT_EN10MB, pcap_datalink(handle));
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    ASSERT_EQ(1, flk::pcap_next_ex(handle, &header, &data));
    EXPECT_EQ(frames[0], Frame(data, data + header->caplen));
    // The rest through dispatch, in order, then the end of the file.
    std::vector<Frame> rest;
    const auto collect = [](u_char* user, const pcap_pkthdr* h, const u_char* bytes) {
        reinterpret_cast<std::vector<Frame>*>(user)->emplace_back(bytes, bytes + h->caplen);
    };
    EXPECT_EQ(2, flk::pcap_dispatch(handle, -1, collect, reinterpret_cast<u_char*>(&rest)));
    EXPECT_EQ(std::vector<Frame>(frames.begin() + 1, frames.end()), rest);
    EXPECT_EQ(PCAP_ERROR_BREAK, flk::pcap_next_ex(handle, &header, &data));
    flk::pcap_close(handle);
    std::remove(path.c_str());
}

TEST(PcapOpenTest, OnlyLocalSourcesOpenAndOnlyTheLocalDeviceSourceIsListed) {
    const std::string missing =
        "file://" + ::testing::TempDir() + "flk_missing_" + std::to_string(::getpid());
    for (const char* source :
         {missing.c_str(), "file://", "rpcap://", "rpcap://host:2002/eth0", "udp://eth0"}) {
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        EXPECT_EQ(nullptr, flk::pcap_open(source, 65536, 1, 10, nullptr, errbuf)) << source;
        EXPECT_STRNE("", errbuf) << source;
    }
    for (const char* source : {"file:///tmp", "rpcap://host/"}) {
        pcap_if_t* list = reinterpret_cast<pcap_if_t*>(&list);  // must be overwritten
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        EXPECT_EQ(-1, flk::pcap_findalldevs_ex(source, nullptr, &list, errbuf)) << source;
        EXPECT_EQ(nullptr, list) << source;
        EXPECT_STRNE("", errbuf) << source;
    }
}

TEST(PcapHandleRegistryTest, RegisteredTimeOutUntilForgottenAndNoStaleStateAfterwards) {
    // The registry only keys on the address, so any distinct addresses stand in for handles.
    int slots[2];
    pcap_t* const a = reinterpret_cast<pcap_t*>(&slots[0]);
    pcap_t* const b = reinterpret_cast<pcap_t*>(&slots[1]);
    using Registry = flk::CPcapHandleRegistry;
    Registry::Register(a, 1000);
    EXPECT_EQ(1000, Registry::Obtain(a)->m_readTimeoutMs);
    EXPECT_EQ(Registry::DefaultReadTimeoutMs, Registry::Obtain(b)->m_readTimeoutMs);
    Registry::Obtain(a)->m_breakRequested = true;
    EXPECT_TRUE(Registry::Forget(a));
    EXPECT_FALSE(Registry::Forget(a));
    // A handle opened later at the same address inherits neither time-out nor break request.
    EXPECT_EQ(Registry::DefaultReadTimeoutMs, Registry::Obtain(a)->m_readTimeoutMs);
    EXPECT_FALSE(Registry::Obtain(a)->m_breakRequested);
    Registry::Obtain(a)->m_breakRequested = true;
    Registry::Register(a, 10);
    EXPECT_FALSE(Registry::Obtain(a)->m_breakRequested);
    Registry::Forget(a);
    Registry::Forget(b);
}

using QueuePtr = std::unique_ptr<flk::pcap_send_queue, decltype(&flk::pcap_sendqueue_destroy)>;
QueuePtr Alloc(u_int size) {
    return QueuePtr(flk::pcap_sendqueue_alloc(size), &flk::pcap_sendqueue_destroy);
}

TEST(PcapSendQueueTest, RecordsAreHeaderThenFrameBackToBackAndRefusedOnceFull) {
    const u_char first[] = {1, 2, 3, 4, 5}, second[] = {0xa0, 0xa1, 0xa2};
    const pcap_pkthdr h1{{7, 9}, 5, 60}, h2{{0, 0}, 3, 3}, empty{{0, 0}, 0, 0};
    QueuePtr q = Alloc(2 * 16 + 5 + 3 + 15);  // one byte short of a third, empty, record
    ASSERT_EQ(0, flk::pcap_sendqueue_queue(q.get(), &h1, first));
    ASSERT_EQ(0, flk::pcap_sendqueue_queue(q.get(), &h2, second));
    // Headers are ts_sec, ts_usec, caplen, len as 32-bit words in host (here little-endian) order.
    const std::vector<u_char> expected{
        7,    0,    0,   0, 9, 0, 0, 0, 5, 0, 0, 0, 60, 0, 0, 0,  // 0: record 1
        1,    2,    3,   4, 5,                                    // 16: its frame
        0,    0,    0,   0, 0, 0, 0, 0, 3, 0, 0, 0, 3,  0, 0, 0,  // 21: record 2
        0xa0, 0xa1, 0xa2};                                        // 37: its frame
    EXPECT_EQ(expected, std::vector<u_char>(q->buffer, q->buffer + q->len));
    EXPECT_EQ(-1, flk::pcap_sendqueue_queue(q.get(), &empty, nullptr));
    // A caplen that would wrap a 32-bit sum must not look small.
    const pcap_pkthdr huge{{0, 0}, 0xFFFFFFF8u, 0xFFFFFFF8u};
    EXPECT_EQ(-1, flk::pcap_sendqueue_queue(q.get(), &huge, first));
    EXPECT_EQ(expected.size(), q->len) << "a refused record leaves the queue as it was";
    EXPECT_EQ(0, flk::pcap_sendqueue_queue(Alloc(16).get(), &empty, nullptr)) << "exact fit";
    QueuePtr none = Alloc(0);
    ASSERT_NE(nullptr, none);
    EXPECT_EQ(-1, flk::pcap_sendqueue_queue(none.get(), &empty, nullptr));

    // A handle without a link sends nothing and says why, briefly: the bulk sender logs the
    // reason only when it is shorter than 100 characters.
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    EXPECT_EQ(0u, flk::pcap_sendqueue_transmit(dead, none.get(), 1)) << "an empty queue";
    EXPECT_EQ(0u, flk::pcap_sendqueue_transmit(dead, q.get(), 1));
    const std::string reason = pcap_geterr(dead);
    EXPECT_FALSE(reason.empty());
    EXPECT_LT(reason.size(), 100u) << reason;
    flk::pcap_close(dead);
}

}  // namespace

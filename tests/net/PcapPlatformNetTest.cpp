// The capture-library layer on a real link: opening and listing devices inside a namespace, the
// bulk send arriving intact, and reads that return on a silent link and on a break.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <ferrolink/platform/PcapExtensions.h>
#include <ferrolink/platform/PcapSendQueue.h>
#include <ferrolink/platform/PcapTimedRead.h>
#include "VethRig.h"

namespace flk = ferrolink::platform;
using ESide = CVethRig::ESide;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

using HandlePtr = std::unique_ptr<pcap_t, decltype(&flk::pcap_close)>;
using QueuePtr = std::unique_ptr<flk::pcap_send_queue, decltype(&flk::pcap_sendqueue_destroy)>;
using Frame = std::vector<u_char>;

// 0 destination, 6 source (both locally administered), 12 EtherType 0x88B5 (local
// experimental), 14 sequence number (big-endian), 18.. a pattern that differs per frame.
Frame MakeFrame(std::uint32_t sequence, std::size_t length) {
    Frame f = {0x02, 0, 0, 0, 0, 0x02, 0x02, 0, 0, 0, 0, 0x01, 0x88, 0xB5};
    for (int shift = 24; shift >= 0; shift -= 8)
        f.push_back(static_cast<u_char>(sequence >> shift));
    for (std::size_t i = f.size(); i < length; ++i)
        f.push_back(static_cast<u_char>(sequence * 31 + i));
    return f;
}

// A handle opened by us, or by a host with plain libpcap (blocking, its default ring), which the
// layer must serve as well.
struct SOpener {
    const char* name;
    bool ours;
    int readTimeoutMs;
};
const SOpener Ours{"pcap_open", true, 10};
const SOpener OursSlow{"pcap_open 1000 ms", true, 1000};
const SOpener Plain{"pcap_open_live", false, 10};

HandlePtr Open(CVethRig& rig, ESide side, const SOpener& how, std::string& error) {
    pcap_t* p = rig.RunIn(side, [&] {
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        const std::string& device = rig.Interface(side);
        pcap_t* handle =
            how.ours
                ? flk::pcap_open(("rpcap://" + device).c_str(), 65536,
                                 flk::PCAP_OPENFLAG_PROMISCUOUS, how.readTimeoutMs, nullptr, errbuf)
                : pcap_open_live(device.c_str(), 65536, 1, how.readTimeoutMs, errbuf);
        error = errbuf;
        return handle;
    });
    return HandlePtr(p, &flk::pcap_close);
}

// Holds everything a test sends, so the check never depends on the reader keeping pace.
HandlePtr OpenRoomyCapture(CVethRig& rig, ESide side) {
    pcap_t* p = rig.RunIn(side, [&] {
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        pcap_t* handle = pcap_create(rig.Interface(side).c_str(), errbuf);
        if (!handle) return handle;
        pcap_set_snaplen(handle, 2048);  // ring slots sized for our frames, not for 256 KiB
        pcap_set_buffer_size(handle, 64 << 20);
        pcap_set_immediate_mode(handle, 1);
        bpf_program filter{};
        if (pcap_activate(handle) < 0 ||
            pcap_compile(handle, &filter, "ether proto 0x88b5", 1, 0) != 0 ||
            pcap_setfilter(handle, &filter) != 0) {
            pcap_close(handle);
            handle = nullptr;
        }
        pcap_freecode(&filter);
        return handle;
    });
    return HandlePtr(p, &flk::pcap_close);
}

void Collect(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    reinterpret_cast<std::vector<Frame>*>(user)->emplace_back(bytes, bytes + header->caplen);
}
void Ignore(u_char*, const pcap_pkthdr*, const u_char*) {}

class PcapPlatformNetTest : public VethRigTest {
protected:
    // Frames of 1496 bytes, each different, sent in one queue from ns A to a capture in ns B.
    void ExpectQueueArrivesIntact(const SOpener& sender, std::uint32_t frameCount) {
        SCOPED_TRACE(sender.name);
        constexpr std::size_t FrameLength = 1496;
        HandlePtr capture = OpenRoomyCapture(*m_rig, ESide::B);
        ASSERT_NE(nullptr, capture);
        std::string error;
        HandlePtr out = Open(*m_rig, ESide::A, sender, error);
        ASSERT_NE(nullptr, out) << error;

        std::vector<Frame> frames;
        QueuePtr queue(flk::pcap_sendqueue_alloc(frameCount *
                                                 (flk::SENDQUEUE_RECORD_HEADER_SIZE + FrameLength)),
                       &flk::pcap_sendqueue_destroy);
        for (std::uint32_t i = 0; i < frameCount; ++i) {
            frames.push_back(MakeFrame(i, FrameLength));
            pcap_pkthdr header{};
            header.caplen = header.len = FrameLength;
            ASSERT_EQ(0, flk::pcap_sendqueue_queue(queue.get(), &header, frames.back().data()));
        }
        const auto start = Clock::now();
        const u_int sent = flk::pcap_sendqueue_transmit(out.get(), queue.get(), 1);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        ASSERT_EQ(queue->len, sent) << pcap_geterr(out.get());

        std::vector<Frame> received;
        for (const auto deadline = Clock::now() + milliseconds(10000);
             received.size() < frameCount && Clock::now() < deadline;)
            ASSERT_GE(flk::pcap_dispatch(capture.get(), -1, Collect,
                                         reinterpret_cast<u_char*>(&received)),
                      0);
        pcap_stat stats{};
        pcap_stats(capture.get(), &stats);
        ASSERT_EQ(frameCount, received.size()) << "dropped by the capture: " << stats.ps_drop;
        for (std::uint32_t i = 0; i < frameCount; ++i)
            ASSERT_EQ(frames[i], received[i]) << "frame " << i << " differs or is out of order";
        std::printf("[ sendqueue ] %s: %u frames of %zu bytes in %.2f ms, %.0f frames/s\n",
                    sender.name, frameCount, FrameLength, seconds * 1e3, frameCount / seconds);
    }
};

TEST_F(PcapPlatformNetTest, OpensAndListsTheDevicesOfItsOwnNamespaceOnly) {
    const std::string own = "rpcap://" + m_rig->Interface(ESide::A);
    const std::string peer = "rpcap://" + m_rig->Interface(ESide::B);
    m_rig->RunIn(ESide::A, [&] {
        pcap_if_t* list = nullptr;
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        ASSERT_EQ(0, flk::pcap_findalldevs_ex("rpcap://", nullptr, &list, errbuf)) << errbuf;
        std::vector<std::string> names;
        for (pcap_if_t* d = list; d; d = d->next) names.push_back(d->name);
        flk::pcap_freealldevs(list);
        // lo, "any" and libpcap's other pseudo devices are left out; the peer is elsewhere.
        EXPECT_EQ(std::vector<std::string>{own}, names);

        pcap_t* p = flk::pcap_open(own.c_str(), 1496, 1, 10, nullptr, errbuf);
        ASSERT_NE(nullptr, p) << errbuf;
        EXPECT_EQ(DLT_EN10MB, pcap_datalink(p));
        EXPECT_EQ(1496, pcap_snapshot(p));
        flk::pcap_close(p);
        for (const std::string& absent : {peer, std::string("rpcap://flknosuchdev")}) {
            errbuf[0] = '\0';
            EXPECT_EQ(nullptr, flk::pcap_open(absent.c_str(), 1496, 1, 10, nullptr, errbuf));
            EXPECT_STRNE("", errbuf) << absent;
        }
    });
}

TEST_F(PcapPlatformNetTest, QueueOf2000FramesArrivesCompleteInOrderAndByteExact) {
    ExpectQueueArrivesIntact(Ours, 2000);
    ExpectQueueArrivesIntact(Plain, 2000);
}

// A rate limiter whose queue holds a few frames only: the device refuses most frames at first
// (ENOBUFS), and every one of them must be sent again until it is taken.
TEST_F(PcapPlatformNetTest, QueueArrivesIntactThroughADeviceQueueThatOverflows) {
    const std::string ns = m_rig->Namespace(ESide::A);
    const std::string device = m_rig->Interface(ESide::A);
    std::string output;
    ASSERT_TRUE(CVethRig::RunTc({"-n", ns, "qdisc", "add", "dev", device, "root", "tbf", "rate",
                                 "200mbit", "burst", "16kb", "limit", "24kb"},
                                &output))
        << output;
    ExpectQueueArrivesIntact(Ours, 1000);
    ASSERT_TRUE(CVethRig::RunTc({"-n", ns, "-s", "qdisc", "show", "dev", device}, &output));
    const std::size_t at = output.find("dropped ");
    ASSERT_NE(std::string::npos, at) << output;
    EXPECT_GT(std::stoul(output.substr(at + 8)), 0u) << "never overflowed: " << output;
}

// libpcap alone never returns here: nothing is sent on the link, whatever the read time-out.
TEST_F(PcapPlatformNetTest, ReadsReturnNothingAfterTheHandlesTimeOutOnASilentLink) {
    for (const SOpener* how : {&Ours, &OursSlow, &Plain}) {
        SCOPED_TRACE(how->name);
        std::string error;
        HandlePtr p = Open(*m_rig, ESide::A, *how, error);
        ASSERT_NE(nullptr, p) << error;
        for (bool dispatch : {false, true}) {
            pcap_pkthdr* header = nullptr;
            const u_char* data = nullptr;
            const auto start = Clock::now();
            EXPECT_EQ(0, dispatch ? flk::pcap_dispatch(p.get(), 100, Ignore, nullptr)
                                  : flk::pcap_next_ex(p.get(), &header, &data));
            const auto waited = Clock::now() - start;
            EXPECT_GE(waited, milliseconds(how->readTimeoutMs * 9 / 10)) << "must wait, not spin";
            EXPECT_LT(waited, milliseconds(how->readTimeoutMs + 490));
        }
    }
}

// The receive thread's loop: dispatch until a negative result, stopped from another thread.
TEST_F(PcapPlatformNetTest, BreakEndsADispatchLoopPromptlyOnASilentLink) {
    for (const SOpener* how : {&Ours, &OursSlow, &Plain}) {
        SCOPED_TRACE(how->name);
        std::string error;
        HandlePtr p = Open(*m_rig, ESide::A, *how, error);
        ASSERT_NE(nullptr, p) << error;
        std::atomic<bool> running{true};
        auto loop = std::async(std::launch::async, [&] {
            int result = 0;
            for (const auto limit = Clock::now() + milliseconds(3000);
                 result >= 0 && Clock::now() < limit;)
                result = flk::pcap_dispatch(p.get(), 100, Ignore, nullptr);
            running = false;
            return result;
        });
        std::this_thread::sleep_for(milliseconds(50));
        ASSERT_TRUE(running) << "the loop ended before the break";
        const auto asked = Clock::now();
        flk::pcap_breakloop(p.get());
        EXPECT_EQ(PCAP_ERROR_BREAK, loop.get());
        EXPECT_LT(Clock::now() - asked, milliseconds(500));
    }
}

// libpcap's own flag outlives a break reported on a silent link; the frame that later clears it
// must still be handed out, not turned into a second break.
TEST_F(PcapPlatformNetTest, FramesAreReadNormallyAfterABreakWasReported) {
    for (const SOpener* how : {&Ours, &Plain}) {
        SCOPED_TRACE(how->name);
        std::string error;
        HandlePtr in = Open(*m_rig, ESide::A, *how, error);
        ASSERT_NE(nullptr, in) << error;
        HandlePtr out = Open(*m_rig, ESide::B, Ours, error);
        ASSERT_NE(nullptr, out) << error;
        flk::pcap_breakloop(in.get());
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        ASSERT_EQ(PCAP_ERROR_BREAK, flk::pcap_next_ex(in.get(), &header, &data));

        const Frame frame = MakeFrame(42, 300);
        ASSERT_EQ(0, pcap_sendpacket(out.get(), frame.data(), static_cast<int>(frame.size())));
        int result = 0;
        for (const auto deadline = Clock::now() + milliseconds(2000);
             result == 0 && Clock::now() < deadline;)
            result = flk::pcap_next_ex(in.get(), &header, &data);
        ASSERT_EQ(1, result);
        EXPECT_EQ(frame, Frame(data, data + header->caplen));
        EXPECT_EQ(0, flk::pcap_next_ex(in.get(), &header, &data)) << "silent again";
    }
}

TEST_F(PcapPlatformNetTest, VanishedInterfaceEndsReadsAndSendsWithAReason) {
    std::string error;
    HandlePtr p = Open(*m_rig, ESide::A, Ours, error);
    ASSERT_NE(nullptr, p) << error;
    ASSERT_TRUE(CVethRig::RunIp(
        {"-n", m_rig->Namespace(ESide::A), "link", "delete", "dev", m_rig->Interface(ESide::A)},
        &error))
        << error;
    int result = 0;
    for (const auto deadline = Clock::now() + milliseconds(3000);
         result == 0 && Clock::now() < deadline;)
        result = flk::pcap_dispatch(p.get(), 100, Ignore, nullptr);
    EXPECT_EQ(PCAP_ERROR, result);
    EXPECT_NE(std::string::npos, std::string(pcap_geterr(p.get())).find("disappeared"));

    QueuePtr queue(flk::pcap_sendqueue_alloc(200), &flk::pcap_sendqueue_destroy);
    const Frame frame = MakeFrame(1, 60);
    pcap_pkthdr header{};
    header.caplen = header.len = 60;
    ASSERT_EQ(0, flk::pcap_sendqueue_queue(queue.get(), &header, frame.data()));
    EXPECT_EQ(0u, flk::pcap_sendqueue_transmit(p.get(), queue.get(), 1));
    EXPECT_STRNE("", pcap_geterr(p.get()));
}

}  // namespace

// The capture layer's reads on a real link: they return on a silent link after the handle's
// time-out (libpcap alone never does), a break asked for between reads ends the next one and
// leaves the handle usable, and a vanished interface ends reads and sends with a reason. A break
// during a long wait is the receive thread's stop (SendReceiveNetTest.cpp).
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include <ferrolink/platform/PcapSendQueue.h>
#include <ferrolink/platform/PcapTimedRead.h>
#include "VethRig.h"

namespace {

namespace flk = ferrolink::platform;
using ESide = CVethRig::ESide;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using PcapPlatformNetTest = VethRigTest;

void Ignore(u_char*, const pcap_pkthdr*, const u_char*) {}

TEST_F(PcapPlatformNetTest, ReadsTimeOutOnASilentLinkAndReadOnAfterABreak) {
    // Ours with a short and a long time-out, and a host's blocking libpcap handle.
    const struct {
        bool ours;
        int timeoutMs;
    } openers[] = {{true, 10}, {true, 1000}, {false, 10}};
    PcapHandle out = m_rig->Open(ESide::B, true);
    ASSERT_TRUE(out);
    for (const auto& how : openers) {
        SCOPED_TRACE(std::string(how.ours ? "ours " : "plain ") + std::to_string(how.timeoutMs));
        PcapHandle p = m_rig->Open(ESide::A, how.ours, how.timeoutMs);
        ASSERT_TRUE(p);
        EXPECT_EQ(how.ours ? 1496 : 65536, pcap_snapshot(p.get())) << "the snap length asked for";
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        for (bool dispatch : {false, true}) {
            const auto start = Clock::now();
            EXPECT_EQ(0, dispatch ? flk::pcap_dispatch(p.get(), 100, Ignore, nullptr)
                                  : flk::pcap_next_ex(p.get(), &header, &data));
            const auto waited = Clock::now() - start;
            EXPECT_GE(waited, milliseconds(how.timeoutMs * 9 / 10)) << "must wait, not spin";
            EXPECT_LT(waited, milliseconds(how.timeoutMs + 490));
        }

        // A break asked for between reads ends the next one. libpcap's own flag outlives a break
        // reported on a silent link; the frame that later clears it must still be handed out,
        // not turned into a second break.
        flk::pcap_breakloop(p.get());
        ASSERT_EQ(PCAP_ERROR_BREAK, flk::pcap_next_ex(p.get(), &header, &data));
        Frame frame(300);
        for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<unsigned char>(i * 7);
        frame[0] = 0x02;  // a locally administered destination, nobody's
        ASSERT_EQ(0, pcap_sendpacket(out.get(), frame.data(), static_cast<int>(frame.size())));
        int result = 0;
        for (const auto deadline = Clock::now() + milliseconds(2000);
             result == 0 && Clock::now() < deadline;)
            result = flk::pcap_next_ex(p.get(), &header, &data);
        ASSERT_EQ(1, result);
        EXPECT_EQ(frame, Frame(data, data + header->caplen));
        EXPECT_EQ(0, flk::pcap_next_ex(p.get(), &header, &data)) << "silent again";
    }
}

TEST_F(PcapPlatformNetTest, VanishedInterfaceEndsReadsAndSendsWithAReason) {
    PcapHandle p = m_rig->Open(ESide::A, true);
    ASSERT_TRUE(p);
    ASSERT_TRUE(CVethRig::Sh("ip -n " + m_rig->Namespace(ESide::A) + " link delete dev " +
                             m_rig->Interface(ESide::A)));
    int result = 0;
    for (const auto deadline = Clock::now() + milliseconds(3000);
         result == 0 && Clock::now() < deadline;)
        result = flk::pcap_dispatch(p.get(), 100, Ignore, nullptr);
    EXPECT_EQ(PCAP_ERROR, result);
    EXPECT_NE(std::string::npos, std::string(pcap_geterr(p.get())).find("disappeared"));

    flk::pcap_send_queue* queue = flk::pcap_sendqueue_alloc(200);
    const Frame frame(60, 0x02);
    pcap_pkthdr header{};
    header.caplen = header.len = 60;
    ASSERT_EQ(0, flk::pcap_sendqueue_queue(queue, &header, frame.data()));
    EXPECT_EQ(0u, flk::pcap_sendqueue_transmit(p.get(), queue, 1));
    EXPECT_STRNE("", pcap_geterr(p.get()));
    flk::pcap_sendqueue_destroy(queue);
}

}  // namespace

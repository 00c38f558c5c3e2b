// Frames on a real link, both ways. The capture layer's reads return on a silent link after the
// handle's time-out (libpcap alone never does), a break asked for between reads ends the next one
// and leaves the handle usable, the receive thread stops promptly, and a vanished interface ends
// reads and sends with a reason. The bulk send and the single sends byte for byte at the far end,
// and reply detection.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <ferrolink/platform/Link.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/receive/ReceiveWPCapPacket.h>
#include <ferrolink/transmit/Ferrolink.h>
#include "VethRig.h"
#include "support/LogCapture.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

namespace flk = ferrolink::platform;
using ESide = CVethRig::ESide;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using SendReceiveNetTest = VethRigTest;

std::uint32_t Word(const Frame& f, std::size_t at) {
    return (std::uint32_t{f[at]} << 24) | (std::uint32_t{f[at + 1]} << 16) |
           (std::uint32_t{f[at + 2]} << 8) | f[at + 3];
}

void Ignore(u_char*, const pcap_pkthdr*, const u_char*) {}

TEST_F(SendReceiveNetTest, ReceiverStopsReadsTimeOutReadOnAfterABreakAndEndWhenTheLinkVanishes) {
    PcapHandle out = m_rig->Open(ESide::B, true);
    ASSERT_TRUE(out);
    Frame frame(300);
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<unsigned char>(i * 7);
    frame[0] = 0x02;  // a locally administered destination, nobody's
    // A host's blocking libpcap handle (the default time-out), then ours with a long one.
    for (const bool ours : {false, true}) {
        SCOPED_TRACE(ours ? "ours" : "plain");
        const int timeoutMs = ours ? 1000 : 10;
        PcapHandle p = m_rig->Open(ESide::A, ours, timeoutMs);
        ASSERT_TRUE(p);
        EXPECT_EQ(ours ? 1496 : 65536, pcap_snapshot(p.get())) << "the snap length asked for";
        {  // The receive thread stops at once, however long a read may wait on the handle (a
           // handle of its own: a stop may leave a break pending).
            PcapHandle r = m_rig->Open(ESide::A, ours, timeoutMs);
            CLogCapture log;
            CReceiveWPCapPacket receiver;
            ASSERT_TRUE(r && receiver.Create(CaptureMode_BoardToPc, r.get(), nullptr, nullptr));
            receiver.WaitReady();
            std::this_thread::sleep_for(milliseconds(100));  // inside a dispatch by now
            const auto start = Clock::now();
            receiver.Stop();
            ASSERT_TRUE(receiver.WaitExit(2000));
            EXPECT_LT(Clock::now() - start, milliseconds(500));
            EXPECT_LE(log.Count("stop by function : pcap_breakloop()", 1), 1) << "no spinning";
            for (const auto& r : log.Records()) EXPECT_NE(2, r.severity) << r.message;
            // Stopped at once, in whatever phase of its start the thread is.
            for (int i = 0; i < 200; ++i) {
                CReceiveWPCapPacket quick;
                ASSERT_TRUE(quick.Create(CaptureMode_BoardToPc, r.get(), nullptr, nullptr)) << i;
                quick.Stop();
                ASSERT_TRUE(quick.WaitExit(1000)) << i;
            }
        }
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        for (bool dispatch : {false, true}) {
            const auto start = Clock::now();
            EXPECT_EQ(0, dispatch ? flk::CLink::ReadBatch(p.get(), 100, Ignore, nullptr)
                                  : flk::CLink::ReadOne(p.get(), &header, &data));
            const auto waited = Clock::now() - start;
            EXPECT_GE(waited, milliseconds(timeoutMs * 9 / 10)) << "must wait, not spin";
            EXPECT_LT(waited, milliseconds(timeoutMs + 490));
        }
        // libpcap's own flag outlives a break reported on a silent link; the frame that later
        // clears it must still be handed out, not turned into a second break.
        flk::CLink::Break(p.get());
        ASSERT_EQ(PCAP_ERROR_BREAK, flk::CLink::ReadOne(p.get(), &header, &data));
        ASSERT_EQ(0, pcap_sendpacket(out.get(), frame.data(), static_cast<int>(frame.size())));
        EXPECT_EQ(std::vector<Frame>{frame},
                  CVethRig::Read(p.get(), milliseconds(ours ? 1500 : 300)));
        if (!ours) continue;

        ASSERT_TRUE(CVethRig::Sh("ip -n " + m_rig->Namespace(ESide::A) + " link delete dev " +
                                 m_rig->Interface(ESide::A)));
        int result = 0;
        for (const auto end = Clock::now() + milliseconds(3000); !result && Clock::now() < end;)
            result = flk::CLink::ReadBatch(p.get(), 100, Ignore, nullptr);
        EXPECT_EQ(PCAP_ERROR, result);
        EXPECT_NE(std::string::npos, std::string(pcap_geterr(p.get())).find("disappeared"));
        // A bulk send on it sends nothing and logs why.
        CActualPrintData gone;
        gone.UseBuffer(frame.data(), 120);
        gone.CutIntoPackets(60);
        CLogCapture log;
        EXPECT_TRUE(FLK_SendPrintData(p.get(), &gone, 1));
        ASSERT_EQ(1u, log.Records().size());
        EXPECT_EQ(0u, log.Records()[0].message.find("sendCount = 0, ")) << log.Messages()[0];
        EXPECT_GT(log.Records()[0].message.size(), 15u) << "no reason given";
    }
}

// The far end's receiver keeps every frame it is given.
struct SCollected {
    std::mutex mutex;
    std::vector<Frame> frames;
};
bool Collect(const unsigned char* frame, int length, void* user) {
    auto* collected = static_cast<SCollected*>(user);
    std::lock_guard<std::mutex> lock(collected->mutex);
    collected->frames.emplace_back(frame, frame + length);
    return true;
}

TEST_F(SendReceiveNetTest, SingleFramesReplyDetectionAndABulkJobWholeThroughAFullDeviceQueue) {
    // 20000 slices (29 MB), every fifth short.
    std::vector<unsigned char> data;
    CActualPrintData print;
    for (int i = 0; i < 20000; ++i) {
        const int length = (i % 5 == 4) ? 37 + i % 100 : 1468;
        print.m_packetList.push_back({static_cast<std::int32_t>(data.size()), length});
        for (int k = 0; k < length; ++k) data.push_back(static_cast<unsigned char>(i * 13 + k));
    }
    print.UseBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    print.m_packetDataSize = 1468;
    // The far end holds a whole 29 MB job in its ring, as the board's own capture does: a
    // receiver slowed down (a sanitizer build) must not lose frames the sender did put out.
    PcapHandle in(
        m_rig->RunIn(ESide::B,
                     [&] {
                         char errbuf[PCAP_ERRBUF_SIZE] = "";
                         pcap_t* p = pcap_create(m_rig->Interface(ESide::B).c_str(), errbuf);
                         if (p &&
                             (pcap_set_snaplen(p, 1496) != 0 || pcap_set_promisc(p, 1) != 0 ||
                              pcap_set_timeout(p, 10) != 0 ||
                              pcap_set_buffer_size(p, 64 << 20) != 0 || pcap_activate(p) < 0)) {
                             pcap_close(p);
                             p = nullptr;
                         }
                         return p;
                     }),
        &flk::CLink::Close);
    PcapHandle ours = m_rig->Open(ESide::A, true);
    PcapHandle plain = m_rig->Open(ESide::A, false);
    ASSERT_TRUE(in && ours && plain);

    // Single frames first, read plainly at the far end.
    const unsigned char abc[3] = {'a', 'b', 'c'};
    ASSERT_TRUE(CNetworkHelper::SendOnePacket_PrintData(ours.get(), 1, 0, abc, 3, true));
    ASSERT_TRUE(CNetworkHelper::SendOnePacket_PrintData(ours.get(), 1, 0, abc, 3, false));
    ASSERT_TRUE(
        CNetworkHelper::SendOnePacket_PrintData(ours.get(), 2, 5, PaddingValue_Sequence, abc, 3));
    SBufferData<unsigned char> corrupt;
    ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(3, 0, PaddingValue_Zero, 3, abc, 3, corrupt));
    corrupt.m_pBuffer[87] ^= 0x10;
    EXPECT_FALSE(CNetworkHelper::SendOnePacket(ours.get(), corrupt, true)) << "checked: refused";
    EXPECT_TRUE(CNetworkHelper::SendOnePacket(ours.get(), corrupt, false)) << "unchecked: sent";
    const std::vector<Frame> frames = CVethRig::Read(in.get(), milliseconds(500));
    ASSERT_EQ(4u, frames.size()) << "the refused frame stays at home";
    // The 88-byte frame of "abc", frame 1, packet 0, zero padding: checksum at 84.
    EXPECT_EQ(Frame({0xf4, 0xbc, 0xba, 0xcb}), Frame(frames[0].begin() + 84, frames[0].end()));
    EXPECT_EQ(Frame({0xf5, 0xbc, 0xba, 0xcb}), Frame(frames[1].begin() + 84, frames[1].end()))
        << "exactly the altered checksum";
    EXPECT_EQ(5u, Word(frames[2], 20));
    EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(frames[2].data(), 88));
    EXPECT_EQ(3u, Word(frames[3], 16)) << "the unchecked corrupt frame";

    // Reply detection waits only for the board's frames to the PC, and no longer than asked.
    Frame reply(88, 0);
    std::memcpy(reply.data(), CConstValue::GetPcMac(), 6);
    std::memcpy(reply.data() + 6, CConstValue::BoardMac_Get(), 6);
    Frame elsewhere = reply;
    elsewhere[0] = 0x02;
    for (const Frame* sent : {&elsewhere, &reply}) {
        std::thread sender([&] {
            std::this_thread::sleep_for(milliseconds(50));
            pcap_sendpacket(in.get(), sent->data(), 88);
        });
        const auto start = Clock::now();
        EXPECT_EQ(sent == &reply, CNetworkHelper::Detect_ReplyPacket(ours.get(), 300));
        const auto waited = Clock::now() - start;
        sender.join();
        EXPECT_GE(waited, milliseconds(sent == &reply ? 40 : 290));
        EXPECT_LT(waited, milliseconds(800)) << "the time-out ends the wait";
    }

    // The bulk job, received as a monitor would.
    SCollected board;
    CReceiveWPCapPacket receiver;
    ASSERT_TRUE(receiver.Create(CaptureMode_PcToBoard, in.get(), &Collect, &board));
    receiver.WaitReady();

    // Each send from `first` on brings the slices from there, in order and byte-exact, and no
    // frame more.
    const auto sendFrom = [&](pcap_t* out, std::size_t first) {
        print.m_startPacketIndex = static_cast<std::int32_t>(first);
        ASSERT_TRUE(FLK_SendPrintData(out, &print, 7));
        const std::size_t expected = print.m_packetList.size() - first;
        const auto size = [&] {
            std::lock_guard<std::mutex> lock(board.mutex);
            return board.frames.size();
        };
        for (const auto end = Clock::now() + milliseconds(10000);
             size() < expected && Clock::now() < end;)
            std::this_thread::sleep_for(milliseconds(5));
        std::this_thread::sleep_for(milliseconds(50));
        std::lock_guard<std::mutex> lock(board.mutex);
        ASSERT_EQ(expected, board.frames.size());
        for (std::size_t i = first; i < print.m_packetList.size(); ++i) {
            const Frame& f = board.frames[i - first];
            // 20 packet index, 24 data, 1492 checksum
            ASSERT_EQ(1496u, f.size()) << i;
            ASSERT_EQ(i, Word(f, 20)) << "packet index order";
            ASSERT_EQ(0, std::memcmp(f.data() + 24, data.data() + print.m_packetList[i].offset,
                                     static_cast<std::size_t>(print.m_packetList[i].length)))
                << i;
        }
        board.frames.clear();
    };
    sendFrom(ours.get(), 0);
    sendFrom(plain.get(), 19000);  // a resend from packet 19000 on the host's handle

    // A rate limiter whose queue holds a few frames only: the device refuses most frames at
    // first (ENOBUFS), and every one of them must be sent again until it is taken.
    const std::string tc = "tc -n " + m_rig->Namespace(ESide::A);
    const std::string device = " dev " + m_rig->Interface(ESide::A);
    std::string shown;
    ASSERT_TRUE(CVethRig::Sh(
        tc + " qdisc add" + device + " root tbf rate 200mbit burst 16kb limit 24kb", &shown))
        << shown;
    sendFrom(ours.get(), 19000);
    ASSERT_TRUE(CVethRig::Sh(tc + " -s qdisc show" + device, &shown));
    const std::size_t at = shown.find("dropped ");
    ASSERT_NE(std::string::npos, at) << shown;
    EXPECT_GT(std::stoul(shown.substr(at + 8)), 0u) << "never overflowed: " << shown;

    // A link that all but stopped, behind a queue longer than the socket buffer: the send must
    // give up after a second without progress and say so, not wait for ever for room.
    ASSERT_TRUE(CVethRig::Sh(
        tc + " qdisc replace" + device + " root tbf rate 1kbit burst 1600 limit 64mb", &shown))
        << shown;
    CLogCapture log;
    print.m_startPacketIndex = 0;
    EXPECT_TRUE(FLK_SendPrintData(ours.get(), &print, 7));
    ASSERT_EQ(1u, log.Records().size());
    EXPECT_NE(std::string::npos, log.Records()[0].message.find("stalled")) << log.Messages()[0];
}

}  // namespace

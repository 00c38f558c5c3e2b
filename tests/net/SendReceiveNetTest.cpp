// Frames on a real link, both ways: the bulk send and the single sends byte for byte at the far
// end, reply detection, and the receive thread: which frames reach the host and in what order, a
// host thread woken by a board reply, bursts without loss, and how promptly it stops.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <ferrolink/platform/PcapTimedRead.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/receive/ReceiveWPCapPacket.h>
#include <ferrolink/reply/SWaitCheckParam.h>
#include <ferrolink/reply/WaitReceivePacket.h>
#include <ferrolink/transmit/Ferrolink.h>
#include "VethRig.h"
#include "support/LogCapture.h"

namespace {

namespace flk = ferrolink::platform;
using ESide = CVethRig::ESide;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
const auto kStatusReply = static_cast<MacDataSymbolType>(0x0101);

std::uint32_t Word(const Frame& f, std::size_t at) {
    return (std::uint32_t{f[at]} << 24) | (std::uint32_t{f[at + 1]} << 16) |
           (std::uint32_t{f[at + 2]} << 8) | f[at + 3];
}
void PutWord(Frame& f, std::size_t at, std::uint32_t w) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<unsigned char>(w >> (24 - 8 * i));
}

// A frame from the board to the PC with a valid checksum; `words` fill the data area's start.
Frame FromBoard(std::uint32_t frameIndex, const std::vector<std::uint32_t>& words = {},
                std::uint16_t symbol = 3, std::size_t capacity = 60) {
    Frame f(capacity + 28, 0);
    // 0 PC MAC, 6 board MAC, 12 length, 14 symbol, 16 frame index, 24 data, end - 4 checksum
    std::memcpy(f.data(), CConstValue::GetPcMac(), 6);
    std::memcpy(f.data() + 6, CConstValue::BoardMac_Get(), 6);
    PutWord(f, 12, static_cast<std::uint32_t>(f.size() << 16 | symbol));
    PutWord(f, 16, frameIndex);
    for (std::size_t w = 0; w < words.size(); ++w) PutWord(f, 24 + 4 * w, words[w]);
    PutWord(f, f.size() - 4,
            CNetworkHelper::CheckSum_Get(f.data(), static_cast<int>(f.size()) - 4));
    return f;
}

// The host's wiring of a receiver: it keeps every frame and offers each to the awaited-reply
// descriptor.
struct SHost {
    std::mutex mutex;
    std::vector<Frame> frames;
    CWaitReceivePacket awaited{kStatusReply, 1};

    // Waits until `count` frames came or `limit` passed, then a moment more for any extra one.
    std::size_t WaitFor(std::size_t count, milliseconds limit = milliseconds(10000)) {
        const auto size = [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return frames.size();
        };
        for (const auto end = Clock::now() + limit; size() < count && Clock::now() < end;)
            std::this_thread::sleep_for(milliseconds(5));
        std::this_thread::sleep_for(milliseconds(50));
        return size();
    }
};
bool Deliver(const unsigned char* frame, int length, void* user) {
    auto* host = static_cast<SHost*>(user);
    {
        std::lock_guard<std::mutex> lock(host->mutex);
        host->frames.emplace_back(frame, frame + length);
    }
    SBufferData<unsigned char> copy;
    copy.AllocateBuffer(length);
    std::memcpy(copy.m_pBuffer, frame, static_cast<std::size_t>(length));
    host->awaited.SetFrameData(static_cast<MacDataSymbolType>((frame[14] << 8) | frame[15]), copy);
    return true;
}

using SendReceiveNetTest = VethRigTest;
using ReceiveNetTest = VethRigTest;

TEST_F(SendReceiveNetTest, BulkJobArrivesWholeFromOurHandleAHostsOwnAndThroughAFullDeviceQueue) {
    // 20000 slices (29 MB), every fifth short; the board's side receives them as a monitor would.
    std::vector<unsigned char> data;
    CActualPrintData print;
    for (int i = 0; i < 20000; ++i) {
        const int length = (i % 5 == 4) ? 37 + i % 100 : 1468;
        print.m_packetList.push_back({static_cast<std::int32_t>(data.size()), length});
        for (int k = 0; k < length; ++k) data.push_back(static_cast<unsigned char>(i * 13 + k));
    }
    print.UseBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    print.m_packetDataSize = 1468;
    PcapHandle in = m_rig->Open(ESide::B, true);
    PcapHandle ours = m_rig->Open(ESide::A, true);
    PcapHandle plain = m_rig->Open(ESide::A, false);
    ASSERT_TRUE(in && ours && plain);
    SHost board;
    board.frames.reserve(30000);  // never moved while the test reads
    CReceiveWPCapPacket receiver;
    ASSERT_TRUE(receiver.Create(CaptureMode_PcToBoard, in.get(), &Deliver, &board));
    receiver.WaitReady();

    // Each send from `first` on adds the slices from there, in order and byte-exact.
    std::size_t expected = 0;
    const auto sendFrom = [&](pcap_t* out, int first) {
        print.m_startPacketIndex = first;
        ASSERT_TRUE(FLK_SendPrintData(out, &print, 7));
        const std::size_t before = expected;
        expected += print.m_packetList.size() - static_cast<std::size_t>(first);
        ASSERT_EQ(expected, board.WaitFor(expected));
        for (std::size_t n = before; n < expected; ++n) {
            const Frame& f = board.frames[n];
            const std::size_t i = static_cast<std::size_t>(first) + n - before;
            // 20 packet index, 24 data, 1492 checksum
            ASSERT_EQ(1496u, f.size()) << n;
            ASSERT_EQ(i, Word(f, 20)) << "packet index order";
            ASSERT_EQ(0, std::memcmp(f.data() + 24, data.data() + print.m_packetList[i].offset,
                                     static_cast<std::size_t>(print.m_packetList[i].length)))
                << i;
        }
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
    pcap_stat stats{};
    pcap_stats(in.get(), &stats);
    EXPECT_EQ(0u, stats.ps_drop);
}

TEST_F(SendReceiveNetTest, SingleFramesTheDeliberatelyWrongChecksumAndReplyDetection) {
    PcapHandle out = m_rig->Open(ESide::A, true);
    PcapHandle board = m_rig->Open(ESide::B, false);
    ASSERT_TRUE(out && board);
    const unsigned char abc[3] = {'a', 'b', 'c'};
    ASSERT_TRUE(CNetworkHelper::SendOnePacket_PrintData(out.get(), 1, 0, abc, 3, true));
    ASSERT_TRUE(CNetworkHelper::SendOnePacket_PrintData(out.get(), 1, 0, abc, 3, false));
    ASSERT_TRUE(
        CNetworkHelper::SendOnePacket_PrintData(out.get(), 2, 5, PaddingValue_Sequence, abc, 3));
    SBufferData<unsigned char> corrupt;
    ASSERT_TRUE(CNetworkHelper::PreparePacket_Print(3, 0, PaddingValue_Zero, 3, abc, 3, corrupt));
    corrupt.m_pBuffer[87] ^= 0x10;
    EXPECT_FALSE(CNetworkHelper::SendOnePacket(out.get(), corrupt, true)) << "checked: refused";
    EXPECT_TRUE(CNetworkHelper::SendOnePacket(out.get(), corrupt, false)) << "unchecked: sent";
    std::vector<Frame> frames;
    for (const auto end = Clock::now() + milliseconds(500); Clock::now() < end;) {
        pcap_pkthdr* h = nullptr;
        const u_char* p = nullptr;
        if (flk::pcap_next_ex(board.get(), &h, &p) == 1) frames.emplace_back(p, p + h->caplen);
    }
    ASSERT_EQ(4u, frames.size()) << "the refused frame stays at home";
    // The 88-byte frame of "abc", frame 1, packet 0, zero padding: checksum at 84.
    EXPECT_EQ(Frame({0xf4, 0xbc, 0xba, 0xcb}), Frame(frames[0].begin() + 84, frames[0].end()));
    EXPECT_EQ(Frame({0xf5, 0xbc, 0xba, 0xcb}), Frame(frames[1].begin() + 84, frames[1].end()))
        << "exactly the altered checksum";
    EXPECT_EQ(5u, Word(frames[2], 20));
    EXPECT_TRUE(CNetworkHelper::IsValidCheckSum(frames[2].data(), 88));
    EXPECT_EQ(3u, Word(frames[3], 16)) << "the unchecked corrupt frame";

    // Reply detection waits only for the board's frames to the PC, and no longer than asked.
    Frame elsewhere = FromBoard(1);
    elsewhere[0] = 0x02;
    EXPECT_FALSE(CNetworkHelper::Detect_ReplyPacket(out.get(), 0));
    std::thread sender([&] {
        for (int i = 0; i < 5; ++i) {
            pcap_sendpacket(board.get(), elsewhere.data(), 88);
            std::this_thread::sleep_for(milliseconds(10));
        }
    });
    const auto start = Clock::now();
    EXPECT_FALSE(CNetworkHelper::Detect_ReplyPacket(out.get(), 300));
    const auto waited = Clock::now() - start;
    sender.join();
    EXPECT_GE(waited, milliseconds(290));
    EXPECT_LT(waited, milliseconds(800)) << "the time-out ends the wait";
    std::thread reply([&] {
        std::this_thread::sleep_for(milliseconds(50));
        pcap_sendpacket(board.get(), FromBoard(2).data(), 88);
    });
    EXPECT_TRUE(CNetworkHelper::Detect_ReplyPacket(out.get(), 3000));
    reply.join();
}

TEST_F(SendReceiveNetTest, HostGetsWholeBoardFramesInOrderAndIsWokenByItsReply) {
    PcapHandle in = m_rig->Open(ESide::A, true);
    PcapHandle board = m_rig->Open(ESide::B, true);
    ASSERT_TRUE(in && board);
    SHost host;
    CReceiveWPCapPacket receiver;
    ASSERT_TRUE(receiver.Create(CaptureMode_BoardToPc, in.get(), &Deliver, &host));
    receiver.WaitReady();
    // 1510 bytes on the wire, of which the handle's snap length keeps 1496: not a whole frame.
    Frame cutShort = FromBoard(4, {}, 3, 1468);
    cutShort.resize(1510, 0);
    // Two other symbols first, then the status reply: frame-loss bit, resend from 17, version 3.18.
    const std::vector<Frame> valid = {
        FromBoard(10), FromBoard(11, {}, 0x55, 1468),
        FromBoard(1, {0x00000002u, 17u, 40u, 0x00030012u, 1, 2, 3, 4}, kStatusReply)};
    for (const Frame& f : {cutShort, valid[0], valid[1], valid[2]})
        ASSERT_EQ(0, pcap_sendpacket(board.get(), f.data(), static_cast<int>(f.size())));
    ASSERT_TRUE(host.awaited.WaitOne(3000));
    SWaitCheckParam reply(true);
    ASSERT_TRUE(reply.ParseInfo(host.awaited.PacketData()));
    EXPECT_TRUE(reply.ExistError_Resend());
    EXPECT_FALSE(reply.ExistError_Fatal());
    EXPECT_EQ(17, reply.GetFrameIndexOfResend());
    EXPECT_EQ(3, reply.m_versionHigh);
    EXPECT_EQ(18, reply.m_versionLow);
    EXPECT_EQ(4u, reply.m_bandInfo[3]);
    host.WaitFor(valid.size(), milliseconds(0));
    receiver.Stop();
    ASSERT_TRUE(receiver.WaitExit(1000));
    EXPECT_EQ(valid, host.frames);
}

TEST_F(ReceiveNetTest, StopOnASilentLinkReturnsPromptlyOnEitherKindOfHandle) {
    SHost host;
    // Ours with a read time-out far longer than the promise, and a host's blocking handle.
    for (bool ours : {true, false}) {
        SCOPED_TRACE(ours ? "our handle, 1 s time-out" : "host's blocking libpcap handle");
        CLogCapture log;
        PcapHandle in = m_rig->Open(ESide::A, ours, ours ? 1000 : 10);
        ASSERT_TRUE(in);
        CReceiveWPCapPacket receiver;
        ASSERT_TRUE(receiver.Create(CaptureMode_BoardToPc, in.get(), &Deliver, &host));
        receiver.WaitReady();
        std::this_thread::sleep_for(milliseconds(100));  // inside a dispatch by now
        const auto start = Clock::now();
        receiver.Stop();
        ASSERT_TRUE(receiver.WaitExit(2000));
        const auto took = Clock::now() - start;
        EXPECT_LT(took, milliseconds(200));
        std::printf("[ receiver ] Stop + WaitExit on a silent link: %.2f ms\n",
                    std::chrono::duration<double, std::milli>(took).count());
        EXPECT_LE(log.Count("stop by function : pcap_breakloop()", 1), 1) << "no spinning on it";
        for (const auto& r : log.Records()) EXPECT_NE(2, r.severity) << r.message;
        // Stopped at once, in whatever phase of its start the thread is.
        for (int i = 0; i < 200; ++i) {
            CReceiveWPCapPacket quick;
            ASSERT_TRUE(quick.Create(CaptureMode_BoardToPc, in.get(), &Deliver, &host)) << i;
            quick.Stop();
            ASSERT_TRUE(quick.WaitExit(1000)) << i;
        }
    }
    EXPECT_TRUE(host.frames.empty());
}

}  // namespace

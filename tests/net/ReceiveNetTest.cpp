// The receive thread on a real link: which injected frames reach the callback, how promptly it
// stops on a silent link, and a host thread woken by a board reply.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <ferrolink/platform/PcapSendQueue.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/receive/ReceiveWPCapPacket.h>
#include <ferrolink/reply/SWaitCheckParam.h>
#include <ferrolink/reply/WaitReceivePacket.h>
#include "LinkEnds.h"
#include "support/LogCapture.h"

namespace {

using ESide = CVethRig::ESide;
using Clock = std::chrono::steady_clock;
const auto kStatusReply = static_cast<MacDataSymbolType>(0x0101);

struct SDelivered {
    std::mutex mutex;
    std::vector<Frame> frames;
};
bool Collect(const unsigned char* frame, int length, void* user) {
    auto* d = static_cast<SDelivered*>(user);
    std::lock_guard<std::mutex> lock(d->mutex);
    d->frames.emplace_back(frame, frame + length);
    return true;
}

// A frame from the board to the PC with a valid checksum; `words` fill the data area's start.
Frame FromBoard(std::uint16_t symbol, std::uint32_t frameIndex, std::vector<std::uint32_t> words = {},
                int capacity = 60) {
    Frame f(static_cast<std::size_t>(capacity) + 28, 0);
    std::memcpy(f.data(), CConstValue::GetPcMac(), 6);
    std::memcpy(f.data() + 6, CConstValue::BoardMac_Get(), 6);
    f[12] = static_cast<unsigned char>(f.size() >> 8);
    f[13] = static_cast<unsigned char>(f.size());
    f[14] = static_cast<unsigned char>(symbol >> 8);
    f[15] = static_cast<unsigned char>(symbol);
    for (int i = 0; i < 4; ++i) f[16 + i] = static_cast<unsigned char>(frameIndex >> (24 - 8 * i));
    for (std::size_t w = 0; w < words.size(); ++w)
        for (int i = 0; i < 4; ++i) f[24 + 4 * w + i] = static_cast<unsigned char>(words[w] >> (24 - 8 * i));
    const std::uint32_t c = CNetworkHelper::CheckSum_Get(f.data(), static_cast<int>(f.size()) - 4);
    for (int i = 0; i < 4; ++i) f[f.size() - 4 + i] = static_cast<unsigned char>(c >> (24 - 8 * i));
    return f;
}

class ReceiveNetTest : public VethRigTest {};

TEST_F(ReceiveNetTest, CallbackSeesExactlyTheValidFramesInOrder) {
    CLogCapture log;
    PcapHandle in = OpenOurs(*m_rig, ESide::A);
    PcapHandle board = OpenOurs(*m_rig, ESide::B);
    ASSERT_TRUE(in && board);
    SDelivered delivered;
    CReceiveWPCapPacket receiver;
    ASSERT_TRUE(receiver.Create(CaptureMode_BoardToPc, in.get(), &Collect, &delivered));

    Frame tooShort = FromBoard(3, 1);
    tooShort.resize(87);
    Frame corrupt = FromBoard(3, 2);
    corrupt[50] ^= 0x80;
    Frame wrongDirection = FromBoard(3, 3);
    std::swap_ranges(wrongDirection.begin(), wrongDirection.begin() + 6, wrongDirection.begin() + 6);
    Frame cutShort = FromBoard(3, 4, {}, 1468);
    cutShort.resize(1510, 0);  // 1510 bytes on the wire, the handle's snap length keeps 1496
    const std::vector<Frame> valid = {FromBoard(3, 10), FromBoard(0x55, 11, {}, 1468),
                                      FromBoard(3, 12)};
    const std::vector<Frame> sequence = {tooShort, valid[0], corrupt, wrongDirection,
                                         cutShort, valid[1], valid[2]};
    for (const Frame& f : sequence)
        ASSERT_EQ(0, pcap_sendpacket(board.get(), f.data(), static_cast<int>(f.size())));

    for (auto deadline = Clock::now() + std::chrono::seconds(5); Clock::now() < deadline;) {
        {
            std::lock_guard<std::mutex> lock(delivered.mutex);
            if (delivered.frames.size() >= valid.size()) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // nothing more may come
    receiver.Stop();
    ASSERT_TRUE(receiver.WaitExit(1000));
    EXPECT_EQ(valid, delivered.frames);
    EXPECT_EQ(1, log.Count("check sum error.", 1));
    EXPECT_EQ(1, log.Count("failure", 2));
}

TEST_F(ReceiveNetTest, StopOnASilentLinkReturnsPromptlyOnEitherKindOfHandle) {
    for (bool plain : {false, true}) {
        SCOPED_TRACE(plain ? "host's blocking libpcap handle" : "our handle");
        CLogCapture log;
        PcapHandle in = plain ? OpenPlain(*m_rig, ESide::A) : OpenOurs(*m_rig, ESide::A);
        ASSERT_TRUE(in);
        CReceiveWPCapPacket receiver;
        ASSERT_TRUE(receiver.Create(CaptureMode_BoardToPc, in.get(), &Collect, nullptr));
        receiver.WaitReady();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // inside a dispatch by now
        const auto start = Clock::now();
        receiver.Stop();
        ASSERT_TRUE(receiver.WaitExit(2000));
        const auto took = Clock::now() - start;
        EXPECT_LT(took, std::chrono::milliseconds(100));
        std::printf("[ receiver ] Stop + WaitExit on a silent link: %.2f ms\n",
                    std::chrono::duration<double, std::milli>(took).count());
        EXPECT_LE(log.Count("stop by function : pcap_breakloop()", 1), 1);
        for (const auto& r : log.Records()) EXPECT_NE(2, r.severity) << r.message;
    }
}

TEST_F(ReceiveNetTest, TwoHundredCreateStopWaitCycles) {
    PcapHandle in = OpenOurs(*m_rig, ESide::A);
    ASSERT_TRUE(in);
    for (int i = 0; i < 200; ++i) {
        CReceiveWPCapPacket receiver;
        ASSERT_TRUE(receiver.Create(CaptureMode_BoardToPc, in.get(), &Collect, nullptr)) << i;
        receiver.Stop();
        ASSERT_TRUE(receiver.WaitExit(1000)) << i;
    }
}

// The host's wiring: the callback offers board frames to the awaited-reply descriptors.
struct SHost {
    CWaitReceivePacket* awaited;
};
bool OfferToAwaited(const unsigned char* frame, int length, void* user) {
    auto* host = static_cast<SHost*>(user);
    SBufferData<unsigned char> copy;
    copy.AllocateBuffer(length);
    std::memcpy(copy.m_pBuffer, frame, static_cast<std::size_t>(length));
    const auto symbol = static_cast<MacDataSymbolType>((frame[14] << 8) | frame[15]);
    host->awaited->SetFrameData(symbol, copy);
    return true;
}

TEST_F(ReceiveNetTest, AwaitedReplyWakesTheHostWithTheBoardsStatus) {
    PcapHandle in = OpenOurs(*m_rig, ESide::A);
    PcapHandle board = OpenOurs(*m_rig, ESide::B);
    ASSERT_TRUE(in && board);
    CWaitReceivePacket awaited(kStatusReply, 1);
    SHost host{&awaited};
    CReceiveWPCapPacket receiver;
    ASSERT_TRUE(receiver.Create(CaptureMode_BoardToPc, in.get(), &OfferToAwaited, &host));
    receiver.WaitReady();

    // Another symbol first, then the status reply: frame-loss bit, resend from 17, version 3.18.
    const Frame other = FromBoard(3, 1);
    const Frame status = FromBoard(kStatusReply, 1, {0x00000002u, 17u, 40u, 0x00030012u, 1, 2, 3, 4});
    ASSERT_EQ(0, pcap_sendpacket(board.get(), other.data(), static_cast<int>(other.size())));
    ASSERT_EQ(0, pcap_sendpacket(board.get(), status.data(), static_cast<int>(status.size())));

    ASSERT_TRUE(awaited.WaitOne(3000));
    SWaitCheckParam reply(true);
    ASSERT_TRUE(reply.ParseInfo(awaited.PacketData()));
    EXPECT_TRUE(reply.ExistError_Resend());
    EXPECT_FALSE(reply.ExistError_Fatal());
    EXPECT_EQ(17, reply.GetFrameIndexOfResend());
    EXPECT_EQ(3, reply.m_versionHigh);
    EXPECT_EQ(18, reply.m_versionLow);
    EXPECT_EQ(4u, reply.m_bandInfo[3]);
    receiver.Stop();
    EXPECT_TRUE(receiver.WaitExit(1000));
}

}  // namespace

namespace {

TEST_F(ReceiveNetTest, BackToBackBurstReachesTheCallbackWithoutLoss) {
    constexpr std::uint32_t kFrames = 20000;
    PcapHandle in = OpenOurs(*m_rig, ESide::A);
    PcapHandle board = OpenOurs(*m_rig, ESide::B);
    ASSERT_TRUE(in && board);
    struct SCount {
        std::atomic<std::uint32_t> frames{0};
    } count;
    CReceiveWPCapPacket receiver;
    ASSERT_TRUE(receiver.Create(
        CaptureMode_BoardToPc, in.get(),
        [](const unsigned char*, int, void* user) {
            static_cast<SCount*>(user)->frames.fetch_add(1, std::memory_order_relaxed);
            return true;
        },
        &count));
    receiver.WaitReady();

    // The board's side sends them the way the bulk sender does: one queue, back to back.
    namespace flk = ferrolink::platform;
    flk::pcap_send_queue* queue = flk::pcap_sendqueue_alloc(kFrames * (16 + 1496));
    ASSERT_NE(nullptr, queue);
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        const Frame f = FromBoard(3, i, {i}, 1468);
        pcap_pkthdr header{};
        header.caplen = header.len = static_cast<bpf_u_int32>(f.size());
        ASSERT_EQ(0, flk::pcap_sendqueue_queue(queue, &header, f.data()));
    }
    const u_int sent = flk::pcap_sendqueue_transmit(board.get(), queue, 1);
    EXPECT_EQ(queue->len, sent);
    flk::pcap_sendqueue_destroy(queue);

    for (auto deadline = Clock::now() + std::chrono::seconds(10);
         count.frames.load() < kFrames && Clock::now() < deadline;)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    receiver.Stop();
    ASSERT_TRUE(receiver.WaitExit(1000));
    pcap_stat stats{};
    pcap_stats(in.get(), &stats);
    std::printf("[ receiver ] burst: sent %u, delivered %u, capture drops %u\n", kFrames,
                count.frames.load(), stats.ps_drop);
    EXPECT_EQ(kFrames, count.frames.load());
    EXPECT_EQ(0u, stats.ps_drop);
}

}  // namespace

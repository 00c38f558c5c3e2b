#include <gtest/gtest.h>

#include <thread>

#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/reply/WaitReceivePacket.h>

namespace {

const auto kReply = static_cast<MacDataSymbolType>(0x21);

SBufferData<unsigned char> Frame(std::uint32_t frameIndex) {
    SBufferData<unsigned char> frame;
    const unsigned char data[4] = {1, 2, 3, 4};
    CNetworkHelper::PreparePacket(kReply, frameIndex, 0, data, 4, 60, PaddingValue_Zero, frame);
    return frame;
}

TEST(WaitReceivePacketTest, CountDecidesHowManyFramesAreAccepted) {
    SBufferData<unsigned char> first = Frame(1), second = Frame(2);

    CWaitReceivePacket once(kReply, 1);
    EXPECT_FALSE(once.WaitOne(0)) << "reset after construction";
    once.SetFrameData(MacDataSymbol_Check, first);  // another symbol changes nothing
    EXPECT_FALSE(once.WaitOne(0));
    once.SetFrameData(kReply, first);
    EXPECT_TRUE(once.WaitOne(0));
    once.SetFrameData(kReply, second);
    EXPECT_EQ(1u, once.PacketData().frameIndex) << "later frames are ignored";
    EXPECT_EQ(0, once.RemainCount());

    CWaitReceivePacket none(kReply, 0);
    none.SetFrameData(kReply, first);
    EXPECT_FALSE(none.WaitOne(0));
    EXPECT_TRUE(none.IsProperDataSymbol(kReply));
    EXPECT_FALSE(none.IsProperDataSymbol(MacDataSymbol_Check));

    CWaitReceivePacket every(kReply, -1);
    every.SetFrameData(kReply, first);
    every.SetFrameData(kReply, second);
    EXPECT_TRUE(every.WaitOne(0));
    EXPECT_EQ(2u, every.PacketData().frameIndex);
    EXPECT_EQ(-1, every.RemainCount());
}

TEST(WaitReceivePacketTest, WaiterWakesWithTheFrameParsed) {
    CWaitReceivePacket reply(kReply, 1);
    std::thread receiveThread([&] {
        SBufferData<unsigned char> frame = Frame(77);
        reply.SetFrameData(kReply, frame);
    });
    ASSERT_TRUE(reply.WaitOne(2000));
    receiveThread.join();
    EXPECT_EQ(77u, reply.PacketData().frameIndex);
    ASSERT_EQ(60, reply.PacketData().actualDataLen);
    EXPECT_EQ(4, reply.PacketData().actualData[3]);
}

TEST(WaitReceivePacketTest, UnparsableFrameStillCountsAsAccepted) {
    CWaitReceivePacket reply(kReply, 1);
    SBufferData<unsigned char> tiny;
    tiny.AllocateBuffer(10);
    reply.SetFrameData(kReply, tiny);
    EXPECT_TRUE(reply.WaitOne(0));
    EXPECT_EQ(0, reply.RemainCount());
    EXPECT_EQ(nullptr, reply.PacketData().actualData);
}

}  // namespace

// A complete host program: open the board's adapter, receive on a worker thread, send a print
// job band by band, wait for the board's reply to each band, resend what it asks for, close.
// Build: c++ -std=c++17 host_example.cpp $(pkg-config --cflags --libs ferrolink)
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include <ferrolink/adapter/PCapOpen_Network.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/receive/ReceiveWPCapPacket.h>
#include <ferrolink/reply/SWaitCheckParam.h>
#include <ferrolink/reply/WaitReceivePacket.h>
#include <ferrolink/transmit/Ferrolink.h>

namespace {

// dataSymbol values of the board's command set (docs/board-protocol.md).
constexpr std::uint16_t kEndOfBand = 0x0010;
constexpr std::uint16_t kStatusReply = 0x0101;

// The receive callback runs on the library's receive thread: it hands status replies to the
// descriptor the sending thread waits on.
struct SReplies {
    std::mutex mutex;
    CWaitReceivePacket* awaited = nullptr;
};

bool OnFrame(const unsigned char* frame, int length, void* user) {
    auto* replies = static_cast<SReplies*>(user);
    const auto symbol = static_cast<MacDataSymbolType>((frame[14] << 8) | frame[15]);
    std::lock_guard<std::mutex> lock(replies->mutex);
    if (replies->awaited && replies->awaited->IsProperDataSymbol(symbol)) {
        SBufferData<unsigned char> copy;  // the frame is only valid during the callback
        copy.AllocateBuffer(length);
        std::memcpy(copy.m_pBuffer, frame, static_cast<std::size_t>(length));
        replies->awaited->SetFrameData(symbol, copy);
    }
    return true;
}

// Sends the end-of-band command and waits for the board's status.
bool EndOfBand(CPCapOpen_Network& network, SReplies& replies, int band, std::uint32_t packets,
               std::uint32_t bytes, std::uint32_t packetSize, SWaitCheckParam& status) {
    CWaitReceivePacket awaited(static_cast<MacDataSymbolType>(kStatusReply), 1);
    {
        std::lock_guard<std::mutex> lock(replies.mutex);
        replies.awaited = &awaited;
    }
    unsigned char words[12];
    const std::uint32_t values[3] = {packets, bytes, packetSize};
    for (int i = 0; i < 12; ++i) words[i] = static_cast<unsigned char>(values[i / 4] >> (24 - 8 * (i % 4)));
    SBufferData<unsigned char> command;
    bool ok = CNetworkHelper::PreparePacket(kEndOfBand, static_cast<std::uint32_t>(band), 0, words,
                                            12, 60, PaddingValue_Zero, command);
    if (void* handle = network.Handle_Lock(1000)) {
        ok = ok && CNetworkHelper::SendOnePacket(handle, command, true);
        network.Handle_UnLock();
    }
    ok = ok && awaited.WaitOne(2000);
    {
        std::lock_guard<std::mutex> lock(replies.mutex);
        replies.awaited = nullptr;
    }
    return ok && status.ParseInfo(awaited.PacketData());
}

}  // namespace

int main() {
    CPCapOpen_Network network;
    if (!network.Open_ByAuto()) {  // listens on each adapter for the board, claims it
        std::fprintf(stderr, "no board found\n");
        return 1;
    }
    SReplies replies;
    CReceiveWPCapPacket receiver;
    if (!receiver.Create(CaptureMode_BoardToPc, network.GetPCapHandle(), &OnFrame, &replies)) return 1;

    std::vector<unsigned char> job(4 << 20, 0x5A);  // the print data of one job
    const int bandSize = 1 << 20, packetSize = 1468;
    int exitCode = 0;
    for (int band = 0; band * bandSize < static_cast<int>(job.size()); ++band) {
        CActualPrintData data;
        data.UseBuffer(job.data() + band * bandSize, bandSize);
        data.CutIntoPackets(packetSize);
        for (;;) {
            void* handle = network.Handle_Lock();  // no other frame between ours
            const bool sent = handle && FLK_SendPrintData(handle, &data, band);
            network.Handle_UnLock();
            SWaitCheckParam status(true);
            if (!sent || !EndOfBand(network, replies, band, static_cast<std::uint32_t>(data.m_packetList.size()),
                                    bandSize, packetSize, status)) {
                exitCode = 1;
                break;
            }
            if (status.ExistError_Fatal()) {
                exitCode = 2;
                break;
            }
            if (!status.ExistError_Resend()) break;                 // band complete
            data.m_startPacketIndex = status.GetFrameIndexOfResend();  // resend the rest
        }
        if (exitCode) break;
    }
    receiver.Stop();  // stop the receive thread before the handle goes
    receiver.WaitExit(0xFFFFFFFFu);
    network.Close();
    return exitCode;
}

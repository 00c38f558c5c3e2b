#include "BoardLink.h"

#include <pcap/pcap.h>

#include <cstring>

#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/transmit/Ferrolink.h>

#include "../common/BoardProtocol.h"

namespace tools = ferrolink::tools;

CBoardLink::CBoardLink() = default;

CBoardLink::~CBoardLink() {
    StopReceiving();
    m_network.Close(1000);
}

bool CBoardLink::Open(const std::string& device, const bool* abort, std::string& error) {
    // A board is accepted only once its adapter is stored: an unusable configuration would
    // otherwise pass for a missing board.
    if (!CSerialize_NetworkCommon::ConfigPath_Check(error)) return false;
    if (device.empty()) {
        if (!m_network.Open_ByAuto(0, abort)) {
            error = "no board was heard on any adapter";
            return false;
        }
    } else {
        const std::string name = device.rfind("rpcap://", 0) == 0 ? device : "rpcap://" + device;
        if (!m_network.Open_ByDeviceName(name.c_str())) {
            error = "cannot open " + name +
                    " (does the interface exist, and does the program have CAP_NET_RAW?)";
            return false;
        }
    }
    m_device = OC_NetworkCommon.Previous_PCapDeviceName_Get();
    return true;
}

std::string CBoardLink::DeviceName() const { return m_device; }

bool CBoardLink::StartReceiving(FrameObserver observer, void* user) {
    m_observer = observer;
    m_observerUser = user;
    m_receiver = std::make_unique<CReceiveWPCapPacket>();
    if (!m_receiver->Create(CaptureMode_BoardToPc, m_network.GetPCapHandle(1000), &OnFrame, this))
        return false;
    m_receiver->WaitReady();
    return true;
}

void CBoardLink::StopReceiving() {
    if (!m_receiver) return;
    m_receiver->Stop();
    m_receiver->WaitExit(0xFFFFFFFFu);
    m_receiver.reset();
}

bool CBoardLink::OnFrame(const unsigned char* frame, int length, void* user) {
    auto* self = static_cast<CBoardLink*>(user);
    self->m_framesReceived.fetch_add(1, std::memory_order_relaxed);
    if (self->m_observer) self->m_observer(frame, length, self->m_observerUser);
    const std::uint16_t symbol = static_cast<std::uint16_t>((frame[14] << 8) | frame[15]);
    if (symbol != tools::kSymbolStatusReply) return true;
    const std::uint32_t sequence = (std::uint32_t{frame[20]} << 24) | (std::uint32_t{frame[21]} << 16) |
                                   (std::uint32_t{frame[22]} << 8) | frame[23];
    std::lock_guard<std::mutex> lock(self->m_waitMutex);
    if (self->m_awaited && sequence == self->m_awaitedSequence) {
        SBufferData<unsigned char> copy;
        copy.AllocateBuffer(length);
        std::memcpy(copy.m_pBuffer, frame, static_cast<std::size_t>(length));
        self->m_awaited->SetFrameData(static_cast<MacDataSymbolType>(symbol), copy);
    }
    return true;
}

bool CBoardLink::Command(std::uint16_t symbol, std::uint32_t frameIndex,
                         const std::vector<std::uint32_t>& words, unsigned timeoutMs, int tries,
                         SWaitCheckParam& reply) {
    std::vector<unsigned char> data;
    for (std::uint32_t w : words)
        for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<unsigned char>(w >> shift));
    for (int attempt = 0; attempt < tries; ++attempt) {
        CWaitReceivePacket awaited(static_cast<MacDataSymbolType>(tools::kSymbolStatusReply), 1);
        std::uint32_t sequence;
        {
            std::lock_guard<std::mutex> lock(m_waitMutex);
            sequence = m_nextSequence++;
            m_awaited = &awaited;
            m_awaitedSequence = sequence;
        }
        SBufferData<unsigned char> frame;
        bool sent = CNetworkHelper::PreparePacket(symbol, frameIndex, sequence,
                                                  data.empty() ? nullptr : data.data(),
                                                  static_cast<int>(data.size()), 60,
                                                  PaddingValue_Zero, frame);
        if (sent) {
            void* handle = m_network.Handle_Lock(1000);
            sent = handle && CNetworkHelper::SendOnePacket(handle, frame, true);
            if (handle) m_network.Handle_UnLock();
        }
        const bool answered = sent && awaited.WaitOne(timeoutMs);
        {
            std::lock_guard<std::mutex> lock(m_waitMutex);
            m_awaited = nullptr;
        }
        if (!sent) return false;
        if (answered) {
            reply = SWaitCheckParam(true);
            return reply.ParseInfo(awaited.PacketData());
        }
    }
    return false;
}

bool CBoardLink::SendBand(CActualPrintData& band, int frameIndex) {
    void* handle = m_network.Handle_Lock(10000);
    if (!handle) return false;
    const bool ok = FLK_SendPrintData(handle, &band, frameIndex);
    m_network.Handle_UnLock();
    if (ok) m_framesSent += band.m_packetList.size() - static_cast<std::size_t>(band.m_startPacketIndex);
    return ok;
}

std::uint64_t CBoardLink::CaptureDrops() {
    pcap_stat stats{};
    void* handle = m_network.GetPCapHandle(1000);
    if (!handle || pcap_stats(static_cast<pcap_t*>(handle), &stats) != 0) return 0;
    return stats.ps_drop + stats.ps_ifdrop;
}

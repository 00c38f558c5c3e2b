#include <ferrolink/receive/ReceiveWPCapPacket.h>

#include <pcap/pcap.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/platform/Link.h>
#include <ferrolink/platform/MonotonicClock.h>
#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/WireBytes.h>

namespace ferrolink::core {

namespace {
constexpr int kDispatchBatch = 100;
constexpr std::int64_t kSilenceLimitMs = 2000;
}  // namespace

CReceiveWPCapPacket::CReceiveWPCapPacket() = default;

CReceiveWPCapPacket::~CReceiveWPCapPacket() {
    // OneLoop is ours: the loop must end before this part of the object is gone.
    if (m_threadHandle != nullptr) {
        Stop();
        WaitExit(0xFFFFFFFFu);
    }
}

bool CReceiveWPCapPacket::Create(ECaptureMode mode, void* pcapHandle, ReceiveCallback callback,
                                 void* userData) {
    Setup(mode, pcapHandle, callback, userData);
    if (pcapHandle == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    if (!Start("CReceiveWPCapPacket")) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return true;
}

void CReceiveWPCapPacket::Setup(ECaptureMode mode, void* pcapHandle, ReceiveCallback callback,
                                void* userData) {
    m_captureMode = mode;
    m_pcapHandle.store(pcapHandle);
    m_receiveCallback = callback;
    m_userData = userData;
}

void CReceiveWPCapPacket::Stop() {
    PellBaseThread::Stop();
    if (void* handle = m_pcapHandle.exchange(nullptr)) {
        ferrolink::platform::CLink::Break(static_cast<pcap_t*>(handle));
    }
}

bool CReceiveWPCapPacket::Prepare() {
    if (!PellBaseThread::Prepare()) {
        FLK_LOG(2) << "failure";
        return false;
    }
    m_processState = ProcessState_Initialize;
    return true;
}

void CReceiveWPCapPacket::Finally() {
    PellBaseThread::Finally();
}

bool CReceiveWPCapPacket::Initialize() {
    m_processState = ProcessState_Process;
    return true;
}

bool CReceiveWPCapPacket::OneLoop() {
    if (m_processState == ProcessState_Initialize) return Initialize();
    if (m_processState == ProcessState_Process && Process()) return true;
    FLK_LOG(2) << "m_processState = " << m_processState;
    Stop();
    return false;
}

bool CReceiveWPCapPacket::Process() {
    auto* handle = static_cast<pcap_t*>(m_pcapHandle.load());
    if (handle == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    const int result = ferrolink::platform::CLink::ReadBatch(
        handle, kDispatchBatch, &ReceivePacketHandler, reinterpret_cast<u_char*>(this));
    if (result >= 0) return true;
    if (result == PCAP_ERROR_BREAK) {
        FLK_LOG(1) << "stop by function : pcap_breakloop()";
        return true;
    }
    // A Stop in between forgets the handle: then the error is the break, not a fault.
    if (auto* current = static_cast<pcap_t*>(m_pcapHandle.load())) {
        FLK_LOG(1) << "pcapDispatchRet = " << result << ", errMsg = " << pcap_geterr(current);
    }
    return true;
}

void CReceiveWPCapPacket::ReceivePacketHandler(unsigned char* user,
                                               const struct pcap_pkthdr* header,
                                               const unsigned char* bytes) {
    if (user == nullptr) return;
    reinterpret_cast<CReceiveWPCapPacket*>(user)->ReceivePacketHandler_Internal(header, bytes);
}

bool CReceiveWPCapPacket::ReceivePacketHandler_Internal(const struct pcap_pkthdr* header,
                                                        const unsigned char* bytes) {
    const std::uint32_t previous = m_lastPacketTick;
    const std::int64_t interval = std::llabs(
        static_cast<std::int32_t>(previous - ferrolink::platform::CMonotonicClock::Ticks()));
    if (interval > kSilenceLimitMs && previous != 0) {
        FLK_LOG(1) << "auto report packet time interval = " << interval;
    }
    m_lastPacketTick = ferrolink::platform::CMonotonicClock::Ticks();

    if (header == nullptr || bytes == nullptr) return false;
    if (header->caplen < static_cast<bpf_u_int32>(CConstValue::GetFrameMinimumSize()) ||
        header->caplen != header->len)
        return false;
    const int length = static_cast<int>(header->caplen);
    if (!IsMatch_CaptureMode(bytes, length)) return false;
    if (!ProcessOriginDataBuffer(bytes, length)) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return true;
}

bool CReceiveWPCapPacket::IsMatch_CaptureMode(const unsigned char* frame, int length) const {
    if (length < 12) return false;
    const unsigned char* destination = frame;
    const unsigned char* source = frame + 6;
    switch (m_captureMode) {
        case CaptureMode_PcToBoard:
            return CConstValue::IsPcMac(source) && CNetworkHelper::IsBoardMac(destination);
        case CaptureMode_BoardToPc:
            return CConstValue::IsPcMac(destination) && CNetworkHelper::IsBoardMac(source);
        case CaptureMode_ToPcOrBoard:
            return CConstValue::IsPcMac(destination) || CNetworkHelper::IsBoardMac(destination);
        default:
            return false;
    }
}

bool CReceiveWPCapPacket::ProcessOriginDataBuffer(const unsigned char* frame, int length) {
    if (!CNetworkHelper::IsValidCheckSum(frame, length)) {
        FLK_LOG(1) << "check sum error.";
        return false;
    }
    if (m_receiveCallback != nullptr) m_receiveCallback(frame, length, m_userData);
    return true;
}

bool CReceiveWPCapPacket::ProcessPacket_Check(const unsigned char* frame, int length) {
    namespace layout = ferrolink::protocol::frame;
    if (frame == nullptr || length < CConstValue::GetFrameMinimumSize()) return true;
    std::uint16_t dataSymbol = 0;
    ferrolink::protocol::CWireReader(frame, length).Load16(layout::kDataSymbolOffset, dataSymbol);
    if (CConstValue::IsPcMac(frame + layout::kDestinationMacOffset) &&
        CNetworkHelper::IsBoardMac(frame + layout::kSourceMacOffset) &&
        dataSymbol == MacDataSymbol_Check) {
        std::printf("received check packet.\n");
        std::fflush(stdout);
        return false;
    }
    return true;
}

}  // namespace ferrolink::core

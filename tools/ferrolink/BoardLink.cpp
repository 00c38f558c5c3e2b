#include "BoardLink.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include <ferrolink/adapter/FindAllDevice.h>
#include <ferrolink/adapter/NpfPacketHelper.h>
#include <ferrolink/outside/AdapterInfo.h>
#include <ferrolink/outside/CustomAutoResetEvent.h>
#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include <ferrolink/platform/NamedClaim.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/PacketDataWrapper.h>
#include <ferrolink/protocol/WireBytes.h>
#include <ferrolink/transmit/Ferrolink.h>

#include "../common/BoardProtocol.h"
#include "InterfaceCheck.h"

using namespace ferrolink::core;      // the library's core classes, linked from its archive
using namespace ferrolink::platform;  // the board claim

namespace tools = ferrolink::tools;
namespace layout = ferrolink::protocol::frame;
using ferrolink::protocol::CWireReader;
using ferrolink::protocol::CWireWriter;

namespace {

// A frame from a board to the PC: destination the PC MAC, source the board MAC in bytes 1..5
// (byte 0 tells boards apart).
bool IsFromABoard(const unsigned char* frame, int length) {
    return length >= layout::kActualDataOffset && CConstValue::IsPcMac(frame) &&
           std::memcmp(frame + 7, CConstValue::BoardMac_Get() + 1, 5) == 0;
}

// Each kind of claim failure has its exit status, so that scripts can tell waiting from fixing.
EExitStatus ClaimExitStatus(EClaimResult result) {
    switch (result) {
        case ClaimResult_Held:
            return ExitStatus_BoardHeld;
        case ClaimResult_NotAClaim:
            return ExitStatus_ClaimBlocked;
        case ClaimResult_NoSpace:
            return ExitStatus_ClaimNoSpace;
        case ClaimResult_NoPermission:
            return ExitStatus_ClaimDenied;
        default:
            return ExitStatus_JobFailed;
    }
}

// After an open failed: without a working capture library (no Npcap on Windows) nothing could
// succeed, and its failure would pass for a missing board or interface. False with its words.
bool CaptureLibraryWorks(std::string& error, EExitStatus& status) {
    pcap_if_t* devices = nullptr;
    char why[PCAP_ERRBUF_SIZE] = "";
    if (pcap_findalldevs(&devices, why) == 0) {
        pcap_freealldevs(devices);
        return true;
    }
    error = std::string("cannot list the adapters: ") + why;
    status = ExitStatus_LinkFailed;
    return false;
}

}  // namespace

CBoardLink::CBoardLink() {
    std::random_device random;
    m_nextSequence = random();
}

CBoardLink::~CBoardLink() {
    StopReceiving();
    m_network.Close(1000);
}

std::string CBoardLink::InterfaceName() const {
    return m_device.rfind("rpcap://", 0) == 0 ? m_device.substr(8) : m_device;
}

std::string CBoardLink::ClaimName(unsigned char firstByte) {
    return "Quon_PCap_" + CSerialize_NetworkCommon::Address_Enum_2_String(
                              CSerialize_NetworkCommon::Address_Value_2_Enum(firstByte));
}

bool CBoardLink::Open(const std::string& device, const bool* abort, std::string& error,
                      EExitStatus& status) {
    // The library stores the adapter in the configuration; an unusable one would otherwise pass
    // for a missing board.
    if (!CSerialize_NetworkCommon::ConfigPath_Check(error)) {
        error += "; fix it or point FERROLINK_CONFIG elsewhere";
        status = ExitStatus_JobFailed;
        return false;
    }
    if (device.empty()) {
        if (m_network.Open_ByAuto(0, abort)) {
            m_device = OC_NetworkCommon.Previous_PCapDeviceName_Get();
            return true;
        }
        if (!CaptureLibraryWorks(error, status)) return false;
        status = ExitStatus_JobFailed;
        // Say which boards cannot be claimed: a held board is never heard by the search. The
        // claims are only looked at (the 256 well-formed names; nothing is made or locked).
        std::vector<std::string> names;
        for (int byte = 0; byte < 256; ++byte)
            names.push_back(ClaimName(static_cast<unsigned char>(byte)));
        std::string held, blocked;
        EExitStatus claimStatus = ExitStatus_Ok;
        for (const SClaimState& state : CNamedClaim::Survey(names)) {
            if (state.m_result == ClaimResult_Held) {
                held += " " + state.m_name + " (" + state.m_why + ")";
                continue;
            }
            blocked += "; " + (state.m_name.empty()
                                   ? state.m_why
                                   : state.m_name + " cannot be claimed (" + state.m_why + ")");
            if (claimStatus == ExitStatus_Ok) claimStatus = ClaimExitStatus(state.m_result);
        }
        // The search listens on connected adapters only.
        std::string tried;
        std::vector<SAdapterInfo> table;
        CAdapterInfo::AllAdpaterInfo_Get(table);
        CFindAllDevice finder;
        for (auto* d = static_cast<pcap_if*>(finder.FindAllDevice()); d; d = d->next) {
            std::string adapter;
            std::vector<unsigned char> mac;
            CNpfPacketHelper::DeviceName_2_AdapterName(d->name, adapter);
            CNpfPacketHelper::AdapterName_2_MacAddress(adapter, mac);
            if (!CAdapterInfo::IsAdapterConnected(mac, table)) continue;
            tried += (tried.empty() ? "" : ", ") + std::string(d->name);
        }
        error = "no board was heard on any adapter (tried " + (tried.empty() ? "none" : tried) +
                "; each listened to for 1000 ms)";
        if (!held.empty())
            error += "; boards held by other processes:" + held + ": wait for them to finish";
        error += blocked;
        if (claimStatus != ExitStatus_Ok)
            status = claimStatus;
        else if (!held.empty())
            status = ExitStatus_BoardHeld;
        if (held.empty() && blocked.empty()) {
            error += "; check the cable and that the board is on, or name the adapter with -i";
        }
        return false;
    }
    const std::string name = device.rfind("rpcap://", 0) == 0 ? device : "rpcap://" + device;
    m_device = name;
    if (LinkState() == ELinkState::Gone) {
        if (!CaptureLibraryWorks(error, status)) return false;
        error = "there is no interface " + InterfaceName() + " (see `ferrolink list`)";
        status = ExitStatus_LinkFailed;
        return false;
    }
    if (!m_network.Open_ByDeviceName(name.c_str())) {
        if (!CaptureLibraryWorks(error, status)) return false;
        error = CInterfaceCheck::OpenFailure(InterfaceName());
        status = ExitStatus_LinkFailed;
        return false;
    }
    // Only frames to the PC, as automatic opening installs: our own print frames stay out.
    auto* handle = static_cast<pcap_t*>(m_network.GetPCapHandle(1000));
    bpf_program program{};
    if (!handle || pcap_compile(handle, &program, "ether dst 7b:23:fc:98:10:99", 1,
                                PCAP_NETMASK_UNKNOWN) != 0) {
        error = "cannot filter " + name;
        status = ExitStatus_LinkFailed;
        return false;
    }
    const bool filtered = pcap_setfilter(handle, &program) == 0;
    pcap_freecode(&program);
    if (!filtered) {
        error = "cannot filter " + name;
        status = ExitStatus_LinkFailed;
        return false;
    }
    return true;
}

bool CBoardLink::ClaimNamedBoard(unsigned listenMs, std::string& error, EExitStatus& status,
                                 int firstByte) {
    int first = firstByte;
    if (first < 0) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_arrived.wait_for(lock, std::chrono::milliseconds(listenMs),
                           [&] { return m_boardFirstByte >= 0; });
        first = m_boardFirstByte;
    }
    // A silent board is claimed under the address the configuration gives it.
    const unsigned char byte =
        first >= 0 ? static_cast<unsigned char>(first) : CConstValue::BoardMac_Get()[0];
    CConstValue::BoardMac_FirstByte_Update(byte);
    const std::string name = ClaimName(byte);
    auto claim = std::make_unique<CCustomAutoResetEvent>(name.c_str(), false);
    if (!claim->IsCreated()) {
        const EClaimResult result = CNamedClaim::LastResult();
        error = "the board on " + InterfaceName() +
                " cannot be claimed: " + CNamedClaim::LastRefusal() +
                (result == ClaimResult_Held      ? "; wait for it to finish, or stop it"
                 : result == ClaimResult_NoSpace ? "; free some space there"
                                                 : "");
        status = ClaimExitStatus(result);
        return false;
    }
    m_claim = std::move(claim);
    return true;
}

bool CBoardLink::StartReceiving(ECaptureMode mode, FrameObserver observer, void* user) {
    m_observer = observer;
    m_observerUser = user;
    m_receiver = std::make_unique<CReceiveWPCapPacket>();
    if (!m_receiver->Create(mode, m_network.GetPCapHandle(1000), &OnFrame, this)) return false;
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
    if (self->m_observer) self->m_observer(frame, length, self->m_observerUser);
    if (!IsFromABoard(frame, length)) return true;
    std::lock_guard<std::mutex> lock(self->m_mutex);
    ++self->m_framesReceived;
    const unsigned char board = frame[layout::kSourceMacOffset];
    if (self->m_boardFirstByte < 0) self->m_boardFirstByte = board;
    // Bounded: one entry per first byte.
    if (std::find(self->m_boardsHeard.begin(), self->m_boardsHeard.end(), board) ==
        self->m_boardsHeard.end()) {
        self->m_boardsHeard.push_back(board);
        self->m_arrived.notify_all();
    }
    const CWireReader in(frame, length);
    std::uint16_t symbol = 0;
    std::uint32_t sequence = 0;
    in.Load16(layout::kDataSymbolOffset, symbol);
    in.Load32(layout::kPacketIndexOffset, sequence);
    if (symbol != tools::kSymbolStatusReply) return true;
    // Only the board a command went to answers it.
    const auto at = self->m_pending.find(sequence);
    if (at == self->m_pending.end() || at->second.reply || at->second.board != board) {
        ++self->m_repliesIgnored;  // not ours, or a duplicate
        return true;
    }
    at->second.reply = std::make_unique<std::vector<unsigned char>>(frame, frame + length);
    self->m_arrived.notify_all();
    return true;
}

std::uint32_t CBoardLink::PostCommand(std::uint16_t symbol, std::uint32_t frameIndex,
                                      const std::vector<std::uint32_t>& words) {
    std::vector<unsigned char> data(words.size() * 4);
    const CWireWriter out(data.data(), data.size());
    for (std::size_t i = 0; i < words.size(); ++i) out.Store32(4 * i, words[i]);
    std::uint32_t sequence;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        sequence = m_nextSequence++;
        if (sequence == 0) sequence = m_nextSequence++;
        m_pending[sequence] = SPending{CConstValue::BoardMac_Get()[0], nullptr};
    }
    SBufferData<unsigned char> frame;
    bool sent = CNetworkHelper::PreparePacket(
        symbol, frameIndex, sequence, data.empty() ? nullptr : data.data(),
        static_cast<int>(data.size()), 60, PaddingValue_Zero, frame);
    if (sent) {
        void* handle = m_network.Handle_Lock(1000);
        sent = handle && CNetworkHelper::SendOnePacket(handle, frame, true);
        if (handle) m_network.Handle_UnLock();
    }
    if (!sent) {
        Forget(sequence);
        return 0;
    }
    return sequence;
}

bool CBoardLink::TakeReply(std::uint32_t sequence, SCommandReply& reply) {
    std::unique_ptr<std::vector<unsigned char>> frame;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto at = m_pending.find(sequence);
        if (at == m_pending.end() || !at->second.reply) return false;
        frame = std::move(at->second.reply);
        m_pending.erase(at);
    }
    CPacketDataWrapper parsed;
    if (!parsed.InitializeByFrameData(frame->data(), static_cast<std::uint32_t>(frame->size())))
        return false;
    reply = SCommandReply{};
    reply.m_board = (*frame)[layout::kSourceMacOffset];
    reply.m_frameIndex = parsed.PacketData().frameIndex;
    return reply.m_status.ParseInfo(parsed.PacketData());
}

void CBoardLink::Forget(std::uint32_t sequence) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.erase(sequence);
}

void CBoardLink::WaitForReply(unsigned timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const auto& entry : m_pending)
            if (entry.second.reply) return true;
        return false;
    });
}

bool CBoardLink::SendPackets(const unsigned char* data, std::size_t bytes, int packetSize,
                             std::uint32_t band, std::uint32_t from, std::uint32_t end) {
    // The library sends from the start index to the end of the list: the list is cut at `end`.
    m_print.UseBuffer(const_cast<unsigned char*>(data), static_cast<std::int64_t>(bytes));
    m_print.CutIntoPackets(packetSize);
    m_print.m_packetList.resize(std::min<std::size_t>(end, m_print.m_packetList.size()));
    m_print.m_startPacketIndex = static_cast<std::int32_t>(from);
    void* handle = m_network.Handle_Lock(10000);
    if (!handle) return false;
    const bool ok = FLK_SendPrintData(handle, &m_print, static_cast<int>(band));
    m_network.Handle_UnLock();
    if (ok) m_framesSent += m_print.m_packetList.size() - from;
    return ok;
}

unsigned char CBoardLink::BoardAddress() const {
    return CConstValue::BoardMac_Get()[0];
}

void CBoardLink::UseBoardAddress(unsigned char firstByte) {
    CConstValue::BoardMac_FirstByte_Update(firstByte);
}

std::vector<unsigned char> CBoardLink::BoardsHeard() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_boardsHeard;
}

void CBoardLink::SizeSendBuffer(std::size_t bytes) {
    tools::CNetworkInterface::ReserveSendBuffer(m_network.GetPCapHandle(1000), bytes);
}

ELinkState CBoardLink::LinkState() const {
    return tools::CNetworkInterface::LinkState(InterfaceName());
}

std::uint64_t CBoardLink::FramesReceived() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_framesReceived;
}

std::uint64_t CBoardLink::RepliesIgnored() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_repliesIgnored;
}

std::uint64_t CBoardLink::CaptureDrops() {
    pcap_stat stats{};
    void* handle = m_network.GetPCapHandle(1000);
    if (!handle || pcap_stats(static_cast<pcap_t*>(handle), &stats) != 0) return 0;
    return stats.ps_drop + stats.ps_ifdrop;
}

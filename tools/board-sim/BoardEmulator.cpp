#include "board-sim/BoardEmulator.h"

// The emulator is a Linux test tool: it waits on the capture socket and asks for the link's
// state itself, with libpcap's own calls beside.
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/WireBytes.h>

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace ferrolink::tools {

namespace {

namespace frame = ferrolink::protocol::frame;
using ferrolink::protocol::CWireReader;

constexpr int kHeaderAndChecksum = frame::kHeaderAndCheckSumSize;

}  // namespace

CBoardEmulator::CBoardEmulator(const SBoardEmulatorOptions& options)
    : m_options(options),
      m_writer(options.m_firstByte),
      m_secondWriter(static_cast<unsigned char>(options.m_secondBoardFirstByte)),
      m_store(options.m_boardMemoryBytes / CPacketPool::kSlotBytes),
      m_receiveImpairment(options.m_impairment, options.m_seed, CImpairment::EDirection::Receive),
      m_sendImpairment(options.m_impairment, options.m_seed, CImpairment::EDirection::Send),
      m_requestedErrors(options.m_requestedErrors & kRequestableErrors) {}

CBoardEmulator::~CBoardEmulator() {
    if (m_handle) ::pcap_close(m_handle);
}

bool CBoardEmulator::InterfaceName(const std::string& given, std::string& device,
                                   std::string& why) {
    const std::string prefix = "rpcap://";
    device = given.compare(0, prefix.size(), prefix) == 0 ? given.substr(prefix.size()) : given;
    // Linux takes names of 1 to 15 bytes without slashes or blanks; "." and ".." are the folder
    // entries of /sys/class/net.
    constexpr std::size_t kLongest = 15;
    if (device.empty()) {
        why = "no interface given";
    } else if (device.size() > kLongest) {
        why = "interface name longer than " + std::to_string(kLongest) + " bytes";
    } else if (device == "." || device == "..") {
        why = "\"" + device + "\" is not an interface name";
    } else if (std::any_of(device.begin(), device.end(), [](char c) {
                   const auto u = static_cast<unsigned char>(c);
                   return u <= ' ' || u == 0x7F || c == '/' || c == ':';
               })) {
        why = "interface name with a slash, colon, blank or control character";
    } else {
        return true;
    }
    device.clear();
    return false;
}

bool CBoardEmulator::Open(std::string& why) {
    std::string device;
    if (!InterfaceName(m_options.m_interface, device, why)) return false;
    // Plain libpcap to open, for the buffer size that the Windows-shaped pcap_open cannot take:
    // a burst of print data must fit in the kernel's ring while the band before it is judged.
    char error[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = ::pcap_create(device.c_str(), error);
    if (!handle) {
        why = std::string("cannot open ") + device + ": " + error;
        return false;
    }
    ::pcap_set_snaplen(handle, kSnapLength);
    ::pcap_set_promisc(handle, 1);
    // Not immediate mode: that would take the ring a frame at a time.
    ::pcap_set_timeout(handle, kBlockTimeoutMs);
    ::pcap_set_buffer_size(handle, m_options.m_captureBufferBytes);
    const int status = ::pcap_activate(handle);
    if (status < 0) {
        const std::string detail = ::pcap_geterr(handle);
        if (status == PCAP_ERROR_NO_SUCH_DEVICE) {
            why = "no interface \"" + device + "\" in this network namespace (" + detail +
                  "); the emulator needs an existing interface and CAP_NET_RAW on it";
        } else if (status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED) {
            why = "not permitted to capture on " + device + " (" + detail +
                  "): raw frames need CAP_NET_RAW; run as root or grant it with "
                  "'setcap cap_net_raw+ep ferrolink-board-sim'";
        } else {
            why = "cannot open " + device + ": " + ::pcap_statustostr(status) +
                  (detail.empty() ? "" : " (" + detail + ")") + "; raw frames need CAP_NET_RAW";
        }
        ::pcap_close(handle);
        return false;
    }
    // The kernel keeps other stations' frames and our own reports away from the per-frame path.
    // Both are optimisations: OfferFrame checks the destination itself.
    const unsigned char* mac = m_writer.BoardMac();
    char filter[64];
    std::snprintf(filter, sizeof(filter), "ether dst %02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1],
                  mac[2], mac[3], mac[4], mac[5]);
    bpf_program program{};
    if (::pcap_compile(handle, &program, filter, 1, PCAP_NETMASK_UNKNOWN) == 0) {
        if (::pcap_setfilter(handle, &program) != 0)
            FLK_LOG(1) << "pcap_setfilter failed: " << ::pcap_geterr(handle);
        ::pcap_freecode(&program);
    }
    ::pcap_setdirection(handle, PCAP_D_IN);
    // Run waits on the socket itself (libpcap's own wait may never return on a silent link).
    if (::pcap_setnonblock(handle, 1, error) != 0) {
        why = std::string("cannot capture on ") + device + ": " + error;
        ::pcap_close(handle);
        return false;
    }

    if (m_handle) ::pcap_close(m_handle);
    m_handle = handle;
    m_device = device;
    return true;
}

bool CBoardEmulator::Run() {
    if (!m_handle) {
        FLK_LOG(2) << "no interface is open";
        return false;
    }
    const int fd = ::pcap_get_selectable_fd(m_handle);
    const Clock::time_point start = Clock::now();
    m_nextReport = start;
    m_nextCaptureStatistics = start;
    bool ok = true;
    while (ok && !m_stop.load()) {
        // A flood is sent in small batches, so it needs the loop more often.
        const int waitMs = m_options.m_flood.m_kind == EFloodKind::None ? kReadTimeoutMs : 1;
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, waitMs);
        int read = 0;
        if (polled < 0 && errno != EINTR) {
            FLK_LOG(2) << "waiting on the capture socket failed: " << std::strerror(errno);
            ok = false;
        } else if (polled > 0 && (ready.revents & POLLERR)) {
            // Taking the error clears it. A link that went down may come back: not an error.
            int error = 0;
            socklen_t length = sizeof(error);
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
            if (error != 0 && error != ENETDOWN) {
                FLK_LOG(2) << "error on the capture socket: " << std::strerror(error);
                ok = false;
            }
            m_nextLinkCheck = Clock::time_point{};
        } else if (polled > 0 && (ready.revents & (POLLHUP | POLLNVAL))) {
            FLK_LOG(2) << "the capture socket was closed";
            ok = false;
        } else if (polled > 0) {
            read = ::pcap_dispatch(m_handle, -1, &CBoardEmulator::Captured,
                                   reinterpret_cast<u_char*>(this));
            if (read == PCAP_ERROR) {
                FLK_LOG(2) << "reading the capture failed: " << ::pcap_geterr(m_handle);
                ok = false;
            }
        }
        // Quiet moments ready the board memory, so a burst does not wait for fresh pages.
        if (read == 0) m_store.WarmUp();
        const Clock::time_point now = Clock::now();
        Tick(now);
        if (!WatchLink(now)) ok = false;
        if (m_statisticsRequested.exchange(false) && m_options.m_events)
            Statistics().WriteText(*m_options.m_events);
    }
    CollectDigests(true);
    RefreshCaptureStatistics();
    return ok;
}

bool CBoardEmulator::WatchLink(Clock::time_point now) {
    if (!m_handle || now < m_nextLinkCheck) return true;
    m_nextLinkCheck = now + std::chrono::milliseconds(kLinkCheckMs);
    ifreq request{};
    std::strncpy(request.ifr_name, m_device.c_str(), IFNAMSIZ - 1);
    if (::ioctl(::pcap_get_selectable_fd(m_handle), SIOCGIFFLAGS, &request) != 0) {
        if (errno != ENODEV && errno != ENXIO) return true;
        FLK_LOG(2) << "interface " << m_device << " has gone";
        return false;
    }
    const bool administrativelyUp = request.ifr_flags & IFF_UP;
    const bool up = administrativelyUp && (request.ifr_flags & IFF_RUNNING);
    if (up == !m_linkDown) return true;
    std::ostream* events = m_options.m_events;
    if (!up) {
        m_linkDown = true;
        m_linkDownSince = now;
        Bump(m_counters.m_linkOutages);
        if (events)
            *events << "link on " << m_device << " is down ("
                    << (administrativelyUp ? "no carrier" : "interface set down") << ")"
                    << std::endl;
    } else {
        m_linkDown = false;
        if (events)
            *events << "link on " << m_device << " is up again after "
                    << std::chrono::duration_cast<std::chrono::milliseconds>(now - m_linkDownSince)
                           .count()
                    << " ms" << std::endl;
    }
    return true;
}

void CBoardEmulator::Captured(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    auto* self = reinterpret_cast<CBoardEmulator*>(user);
    // The clock matters only to held frames; the plain path skips it.
    const bool timed = self->m_receiveImpairment.Active() || self->m_sendImpairment.Active();
    const Clock::time_point now = timed ? Clock::now() : Clock::time_point{};
    self->OfferFrame(bytes, static_cast<int>(header->caplen), static_cast<int>(header->len), now);
}

void CBoardEmulator::OfferFrame(const unsigned char* frameBytes, int capturedLength, int wireLength,
                                Clock::time_point now) {
    if (!frameBytes || capturedLength < 6 || std::memcmp(frameBytes, BoardMac(), 6) != 0) return;
    Bump(m_counters.m_framesReceived);
    if (m_silent) {
        Bump(m_counters.m_ignoredWhileSilent);
        return;
    }
    if (!m_receiveImpairment.Active()) {
        Process(frameBytes, capturedLength, wireLength, now);
        return;
    }
    SHeldFrame copy{{frameBytes, frameBytes + capturedLength}, wireLength, now};
    const int copies =
        Impair(m_receiveImpairment, m_receiveCounts, copy, m_receiveDelayed, m_receiveReordered);
    if (copies == 0) return;
    for (int i = 0; i < copies; ++i) Process(copy.m_bytes.data(), capturedLength, wireLength, now);
    // A reordered frame comes after the one that followed it.
    ReleaseReceived(m_receiveReordered, Clock::time_point::max(), now);
}

int CBoardEmulator::Impair(CImpairment& impairment, SImpairmentCounters& counts, SHeldFrame& frame,
                           std::deque<SHeldFrame>& delayed, std::deque<SHeldFrame>& reordered) {
    const SImpairmentDecision fate = impairment.Next();
    if (fate.m_drop) {
        Bump(counts.m_dropped);
        return 0;
    }
    if (fate.m_corrupt) {
        CImpairment::Corrupt(frame.m_bytes.data(), static_cast<int>(frame.m_bytes.size()),
                             fate.m_corruptPick);
        Bump(counts.m_corrupted);
    }
    const int copies = fate.m_duplicate ? 2 : 1;
    if (fate.m_duplicate) Bump(counts.m_duplicated);
    if (!fate.m_delay && !fate.m_reorder) return copies;
    if (fate.m_delay) {
        Bump(counts.m_delayed);
        frame.m_since += std::chrono::milliseconds(m_options.m_impairment.m_delayMs);
    } else {
        Bump(counts.m_reordered);
    }
    for (int i = 0; i < copies; ++i) {
        if (m_heldBytes + frame.m_bytes.size() > kHeldBytesLimit) {
            Bump(counts.m_dropped);
            continue;
        }
        m_heldBytes += frame.m_bytes.size();
        (fate.m_delay ? delayed : reordered).push_back(frame);
    }
    return 0;
}

void CBoardEmulator::ReleaseReceived(std::deque<SHeldFrame>& queue, Clock::time_point upTo,
                                     Clock::time_point now) {
    while (!queue.empty() && queue.front().m_since <= upTo) {
        const SHeldFrame held = std::move(queue.front());
        queue.pop_front();
        m_heldBytes -= held.m_bytes.size();
        Process(held.m_bytes.data(), static_cast<int>(held.m_bytes.size()), held.m_wireLength, now);
    }
}

void CBoardEmulator::ChecksumError() {
    Bump(m_counters.m_checksumErrors);
    m_store.NoteChecksumError();
}

void CBoardEmulator::Process(const unsigned char* bytes, int capturedLength, int wireLength,
                             Clock::time_point now) {
    if (capturedLength < kHeaderAndChecksum || wireLength != capturedLength) {
        ChecksumError();  // cut short on the wire or by the capture: cannot be verified
        return;
    }
    // The length field is the sender's word; it must lie within what was captured.
    const CWireReader in(bytes, capturedLength);
    std::uint16_t lengthField = 0;
    in.Load16(frame::kFrameLengthOffset, lengthField);
    const int frameLength = lengthField;
    if (frameLength < kHeaderAndChecksum || frameLength > capturedLength ||
        !CNetworkHelper::IsValidCheckSum(bytes, frameLength)) {
        ChecksumError();
        return;
    }
    std::uint16_t symbol = 0;
    std::uint32_t frameIndex = 0, packetIndex = 0;
    in.Load16(frame::kDataSymbolOffset, symbol);
    in.Load32(frame::kFrameIndexOffset, frameIndex);
    in.Load32(frame::kPacketIndexOffset, packetIndex);
    const unsigned char* data = bytes + frame::kActualDataOffset;
    const int dataLength = frameLength - kHeaderAndChecksum;
    switch (symbol) {
        case kSymbolPrintData:
            switch (m_store.StorePacket(frameIndex, packetIndex, data, dataLength)) {
                case EStoreResult::Stored:
                    Bump(m_counters.m_printFrames);
                    break;
                case EStoreResult::MemoryFull:
                    if (!m_memoryOverflow) FLK_LOG(2) << "board memory full at band " << frameIndex;
                    m_memoryOverflow = true;
                    Bump(m_counters.m_refusedPackets);
                    break;
                case EStoreResult::Refused:
                    Bump(m_counters.m_refusedPackets);
                    break;
            }
            break;
        case kSymbolEndOfBand:
        case kSymbolStatusQuery:
        case kSymbolReset:
        case kSymbolSetErrors:
            Command(static_cast<std::uint16_t>(symbol), frameIndex, packetIndex, data, dataLength,
                    now);
            break;
        default:
            Bump(m_counters.m_otherFrames);
            break;
    }
}

void CBoardEmulator::Command(std::uint16_t symbol, std::uint32_t frameIndex, std::uint32_t sequence,
                             const unsigned char* data, int dataLength, Clock::time_point now) {
    const int wordsNeeded = symbol == kSymbolEndOfBand ? 3 : symbol == kSymbolSetErrors ? 1 : 0;
    if (dataLength < wordsNeeded * 4) {
        if (MayLog())
            FLK_LOG(2) << "command 0x" << std::hex << symbol << std::dec << " with " << dataLength
                       << " data bytes, needs " << wordsNeeded * 4;
        Bump(m_counters.m_otherFrames);
        return;
    }
    const auto word = [in = CWireReader(data, dataLength)](int offset) {
        std::uint32_t value = 0;
        in.Load32(static_cast<std::size_t>(offset), value);  // the length is checked above
        return value;
    };
    SBandResult result;
    switch (symbol) {
        case kSymbolEndOfBand:
            result =
                m_store.EndOfBand(frameIndex, word(kEndOfBandPacketsOffset),
                                  word(kEndOfBandBytesOffset), word(kEndOfBandPacketSizeOffset));
            if (result.m_error & kErrorLost) {
                Bump(m_counters.m_lossesDetected);
                if (MayLog())
                    FLK_LOG(1) << "band " << frameIndex << ": packets missing, resend from "
                               << result.m_resendIndex;
            }
            break;
        case kSymbolReset:
            m_store.Reset();
            m_requestedErrors = 0;
            m_memoryOverflow = false;
            result = m_store.Query();
            break;
        case kSymbolSetErrors:
            m_requestedErrors |= word(kSetErrorsBitsOffset) & kRequestableErrors;
            result = m_store.Query();
            break;
        default:
            result = m_store.Query(frameIndex);
            break;
    }
    m_lastSequence = sequence;
    Bump(m_counters.m_commandsAnswered);
    m_writer.Report(kSymbolStatusReply, frameIndex, sequence, StatusOf(result), m_reportFrame);
    SendReport(m_reportFrame, now);
    // Answered first, digested on the digest thread: neither the host's round trip nor the
    // frames behind the command wait for the hash.
    if (result.m_completedNow) m_store.Digest(result.m_band);
}

bool CBoardEmulator::MayLog() {
    if (m_logRecords < kLogRecordsPerSecond) {
        ++m_logRecords;
        return true;
    }
    ++m_logRecordsLeftOut;
    return false;
}

void CBoardEmulator::CollectDigests(bool wait) {
    for (const SDigestedBand& band : m_store.Digested(wait)) BandCompleted(band);
}

void CBoardEmulator::BandCompleted(const SDigestedBand& band) {
    {
        std::lock_guard<std::mutex> lock(m_bandsMutex);
        m_completedBands.push_back({band.m_band, band.m_packets, band.m_bytes, band.m_sha256});
        if (m_completedBands.size() > kBandsListed) m_completedBands.pop_front();
        ++m_bandsCompletedTotal;
    }
    if (m_bandLines >= kBandLinesPerSecond) {
        ++m_bandLinesLeftOut;
        return;
    }
    ++m_bandLines;
    FLK_LOG(1) << "band " << band.m_band << " complete";
    if (m_options.m_events) {
        *m_options.m_events << "band " << band.m_band << " complete: " << band.m_packets
                            << " packets, " << band.m_bytes << " bytes, sha256 " << band.m_sha256
                            << std::endl;
    }
}

bool CBoardEmulator::Silent(Clock::time_point now) const {
    if (m_options.m_silentAfterMs < 0) return false;
    const auto since = now - m_start;
    const auto from = std::chrono::milliseconds(m_options.m_silentAfterMs);
    return since >= from && (m_options.m_silentForMs == 0 ||
                             since < from + std::chrono::milliseconds(m_options.m_silentForMs));
}

void CBoardEmulator::Flood(Clock::time_point now) {
    const SFloodOptions& flood = m_options.m_flood;
    const Clock::time_point from = m_start + std::chrono::milliseconds(flood.m_afterMs);
    if (flood.m_kind == EFloodKind::None || now < from) return;
    const auto elapsed =
        std::min(now - from, Clock::duration(std::chrono::milliseconds(flood.m_forMs)));
    const auto due = static_cast<std::uint64_t>(std::chrono::duration<double>(elapsed).count() *
                                                flood.m_framesPerSecond);
    if (due <= m_floodSent) return;
    const std::uint64_t batch = std::min<std::uint64_t>(due - m_floodSent, kFloodBatch);
    // The latest report again: a duplicate, or with its checksum broken.
    const SBandResult latest = m_store.Query();
    m_writer.Report(kSymbolAutoReport, latest.m_band, m_autoReports - (m_autoReports > 0),
                    StatusOf(latest), m_floodFrame);
    if (flood.m_kind == EFloodKind::BadChecksum) m_floodFrame.back() ^= 0x5A;
    const int sent = SendCopies(m_floodFrame, static_cast<int>(batch));
    m_counters.m_testFramesSent.store(m_counters.m_testFramesSent.load(std::memory_order_relaxed) +
                                          static_cast<std::uint64_t>(sent),
                                      std::memory_order_relaxed);
    // Frames beyond one batch are left out rather than sent later in a burst: the flood keeps
    // its time, and the statistics tell the rate it reached.
    m_floodSent = due;
}

int CBoardEmulator::SendCopies(const std::vector<unsigned char>& frame, int copies) {
    if (m_sink || !m_handle) {
        int sent = 0;
        while (sent < copies && Transmit(frame.data(), static_cast<int>(frame.size()), false))
            ++sent;
        return sent;
    }
    // One system call for many frames: a flood at line rate is more than a send per frame.
    constexpr int kPerCall = 64;
    iovec part{const_cast<unsigned char*>(frame.data()), frame.size()};
    mmsghdr messages[kPerCall]{};
    for (mmsghdr& message : messages) {
        message.msg_hdr.msg_iov = &part;
        message.msg_hdr.msg_iovlen = 1;
    }
    const int fd = ::pcap_get_selectable_fd(m_handle);
    int sent = 0;
    while (sent < copies) {
        const int done = ::sendmmsg(
            fd, messages, static_cast<unsigned>(std::min(kPerCall, copies - sent)), MSG_DONTWAIT);
        if (done <= 0) {
            if (!m_linkDown && errno != EAGAIN && errno != ENOBUFS && MayLog())
                FLK_LOG(2) << "sending the flood failed: " << std::strerror(errno);
            break;
        }
        sent += done;
    }
    return sent;
}

SBoardStatus CBoardEmulator::StatusOf(const SBandResult& result) const {
    SBoardStatus status;
    constexpr std::uint32_t kMemoryOverflow = 1u << 2;
    status.m_error = result.m_error | m_requestedErrors | (m_memoryOverflow ? kMemoryOverflow : 0);
    status.m_resendIndex = result.m_resendIndex;
    status.m_currentMaximum = result.m_currentMaximum;
    status.m_band[0] = result.m_band;
    status.m_band[1] = result.m_packetsHeld;
    status.m_band[2] = m_store.BandsCompleted();
    status.m_band[3] = m_lastSequence;
    return status;
}

void CBoardEmulator::SendReport(const std::vector<unsigned char>& frameBytes,
                                Clock::time_point now) {
    const int length = static_cast<int>(frameBytes.size());
    if (!m_sendImpairment.Active()) {
        Transmit(frameBytes.data(), length);
        return;
    }
    SHeldFrame copy{frameBytes, length, now};
    const int copies = Impair(m_sendImpairment, m_sendCounts, copy, m_sendDelayed, m_sendReordered);
    if (copies == 0) return;
    for (int i = 0; i < copies; ++i) Transmit(copy.m_bytes.data(), length);
    ReleaseSent(m_sendReordered, Clock::time_point::max());
}

void CBoardEmulator::ReleaseSent(std::deque<SHeldFrame>& queue, Clock::time_point upTo) {
    while (!queue.empty() && queue.front().m_since <= upTo) {
        const SHeldFrame held = std::move(queue.front());
        queue.pop_front();
        m_heldBytes -= held.m_bytes.size();
        Transmit(held.m_bytes.data(), static_cast<int>(held.m_bytes.size()));
    }
}

bool CBoardEmulator::Transmit(const unsigned char* frameBytes, int length, bool report) {
    if (m_sink) {
        m_sink(frameBytes, length);
    } else if (!m_handle) {
        return false;
    } else if (::pcap_sendpacket(m_handle, frameBytes, length) != 0) {
        // A link that is down refuses every frame; WatchLink has said so once.
        if (!m_linkDown && MayLog()) FLK_LOG(2) << "sending failed: " << ::pcap_geterr(m_handle);
        return false;
    }
    if (report) Bump(m_counters.m_reportsSent);
    return true;
}

void CBoardEmulator::Tick(Clock::time_point now) {
    if (!m_started) {
        m_started = true;
        m_start = now;
    }
    m_silent = Silent(now);
    const Clock::time_point heldSince = now - std::chrono::milliseconds(kReorderHoldMs);
    ReleaseReceived(m_receiveDelayed, now, now);
    ReleaseReceived(m_receiveReordered, heldSince, now);
    ReleaseSent(m_sendDelayed, now);
    ReleaseSent(m_sendReordered, heldSince);
    if (m_options.m_reportIntervalMs > 0 && now >= m_nextReport) {
        if (m_options.m_secondBoardFirstByte >= 0) {
            m_secondWriter.Report(kSymbolAutoReport, 0, m_secondReports++, SBoardStatus{},
                                  m_secondFrame);
            if (Transmit(m_secondFrame.data(), static_cast<int>(m_secondFrame.size()), false))
                Bump(m_counters.m_testFramesSent);
        }
        if (!m_silent) {
            const SBandResult latest = m_store.Query();
            m_writer.Report(kSymbolAutoReport, latest.m_band, m_autoReports++, StatusOf(latest),
                            m_reportFrame);
            SendReport(m_reportFrame, now);
        }
        const auto interval = std::chrono::milliseconds(m_options.m_reportIntervalMs);
        // Keep the rhythm, but after a stall start again from now rather than catch up.
        m_nextReport = m_nextReport + interval > now ? m_nextReport + interval : now + interval;
    }
    Flood(now);
    CollectDigests(false);
    if (now >= m_nextLogWindow) {
        if (m_logRecordsLeftOut > 0) {
            FLK_LOG(1) << m_logRecordsLeftOut << " log records left out in the last second";
            m_logRecordsLeftOut = 0;
        }
        if (m_bandLinesLeftOut > 0 && m_options.m_events) {
            *m_options.m_events << "and " << m_bandLinesLeftOut
                                << " more bands completed in the last second, not listed here"
                                << std::endl;
        }
        m_bandLinesLeftOut = 0;
        m_logRecords = 0;
        m_bandLines = 0;
        m_nextLogWindow = now + std::chrono::seconds(1);
    }
    if (m_handle && now >= m_nextCaptureStatistics) {
        RefreshCaptureStatistics();
        m_nextCaptureStatistics = now + std::chrono::seconds(1);
    }
}

void CBoardEmulator::RefreshCaptureStatistics() {
    pcap_stat counts{};
    if (!m_handle || ::pcap_stats(m_handle, &counts) != 0) return;
    m_counters.m_captureReceived.store(counts.ps_recv, std::memory_order_relaxed);
    m_counters.m_captureDropped.store(counts.ps_drop, std::memory_order_relaxed);
    m_counters.m_captureInterfaceDropped.store(counts.ps_ifdrop, std::memory_order_relaxed);
}

SImpairmentCounts CBoardEmulator::Snapshot(const SImpairmentCounters& c) {
    SImpairmentCounts counts;
    counts.m_dropped = c.m_dropped.load(std::memory_order_relaxed);
    counts.m_corrupted = c.m_corrupted.load(std::memory_order_relaxed);
    counts.m_duplicated = c.m_duplicated.load(std::memory_order_relaxed);
    counts.m_reordered = c.m_reordered.load(std::memory_order_relaxed);
    counts.m_delayed = c.m_delayed.load(std::memory_order_relaxed);
    return counts;
}

SEmulatorStatistics CBoardEmulator::Statistics() const {
    SEmulatorStatistics s;
    const auto get = [](const std::atomic<std::uint64_t>& c) {
        return c.load(std::memory_order_relaxed);
    };
    s.m_framesReceived = get(m_counters.m_framesReceived);
    s.m_printFrames = get(m_counters.m_printFrames);
    s.m_checksumErrors = get(m_counters.m_checksumErrors);
    s.m_lossesDetected = get(m_counters.m_lossesDetected);
    s.m_reportsSent = get(m_counters.m_reportsSent);
    s.m_commandsAnswered = get(m_counters.m_commandsAnswered);
    s.m_refusedPackets = get(m_counters.m_refusedPackets);
    s.m_otherFrames = get(m_counters.m_otherFrames);
    s.m_captureReceived = get(m_counters.m_captureReceived);
    s.m_captureDropped = get(m_counters.m_captureDropped);
    s.m_captureInterfaceDropped = get(m_counters.m_captureInterfaceDropped);
    s.m_ignoredWhileSilent = get(m_counters.m_ignoredWhileSilent);
    s.m_testFramesSent = get(m_counters.m_testFramesSent);
    s.m_linkOutages = get(m_counters.m_linkOutages);
    s.m_receiveImpairment = Snapshot(m_receiveCounts);
    s.m_sendImpairment = Snapshot(m_sendCounts);
    std::lock_guard<std::mutex> lock(m_bandsMutex);
    s.m_bands.assign(m_completedBands.begin(), m_completedBands.end());
    s.m_bandsCompleted = m_bandsCompletedTotal;
    return s;
}

}  // namespace ferrolink::tools

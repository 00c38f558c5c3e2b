#include "BandTransfer.h"

#include <algorithm>

#include "../common/BoardProtocol.h"
#include "BoardErrors.h"
#include "JobLink.h"

namespace tools = ferrolink::tools;

CBandTransfer::CBandTransfer(CJobLink& link, const SPrintJobOptions& options, std::uint64_t index,
                             const unsigned char* data, std::size_t bytes)
    : m_link(&link),
      m_options(options),
      m_index(index),
      m_data(data),
      m_bytes(bytes),
      m_packets(
          static_cast<std::uint32_t>((bytes + static_cast<std::size_t>(options.packetSize) - 1) /
                                     static_cast<std::size_t>(options.packetSize))),
      m_timer(options.replyTimeoutMs, options.commandTries) {}

bool CBandTransfer::SendPackets(std::uint32_t from, std::uint32_t end) {
    // A refused send put nothing on the wire that counts: the band is asked about afresh.
    if (!m_link->SendPackets(m_data, m_bytes, m_options.packetSize,
                             static_cast<std::uint32_t>(m_index), from, end))
        return false;
    m_framesSent += end - from;
    return true;
}

bool CBandTransfer::Ask(SendClock::time_point now) {
    if (m_sequence) m_link->Forget(m_sequence);
    m_sequence = m_link->PostCommand(tools::kSymbolEndOfBand, static_cast<std::uint32_t>(m_index),
                                     {m_packets, static_cast<std::uint32_t>(m_bytes),
                                      static_cast<std::uint32_t>(m_options.packetSize)});
    m_timer.Asked(now);
    return m_sequence != 0;
}

bool CBandTransfer::Start(SendClock::time_point now) {
    m_started = now;
    const bool sent = SendPackets(0, m_packets);
    m_timer.Restart(now);
    return Ask(now) && sent;
}

void CBandTransfer::AskAgain(SendClock::time_point now) {
    m_timer.Restart(now);
    if (m_state == EBandState::Awaiting) Ask(now);
}

void CBandTransfer::Abandon() {
    if (m_sequence) m_link->Forget(m_sequence);
    m_sequence = 0;
    m_data = nullptr;
}

EBandStep CBandTransfer::Fail(EExitStatus status, std::string text) {
    m_state = EBandState::Failed;
    m_status = status;
    m_error = std::move(text);
    Abandon();
    return EBandStep::Failed;
}

EBandStep CBandTransfer::Poll(SendClock::time_point now, CRoundTrip& roundTrip) {
    if (m_state != EBandState::Awaiting) return EBandStep::Nothing;
    SCommandReply reply;
    if (m_sequence && m_link->TakeReply(m_sequence, reply)) {
        m_sequence = 0;
        m_lastReplyMs = m_timer.Answered(now, roundTrip);
        return Judge(reply, now);
    }
    // No answer soon (or the EndOfBand never left): the command or its answer was lost, or the
    // link failed.
    if (m_sequence && !m_timer.Due(now, roundTrip)) return EBandStep::Nothing;
    if (m_link->LinkState() != ELinkState::Up) return EBandStep::LinkTrouble;
    if (m_timer.Expired(now)) {
        const std::uint64_t ignored = m_link->RepliesIgnored();
        return Fail(ExitStatus_JobFailed,
                    "the board did not answer the end of band " + std::to_string(m_index) +
                        " within " +
                        std::to_string(std::uint64_t{m_options.replyTimeoutMs} *
                                       static_cast<std::uint64_t>(m_options.commandTries)) +
                        " ms (--tries " + std::to_string(m_options.commandTries) +
                        " x --reply-timeout-ms " + std::to_string(m_options.replyTimeoutMs) + ")" +
                        (ignored > 0 ? "; " + std::to_string(ignored) +
                                           " answers came too late or to other commands"
                                     : std::string()) +
                        "; check that the board is on and that its link light is lit");
    }
    m_timer.BackOff(now, roundTrip);
    return Ask(now) ? EBandStep::Nothing : Trouble();
}

EBandStep CBandTransfer::Trouble() const {
    // A command refused while the link is up (the adapter's queue full behind a shaped link) is
    // asked again at the next look; only a link that is not up is the job's concern.
    return m_link->LinkState() == ELinkState::Up ? EBandStep::Nothing : EBandStep::LinkTrouble;
}

EBandStep CBandTransfer::Judge(const SCommandReply& reply, SendClock::time_point now) {
    const SWaitCheckParam& s = reply.m_status;
    const std::string bandName = "band " + std::to_string(m_index);
    if (s.ExistError_Fatal()) {
        const std::uint32_t word = CBoardErrors::Word(s);
        return Fail(ExitStatus_BoardFault,
                    "the board reports a fatal error in " + bandName + ": " +
                        CBoardErrors::Describe(word, tools::kFatalMask) +
                        "; the job is stopped. What to do: " + CBoardErrors::FirstRemedy(word));
    }
    const auto band32 = static_cast<std::uint32_t>(m_index);
    const bool echoed = reply.m_frameIndex == band32 && s.m_bandInfo[0] == band32;
    const bool whole = !s.ExistError_Resend() && echoed &&
                       s.m_frameIndexOfResend == static_cast<std::int32_t>(m_packets) &&
                       s.m_frameIndexOfCurMax == static_cast<std::int32_t>(m_packets) - 1;
    if (whole) {
        m_state = EBandState::Done;
        m_milliseconds = ::Milliseconds(now - m_started);
        m_data = nullptr;
        return EBandStep::Completed;
    }
    if (s.m_b0_Re_Frame_Ver_Err) ++m_checksumErrors;
    if (m_rounds >= m_options.maxResendsPerBand && !s.ExistError_Resend())
        return Fail(ExitStatus_JobFailed,
                    "the board answers \"no error\" for " + bandName +
                        " but does not vouch for its packets (resend index " +
                        std::to_string(s.m_frameIndexOfResend) + ", current maximum " +
                        std::to_string(s.m_frameIndexOfCurMax) + ", band " +
                        std::to_string(reply.m_frameIndex) + "; expected " +
                        std::to_string(m_packets) + ", " + std::to_string(m_packets - 1) + ", " +
                        std::to_string(m_index) + ") after " + std::to_string(m_rounds) +
                        " resend rounds; the job is stopped: have the board checked");
    if (m_rounds >= m_options.maxResendsPerBand)
        return Fail(ExitStatus_JobFailed,
                    bandName + " is still incomplete after " + std::to_string(m_rounds) +
                        " resend rounds (last answer: resend index " +
                        std::to_string(s.m_frameIndexOfResend) + ", current maximum " +
                        std::to_string(s.m_frameIndexOfCurMax) +
                        "); the link loses too much: check the cable");
    // Missing packets: from the index the board names. An answer that says "no error" but does
    // not vouch for this band's packets is no proof: the band goes again whole.
    std::uint32_t from = 0;
    if (s.ExistError_Resend() && echoed) {
        const std::int32_t named = s.m_frameIndexOfResend;
        if (named < 0 || named >= static_cast<std::int32_t>(m_packets))
            return Fail(ExitStatus_JobFailed, "the board asks to resend " + bandName +
                                                  " from packet " + std::to_string(named) +
                                                  ", outside its " + std::to_string(m_packets) +
                                                  " packets");
        from = static_cast<std::uint32_t>(named);
    }
    ++m_rounds;
    // The board names only the first missing packet, and how many it holds. As many packets as
    // are missing go out from the first gap: a burst is repaired in one round, a scattered loss
    // costs one small round trip per gap while other bands keep the wire busy. After eight
    // rounds (or without such an answer), the rest of the band.
    std::uint32_t end = m_packets;
    if (s.ExistError_Resend() && echoed && m_rounds <= 8) {
        const std::uint32_t held = s.m_bandInfo[1];
        const std::uint32_t missing = held < m_packets ? m_packets - held : 1;
        end = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(m_packets, std::uint64_t{from} + missing));
    }
    const bool sent = SendPackets(from, end);
    m_timer.Restart(now);
    if (Ask(now) && sent) return EBandStep::Answered;
    return Trouble() == EBandStep::Nothing ? EBandStep::Answered : EBandStep::LinkTrouble;
}

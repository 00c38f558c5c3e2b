#include "JobStart.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "../common/BoardProtocol.h"
#include "BoardErrors.h"
#include "ReplyTimer.h"

namespace tools = ferrolink::tools;

namespace {

std::string ByteText(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

}  // namespace

CJobStart::CJobStart(CJobLink& link, unsigned replyTimeoutMs, int tries)
    : m_link(link), m_timeoutMs(replyTimeoutMs), m_tries(tries) {}

// The configured address and every board heard on the link are asked at once; a board heard
// meanwhile is asked too. The configured board's answer wins whenever it comes within the try:
// another board that answered sooner (on a busy machine the order of two answers is the
// scheduler's) gets the job only once the configured one has had kConfiguredBoardGrace more to
// answer, so a job never goes to another board by a race.
bool CJobStart::Query(SJobStartResult& result, SCommandReply& status) {
    const unsigned char configured = m_link.BoardAddress();
    for (int attempt = 0; attempt < m_tries; ++attempt) {
        std::vector<std::pair<unsigned char, std::uint32_t>> asked;
        std::vector<unsigned char> targets = {configured};
        for (unsigned char heard : m_link.BoardsHeard())
            if (std::find(targets.begin(), targets.end(), heard) == targets.end())
                targets.push_back(heard);
        auto ask = [&](unsigned char board) {
            m_link.UseBoardAddress(board);
            if (const std::uint32_t sequence = m_link.PostCommand(tools::kSymbolStatusQuery, 0, {}))
                asked.emplace_back(board, sequence);
        };
        for (unsigned char board : targets) ask(board);
        const auto end = SendClock::now() + std::chrono::milliseconds(m_timeoutMs);
        // The first answer of a board other than the configured one, and until when it waits.
        std::pair<unsigned char, std::uint32_t> other{0, 0};
        SCommandReply otherStatus;
        SendClock::time_point otherUntil{};
        auto choose = [&](const std::pair<unsigned char, std::uint32_t>& chosen) {
            for (const auto& entry : asked)
                if (entry.second != chosen.second) m_link.Forget(entry.second);
            m_link.UseBoardAddress(chosen.first);
            result.board = chosen.first;
            return true;
        };
        for (;;) {
            for (const auto& entry : asked) {
                if (entry.second == other.second) continue;
                SCommandReply reply;
                if (!m_link.TakeReply(entry.second, reply)) continue;
                if (entry.first == configured) {
                    status = reply;
                    return choose(entry);
                }
                if (other.second == 0) {
                    other = entry;
                    otherStatus = reply;
                    otherUntil = std::min(end, SendClock::now() + kConfiguredBoardGrace);
                }
            }
            const auto now = SendClock::now();
            if (other.second != 0 && now >= otherUntil) {
                status = otherStatus;
                return choose(other);
            }
            if (now >= end) break;
            // A board heard meanwhile is asked at once.
            for (unsigned char heard : m_link.BoardsHeard())
                if (std::find(targets.begin(), targets.end(), heard) == targets.end()) {
                    targets.push_back(heard);
                    ask(heard);
                }
            const auto until = other.second != 0 ? otherUntil : end;
            m_link.WaitForReply(
                static_cast<unsigned>(std::min<double>(20.0, Milliseconds(until - now))) + 1);
        }
        for (const auto& entry : asked) m_link.Forget(entry.second);
    }
    m_link.UseBoardAddress(configured);
    return false;
}

std::string CJobStart::BoardsNotice(const std::string& interface, std::vector<unsigned char> heard,
                                    unsigned char board, const char* goes) {
    std::sort(heard.begin(), heard.end());
    std::string list;
    for (unsigned char b : heard) list += (list.empty() ? "" : ", ") + ByteText(b);
    return "boards heard on " + interface + " (first MAC byte): " + list + "; this job " + goes +
           " to " + ByteText(board) + ", the one that answered the status query";
}

SJobStartResult CJobStart::Run(const Claim& claim) {
    SJobStartResult result;
    const std::string interface = m_link.InterfaceName();
    auto since = SendClock::now();
    SCommandReply status;
    if (!Query(result, status)) {
        result.queryMs = Milliseconds(SendClock::now() - since);
        if (m_link.LinkState() == ELinkState::Gone) {
            result.status = ExitStatus_LinkFailed;
            result.error = "the interface " + interface + " is gone";
        } else if (m_link.LinkState() == ELinkState::Down) {
            result.status = ExitStatus_LinkFailed;
            result.error =
                "the link on " + interface + " is down: check the cable and the board's power";
        } else {
            // Something that answers with other sequence numbers (another host's board, a device
            // that copies frames back) is worth knowing about: the board is not simply off.
            const std::uint64_t ignored = m_link.RepliesIgnored();
            result.status = ExitStatus_JobFailed;
            result.error = "the board on " + interface + " does not answer a status query (" +
                           std::to_string(m_tries) + " tries of " + std::to_string(m_timeoutMs) +
                           " ms; --reply-timeout-ms)" +
                           (ignored > 0 ? "; " + std::to_string(ignored) +
                                              " answers came too late or to other commands: is "
                                              "another program driving the board, or does it "
                                              "need a longer --reply-timeout-ms?"
                                        : ": is it on, and is this its adapter?");
        }
        return result;
    }
    result.queryMs = Milliseconds(SendClock::now() - since);
    std::vector<unsigned char> heard = m_link.BoardsHeard();
    if (std::find(heard.begin(), heard.end(), result.board) == heard.end())
        heard.push_back(result.board);
    if (heard.size() > 1) {
        result.notice = BoardsNotice(interface, heard, result.board, "goes");
        result.boardsNamed = heard.size();
    }
    // A latched fault would be forgotten by the Reset below and come back during the job: the
    // job is refused before its first frame.
    if (status.m_status.ExistError_Fatal()) {
        const std::uint32_t word = CBoardErrors::Word(status.m_status);
        result.status = ExitStatus_BoardFault;
        result.error = "the board on " + interface + " already reports a fatal error: " +
                       CBoardErrors::Describe(word, tools::kFatalMask) + "; nothing was sent. " +
                       CBoardErrors::LatchedRemedy(word, interface);
        return result;
    }
    since = SendClock::now();
    if (!claim(result.board, result.error, result.status)) {
        result.claimMs = Milliseconds(SendClock::now() - since);
        return result;
    }
    result.claimMs = Milliseconds(SendClock::now() - since);
    // The board keeps unfinished bands and answers a repeated EndOfBand of a printed one as it
    // did before: left from an earlier job, either would pass for this job's band.
    since = SendClock::now();
    if (!m_link.Command(tools::kSymbolReset, 0, {}, m_timeoutMs, m_tries, result.reset)) {
        result.resetMs = Milliseconds(SendClock::now() - since);
        result.status = ExitStatus_JobFailed;
        result.error = "the board on " + interface + " does not answer a Reset (" +
                       std::to_string(m_tries) + " tries of " + std::to_string(m_timeoutMs) +
                       " ms)";
        return result;
    }
    result.resetMs = Milliseconds(SendClock::now() - since);
    result.ok = true;
    result.status = ExitStatus_Ok;
    return result;
}

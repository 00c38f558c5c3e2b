#include "PrintJob.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <thread>

#include <ferrolink/transmit/ActualPrintData.h>

#include "../common/BoardProtocol.h"
#include "BandSource.h"
#include "BoardErrors.h"
#include "BoardLink.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace tools = ferrolink::tools;
using Clock = std::chrono::steady_clock;

namespace {

// What the sender keeps of a band between its first frame and the board's word that it is whole.
struct SInFlight {
    SJobBand* band = nullptr;
    CActualPrintData print;
    std::uint32_t packets = 0;
    std::uint32_t sequence = 0;  // of the EndOfBand awaiting its answer; 0: none posted
    Clock::time_point asked;     // when that EndOfBand was posted
    Clock::time_point waiting;   // since when an answer is awaited (the last answer, or the send)
    Clock::time_point started;
    int resends = 0;
    double retryMs = 0;  // wait before asking again; grows while answers stay away
    bool done = false;   // then `band` is back with the reader and `sha256` holds its digest
    std::uint64_t index = 0;
    std::uint64_t bytes = 0;
    std::string sha256;
    double milliseconds = 0;
};

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

CPrintJob::CPrintJob(CBoardLink& link, SPrintJobOptions options)
    : m_link(link), m_options(options) {}

std::size_t CPrintJob::BuffersFor(const SPrintJobOptions& o) {
    // Each band in memory is a buffer here and, while it is sent, a send queue in the library;
    // with the library's own rings that leaves room for about 16 MiB of buffers beyond one.
    return static_cast<std::size_t>(
        std::max<std::uint64_t>(1 + (std::uint64_t{16} << 20) / o.bandSize, 2));
}

int CPrintJob::WindowFor(const SPrintJobOptions& o) {
    // Each band in flight holds a buffer: a window asked for is kept within the memory bound.
    if (o.window > 0)
        return static_cast<int>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(o.window), BuffersFor(o)));
    // Enough bands in flight to cover what the kernel queues ahead of the wire (a shaped
    // gigabit link holds 50 ms, 6 MB), at least three so that a band's resend round trips
    // overlap two others, within a quarter of the board's memory so that resends and a slow
    // printer never fill it, and within the buffers the sender may hold.
    const std::uint64_t packetsPerBand =
        (o.bandSize + static_cast<std::uint64_t>(o.packetSize) - 1) /
        static_cast<std::uint64_t>(o.packetSize);
    const std::uint64_t boardPackets = o.boardMemoryMiB * 512;  // 2 KiB per packet held
    const std::uint64_t byMemory = boardPackets / 4 / std::max<std::uint64_t>(packetsPerBand, 1);
    const std::uint64_t byBytes =
        std::max<std::uint64_t>((std::uint64_t{12} << 20) / o.bandSize, 3);
    const std::uint64_t byBuffers = BuffersFor(o);
    return static_cast<int>(
        std::clamp<std::uint64_t>(std::min({byMemory, byBytes, byBuffers}), 1, 32));
}

SPrintJobResult CPrintJob::Run(const std::string& path, const std::atomic<bool>& stop,
                               const BandDone& bandDone, const Notice& notice) {
    SPrintJobResult result;
    result.firstBand = m_options.fromBand;
    result.window = WindowFor(m_options);
    const auto window = static_cast<std::size_t>(result.window);

    const std::uint64_t packetsPerBand =
        (m_options.bandSize + static_cast<std::uint64_t>(m_options.packetSize) - 1) /
        static_cast<std::uint64_t>(m_options.packetSize);
    if (packetsPerBand >= (1u << 20)) {
        result.status = ExitStatus_Usage;
        result.error = "a band of " + std::to_string(m_options.bandSize) + " bytes needs " +
                       std::to_string(packetsPerBand) +
                       " packets, more than the board numbers (1048575): use a smaller --band-size "
                       "or a larger --packet-size";
        return result;
    }
    CBandSource source;
    // One band more than the window where memory allows: the reader fills it meanwhile.
    if (!source.Start(path, m_options.bandSize,
                      std::min(window + 1, std::max(BuffersFor(m_options), window)),
                      m_options.fromBand, result.error))
        return result;
    result.totalBytes = source.Bytes();

    const auto start = Clock::now();
    const auto interface = m_link.InterfaceName();
    std::deque<SInFlight> flight;
    bool endOfJob = false;
    std::uint64_t bytesDone = 0;
    double roundTripMs = 0;  // smoothed time from an EndOfBand to its answer

    auto fail = [&](EExitStatus status, std::string text) {
        result.status = status;
        result.error = std::move(text);
        for (auto& f : flight)
            if (f.sequence) m_link.Forget(f.sequence);
        for (auto& f : flight)
            if (f.band) source.Release(f.band);
        flight.clear();
        result.seconds = Milliseconds(Clock::now() - start) / 1000.0;
        return result;
    };
    auto askEndOfBand = [&](SInFlight& f) {
        if (f.sequence) m_link.Forget(f.sequence);
        f.sequence =
            m_link.PostCommand(tools::kSymbolEndOfBand, static_cast<std::uint32_t>(f.band->m_index),
                               {f.packets, static_cast<std::uint32_t>(f.band->m_bytes),
                                static_cast<std::uint32_t>(m_options.packetSize)});
        f.asked = Clock::now();
        return f.sequence != 0;
    };
    // Sends packets from..end-1 of the band (the library sends from the start index to the end
    // of the list, so the list is cut at `end`).
    auto sendFrom = [&](SInFlight& f, int from, std::uint32_t end) {
        f.print.CutIntoPackets(m_options.packetSize);
        f.print.m_packetList.resize(std::min<std::size_t>(end, f.print.m_packetList.size()));
        f.print.m_startPacketIndex = from;
        const bool sent = m_link.SendBand(f.print, static_cast<int>(f.band->m_index));
        f.waiting = Clock::now();
        return askEndOfBand(f) && sent;
    };
    // The link failed (a send refused, or no answer): wait for it while it is only down.
    // True when it is up again (every band in flight is then asked about afresh).
    auto waitForLink = [&](std::string& why, EExitStatus& status) {
        ELinkState state = m_link.LinkState();
        if (state == ELinkState::Up) return true;
        const auto since = Clock::now();
        bool told = false;
        while (state == ELinkState::Down && !stop.load() &&
               Clock::now() - since < std::chrono::milliseconds(m_options.linkWaitMs)) {
            if (!told && notice)
                notice("the link on " + interface + " is down; waiting up to " +
                       std::to_string(m_options.linkWaitMs) + " ms for it");
            told = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            state = m_link.LinkState();
        }
        status = ExitStatus_LinkFailed;
        if (state == ELinkState::Gone) {
            why =
                "the interface " + interface + " is gone (removed from the system) during the job";
            return false;
        }
        if (state == ELinkState::Down) {
            why = stop.load() ? "interrupted"
                              : "the link on " + interface + " stayed down for more than " +
                                    std::to_string(m_options.linkWaitMs) +
                                    " ms; check the cable and that the board is powered";
            if (stop.load()) status = ExitStatus_Interrupted;
            return false;
        }
        ++result.linkOutages;
        if (notice)
            notice("the link on " + interface + " is back after " +
                   std::to_string(static_cast<long long>(Milliseconds(Clock::now() - since))) +
                   " ms; asking the board where each band stands");
        for (auto& f : flight) {
            f.waiting = Clock::now();
            if (!f.done) askEndOfBand(f);
        }
        return true;
    };

    for (;;) {
        if (stop.load()) return fail(ExitStatus_Interrupted, "interrupted");
        // Keep the window full: the next band goes out while earlier ones await their answer.
        // A band finished behind an unfinished one waits for it without holding its buffer; the
        // list of such bands is bounded too.
        auto pending = [&] {
            return static_cast<std::size_t>(std::count_if(
                flight.begin(), flight.end(), [](const SInFlight& f) { return !f.done; }));
        };
        while (!endOfJob && pending() < window && flight.size() < 4 * window) {
            SJobBand* band = source.Next(stop);
            if (!band) {
                if (stop.load()) return fail(ExitStatus_Interrupted, "interrupted");
                if (!source.Error().empty()) return fail(ExitStatus_JobFailed, source.Error());
                endOfJob = true;
                break;
            }
            flight.emplace_back();
            SInFlight& f = flight.back();
            f.band = band;
            f.index = band->m_index;
            f.bytes = band->m_bytes;
            f.print.UseBuffer(band->m_data.data(), static_cast<std::int64_t>(band->m_bytes));
            f.print.CutIntoPackets(m_options.packetSize);
            f.packets = static_cast<std::uint32_t>(f.print.m_packetList.size());
            f.started = Clock::now();
            if (!sendFrom(f, 0, f.packets)) {
                std::string why;
                EExitStatus status = ExitStatus_JobFailed;
                if (!waitForLink(why, status)) return fail(status, why);
            }
        }
        if (flight.empty()) break;

        m_link.WaitForReply(20);
        const auto now = Clock::now();
        for (auto& f : flight) {
            if (f.done) continue;
            SCommandReply reply;
            const std::uint32_t sequence = f.sequence;
            if (sequence && m_link.TakeReply(sequence, reply)) {
                f.sequence = 0;
                f.waiting = now;
                f.retryMs = 0;
                const double rtt = Milliseconds(now - f.asked);
                roundTripMs = roundTripMs > 0 ? 0.875 * roundTripMs + 0.125 * rtt : rtt;
                const SWaitCheckParam& s = reply.m_status;
                const std::string bandName = "band " + std::to_string(f.band->m_index);
                if (s.ExistError_Fatal()) {
                    const std::uint32_t word = CBoardErrors::Word(s);
                    std::string text = "the board reports a fatal error in " + bandName + ": " +
                                       CBoardErrors::Describe(word, tools::kFatalMask) +
                                       "; the job is stopped. What to do: ";
                    for (int bit = 2; bit < 8; ++bit)
                        if (word & (1u << bit)) {
                            text += CBoardErrors::Remedy(bit);
                            break;
                        }
                    return fail(ExitStatus_BoardFault, text);
                }
                const bool echoed =
                    reply.m_frameIndex == static_cast<std::uint32_t>(f.band->m_index) &&
                    s.m_bandInfo[0] == static_cast<std::uint32_t>(f.band->m_index);
                const bool whole =
                    !s.ExistError_Resend() && echoed &&
                    s.m_frameIndexOfResend == static_cast<std::int32_t>(f.packets) &&
                    s.m_frameIndexOfCurMax == static_cast<std::int32_t>(f.packets) - 1;
                if (whole) {
                    f.done = true;
                    f.milliseconds = Milliseconds(now - f.started);
                    f.sha256 = source.Digest(f.band);
                    source.Release(f.band);
                    f.band = nullptr;
                    // It may wait behind an unfinished band: keep nothing of its packets.
                    decltype(f.print.m_packetList)().swap(f.print.m_packetList);
                    continue;
                }
                if (s.m_b0_Re_Frame_Ver_Err) ++result.checksumErrorsReported;
                if (f.resends >= m_options.maxResendsPerBand && !s.ExistError_Resend())
                    return fail(ExitStatus_JobFailed,
                                "the board answers \"no error\" for " + bandName +
                                    " but does not vouch for its packets (resend index " +
                                    std::to_string(s.m_frameIndexOfResend) + ", current maximum " +
                                    std::to_string(s.m_frameIndexOfCurMax) + ", band " +
                                    std::to_string(reply.m_frameIndex) + "; expected " +
                                    std::to_string(f.packets) + ", " +
                                    std::to_string(f.packets - 1) + ", " + std::to_string(f.index) +
                                    ") after " + std::to_string(f.resends) +
                                    " resends; the job is stopped: have the board checked");
                if (f.resends >= m_options.maxResendsPerBand)
                    return fail(ExitStatus_JobFailed,
                                bandName + " is still incomplete after " +
                                    std::to_string(f.resends) +
                                    " resends (last answer: resend index " +
                                    std::to_string(s.m_frameIndexOfResend) + ", current maximum " +
                                    std::to_string(s.m_frameIndexOfCurMax) +
                                    "); the link loses too much: check the cable");
                // Missing packets: from the index the board names. An answer that says "no
                // error" but does not vouch for this band's packets is no proof: send it whole.
                int from = 0;
                if (s.ExistError_Resend() && echoed) {
                    from = s.m_frameIndexOfResend;
                    if (from < 0 || from >= static_cast<int>(f.packets))
                        return fail(ExitStatus_JobFailed,
                                    "the board asks to resend " + bandName + " from packet " +
                                        std::to_string(from) + ", outside its " +
                                        std::to_string(f.packets) + " packets");
                }
                ++f.resends;
                ++result.resends;
                // The board names only the first missing packet, and how many it holds. As many
                // packets as are missing go out from the first gap: a burst is repaired in one
                // round, a scattered loss costs one small round trip per gap while other bands
                // keep the wire busy. After eight rounds (or without such an answer), the rest
                // of the band.
                std::uint32_t end = f.packets;
                if (s.ExistError_Resend() && echoed && f.resends <= 8) {
                    const std::uint32_t held = s.m_bandInfo[1];
                    const std::uint32_t missing = held < f.packets ? f.packets - held : 1;
                    end = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                        f.packets, std::uint64_t{static_cast<std::uint32_t>(from)} + missing));
                }
                if (!sendFrom(f, from, end)) {
                    std::string why;
                    EExitStatus status = ExitStatus_JobFailed;
                    if (!waitForLink(why, status)) return fail(status, why);
                }
                continue;
            }
            // No answer soon (or the EndOfBand never left): the command or its answer was lost,
            // or the link failed. Asking again early costs one small frame; waiting the whole
            // time-out for a lost answer would stall every band behind it. Each question asked
            // again waits twice as long as the one before, so that answers slower than the
            // estimate (which forgets the question they answer) are still taken in the end.
            const double timeoutMs = static_cast<double>(m_options.replyTimeoutMs);
            const double retryMs = std::min(
                std::max(std::clamp(4 * roundTripMs, 30.0, timeoutMs), f.retryMs), timeoutMs);
            if (sequence && Milliseconds(now - f.asked) < retryMs) continue;
            std::string why;
            EExitStatus status = ExitStatus_JobFailed;
            if (m_link.LinkState() != ELinkState::Up) {
                if (!waitForLink(why, status)) return fail(status, why);
                continue;
            }
            if (Milliseconds(now - f.waiting) >=
                static_cast<double>(m_options.replyTimeoutMs) * m_options.commandTries)
                return fail(ExitStatus_JobFailed,
                            "the board did not answer the end of band " + std::to_string(f.index) +
                                " within " +
                                std::to_string(std::uint64_t{m_options.replyTimeoutMs} *
                                               static_cast<std::uint64_t>(m_options.commandTries)) +
                                " ms (--tries " + std::to_string(m_options.commandTries) +
                                " x --reply-timeout-ms " +
                                std::to_string(m_options.replyTimeoutMs) + ")" +
                                (m_link.RepliesIgnored() > 0
                                     ? "; " + std::to_string(m_link.RepliesIgnored()) +
                                           " answers came too late or to other commands"
                                     : std::string()) +
                                "; check that the board is on and that its link light is lit");
            f.retryMs = 2 * retryMs;
            if (!askEndOfBand(f) && !waitForLink(why, status)) return fail(status, why);
        }
        // Completed bands leave in order, so their reports (and digests) come in band order.
        while (!flight.empty() && flight.front().done) {
            SInFlight& f = flight.front();
            SBandReport report;
            report.index = f.index;
            report.bytes = f.bytes;
            report.packets = f.packets;
            report.resends = f.resends;
            report.milliseconds = f.milliseconds;
            report.sha256 = std::move(f.sha256);
            bytesDone += f.bytes;
            result.bytes = bytesDone;
            ++result.bands;
            flight.pop_front();
            result.seconds = Milliseconds(Clock::now() - start) / 1000.0;
            if (bandDone) bandDone(report, result);
        }
    }
    result.seconds = Milliseconds(Clock::now() - start) / 1000.0;
    result.ok = true;
    result.status = ExitStatus_Ok;
    return result;
}

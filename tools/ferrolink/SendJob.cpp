#include "SendJob.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <memory>

#include <ferrolink/outside/Serialize_NetworkCommon.h>

#include "BandSource.h"
#include "BandWindow.h"
#include "BoardLink.h"
#include "CommandSupport.h"
#include "ExitStatus.h"
#include "FrameText.h"
#include "JobStart.h"
#include "PrintJob.h"
#include "ReplyTimer.h"
#include "Timeline.h"
#include "platform/Console.h"

using json = nlohmann::json;

namespace {

// Close to the process's start: static objects are made before main.
const SendClock::time_point g_processStart = SendClock::now();

// Standard output: text, or one JSON object per line.
class CSendOutput {
public:
    explicit CSendOutput(bool asJson) : m_json(asJson) {}
    // The message on standard error; with --json also the error object (CommandSupport).
    int Fail(EExitStatus status, const std::string& text) { return ::Fail(status, text); }
    void Notice(const std::string& text) {
        if (m_json) Line({{"event", "notice"}, {"message", text}});
        std::fflush(stdout);
        std::fprintf(stderr, "ferrolink: %s\n", text.c_str());
    }
    void Line(json object) {
        object["time"] = CFrameText::NowRfc3339();
        PrintJsonLine(object.dump());
    }
    bool Json() const { return m_json; }

private:
    bool m_json;
};

// The progress line on a terminal: redrawn in place, and finished before any other line.
class CProgressLine {
public:
    explicit CProgressLine(bool enabled) : m_enabled(enabled) {}
    void Draw(const SPrintJobResult& r) {
        if (!m_enabled) return;
        constexpr int kWidth = 30;
        const double fraction =
            r.totalBytes ? static_cast<double>(r.bytes) / static_cast<double>(r.totalBytes) : 1.0;
        const int filled = static_cast<int>(fraction * kWidth);
        std::printf("\r[%.*s%*s] %5.1f%% %.1f/%.1f MB %.1f MB/s resent %llu", filled,
                    "##############################", kWidth - filled, "", fraction * 100.0,
                    static_cast<double>(r.bytes) / 1e6, static_cast<double>(r.totalBytes) / 1e6,
                    r.seconds > 0 ? static_cast<double>(r.bytes) / 1e6 / r.seconds : 0.0,
                    static_cast<unsigned long long>(r.framesResent));
        std::fflush(stdout);
        m_drawn = true;
    }
    void Finish() {
        if (!m_drawn) return;
        std::fputc('\n', stdout);
        std::fflush(stdout);
        m_drawn = false;
    }

private:
    bool m_enabled;
    bool m_drawn = false;
};

std::string Statistics(const SPrintJobResult& r, CBoardLink& link) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "statistics: %llu print frames sent for %llu packets, %llu resent (%.1f %% "
                  "overhead, %llu resend rounds), %llu frames received, checksum errors reported "
                  "%llu, capture drops %llu, link outages %llu",
                  static_cast<unsigned long long>(r.framesSent),
                  static_cast<unsigned long long>(r.packets),
                  static_cast<unsigned long long>(r.framesResent), 100.0 * r.Overhead(),
                  static_cast<unsigned long long>(r.resendRounds),
                  static_cast<unsigned long long>(link.FramesReceived()),
                  static_cast<unsigned long long>(r.checksumErrorsReported),
                  static_cast<unsigned long long>(link.CaptureDrops()),
                  static_cast<unsigned long long>(r.linkOutages));
    return text;
}

}  // namespace

int RunSend(const SSendRequest& q, const std::atomic<bool>& stop, const bool* abort) {
    const auto begun = SendClock::now();
    CSendOutput out(q.asJson);
    const SPrintJobOptions& options = q.options;
    // Every argument is checked before anything touches the board.
    std::string problem;
    if (!CPrintJob::CheckOptions(options, problem)) return out.Fail(ExitStatus_Usage, problem);
    if (!CBandSource::Check(q.file, options.bandSize, options.fromBand, problem))
        return out.Fail(ExitStatus_JobFailed, problem);
    CTimeline timeline;
    if (!q.timeline.empty() && !timeline.Open(q.timeline, problem))
        return out.Fail(ExitStatus_JobFailed, problem);

    // The configuration names the adapter and the board: the board is asked at once. Without a
    // device, the configured adapter is tried the same way before a search.
    const std::string configured = OC_NetworkCommon.Previous_PCapDeviceName_Get();
    const unsigned char configuredBoard =
        CSerialize_NetworkCommon::Address_Enum_2_Value(OC_NetworkCommon.SoftwareMac_Address_Get());
    auto link = std::make_unique<CBoardLink>();
    SJobStartResult started;
    double openMs = 0;
    auto attempt = [&](const std::string& device, bool searched, int tries, EExitStatus& status,
                       std::string& error) {
        auto since = SendClock::now();
        if (!link->Open(device, abort, error, status)) return false;
        if (!searched) link->UseBoardAddress(configuredBoard);
        if (!link->StartReceiving(CaptureMode_ToPcOrBoard)) {
            error = "the receive thread did not start on " + link->DeviceName();
            status = ExitStatus_LinkFailed;
            return false;
        }
        openMs = Milliseconds(SendClock::now() - since);
        CJobStart start(*link, options.replyTimeoutMs, tries);
        started = start.Run([&](unsigned char board, std::string& e, EExitStatus& s) {
            // A search has claimed the board it heard already.
            return searched || link->ClaimNamedBoard(0, e, s, board);
        });
        error = started.error;
        status = started.status;
        return started.ok;
    };
    EExitStatus status = ExitStatus_JobFailed;
    std::string error;
    bool ready = false;
    if (!q.device.empty()) {
        ready = attempt(q.device, false, options.commandTries, status, error);
    } else {
        const bool tryConfigured = !configured.empty();
        // One try: a board that stays silent there is looked for on every adapter.
        if (tryConfigured) ready = attempt(configured, false, 1, status, error);
        // A held or faulty board, or an interrupt, is the answer; silence leads to a search.
        if (!ready && !stop.load() &&
            (!tryConfigured || status == ExitStatus_JobFailed || status == ExitStatus_LinkFailed)) {
            if (tryConfigured && q.verbose && !q.asJson)
                out.Notice("no answer on the configured adapter " + configured + " (" + error +
                           "); searching every adapter");
            link = std::make_unique<CBoardLink>();
            ready = attempt(std::string(), true, options.commandTries, status, error);
        }
    }
    if (!started.notice.empty()) out.Notice(started.notice);
    if (!ready) return out.Fail(status, error);

    CPrintJob job(*link, options);
    const CBandWindow window(options);
    // Room in the adapter's send buffer for the bands in flight (frames carry 28 bytes more).
    link->SizeSendBuffer(
        static_cast<std::size_t>(static_cast<std::uint64_t>(window.Size()) *
                                 (options.bandSize + PacketsPerBand(options) * 28)));
    if (timeline.IsOpen()) job.SetTimeline(&timeline);
    SendClock::time_point firstFrame{};
    job.SetFirstFrame([&] { firstFrame = SendClock::now(); });

    const bool terminal = ferrolink::tools::CConsole::OutputIsTerminal();
    CProgressLine progress(terminal && !q.asJson);
    // Band lines are the job's record: always for a script, on a terminal only when asked.
    const bool bandLines = q.verbose || (!terminal && !q.asJson);
    const SPrintJobResult r = job.Run(
        q.file, stop,
        [&](const SBandReport& band, const SPrintJobResult& soFar) {
            if (q.asJson) {
                out.Line({{"event", "band"},
                          {"band", band.index},
                          {"sha256", band.sha256.empty() ? json(nullptr) : json(band.sha256)},
                          {"packets", band.packets},
                          {"bytes", band.bytes},
                          {"frames_resent", band.framesResent},
                          {"resend_rounds", band.rounds},
                          {"milliseconds", band.milliseconds}});
            } else if (bandLines) {
                progress.Finish();
                const std::string digest = band.sha256.empty() ? "-" : band.sha256;
                if (q.verbose)
                    std::printf(
                        "band %llu sha256 %s  %u packets, %llu bytes, %llu frames resent "
                        "in %d rounds, %.1f ms\n",
                        static_cast<unsigned long long>(band.index), digest.c_str(), band.packets,
                        static_cast<unsigned long long>(band.bytes),
                        static_cast<unsigned long long>(band.framesResent), band.rounds,
                        band.milliseconds);
                else
                    std::printf("band %llu sha256 %s\n",
                                static_cast<unsigned long long>(band.index), digest.c_str());
            }
            progress.Draw(soFar);
        },
        [&](const std::string& text) {
            progress.Finish();
            out.Notice(text);
        });
    progress.Finish();
    link->StopReceiving();
    // Another board (or a device forging one) not named before the job is told now, also one
    // heard between the status answer and the first print frame.
    const std::vector<unsigned char> heard = link->BoardsHeard();
    if (heard.size() > 1 && heard.size() > started.boardsNamed)
        out.Notice(CJobStart::BoardsNotice(link->InterfaceName(), heard, started.board, "went"));
    // The board that answered is the one to ask at once next time (where the configuration
    // accepts any first byte, the byte only names the board to ask).
    if (started.board != configuredBoard &&
        OC_NetworkCommon.SoftwareMac_Mode_Get() == SoftwareMacMode_AnyFirstByte)
        OC_NetworkCommon.SoftwareMac_Address_Set(
            CSerialize_NetworkCommon::Address_Value_2_Enum(started.board));
    std::string timelineError;
    const bool timelineOk = timeline.Close(timelineError);

    const double toFirstMs =
        firstFrame == SendClock::time_point{} ? -1 : Milliseconds(firstFrame - g_processStart);
    const double mb = static_cast<double>(r.bytes) / 1e6;
    const double rate = r.seconds > 0 ? mb / r.seconds : 0.0;
    const std::uint64_t bands = (r.totalBytes + options.bandSize - 1) / options.bandSize;
    int code = r.ok ? ExitStatus_Ok : r.status;
    std::string failure = r.error;
    if (r.ok && !timelineOk) {
        code = ExitStatus_JobFailed;
        failure = timelineError;
    }
    if (q.asJson) {
        json summary = {{"event", "summary"},
                        {"ok", code == ExitStatus_Ok},
                        {"file", q.file},
                        {"adapter", link->DeviceName()},
                        {"exit_status", code},
                        {"bytes", r.bytes},
                        {"total_bytes", r.totalBytes},
                        {"bands", r.bands},
                        {"first_band", r.firstBand},
                        {"band_size", options.bandSize},
                        {"window", r.window},
                        {"seconds", r.seconds},
                        {"mb_per_s", rate},
                        {"gigabit_goodput_ratio", rate / kGigabitGoodputMBps},
                        {"packets", r.packets},
                        {"frames_sent", r.framesSent},
                        {"frames_resent", r.framesResent},
                        {"overhead", r.Overhead()},
                        {"resend_rounds", r.resendRounds},
                        {"frames_received", link->FramesReceived()},
                        {"checksum_errors_reported", r.checksumErrorsReported},
                        {"link_outages", r.linkOutages},
                        {"capture_drops", link->CaptureDrops()},
                        {"digests", options.digest},
                        {"startup_ms",
                         {{"open", openMs},
                          {"status_query", started.queryMs},
                          {"claim", started.claimMs},
                          {"reset", started.resetMs},
                          {"first_print_frame", toFirstMs}}},
                        {"peak_memory_mb", PeakMemoryMB()}};
        if (code != ExitStatus_Ok) {
            summary["error"] = failure;
            summary["resume_from_band"] = r.firstBand + r.bands;
        }
        out.Line(summary);
        if (code != ExitStatus_Ok) std::fprintf(stderr, "ferrolink: %s\n", failure.c_str());
        return code;
    }
    if (q.verbose)
        std::printf(
            "start-up: %.1f ms from the program's start to the command, %.1f ms opening %s, "
            "%.1f ms status query, %.1f ms claim, %.1f ms Reset; first print frame %.1f ms "
            "after the start\n",
            Milliseconds(begun - g_processStart), openMs, link->DeviceName().c_str(),
            started.queryMs, started.claimMs, started.resetMs, toFirstMs);
    if (code != ExitStatus_Ok) {
        std::fflush(stdout);
        std::fprintf(stderr, "ferrolink: %s\n", failure.c_str());
        if (!r.ok)
            std::fprintf(stderr,
                         "ferrolink: %llu of %llu bands completed; to go on from where it stopped: "
                         "--from-band %llu\n",
                         static_cast<unsigned long long>(r.bands),
                         static_cast<unsigned long long>(bands),
                         static_cast<unsigned long long>(r.firstBand + r.bands));
        std::printf("%s\n", Statistics(r, *link).c_str());
        return code;
    }
    std::printf(
        "sent %s: %.1f MB in %llu bands (from band %llu), %.2f s, %.1f MB/s (%.2f x "
        "gigabit goodput), %d bands in flight\n",
        q.file.c_str(), mb, static_cast<unsigned long long>(r.bands),
        static_cast<unsigned long long>(r.firstBand), r.seconds, rate, rate / kGigabitGoodputMBps,
        r.window);
    std::printf("%s\n", Statistics(r, *link).c_str());
    if (q.verbose) std::printf("peak memory: %.1f MB\n", PeakMemoryMB());
    return ExitStatus_Ok;
}

#include "SendCommand.h"

#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cstdio>

#include "../common/BoardProtocol.h"
#include "BandSource.h"
#include "CommandSupport.h"

namespace tools = ferrolink::tools;
using json = nlohmann::json;

namespace {

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
        std::printf("\r[%.*s%*s] %5.1f%% %.1f/%.1f MB %.1f MB/s resends %llu", filled,
                    "##############################", kWidth - filled, "", fraction * 100.0,
                    static_cast<double>(r.bytes) / 1e6, static_cast<double>(r.totalBytes) / 1e6,
                    r.seconds > 0 ? static_cast<double>(r.bytes) / 1e6 / r.seconds : 0.0,
                    static_cast<unsigned long long>(r.resends));
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

int Send(const std::string& device, const std::string& file, SPrintJobOptions options, bool verbose,
         bool asJson) {
    const bool terminal = ::isatty(STDOUT_FILENO) != 0;
    std::string problem;
    if (!CBandSource::Check(file, options.bandSize, options.fromBand, problem))
        return Fail(ExitStatus_JobFailed, problem);
    CBoardLink link;
    if (const int status = OpenLink(link, device, true)) return status;
    SCommandReply status;
    if (!link.Command(tools::kSymbolStatusQuery, 0, {}, options.replyTimeoutMs,
                      options.commandTries, status)) {
        if (link.LinkState() == ELinkState::Gone)
            return Fail(ExitStatus_LinkFailed,
                        "the interface " + link.InterfaceName() + " is gone");
        if (link.LinkState() == ELinkState::Down)
            return Fail(ExitStatus_LinkFailed,
                        "the link on " + link.InterfaceName() +
                            " is down: check the cable and the board's power");
        return Fail(ExitStatus_JobFailed,
                    "the board on " + link.DeviceName() + " does not answer a status query (" +
                        std::to_string(options.commandTries) + " tries of " +
                        std::to_string(options.replyTimeoutMs) +
                        " ms; --reply-timeout-ms): is it on, and is this its adapter?");
    }
    // The board keeps unfinished bands and answers a repeated EndOfBand of a printed one as it did
    // before: left from an earlier job, either would pass for this job's band. A board with a
    // fatal bit was refused above, before the Reset forgets it.
    if (!status.m_status.ExistError_Fatal() &&
        !link.Command(tools::kSymbolReset, 0, {}, options.replyTimeoutMs, options.commandTries,
                      status))
        return Fail(ExitStatus_JobFailed, "the board on " + link.DeviceName() +
                                              " does not answer a Reset (" +
                                              std::to_string(options.commandTries) + " tries of " +
                                              std::to_string(options.replyTimeoutMs) + " ms)");
    CProgressLine progress(terminal && !asJson);
    // Band lines are the job's record: always for a script, on a terminal only when asked.
    const bool bandLines = verbose || (!terminal && !asJson);
    CPrintJob job(link, options);
    const SPrintJobResult r = job.Run(
        file, g_stop,
        [&](const SBandReport& band, const SPrintJobResult& soFar) {
            if (bandLines) {
                progress.Finish();
                if (verbose)
                    std::printf(
                        "band %llu sha256 %s  %u packets, %llu bytes, %d resends, %.1f ms\n",
                        static_cast<unsigned long long>(band.index), band.sha256.c_str(),
                        band.packets, static_cast<unsigned long long>(band.bytes), band.resends,
                        band.milliseconds);
                else
                    std::printf("band %llu sha256 %s\n",
                                static_cast<unsigned long long>(band.index), band.sha256.c_str());
            }
            progress.Draw(soFar);
        },
        [&](const std::string& text) {
            progress.Finish();
            std::fflush(stdout);
            std::fprintf(stderr, "ferrolink: %s\n", text.c_str());
        });
    progress.Finish();
    link.StopReceiving();
    const double mb = static_cast<double>(r.bytes) / 1e6;
    const double rate = r.seconds > 0 ? mb / r.seconds : 0.0;
    if (asJson) {
        json out = {{"ok", r.ok},
                    {"file", file},
                    {"adapter", link.DeviceName()},
                    {"exit_status", r.ok ? 0 : static_cast<int>(r.status)},
                    {"bytes", r.bytes},
                    {"total_bytes", r.totalBytes},
                    {"bands", r.bands},
                    {"first_band", r.firstBand},
                    {"band_size", options.bandSize},
                    {"window", r.window},
                    {"seconds", r.seconds},
                    {"mb_per_s", rate},
                    {"gigabit_goodput_ratio", rate / kGigabitGoodputMBps},
                    {"frames_sent", link.FramesSent()},
                    {"frames_received", link.FramesReceived()},
                    {"resends", r.resends},
                    {"checksum_errors_reported", r.checksumErrorsReported},
                    {"link_outages", r.linkOutages},
                    {"capture_drops", link.CaptureDrops()},
                    {"peak_memory_mb", PeakMemoryMB()}};
        if (!r.ok) out["error"] = r.error;
        std::printf("%s\n", out.dump(2).c_str());
        std::fflush(stdout);
    }
    if (!r.ok) {
        if (!asJson) {
            std::fflush(stdout);
            std::fprintf(stderr, "ferrolink: %s\n", r.error.c_str());
            std::fprintf(stderr,
                         "ferrolink: %llu of %llu bands completed; to go on from where it stopped: "
                         "--from-band %llu\n",
                         static_cast<unsigned long long>(r.bands),
                         static_cast<unsigned long long>((r.totalBytes + options.bandSize - 1) /
                                                         options.bandSize),
                         static_cast<unsigned long long>(r.firstBand + r.bands));
            PrintStatistics(link, r.resends, r.checksumErrorsReported);
        }
        return r.status == ExitStatus_Interrupted ? ExitStatus_Interrupted : r.status;
    }
    if (!asJson) {
        std::printf(
            "sent %s: %.1f MB in %llu bands (from band %llu), %.2f s, %.1f MB/s (%.2f x "
            "gigabit goodput), %llu resends, %d bands in flight\n",
            file.c_str(), mb, static_cast<unsigned long long>(r.bands),
            static_cast<unsigned long long>(r.firstBand), r.seconds, rate,
            rate / kGigabitGoodputMBps, static_cast<unsigned long long>(r.resends), r.window);
        PrintStatistics(link, r.resends, r.checksumErrorsReported);
        if (verbose) std::printf("peak memory: %.1f MB\n", PeakMemoryMB());
    }
    return ExitStatus_Ok;
}

}  // namespace

CSendCommand::CSendCommand(CLI::App& app)
    : m_command(app.add_subcommand("send", "send a file to the board as print data")) {
    CLI::App* send = m_command;
    SPrintJobOptions& options = m_options;
    send->add_option("file", m_file, "the print data")->required();
    AddDeviceOption(send, m_device,
                    "use this interface instead of searching; the board is claimed as a search "
                    "would");
    send->add_option("-b,--band-size", options.bandSize, "bytes per band")
        ->check(CLI::Range(1, 256 << 20));
    send->add_option("--packet-size", options.packetSize, "bytes of print data per frame")
        ->check(CLI::Range(1, 1468));
    send->add_option("--reply-timeout-ms", options.replyTimeoutMs,
                     "wait for a board answer, per try")
        ->check(CLI::Range(1, 600000));
    send->add_option(
            "--tries", options.commandTries,
            "a band's answer is awaited --tries x --reply-timeout-ms (asked again meanwhile)")
        ->check(CLI::Range(1, 100));
    send->add_option("--window", options.window,
                     "bands outstanding at most; 0: enough for a gigabit link within a quarter of "
                     "the board's memory")
        ->check(CLI::Range(0, 64));
    send->add_option("--board-memory-mib", options.boardMemoryMiB, "the board's print memory")
        ->check(CLI::Range(1, 1 << 20));
    send->add_option("--link-wait-ms", options.linkWaitMs,
                     "how long the link may be down before the job fails")
        ->check(CLI::Range(0, 3600000));
    send->add_option("--from-band", options.fromBand,
                     "start at this band (to resume a stopped job)");
    send->add_flag("-v,--verbose", m_verbose,
                   "a line per band (digest, packets, resends, time), peak memory");
    send->add_flag("--json", m_json, "the summary as one JSON object, for scripts");
}

int CSendCommand::Run() {
    return Send(m_device, m_file, m_options, m_verbose, m_json);
}

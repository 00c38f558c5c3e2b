#include "SendCommand.h"

#include "CommandSupport.h"

CSendCommand::CSendCommand(CLI::App& app)
    : m_command(app.add_subcommand("send", "send a file to the board as print data")) {
    CLI::App* send = m_command;
    SPrintJobOptions& options = m_request.options;
    send->add_option("file", m_request.file, "the print data")->required();
    AddDeviceOption(send, m_request.device,
                    "use this interface instead of the configured one or a search; the board that "
                    "answers there is claimed");
    send->add_option("-b,--band-size", options.bandSize, "bytes per band")
        ->check(CLI::Range(1, 256 << 20));
    send->add_option("--packet-size", options.packetSize,
                     "bytes of print data per frame (a band is at most 1048575 packets)")
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
    // Checked as text: an unsigned option would take "-1" as 2^64-1.
    send->add_option("--from-band", options.fromBand,
                     "start at this band (to resume a stopped job)")
        ->check(CLI::Validator(
            [](std::string& text) {
                return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos
                           ? std::string()
                           : "must be a band number: 0 or more (given " + text + ")";
            },
            "BAND"));
    send->add_option("--timeline", m_request.timeline,
                     "write the job's course to FILE: time, bytes confirmed, band, frames resent, "
                     "reply time, link state (CSV when FILE ends in .csv, else JSON lines)");
    send->add_flag("--no-digest", m_noDigest,
                   "no SHA-256 per band, for a trusted link (the board still checks every frame)");
    send->add_flag("-v,--verbose", m_request.verbose,
                   "a line per band (digest, packets, frames resent, time), where start-up time "
                   "went, peak memory");
    send->add_flag("--json", m_request.asJson,
                   "one JSON object per line: one per band, notices, the summary last");
}

int CSendCommand::Run() {
    m_request.options.digest = !m_noDigest;
    return RunSend(m_request, g_stop, &g_abort);
}

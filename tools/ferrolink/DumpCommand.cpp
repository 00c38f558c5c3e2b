#include "DumpCommand.h"

#include <ferrolink/platform/Link.h>
#include <pcap/pcap.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>

#include "CaptureFileWriter.h"
#include "CommandSupport.h"
#include "FrameText.h"
#include "common/ConsoleLog.h"

using json = nlohmann::json;

namespace {

constexpr int kMaxSnapshot = 262144;  // libpcap's largest, and tcpdump's default

struct SDumpState {
    const SDumpOptions* options = nullptr;
    CCaptureFileWriter* file = nullptr;
    long captured = 0;
    long badChecksum = 0;
};

const char* DirectionWord(const unsigned char* frame, int length) {
    const std::string text = CFrameText::Direction(frame, length);
    return text == "board > PC" ? "in" : text == "PC > board" ? "out" : "unknown";
}

void DumpOne(u_char* user, const pcap_pkthdr* header, const u_char* frame) {
    auto* state = reinterpret_cast<SDumpState*>(user);
    const SDumpOptions& o = *state->options;
    if (o.count > 0 && state->captured >= o.count) return;
    pcap_pkthdr kept = *header;
    if (o.snapshotLength > 0 && kept.caplen > static_cast<bpf_u_int32>(o.snapshotLength))
        kept.caplen = static_cast<bpf_u_int32>(o.snapshotLength);
    const int length = static_cast<int>(kept.caplen);
    ++state->captured;
    // Frames cut by -s are not counted as bad: their checksum cannot be checked.
    const bool cut = CFrameText::IsCut(frame, length);
    const bool checksumOk = CFrameText::ChecksumValid(frame, length);
    if (!checksumOk && !cut) ++state->badChecksum;
    if (state->file) {
        state->file->Add(kept.ts.tv_sec, kept.ts.tv_usec, kept.caplen, kept.len, frame);
    } else if (o.json) {
        json out = {{"event", "frame"},
                    {"time", CFrameText::Rfc3339(kept.ts.tv_sec, kept.ts.tv_usec)},
                    {"direction", DirectionWord(frame, length)},
                    {"length", kept.len},
                    {"captured_length", kept.caplen},
                    {"checksum_ok", cut ? json(nullptr) : json(checksumOk)},
                    {"summary", CFrameText::Summary(frame, length)}};
        PrintJsonLine(out.dump());
    } else {
        std::string line = CFrameText::Timestamp(kept.ts.tv_sec, kept.ts.tv_usec) + " " +
                           CFrameText::Summary(frame, length) + "\n";
        if (o.hex > 0) line += CFrameText::Hex(frame, length, o.hex > 1);
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    if (o.count > 0 && state->captured >= o.count) g_stop.store(true);
}

}  // namespace

CDumpCommand::CDumpCommand(CLI::App& app)
    : m_command(app.add_subcommand("dump", "show board frames of both directions, or save them")) {
    SDumpOptions& o = m_options;
    AddDeviceOption(m_command, m_device,
                    "capture on this interface instead of searching (watches without claiming)");
    m_command->add_option("-w,--write", o.write,
                          "write a pcap capture file (- for standard output)");
    m_command->add_option("-r,--read", o.read, "read a pcap capture file (- for standard input)");
    m_command->add_option("-c,--count", o.count, "stop after this many frames; 0: no limit")
        ->check(kNotNegative);
    m_command->add_option("--seconds", o.seconds, "stop after this long; 0: at Ctrl-C")
        ->check(kNotNegative);
    m_command
        ->add_option("-s,--snapshot-length", o.snapshotLength,
                     "bytes kept of each frame; 0: the whole frame")
        ->check(CLI::Range(0, kMaxSnapshot));
    m_command
        ->add_option("-Q,--direction", o.direction, "in (board > PC), out (PC > board) or inout")
        ->check(CLI::IsMember({"in", "out", "inout"}));
    m_command->add_flag("-x", m_hex, "each frame's bytes in hexadecimal too");
    m_command->add_flag("-X", m_hexText, "each frame's bytes in hexadecimal and as text");
    m_command->add_flag("--json", o.json,
                        "one JSON object per frame and a summary line, for scripts");
    m_command->add_flag("-v,--verbose", "also the library's log records (--log-level failure)");
    m_command->add_option("filter", m_filterWords,
                          "capture filter expression (pcap-filter syntax), e.g. \"len > 100\"");
}

int CDumpCommand::Run() {
    for (const auto& w : m_filterWords)
        m_options.filter += (m_options.filter.empty() ? "" : " ") + w;
    m_options.hex = m_hexText ? 2 : m_hex ? 1 : 0;
    const SDumpOptions& o = m_options;
    if (o.json && o.write == "-")
        return Fail(ExitStatus_Usage, "--json and -w - both want standard output");
    // The output is checked before the capture starts: a path that will be refused is told at
    // once, and a file that was there is emptied only once there is something to write.
    CCaptureFileWriter file;
    std::string writeError;
    if (!o.write.empty() && !file.Open(o.write, writeError))
        return Fail(ExitStatus_JobFailed, writeError);
    CBoardLink link;
    pcap_t* source = nullptr;
    char errors[PCAP_ERRBUF_SIZE] = "";
    const bool live = o.read.empty();
    if (!live) {
        source = pcap_open_offline(o.read.c_str(), errors);
        if (!source) return Fail(ExitStatus_JobFailed, "cannot read " + o.read + ": " + errors);
    } else {
        std::string error;
        EExitStatus status = ExitStatus_JobFailed;
        if (!link.Open(m_device, &g_abort, error, status)) return Fail(status, error);
        source = static_cast<pcap_t*>(link.Handle());
    }
    struct SCloser {
        pcap_t* file;
        ~SCloser() {
            if (file) pcap_close(file);
        }
    } closer{live ? nullptr : source};
    // Frames to the PC, and frames to any board (bytes 1..5 of its address).
    const std::string toPc = "ether dst 7b:23:fc:98:10:99";
    const std::string toBoard = "(ether[1:4] = 0x3456789a and ether[5] = 0xbc)";
    std::string expression = o.direction == "in"    ? toPc
                             : o.direction == "out" ? toBoard
                                                    : "(" + toPc + " or " + toBoard + ")";
    if (!o.filter.empty()) expression += " and (" + o.filter + ")";
    bpf_program program{};
    if (pcap_compile(source, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0)
        return Fail(ExitStatus_Usage,
                    "bad capture filter \"" + o.filter + "\": " + pcap_geterr(source));
    const bool filtered = pcap_setfilter(source, &program) == 0;
    pcap_freecode(&program);
    if (!filtered)
        return Fail(ExitStatus_LinkFailed,
                    std::string("cannot install the capture filter: ") + pcap_geterr(source));
    SDumpState state;
    state.options = &o;
    if (!o.write.empty()) {
        const int snapshot = o.snapshotLength > 0 ? o.snapshotLength : kMaxSnapshot;
        // Ethernet's link type in a file is the same number as the capture library's.
        if (!file.Start(pcap_datalink(source), snapshot, writeError))
            return Fail(ExitStatus_JobFailed, writeError);
        state.file = &file;
    }
    if (live)
        std::fprintf(stderr, "ferrolink: capturing on %s (%s), Ctrl-C to stop\n",
                     link.DeviceName().c_str(), expression.c_str());
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(o.seconds);
    int status = ExitStatus_Ok;
    std::string failure;
    while (!g_stop.load() && (o.seconds <= 0 || std::chrono::steady_clock::now() < end)) {
        // The link's own read: it returns on its time-out also while no frame passes the filter,
        // so that --seconds ends a capture on a quiet link.
        const int n = ferrolink::platform::CLink::ReadBatch(source, 64, &DumpOne,
                                                            reinterpret_cast<u_char*>(&state));
        if (state.file && n > 0 && !file.Flush(writeError)) {
            failure = writeError;
            status = ExitStatus_JobFailed;
            break;
        }
        ferrolink::tools::CConsoleLog::Flush();
        if (n == PCAP_ERROR_BREAK || (n == 0 && !live)) break;  // the end of the file
        if (n < 0) {
            failure = std::string("capture failed: ") + pcap_geterr(source);
            status = ExitStatus_LinkFailed;
            break;
        }
    }
    pcap_stat stats{};
    const bool counted = live && pcap_stats(source, &stats) == 0;
    // Finished also after a failed capture, so that its frames reach the file; a write error is
    // told unless an earlier failure already was.
    if (state.file && !file.Finish(writeError) && failure.empty()) {
        failure = writeError;
        status = ExitStatus_JobFailed;
    }
    std::fflush(stdout);
    if (!failure.empty()) std::fprintf(stderr, "ferrolink: %s\n", failure.c_str());
    const unsigned long long dropped = counted ? stats.ps_drop + stats.ps_ifdrop : 0;
    if (o.json) {
        json out = {{"event", "summary"},
                    {"time", CFrameText::NowRfc3339()},
                    {"frames_captured", state.captured},
                    {"frames_dropped", counted ? json(dropped) : json(nullptr)},
                    {"frames_failed_checksum", state.badChecksum},
                    {"exit_status", status}};
        if (!failure.empty()) out["error"] = failure;
        PrintJsonLine(out.dump());
    }
    std::fprintf(stderr, "%ld frames captured\n", state.captured);
    if (counted) std::fprintf(stderr, "%llu frames dropped by kernel\n", dropped);
    std::fprintf(stderr, "%ld frames failed checksum\n", state.badChecksum);
    // Ctrl-C is how a capture ends: a success, as for tcpdump and tshark.
    return status;
}

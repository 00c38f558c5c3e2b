#include "DumpCommand.h"

#include <pcap/pcap.h>

#include <chrono>
#include <cstdio>

#include "CommandSupport.h"
#include "FrameText.h"

CDumpCommand::CDumpCommand(CLI::App& app)
    : m_command(app.add_subcommand("dump", "show board frames of both directions, or save them")) {
    SDumpOptions& o = m_options;
    AddDeviceOption(m_command, m_device,
                    "capture on this interface instead of searching (watches without claiming)");
    m_command->add_option("-w,--write", o.write,
                          "write a pcap capture file (- for standard output)");
    m_command->add_option("-r,--read", o.read, "read a pcap capture file (- for standard input)");
    m_command->add_option("-c,--count", o.count, "stop after this many frames; 0: no limit");
    m_command->add_option("-s,--seconds", o.seconds, "stop after this long; 0: at Ctrl-C");
    m_command->add_option("-d,--direction", o.direction, "which frames: both, to-pc, to-board")
        ->check(CLI::IsMember({"both", "to-pc", "to-board"}));
    m_command->add_flag("-q,--brief", o.brief, "summary lines only, no hexadecimal");
    m_command->add_option("filter", m_filterWords,
                          "capture filter expression (pcap-filter syntax), e.g. \"len > 100\"");
}

namespace {

struct SDumpState {
    const SDumpOptions* options = nullptr;
    pcap_dumper_t* dumper = nullptr;
    long captured = 0;
    long badChecksum = 0;
};

void DumpOne(u_char* user, const pcap_pkthdr* header, const u_char* frame) {
    auto* state = reinterpret_cast<SDumpState*>(user);
    const SDumpOptions& o = *state->options;
    if (o.count > 0 && state->captured >= o.count) return;
    const int length = static_cast<int>(header->caplen);
    ++state->captured;
    if (!CFrameText::ChecksumValid(frame, length)) ++state->badChecksum;
    if (state->dumper) {
        pcap_dump(reinterpret_cast<u_char*>(state->dumper), header, frame);
    } else {
        std::printf("%s %s\n", CFrameText::Timestamp(header->ts.tv_sec, header->ts.tv_usec).c_str(),
                    CFrameText::Summary(frame, length).c_str());
        if (!o.brief) std::fputs(CFrameText::Hex(frame, length).c_str(), stdout);
    }
    if (o.count > 0 && state->captured >= o.count) g_stop.store(true);
}

}  // namespace

int CDumpCommand::Run() {
    for (const auto& w : m_filterWords)
        m_options.filter += (m_options.filter.empty() ? "" : " ") + w;
    const std::string& device = m_device;
    const SDumpOptions& o = m_options;
    CBoardLink link;
    pcap_t* source = nullptr;
    char errors[PCAP_ERRBUF_SIZE] = "";
    if (!o.read.empty()) {
        source = pcap_open_offline(o.read.c_str(), errors);
        if (!source) return Fail(ExitStatus_JobFailed, "cannot read " + o.read + ": " + errors);
    } else {
        std::string error;
        EExitStatus status = ExitStatus_JobFailed;
        if (!link.Open(device, &g_abort, error, status)) return Fail(status, error);
        source = static_cast<pcap_t*>(link.Handle());
    }
    // Both directions: frames to the PC and frames to any board (bytes 1..5 of its address).
    const std::string toPc = "ether dst 7b:23:fc:98:10:99";
    const std::string toBoard = "(ether[1:4] = 0x3456789a and ether[5] = 0xbc)";
    std::string expression = o.direction == "to-pc"      ? toPc
                             : o.direction == "to-board" ? toBoard
                                                         : "(" + toPc + " or " + toBoard + ")";
    if (!o.filter.empty()) expression += " and (" + o.filter + ")";
    bpf_program program{};
    if (pcap_compile(source, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
        const std::string text = pcap_geterr(source);
        if (!o.read.empty()) pcap_close(source);
        return Fail(ExitStatus_Usage, "bad capture filter \"" + o.filter + "\": " + text);
    }
    const bool filtered = pcap_setfilter(source, &program) == 0;
    pcap_freecode(&program);
    if (!filtered) {
        if (!o.read.empty()) pcap_close(source);
        return Fail(ExitStatus_LinkFailed, "cannot install the capture filter");
    }
    SDumpState state;
    state.options = &o;
    if (!o.write.empty()) {
        state.dumper = pcap_dump_open(source, o.write.c_str());
        if (!state.dumper) {
            const std::string text = pcap_geterr(source);
            if (!o.read.empty()) pcap_close(source);
            return Fail(ExitStatus_JobFailed, "cannot write " + o.write + ": " + text);
        }
    }
    FILE* messages = o.write == "-" ? stderr : stdout;
    if (o.read.empty())
        std::fprintf(stderr, "ferrolink: capturing on %s (%s), Ctrl-C to stop\n",
                     link.DeviceName().c_str(), expression.c_str());
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(o.seconds);
    int status = ExitStatus_Ok;
    while (!g_stop.load() && (o.seconds <= 0 || std::chrono::steady_clock::now() < end)) {
        const int n = pcap_dispatch(source, 64, &DumpOne, reinterpret_cast<u_char*>(&state));
        if (n == PCAP_ERROR_BREAK || (n == 0 && !o.read.empty())) break;  // end of the file
        if (n < 0) {
            std::fprintf(stderr, "ferrolink: capture failed: %s\n", pcap_geterr(source));
            status = ExitStatus_LinkFailed;
            break;
        }
    }
    pcap_stat stats{};
    const bool live = o.read.empty() && pcap_stats(source, &stats) == 0;
    if (state.dumper) pcap_dump_close(state.dumper);
    std::fflush(messages);
    std::fflush(stdout);
    std::fprintf(stderr, "%ld frames captured\n", state.captured);
    if (live)
        std::fprintf(stderr, "%u frames dropped by kernel\n", stats.ps_drop + stats.ps_ifdrop);
    std::fprintf(stderr, "%ld frames failed checksum\n", state.badChecksum);
    if (!o.read.empty()) pcap_close(source);
    if (status == ExitStatus_Ok && g_stop.load() && (o.count <= 0 || state.captured < o.count))
        status = ExitStatus_Interrupted;
    return status;
}

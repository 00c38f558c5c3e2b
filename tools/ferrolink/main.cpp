// ferrolink: the command-line tool for host developers and service engineers.
//   list | detect | send FILE | monitor | dump   (see --help of each, and docs/ferrolink-tool.md)
#include <unistd.h>

#include <pcap/pcap.h>
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

#include <ferrolink/adapter/FindAllDevice.h>
#include <ferrolink/adapter/NpfPacketHelper.h>
#include <ferrolink/outside/AdapterInfo.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/PacketDataWrapper.h>

#include "../common/BoardProtocol.h"
#include "BoardErrors.h"
#include "BoardLink.h"
#include "ConsoleLog.h"
#include "ExitStatus.h"
#include "FrameText.h"
#include "SendJob.h"

#ifndef FERROLINK_VERSION
#define FERROLINK_VERSION "unknown"
#endif

namespace tools = ferrolink::tools;
using json = nlohmann::json;

namespace {

std::atomic<bool> g_stop{false};
bool g_abort = false;  // the library's abort flag for the adapter search

void OnSignal(int) {
    g_stop.store(true);
    __atomic_store_n(&g_abort, true, __ATOMIC_RELEASE);
}

void InstallSignals() {
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int Fail(EExitStatus status, const std::string& text) {
    std::fprintf(stderr, "ferrolink: %s\n", g_stop.load() ? "interrupted" : text.c_str());
    return g_stop.load() ? ExitStatus_Interrupted : status;
}

std::string MacText(const unsigned char* mac) {
    char text[24];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

// Levenshtein distance, for "did you mean".
std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] =
                std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string Closest(const std::string& word, const std::vector<std::string>& candidates) {
    std::string best;
    std::size_t bestDistance = 3;  // further than two edits is no suggestion
    for (const auto& c : candidates) {
        const std::size_t d = Distance(word, c);
        if (d < bestDistance || (d == bestDistance && best.empty() && c.rfind(word, 0) == 0)) {
            best = c;
            bestDistance = d;
        }
    }
    return best;
}

// Waits until Ctrl-C or `seconds` (0: no limit) pass, calling `tick` every 20 ms.
template <typename Tick>
void WaitForStop(double seconds, Tick tick) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!g_stop.load() && (seconds <= 0 || std::chrono::steady_clock::now() < end)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        tick();
    }
}

// Opens the board's adapter: by name (then claiming the board as automatic opening does, when
// `claim`) or by searching every adapter.
int OpenLink(CBoardLink& link, const std::string& device, bool claim,
             ECaptureMode mode = CaptureMode_ToPcOrBoard,
             CBoardLink::FrameObserver observer = nullptr, void* user = nullptr) {
    std::string error;
    EExitStatus status = ExitStatus_JobFailed;
    if (!link.Open(device, &g_abort, error, status)) return Fail(status, error);
    if (!link.StartReceiving(mode, observer, user))
        return Fail(ExitStatus_LinkFailed,
                    "the receive thread did not start on " + link.DeviceName());
    if (claim && !device.empty() && !link.ClaimNamedBoard(1100, error, status))
        return Fail(status, error);
    return ExitStatus_Ok;
}

void PrintStatistics(CBoardLink& link, std::uint64_t resends, std::uint64_t checksumErrors) {
    std::printf(
        "statistics: sent %llu frames, received %llu frames, resends %llu, checksum errors "
        "reported %llu, capture drops %llu\n",
        static_cast<unsigned long long>(link.FramesSent()),
        static_cast<unsigned long long>(link.FramesReceived()),
        static_cast<unsigned long long>(resends), static_cast<unsigned long long>(checksumErrors),
        static_cast<unsigned long long>(link.CaptureDrops()));
}

// ---- list -----------------------------------------------------------------------------------

int List(bool all, bool asJson) {
    CFindAllDevice finder;
    auto* devices = static_cast<pcap_if*>(finder.FindAllDevice());
    if (!devices && !all)
        return Fail(ExitStatus_LinkFailed,
                    "no Ethernet adapters found (listing them needs root or CAP_NET_RAW; -a shows "
                    "every capture device)");
    // The library lists Ethernet adapters only; -a adds the capture library's other devices
    // (loopback, "any", nflog, tunnels), which cannot reach a board.
    std::vector<std::pair<std::string, std::string>> entries;  // name, description
    std::size_t ethernetCount = 0;
    for (pcap_if* d = devices; d; d = d->next, ++ethernetCount)
        entries.emplace_back(d->name, d->description ? d->description : "");
    pcap_if_t* everything = nullptr;
    char errors[PCAP_ERRBUF_SIZE];
    if (all && pcap_findalldevs(&everything, errors) == 0) {
        for (pcap_if_t* d = everything; d; d = d->next) {
            const std::string name = std::string("rpcap://") + d->name;
            bool known = false;
            for (std::size_t i = 0; i < ethernetCount; ++i)
                known = known || entries[i].first == name;
            if (!known) entries.emplace_back(name, d->description ? d->description : "");
        }
        pcap_freealldevs(everything);
    }
    std::vector<SAdapterInfo> adapters;
    CAdapterInfo::AllAdpaterInfo_Get(adapters);
    json out = json::array();
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const bool ethernet = index < ethernetCount;
        const std::string& name = entries[index].first;
        std::string adapter;
        CNpfPacketHelper::DeviceName_2_AdapterName(name.c_str(), adapter);
        std::uint64_t speed = 0;
        std::vector<unsigned char> mac;
        if (ethernet) {
            CNpfPacketHelper::AdapterName_2_LinkSpeed(adapter, speed);
            CNpfPacketHelper::AdapterName_2_MacAddress(adapter, mac);
        }
        const bool connected = ethernet && CAdapterInfo::IsAdapterConnected(mac, adapters);
        const std::string macText = mac.size() == 6 ? MacText(mac.data()) : "";
        char speedText[32] = "unknown";
        if (speed > 0)
            std::snprintf(speedText, sizeof speedText, "%.1f Gbit/s",
                          static_cast<double>(speed) / 1e9);
        const std::string& description = entries[index].second;
        if (asJson) {
            out.push_back({{"index", ethernet ? json(index) : json(nullptr)},
                           {"name", name},
                           {"description", description},
                           {"mac", macText.empty() ? json(nullptr) : json(macText)},
                           {"speed_bps", speed > 0 ? json(speed) : json(nullptr)},
                           {"connected", connected},
                           {"ethernet", ethernet}});
            continue;
        }
        if (ethernet)
            std::printf("%zu. %s  %s  %s  %s  %s\n", index, name.c_str(),
                        description.empty() ? "(no description)" : description.c_str(),
                        macText.empty() ? "--:--:--:--:--:--" : macText.c_str(), speedText,
                        connected ? "connected" : "not connected");
        else
            std::printf("-. %s  %s  (not Ethernet)\n", name.c_str(),
                        description.empty() ? "(no description)" : description.c_str());
    }
    if (asJson) std::printf("%s\n", out.dump(2).c_str());
    return ExitStatus_Ok;
}

// ---- detect ---------------------------------------------------------------------------------

int Detect(const std::string& device) {
    CBoardLink link;
    std::printf("looking for the board%s...\n", device.empty() ? " on every adapter" : "");
    std::fflush(stdout);
    if (const int status = OpenLink(link, device, true)) return status;
    const unsigned char first = CConstValue::BoardMac_Get()[0];
    std::printf("adapter: %s\nboard MAC: %s\nclaim: %s\n", link.DeviceName().c_str(),
                MacText(CConstValue::BoardMac_Get()).c_str(), CBoardLink::ClaimName(first).c_str());
    return ExitStatus_Ok;
}

// ---- send -----------------------------------------------------------------------------------

// ---- monitor --------------------------------------------------------------------------------

struct SMonitorState {
    std::mutex mutex;
    bool asJson = false;
    long limit = 0;
    long count = 0;
    std::chrono::steady_clock::time_point last;
    double interval = 0;  // seconds between the last two reports
    bool heard = false;
    bool silent = false;
};

void PrintReport(const unsigned char* frame, int length, void* user) {
    if (length < 24 || !CConstValue::IsPcMac(frame)) return;
    const std::uint16_t symbol = static_cast<std::uint16_t>((frame[14] << 8) | frame[15]);
    if (symbol != tools::kSymbolAutoReport && symbol != tools::kSymbolStatusReply) return;
    CPacketDataWrapper parsed;
    if (!parsed.InitializeByFrameData(frame, static_cast<std::uint32_t>(length))) return;
    SWaitCheckParam report(true);
    if (!report.ParseInfo(parsed.PacketData())) return;
    auto* state = static_cast<SMonitorState*>(user);
    std::lock_guard<std::mutex> lock(state->mutex);
    if (state->limit > 0 && state->count >= state->limit) return;
    const auto now = std::chrono::steady_clock::now();
    if (state->silent) {
        const double gap = std::chrono::duration<double>(now - state->last).count();
        if (state->asJson)
            std::printf(
                "%s\n",
                json({{"time", CFrameText::Now()}, {"event", "back"}, {"silent_seconds", gap}})
                    .dump()
                    .c_str());
        else
            std::printf("%s board is reporting again after %.1f s of silence\n",
                        CFrameText::Now().c_str(), gap);
        state->silent = false;
    }
    if (state->heard && symbol == tools::kSymbolAutoReport)
        state->interval = std::chrono::duration<double>(now - state->last).count();
    state->heard = true;
    state->last = now;
    const std::uint32_t word = CBoardErrors::Word(report);
    const char* kind = symbol == tools::kSymbolAutoReport ? "report" : "reply";
    if (state->asJson) {
        json errors = json::array();
        for (int bit = 0; bit < 14; ++bit)
            if (word & (1u << bit))
                errors.push_back({{"bit", bit}, {"meaning", CBoardErrors::Meaning(bit)}});
        json out = {{"time", CFrameText::Now()},
                    {"kind", kind},
                    {"error_word", word},
                    {"errors", errors},
                    {"fatal", report.ExistError_Fatal()},
                    {"resend_index", report.m_frameIndexOfResend},
                    {"current_maximum", report.m_frameIndexOfCurMax},
                    {"version", std::to_string(report.m_versionHigh) + "." +
                                    std::to_string(report.m_versionLow)},
                    {"band", report.m_bandInfo[0]},
                    {"packets_held", report.m_bandInfo[1]},
                    {"bands_completed", report.m_bandInfo[2]},
                    {"last_command", report.m_bandInfo[3]}};
        std::printf("%s\n", out.dump().c_str());
    } else {
        const std::string errors = CBoardErrors::Describe(word);
        std::printf(
            "%s %s: errors: %s%s; resend index %d, current max %d, version %u.%u; band %u, "
            "packets held %u, bands completed %u, last command %u\n",
            CFrameText::Now().c_str(), kind, errors.empty() ? "none" : errors.c_str(),
            report.ExistError_Fatal() ? " [FATAL]" : "", report.m_frameIndexOfResend,
            report.m_frameIndexOfCurMax, report.m_versionHigh, report.m_versionLow,
            report.m_bandInfo[0], report.m_bandInfo[1], report.m_bandInfo[2], report.m_bandInfo[3]);
    }
    std::fflush(stdout);
    if (state->limit > 0 && ++state->count >= state->limit) g_stop.store(true);
}

int Monitor(const std::string& device, double seconds, long count, bool asJson) {
    CBoardLink link;
    SMonitorState state;
    state.asJson = asJson;
    state.limit = count;
    if (const int status =
            OpenLink(link, device, false, CaptureMode_ToPcOrBoard, &PrintReport, &state))
        return status;
    if (!asJson) std::printf("monitoring %s (Ctrl-C to stop)\n", link.DeviceName().c_str());
    std::fflush(stdout);
    const auto started = std::chrono::steady_clock::now();
    WaitForStop(seconds, [&] {
        std::lock_guard<std::mutex> lock(state.mutex);
        const auto now = std::chrono::steady_clock::now();
        // Silent: longer than twice its report interval, and at least the library's 2 s.
        const double limit = std::max(2.0, 2.0 * state.interval);
        const auto since = state.heard ? state.last : started;
        const double gap = std::chrono::duration<double>(now - since).count();
        if (state.silent || gap <= limit) return;
        state.silent = true;
        if (!state.heard) state.last = started;
        if (asJson)
            std::printf(
                "%s\n",
                json({{"time", CFrameText::Now()}, {"event", "silent"}, {"silent_seconds", gap}})
                    .dump()
                    .c_str());
        else
            std::printf("%s board silent: no report for %.1f s (its reports came every %.1f s)\n",
                        CFrameText::Now().c_str(), gap, state.interval);
        std::fflush(stdout);
    });
    link.StopReceiving();
    if (!asJson) PrintStatistics(link, 0, 0);
    return g_stop.load() && (count <= 0 || state.count < count) ? ExitStatus_Interrupted
                                                                : ExitStatus_Ok;
}

// ---- dump -----------------------------------------------------------------------------------

struct SDumpOptions {
    std::string write;  // capture file, "-" for standard output
    std::string read;   // capture file to read instead of an adapter, "-" for standard input
    long count = 0;
    double seconds = 0;
    std::string direction = "both";
    std::string filter;
    bool brief = false;
};

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

int Dump(const std::string& device, const SDumpOptions& o) {
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

// "did you mean": the subcommand or option closest to a mistyped one.
int Mistyped(const std::string& word, const std::vector<std::string>& candidates,
             const char* what) {
    const std::string best = Closest(word, candidates);
    if (best.empty())
        std::fprintf(stderr, "ferrolink: unknown %s '%s'; see ferrolink --help\n", what,
                     word.c_str());
    else
        std::fprintf(stderr, "ferrolink: unknown %s '%s'; did you mean '%s'?\n", what, word.c_str(),
                     best.c_str());
    return ExitStatus_Usage;
}

// Options of the command given (or of every command when none was recognised) and the global ones.
std::vector<std::string> OptionNames(CLI::App& app) {
    std::vector<CLI::App*> apps = app.get_subcommands();
    if (apps.empty()) apps = app.get_subcommands([](CLI::App*) { return true; });
    apps.push_back(&app);
    std::vector<std::string> names;
    for (const CLI::App* a : apps) {
        for (const CLI::Option* option : a->get_options()) {
            for (const auto& n : option->get_lnames()) names.push_back("--" + n);
            for (const auto& n : option->get_snames()) names.push_back("-" + n);
        }
    }
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "ferrolink " FERROLINK_VERSION
        ": talk to the printer mainboard over its Ethernet link.\nExit status: 0 ok, 1 job "
        "or board failure, 2 usage, 3 link or adapter failure, 4 fatal board fault, 5 board "
        "held by another process, 130 interrupted."};
    app.option_defaults()->always_capture_default();
    app.require_subcommand(1);
    app.fallthrough();  // --log-level may also follow the subcommand
    app.set_version_flag("--version", "ferrolink " FERROLINK_VERSION);
    std::string logLevel = "failure";
    app.add_option("--log-level", logLevel,
                   "library log records shown on standard error: off, failure, notice")
        ->check(CLI::IsMember({"off", "failure", "notice"}));

    std::string device;
    auto addDevice = [&](CLI::App* sub, const char* what) {
        sub->add_option("-i,--interface,--device", device, what);
    };
    bool asJson = false;
    bool all = false;
    auto* list = app.add_subcommand("list", "list the Ethernet adapters");
    list->add_flag("-a,--all", all, "also show loopback and other non-Ethernet capture devices");
    list->add_flag("--json", asJson, "one JSON array, for scripts");

    auto* detect = app.add_subcommand("detect", "find the adapter the board is on and claim it");
    addDevice(detect, "listen only on this interface (IF or rpcap://IF) (default: search all)");

    auto* send = app.add_subcommand("send", "send a file to the board as print data");
    SSendRequest request;
    std::string& file = request.file;
    SPrintJobOptions& options = request.options;
    bool& verbose = request.verbose;
    send->add_option("file", file, "the print data")->required();
    addDevice(send,
              "use this interface instead of searching; the board is claimed as a search would");
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
    send->add_option("--from-band", options.fromBand,
                     "start at this band (to resume a stopped job)")
        ->check(CLI::NonNegativeNumber);
    send->add_option("--timeline", request.timeline,
                     "write the job's course to FILE (CSV when it ends in .csv, else JSON lines)");
    bool noDigest = false;
    send->add_flag("--no-digest", noDigest,
                   "no SHA-256 per band (a trusted link; the board still checks every frame)");
    send->add_flag("-v,--verbose", verbose,
                   "a line per band (digest, packets, resends, time), peak memory");
    send->add_flag("--json", asJson,
                   "one JSON object per line: a line per band, notices, and the summary last");

    double seconds = 0;
    long count = 0;
    auto* monitor = app.add_subcommand("monitor", "print the board's status reports as they come");
    addDevice(monitor,
              "use this interface instead of searching (watches without claiming the board)");
    monitor->add_option("-s,--seconds", seconds, "stop after this long; 0: at Ctrl-C");
    monitor->add_option("-c,--count", count, "stop after this many reports; 0: no limit");
    monitor->add_flag("--json", asJson, "one JSON object per line, for scripts");

    auto* dump = app.add_subcommand("dump", "show board frames of both directions, or save them");
    SDumpOptions dumpOptions;
    std::vector<std::string> filterWords;
    addDevice(dump, "capture on this interface instead of searching (watches without claiming)");
    dump->add_option("-w,--write", dumpOptions.write,
                     "write a pcap capture file (- for standard output)");
    dump->add_option("-r,--read", dumpOptions.read,
                     "read a pcap capture file (- for standard input)");
    dump->add_option("-c,--count", dumpOptions.count, "stop after this many frames; 0: no limit");
    dump->add_option("-s,--seconds", dumpOptions.seconds, "stop after this long; 0: at Ctrl-C");
    dump->add_option("-d,--direction", dumpOptions.direction, "which frames: both, to-pc, to-board")
        ->check(CLI::IsMember({"both", "to-pc", "to-board"}));
    dump->add_flag("-q,--brief", dumpOptions.brief, "summary lines only, no hexadecimal");
    dump->add_option("filter", filterWords,
                     "capture filter expression (pcap-filter syntax), e.g. \"len > 100\"");

    // A mistyped subcommand gets a suggestion rather than CLI11's bare complaint.
    const std::vector<std::string> commands = {"list", "detect", "send", "monitor", "dump"};
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.empty() || word[0] == '-') {
            if (word == "--log-level") ++i;
            continue;
        }
        if (std::find(commands.begin(), commands.end(), word) == commands.end())
            return Mistyped(word, commands, "command");
        break;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ExtrasError& e) {
        for (const std::string& extra : app.remaining(true))
            if (!extra.empty() && extra[0] == '-')
                return Mistyped(extra.substr(0, extra.find('=')), OptionNames(app), "option");
        return app.exit(e) == 0 ? 0 : ExitStatus_Usage;
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : ExitStatus_Usage;
    }
    for (const auto& w : filterWords)
        dumpOptions.filter += (dumpOptions.filter.empty() ? "" : " ") + w;
    // Whole lines, so that log records on standard error never cut a line of ours in two.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    CConsoleLog::Install(logLevel);
    InstallSignals();

    try {
        if (*list) return List(all, asJson);
        if (*detect) return Detect(device);
        if (*send) {
            request.device = device;
            request.asJson = asJson;
            options.digest = !noDigest;
            return RunSend(request, g_stop, &g_abort);
        }
        if (*monitor) return Monitor(device, seconds, count, asJson);
        if (*dump) return Dump(device, dumpOptions);
    } catch (const std::exception& e) {
        return Fail(ExitStatus_JobFailed, std::string("unexpected failure: ") + e.what());
    }
    return ExitStatus_Usage;
}

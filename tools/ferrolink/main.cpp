// ferrolink: the command-line tool for host developers and service engineers.
//   list | detect | send FILE | monitor | dump   (see --help of each)
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <pcap/pcap.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include <ferrolink/adapter/FindAllDevice.h>
#include <ferrolink/adapter/NpfPacketHelper.h>
#include <ferrolink/outside/AdapterInfo.h>
#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/PacketDataWrapper.h>
#include <ferrolink/reply/SBoardErrorInfo.h>

#include "../common/BoardProtocol.h"
#include "BoardLink.h"
#include "ConsoleLog.h"
#include "PrintJob.h"

namespace tools = ferrolink::tools;

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

// Waits until Ctrl-C or `seconds` (0: no limit) pass.
void WaitForStop(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!g_stop.load() && (seconds <= 0 || std::chrono::steady_clock::now() < end))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

std::string MacText(const unsigned char* mac) {
    char text[24];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return text;
}

void PrintStatistics(CBoardLink& link, std::uint64_t resends, std::uint64_t checksumErrors) {
    std::printf("statistics: sent %llu frames, received %llu frames, resends %llu, checksum errors "
                "reported %llu, capture drops %llu\n",
                static_cast<unsigned long long>(link.FramesSent()),
                static_cast<unsigned long long>(link.FramesReceived()),
                static_cast<unsigned long long>(resends),
                static_cast<unsigned long long>(checksumErrors),
                static_cast<unsigned long long>(link.CaptureDrops()));
}

int List() {
    CFindAllDevice finder;
    auto* devices = static_cast<pcap_if*>(finder.FindAllDevice());
    if (!devices) {
        std::fprintf(stderr, "ferrolink: no capture devices found (is CAP_NET_RAW missing?)\n");
        return 1;
    }
    std::vector<SAdapterInfo> adapters;
    CAdapterInfo::AllAdpaterInfo_Get(adapters);
    int index = 0;
    for (pcap_if* d = devices; d; d = d->next, ++index) {
        std::string adapter;
        CNpfPacketHelper::DeviceName_2_AdapterName(d->name, adapter);
        std::uint64_t speed = 0;
        CNpfPacketHelper::AdapterName_2_LinkSpeed(adapter, speed);
        std::vector<unsigned char> mac;
        CNpfPacketHelper::AdapterName_2_MacAddress(adapter, mac);
        // The driver reports 0 b/s for an adapter that does not know its speed.
        char speedText[32] = "unknown";
        if (speed != 0)
            std::snprintf(speedText, sizeof speedText, "%.1f Gbit/s", static_cast<double>(speed) / 1e9);
        std::printf("%d. %s  %s  %s  %s  %s\n", index, d->name,
                    d->description ? d->description : "(no description)",
                    mac.size() == 6 ? MacText(mac.data()).c_str() : "--:--:--:--:--:--", speedText,
                    CAdapterInfo::IsAdapterConnected(mac, adapters) ? "connected" : "not connected");
    }
    return 0;
}

int Detect(const std::string& device) {
    CBoardLink link;
    std::string error;
    std::printf("looking for the board%s...\n", device.empty() ? " on every adapter" : "");
    std::fflush(stdout);
    if (!link.Open(device, &g_abort, error)) {
        std::fprintf(stderr, "ferrolink: %s\n", g_stop ? "interrupted" : error.c_str());
        return 1;
    }
    const unsigned char first = CConstValue::BoardMac_Get()[0];
    std::printf("adapter: %s\nboard MAC: %s\nclaim: Quon_PCap_%s\n", link.DeviceName().c_str(),
                MacText(CConstValue::BoardMac_Get()).c_str(),
                CSerialize_NetworkCommon::Address_Enum_2_String(
                    CSerialize_NetworkCommon::Address_Value_2_Enum(first))
                    .c_str());
    return 0;
}

int Send(const std::string& device, const std::string& file, SPrintJobOptions options) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "ferrolink: cannot read %s\n", file.c_str());
        return 1;
    }
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.empty()) {
        std::fprintf(stderr, "ferrolink: %s is empty\n", file.c_str());
        return 1;
    }
    CBoardLink link;
    std::string error;
    if (!link.Open(device, &g_abort, error)) {
        std::fprintf(stderr, "ferrolink: %s\n", g_stop ? "interrupted" : error.c_str());
        return 1;
    }
    if (!link.StartReceiving()) {
        std::fprintf(stderr, "ferrolink: the receive thread did not start\n");
        return 1;
    }
    SWaitCheckParam status(true);
    if (!link.Command(tools::kSymbolStatusQuery, 0, {}, options.replyTimeoutMs, options.commandTries,
                      status)) {
        std::fprintf(stderr, "ferrolink: the board on %s does not answer (no reply within %u ms)\n",
                     link.DeviceName().c_str(), options.replyTimeoutMs * options.commandTries);
        return 1;
    }
    options.progress = ::isatty(STDOUT_FILENO) != 0;
    CPrintJob job(link, options);
    const SPrintJobResult r = job.Run(data, g_stop);
    link.StopReceiving();
    for (std::size_t i = 0; i < r.bandHashes.size(); ++i)
        std::printf("band %zu sha256 %s\n", i, r.bandHashes[i].c_str());
    if (!r.ok) {
        std::fprintf(stderr, "ferrolink: %s\n", r.error.c_str());
        PrintStatistics(link, r.resends, r.checksumErrorsReported);
        return 1;
    }
    const double mb = static_cast<double>(r.bytes) / 1e6;
    std::printf("sent %s: %.1f MB in %llu bands, %.2f s, %.1f MB/s, %.0f frames/s (%.2f x gigabit line rate), %llu resends\n",
                file.c_str(), mb, static_cast<unsigned long long>(r.bands), r.seconds,
                mb / r.seconds, static_cast<double>(link.FramesSent()) / r.seconds,
                static_cast<double>(link.FramesSent()) / r.seconds / 82237.0,
                static_cast<unsigned long long>(r.resends));
    PrintStatistics(link, r.resends, r.checksumErrorsReported);
    return 0;
}

// Prints each status report of the board in words.
struct SMonitorState {
    std::mutex mutex;
};

void PrintReport(const unsigned char* frame, int length, void* user) {
    const std::uint16_t symbol = static_cast<std::uint16_t>((frame[14] << 8) | frame[15]);
    if (symbol != tools::kSymbolAutoReport && symbol != tools::kSymbolStatusReply) return;
    CPacketDataWrapper parsed;
    if (!parsed.InitializeByFrameData(frame, static_cast<std::uint32_t>(length))) return;
    SWaitCheckParam report(true);
    if (!report.ParseInfo(parsed.PacketData())) return;
    std::lock_guard<std::mutex> lock(static_cast<SMonitorState*>(user)->mutex);
    std::string errors;
    if (report.m_b0_Re_Frame_Ver_Err) errors += " frame-checksum";
    if (report.m_b1_Re_Frame_Lose_Err) errors += " frame-lost";
    if (report.ExistError_Fatal()) errors += " FATAL";
    SBoardErrorInfo info{};
    report.GetErrorInfo(info);
    if (info.m_b8_HB_Fiber_ReData_Zhentou) errors += " head-board-frame-header";
    std::printf("%s: errors:%s version %u.%u, resend %d, current max %d, band words %u %u %u %u\n",
                symbol == tools::kSymbolAutoReport ? "report" : "reply",
                errors.empty() ? " none" : errors.c_str(), report.m_versionHigh, report.m_versionLow,
                report.m_frameIndexOfResend, report.m_frameIndexOfCurMax, report.m_bandInfo[0],
                report.m_bandInfo[1], report.m_bandInfo[2], report.m_bandInfo[3]);
    std::fflush(stdout);
}

int Monitor(const std::string& device, double seconds) {
    CBoardLink link;
    std::string error;
    if (!link.Open(device, &g_abort, error)) {
        std::fprintf(stderr, "ferrolink: %s\n", g_stop ? "interrupted" : error.c_str());
        return 1;
    }
    SMonitorState state;
    std::printf("monitoring %s (Ctrl-C to stop)\n", link.DeviceName().c_str());
    std::fflush(stdout);
    if (!link.StartReceiving(&PrintReport, &state)) return 1;
    WaitForStop(seconds);
    link.StopReceiving();
    PrintStatistics(link, 0, 0);
    return 0;
}

struct SDumpState {
    std::mutex mutex;
    pcap_dumper_t* dumper = nullptr;
    std::atomic<long> count{0};
    long limit = 0;
};

void DumpFrame(const unsigned char* frame, int length, void* user) {
    auto* state = static_cast<SDumpState*>(user);
    std::lock_guard<std::mutex> lock(state->mutex);
    if (state->limit > 0 && state->count.load() >= state->limit) return;
    if (state->dumper) {
        pcap_pkthdr header{};
        header.caplen = header.len = static_cast<bpf_u_int32>(length);
        pcap_dump(reinterpret_cast<u_char*>(state->dumper), &header, frame);
    } else {
        CNetworkHelper::WriteDataToConsole(frame, length);
    }
    if (++state->count == state->limit) g_stop.store(true);
}

int Dump(const std::string& device, const std::string& output, long count, double seconds) {
    CBoardLink link;
    std::string error;
    if (!link.Open(device, &g_abort, error)) {
        std::fprintf(stderr, "ferrolink: %s\n", g_stop ? "interrupted" : error.c_str());
        return 1;
    }
    SDumpState state;
    state.limit = count;
    pcap_t* dead = nullptr;
    if (!output.empty()) {
        dead = pcap_open_dead(DLT_EN10MB, 65535);
        state.dumper = pcap_dump_open(dead, output.c_str());
        if (!state.dumper) {
            std::fprintf(stderr, "ferrolink: cannot write %s: %s\n", output.c_str(), pcap_geterr(dead));
            pcap_close(dead);
            return 1;
        }
    }
    if (!link.StartReceiving(&DumpFrame, &state)) return 1;
    WaitForStop(seconds);
    link.StopReceiving();
    if (state.dumper) pcap_dump_close(state.dumper);
    if (dead) pcap_close(dead);
    std::printf("dumped %ld frames%s%s\n", state.count.load(), output.empty() ? "" : " to ",
                output.c_str());
    PrintStatistics(link, 0, 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"ferrolink: talk to the printer mainboard over its Ethernet link"};
    app.require_subcommand(1);
    app.fallthrough();  // --log-level may also follow the subcommand
    std::string logLevel = "failure";
    app.add_option("--log-level", logLevel, "library log records shown: off, failure, notice")
        ->check(CLI::IsMember({"off", "failure", "notice"}));

    std::string device;
    auto* list = app.add_subcommand("list", "list the Ethernet adapters");
    auto* detect = app.add_subcommand("detect", "find the adapter the board is on and claim it");
    detect->add_option("--device", device, "listen only on this device (rpcap://IF or IF)");

    auto* send = app.add_subcommand("send", "send a file to the board as print data");
    std::string file;
    SPrintJobOptions options;
    send->add_option("file", file, "the print data")->required();
    send->add_option("--device", device, "use this device instead of searching");
    send->add_option("--band-size", options.bandSize, "bytes per band")->check(CLI::Range(1, 1 << 30));
    send->add_option("--packet-size", options.packetSize, "bytes per packet")->check(CLI::Range(1, 1468));
    send->add_option("--reply-timeout-ms", options.replyTimeoutMs, "wait for each board reply")
        ->check(CLI::Range(1, 600000));

    double seconds = 0;
    auto* monitor = app.add_subcommand("monitor", "print the board's status reports");
    monitor->add_option("--device", device, "use this device instead of searching");
    monitor->add_option("--seconds", seconds, "stop after this long (default: Ctrl-C)");

    auto* dump = app.add_subcommand("dump", "show received frames in hexadecimal or save them");
    std::string output;
    long count = 0;
    dump->add_option("--device", device, "use this device instead of searching");
    dump->add_option("--write", output, "write a capture file instead of printing");
    dump->add_option("--count", count, "stop after this many frames");
    dump->add_option("--seconds", seconds, "stop after this long");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    CConsoleLog::Install(logLevel);
    InstallSignals();

    if (*list) return List();
    if (*detect) return Detect(device);
    if (*send) return Send(device, file, options);
    if (*monitor) return Monitor(device, seconds);
    if (*dump) return Dump(device, output, count, seconds);
    return 2;
}

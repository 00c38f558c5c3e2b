// ferrolink-board-sim: the board emulator on one Ethernet interface, until SIGINT or SIGTERM.
// Exit status: 0 after a signal, 1 when the interface cannot be used (or goes), 2 for bad
// arguments.
#include <CLI/CLI.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "board-sim/BoardEmulator.h"
#include "board-sim/ConsoleLog.h"
#include "common/BoardProtocol.h"

namespace {

using ferrolink::tools::CBoardEmulator;

std::atomic<CBoardEmulator*> g_emulator{nullptr};

extern "C" void OnStop(int) {
    if (CBoardEmulator* emulator = g_emulator.load()) emulator->Stop();
}

extern "C" void OnStatistics(int) {
    if (CBoardEmulator* emulator = g_emulator.load()) emulator->RequestStatistics();
}

std::string CheckRequestableBits(const std::string& text) {
    char* end = nullptr;
    const unsigned long long bits = std::strtoull(text.c_str(), &end, 0);
    if (end == text.c_str() || *end != '\0') return "not a number: " + text;
    if (bits & ~static_cast<unsigned long long>(CBoardEmulator::kRequestableErrors))
        return "only error bits 2..13 (mask 0x3ffc) can be raised";
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    ferrolink::tools::SBoardEmulatorOptions options;
    options.m_impairment.m_delay = 1;  // with --delay-ms alone, every frame is delayed
    unsigned firstByte = options.m_firstByte;
    std::uint32_t fatalBits = 0;
    int bufferMiB = options.m_captureBufferBytes >> 20;
    int memoryMiB = static_cast<int>(options.m_boardMemoryBytes >> 20);
    std::string statsFile;
    std::string logLevel = "failure";

    CLI::App app{
        "Emulates the printer board on one Ethernet interface: stores print data by band, "
        "answers EndOfBand, StatusQuery, Reset and SetErrors, sends periodic reports.",
        "ferrolink-board-sim"};
    char version[96];
    std::snprintf(version, sizeof version, "ferrolink-board-sim %s (board firmware version %u.%u)",
                  FERROLINK_VERSION, ferrolink::tools::kBoardVersion >> 16,
                  ferrolink::tools::kBoardVersion & 0xFFFFu);
    app.set_version_flag("--version", std::string(version));
    app.add_option("-i,--interface", options.m_interface,
                   "Interface the host's frames arrive on (eth1 or rpcap://eth1)")
        ->required()
        ->check([](const std::string& given) {
            std::string device, why;
            return CBoardEmulator::InterfaceName(given, device, why) ? std::string() : why;
        });
    app.add_option("--first-byte", firstByte, "First byte of the board MAC (then 34:56:78:9A:BC)")
        ->check(CLI::Range(0u, 255u))
        ->capture_default_str();
    app.add_option("--report-interval-ms", options.m_reportIntervalMs,
                   "Period of the status reports that detection listens for; 0: none")
        ->check(CLI::Range(0, 3600000))
        ->capture_default_str();
    app.add_option("--seed", options.m_seed, "Seed of the impairment decisions")
        ->capture_default_str();
    auto& rates = options.m_impairment;
    app.add_option("--drop", rates.m_drop, "Fraction of frames dropped (both directions)")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--corrupt", rates.m_corrupt, "Fraction of frames with one bit flipped")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--duplicate", rates.m_duplicate, "Fraction of frames taken twice")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--reorder", rates.m_reorder, "Fraction of frames put after the next one")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--delay-ms", rates.m_delayMs, "Delay of delayed frames")
        ->check(CLI::Range(0, 60000));
    app.add_option("--delay", rates.m_delay, "Fraction of frames delayed by --delay-ms")
        ->check(CLI::Range(0.0, 1.0))
        ->capture_default_str();
    app.add_option("--fatal-bits", fatalBits,
                   "Error bits (2..13) raised in every report from the start until a Reset "
                   "command: 0x04 is a latched fatal fault")
        ->check(CheckRequestableBits);
    int secondBoard = -1;
    app.add_option("--second-board", secondBoard,
                   "Also send an AutoReport from board MAC B:34:56:78:9A:BC just before each of "
                   "the board's own; that board answers nothing (a forged board heard first)")
        ->check(CLI::Range(0, 255));
    app.add_option("--silent-after-ms", options.m_silentAfterMs,
                   "Fall silent this long after the start: no answers, no reports, the link "
                   "stays up")
        ->check(CLI::Range(0, 86400000));
    app.add_option("--silent-for-ms", options.m_silentForMs,
                   "How long the silence lasts; 0: until the end")
        ->check(CLI::Range(0, 86400000))
        ->capture_default_str();
    std::string flood;
    auto& floodOptions = options.m_flood;
    app.add_option(
           "--flood", flood,
           "Send frames to the PC at --flood-rate for --flood-ms: bad-checksum (AutoReports "
           "with a broken checksum) or duplicate-reports (copies of the latest AutoReport)")
        ->check(CLI::IsMember({"bad-checksum", "duplicate-reports"}));
    app.add_option("--flood-rate", floodOptions.m_framesPerSecond, "Flood frames per second")
        ->check(CLI::Range(1, 1000000))
        ->capture_default_str();
    app.add_option("--flood-after-ms", floodOptions.m_afterMs, "Start of the flood after the start")
        ->check(CLI::Range(0, 86400000))
        ->capture_default_str();
    app.add_option("--flood-ms", floodOptions.m_forMs, "Length of the flood")
        ->check(CLI::Range(1, 86400000))
        ->capture_default_str();
    app.footer(
        "Standard output: the board's address once listening, one line per completed band (at "
        "most " +
        std::to_string(CBoardEmulator::kBandLinesPerSecond) +
        " a second, then a line saying how many more), link outages, and the statistics on "
        "SIGUSR1 and at exit.\nExit status: 0 after SIGINT or SIGTERM; 1 when the interface "
        "cannot be opened, fails or vanishes; 2 for bad arguments.");
    app.add_option("--stats-file", statsFile, "Write the final statistics there as JSON");
    app.add_option("--log-level", logLevel, "off, failure or notice (to standard error)")
        ->check(CLI::IsMember({"off", "failure", "notice"}))
        ->capture_default_str();
    app.add_option("--capture-buffer-mib", bufferMiB, "Kernel capture buffer")
        ->check(CLI::Range(1, 2047))
        ->capture_default_str();
    app.add_option("--board-memory-mib", memoryMiB,
                   "Print-data memory of the board (2 KiB per packet); overflow raises bit 2")
        ->check(CLI::Range(2, 65536))
        ->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << app.get_name() << ": " << e.what() << "\n\n" << app.help() << std::endl;
        return 2;
    }

    if (secondBoard == static_cast<int>(firstByte)) {
        std::cerr << app.get_name()
                  << ": --second-board: the second board needs another first byte than the "
                     "board's own ("
                  << firstByte << ")\n";
        return 2;
    }
    options.m_secondBoardFirstByte = secondBoard;
    if (flood == "bad-checksum") floodOptions.m_kind = ferrolink::tools::EFloodKind::BadChecksum;
    if (flood == "duplicate-reports")
        floodOptions.m_kind = ferrolink::tools::EFloodKind::DuplicateReports;
    options.m_firstByte = static_cast<unsigned char>(firstByte);
    options.m_requestedErrors = fatalBits;
    options.m_captureBufferBytes = bufferMiB << 20;
    options.m_boardMemoryBytes = static_cast<std::size_t>(memoryMiB) << 20;
    options.m_events = &std::cout;
    ferrolink::tools::CConsoleLog::Install(logLevel);

    CBoardEmulator emulator(options);
    std::string why;
    if (!emulator.Open(why)) {
        std::cerr << app.get_name() << ": " << why << '\n';
        return 1;
    }
    g_emulator.store(&emulator);
    std::signal(SIGINT, OnStop);
    std::signal(SIGTERM, OnStop);
#ifdef SIGUSR1
    std::signal(SIGUSR1, OnStatistics);
#endif

    const unsigned char* mac = emulator.BoardMac();
    std::printf("board %02x:%02x:%02x:%02x:%02x:%02x on %s\n", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5], options.m_interface.c_str());
    std::fflush(stdout);

    const bool ran = emulator.Run();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    g_emulator.store(nullptr);

    const ferrolink::tools::SEmulatorStatistics statistics = emulator.Statistics();
    statistics.WriteText(std::cout);
    if (!statsFile.empty()) {
        std::ofstream file(statsFile);
        statistics.WriteJson(file);
        if (!file) {
            std::cerr << app.get_name() << ": cannot write " << statsFile << '\n';
            return 1;
        }
    }
    return ran ? 0 : 1;
}

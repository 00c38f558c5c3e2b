// What every subcommand of the tool shares: the stop flag set by Ctrl-C, the failure message and
// status, opening the board's link, and the common options.
#pragma once

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "BoardLink.h"
#include "ExitStatus.h"

#ifndef FERROLINK_VERSION
#define FERROLINK_VERSION "unknown"
#endif

// 82,237 frames/s of 1468-byte packets.
constexpr double kGigabitGoodputMBps = 120.72;

// Set by Ctrl-C or a request to end the process, and by a command that reached its own end (a
// count).
extern std::atomic<bool> g_stop;
// The library's abort flag for the adapter search.
extern bool g_abort;
// The chosen command was given --json: failures are also told as one JSON object on stdout.
extern bool g_json;

void InstallSignals();

// Prints "ferrolink: text" (or "interrupted" after Ctrl-C) and returns the status to exit with;
// with --json also {"event":"error","error":text,"exit_status":N,"time":...} on stdout.
int Fail(EExitStatus status, const std::string& text);
// One JSON object as one line on stdout, flushed: what a script reads line by line.
void PrintJsonLine(const std::string& dumped);

std::string MacText(const unsigned char* mac);

// Peak resident memory of this process in MB (0 when the system does not say).
double PeakMemoryMB();

// Opens the board's adapter: by name (then claiming the board as automatic opening does, when
// `claim`) or by searching every adapter. 0, or the status to exit with.
int OpenLink(CBoardLink& link, const std::string& device, bool claim,
             ECaptureMode mode = CaptureMode_ToPcOrBoard,
             CBoardLink::FrameObserver observer = nullptr, void* user = nullptr);

void PrintStatistics(CBoardLink& link, std::uint64_t resends, std::uint64_t checksumErrors);

// For counts and durations: a negative value is refused (exit 2), never taken as "no limit".
extern const CLI::Validator kNotNegative;

// The -i option every command that reaches a board has.
void AddDeviceOption(CLI::App* command, std::string& device, const char* what);

// Waits until Ctrl-C or `seconds` (0: no limit) pass, calling `tick` every 20 ms.
template <typename Tick>
void WaitForStop(double seconds, Tick tick) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!g_stop.load() && (seconds <= 0 || std::chrono::steady_clock::now() < end)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        tick();
    }
}

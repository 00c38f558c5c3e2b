#include "CommandSupport.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>

#include "FrameText.h"
#include "platform/Console.h"
#include "platform/ProcessMemory.h"

std::atomic<bool> g_stop{false};
bool g_abort = false;
bool g_json = false;

namespace {

void OnStop() {
    g_stop.store(true);
    __atomic_store_n(&g_abort, true, __ATOMIC_RELEASE);
}

}  // namespace

void InstallSignals() {
    ferrolink::tools::CConsole::OnStopRequest(&OnStop);
}

int Fail(EExitStatus status, const std::string& text) {
    const bool interrupted = g_stop.load();
    const std::string message = interrupted ? "interrupted" : text;
    const int code = interrupted ? ExitStatus_Interrupted : status;
    std::fflush(stdout);
    std::fprintf(stderr, "ferrolink: %s\n", message.c_str());
    if (g_json)
        PrintJsonLine(nlohmann::json({{"event", "error"},
                                      {"time", CFrameText::NowRfc3339()},
                                      {"error", message},
                                      {"exit_status", code}})
                          .dump());
    return code;
}

void PrintJsonLine(const std::string& dumped) {
    std::fwrite(dumped.data(), 1, dumped.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string MacText(const unsigned char* mac) {
    char text[24];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

double PeakMemoryMB() {
    return ferrolink::tools::CProcessMemory::PeakMB();
}

int OpenLink(CBoardLink& link, const std::string& device, bool claim, ECaptureMode mode,
             CBoardLink::FrameObserver observer, void* user) {
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

const CLI::Validator kNotNegative(
    [](std::string& text) -> std::string {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (end == text.c_str() || *end != '\0') return "not a number: " + text;
        return value < 0 ? "must be 0 or more (0: no limit), not " + text : std::string();
    },
    "NUMBER>=0");

void AddDeviceOption(CLI::App* command, std::string& device, const char* what) {
    command->add_option("-i,--interface,--device", device, what);
}

#include "MonitorCommand.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>

#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/PacketDataWrapper.h>

#include "../common/BoardProtocol.h"
#include "BoardErrors.h"
#include "CommandSupport.h"
#include "FrameText.h"

namespace tools = ferrolink::tools;
using json = nlohmann::json;

CMonitorCommand::CMonitorCommand(CLI::App& app)
    : m_command(app.add_subcommand("monitor", "print the board's status reports as they come")) {
    AddDeviceOption(m_command, m_device,
                    "use this interface instead of searching (watches without claiming the board)");
    m_command->add_option("-s,--seconds", m_seconds, "stop after this long; 0: at Ctrl-C");
    m_command->add_option("-c,--count", m_count, "stop after this many reports; 0: no limit");
    m_command->add_flag("--json", m_json, "one JSON object per line, for scripts");
}

namespace {

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

}  // namespace

int CMonitorCommand::Run() {
    const std::string& device = m_device;
    const double seconds = m_seconds;
    const long count = m_count;
    const bool asJson = m_json;
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

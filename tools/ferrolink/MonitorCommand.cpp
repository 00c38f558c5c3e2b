#include "MonitorCommand.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>

#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/PacketDataWrapper.h>
#include <ferrolink/protocol/WireBytes.h>

#include "../common/BoardProtocol.h"
#include "BoardErrors.h"
#include "CommandSupport.h"
#include "FrameText.h"
#include "common/ConsoleLog.h"

namespace tools = ferrolink::tools;
using json = nlohmann::json;

CMonitorCommand::CMonitorCommand(CLI::App& app)
    : m_command(app.add_subcommand("monitor", "print the board's status reports as they come")) {
    AddDeviceOption(m_command, m_device,
                    "use this interface instead of searching (watches without claiming the board)");
    m_command->add_option("--seconds", m_seconds, "stop after this long; 0: at Ctrl-C")
        ->check(kNotNegative);
    m_command->add_option("-c,--count", m_count, "stop after this many reports; 0: no limit")
        ->check(kNotNegative);
    m_command->add_flag("--json", m_json, "one JSON object per line, for scripts");
    m_command->add_flag("-v,--verbose", "also the library's log records (--log-level failure)");
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

void PrintEvent(const SMonitorState& state, const char* event, const char* key, double seconds,
                const std::string& text) {
    if (state.asJson) {
        json out = {{"time", CFrameText::NowRfc3339()}, {"event", event}};
        if (key) out[key] = seconds;
        PrintJsonLine(out.dump());
    } else {
        std::printf("%s %s\n", CFrameText::Now().c_str(), text.c_str());
        std::fflush(stdout);
    }
}

void PrintReport(const unsigned char* frame, int length, void* user) {
    namespace layout = ferrolink::protocol::frame;
    if (length < layout::kActualDataOffset || !CConstValue::IsPcMac(frame)) return;
    std::uint16_t symbol = 0;
    ferrolink::protocol::CWireReader(frame, length).Load16(layout::kDataSymbolOffset, symbol);
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
        char text[96];
        std::snprintf(text, sizeof text, "board is reporting again after %.1f s of silence", gap);
        PrintEvent(*state, "back", "silent_seconds", gap, text);
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
        json out = {{"time", CFrameText::NowRfc3339()},
                    {"event", kind},
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
        PrintJsonLine(out.dump());
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
    CBoardLink link;
    SMonitorState state;
    state.asJson = m_json;
    state.limit = m_count;
    if (const int status =
            OpenLink(link, m_device, false, CaptureMode_ToPcOrBoard, &PrintReport, &state))
        return status;
    if (!m_json) std::printf("monitoring %s (Ctrl-C to stop)\n", link.DeviceName().c_str());
    std::fflush(stdout);
    const std::string name = link.InterfaceName();
    const auto started = std::chrono::steady_clock::now();
    auto downSince = started;
    auto quietFrom = started;  // silence is counted from here at the earliest
    bool down = false;
    int tick = 0;
    bool gone = false;
    WaitForStop(m_seconds, [&] {
        ferrolink::tools::CConsoleLog::Flush();
        const auto now = std::chrono::steady_clock::now();
        // The link's state from the system, a few times a second: a silent board behind a lost
        // carrier is told as the link, not as the board.
        if (tick++ % 10 == 0) {
            const ELinkState linkState = link.LinkState();
            if (linkState == ELinkState::Gone) {
                gone = true;
                g_stop.store(true);
                return;
            }
            std::lock_guard<std::mutex> lock(state.mutex);
            if (linkState == ELinkState::Down && !down) {
                down = true;
                downSince = now;
                PrintEvent(state, "link_down", nullptr, 0,
                           "link on " + name +
                               " is down (no carrier): check the cable and the board's power");
            } else if (linkState == ELinkState::Up && down) {
                down = false;
                const double lasted = std::chrono::duration<double>(now - downSince).count();
                char text[128];
                std::snprintf(text, sizeof text, "link on %s is up again after %.1f s",
                              name.c_str(), lasted);
                PrintEvent(state, "link_up", "down_seconds", lasted, text);
                // The silence while the link was down was the link's.
                quietFrom = now;
                state.silent = false;
            }
        }
        std::lock_guard<std::mutex> lock(state.mutex);
        if (down) return;
        // Silent: longer than twice its report interval, and at least the library's 2 s.
        const double limit = std::max(2.0, 2.0 * state.interval);
        const auto since = state.heard ? std::max(state.last, quietFrom) : quietFrom;
        const double gap = std::chrono::duration<double>(now - since).count();
        if (state.silent || gap <= limit) return;
        state.silent = true;
        if (!state.heard) state.last = quietFrom;
        char text[128];
        if (state.interval > 0)
            std::snprintf(text, sizeof text,
                          "board silent: no report for %.1f s (its reports came every %.1f s)", gap,
                          state.interval);
        else
            std::snprintf(text, sizeof text, "board silent: no report for %.1f s%s", gap,
                          state.heard ? "" : " since monitoring began");
        PrintEvent(state, "silent", "silent_seconds", gap, text);
    });
    link.StopReceiving();
    if (gone) {
        g_stop.store(false);  // set above only to end the wait
        return Fail(ExitStatus_LinkFailed, "the interface " + name + " is gone");
    }
    if (!m_json) PrintStatistics(link, 0, 0);
    // Ctrl-C is how a monitor ends: a success, as for tcpdump.
    return ExitStatus_Ok;
}

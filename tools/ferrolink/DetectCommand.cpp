#include "DetectCommand.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <thread>

#include <ferrolink/protocol/ConstValue.h>

#include "../common/BoardProtocol.h"
#include "CommandSupport.h"
#include "FrameText.h"

namespace {

// As long as the library's search listens on each adapter, and a little more.
constexpr unsigned kListenMs = 1100;

}  // namespace

CDetectCommand::CDetectCommand(CLI::App& app)
    : m_command(app.add_subcommand("detect", "find the adapter the board is on and claim it")) {
    AddDeviceOption(m_command, m_device,
                    "listen only on this interface (IF or rpcap://IF) (default: search all)");
    m_command->add_flag("--json", m_json, "the result as one JSON object, for scripts");
    m_command->add_flag("-v,--verbose", "also the library's log records (--log-level failure)");
}

int CDetectCommand::Run() {
    CBoardLink link;
    if (!m_json) {
        std::printf("looking for the board%s...\n", m_device.empty() ? " on every adapter" : "");
        std::fflush(stdout);
    }
    // The search claims the board it heard; a named adapter is listened to here first.
    if (const int status = OpenLink(link, m_device, false)) return status;
    if (!m_device.empty()) {
        // Ask as well as listen: a board may report seldom, or not at all.
        link.PostCommand(ferrolink::tools::kSymbolStatusQuery, 0, {});
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kListenMs);
        while (link.FramesReceived() == 0 && !g_stop.load() &&
               std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (link.FramesReceived() == 0) {
            if (link.LinkState() == ELinkState::Down)
                return Fail(ExitStatus_LinkFailed,
                            "the link on " + link.InterfaceName() +
                                " is down (no carrier): check the cable and the board's power");
            return Fail(ExitStatus_JobFailed,
                        "no board was heard on " + link.DeviceName() + " (listened for " +
                            std::to_string(kListenMs) +
                            " ms and asked for its status); check the cable and that the "
                            "board is on");
        }
        std::string error;
        EExitStatus status = ExitStatus_JobFailed;
        if (!link.ClaimNamedBoard(0, error, status)) return Fail(status, error);
    }
    const unsigned char* mac = CConstValue::BoardMac_Get();
    const std::string claim = CBoardLink::ClaimName(mac[0]);
    if (m_json) {
        PrintJsonLine(nlohmann::json({{"event", "detected"},
                                      {"time", CFrameText::NowRfc3339()},
                                      {"adapter", link.DeviceName()},
                                      {"board_mac", MacText(mac)},
                                      {"claim", claim}})
                          .dump());
        return ExitStatus_Ok;
    }
    std::printf("adapter: %s\nboard MAC: %s\nclaim: %s\n", link.DeviceName().c_str(),
                MacText(mac).c_str(), claim.c_str());
    return ExitStatus_Ok;
}

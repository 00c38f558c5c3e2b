#include "ResetCommand.h"

#include <nlohmann/json.hpp>

#include <cstdio>

#include "../common/BoardProtocol.h"
#include "BoardErrors.h"
#include "CommandSupport.h"
#include "FrameText.h"

namespace tools = ferrolink::tools;

CResetCommand::CResetCommand(CLI::App& app)
    : m_command(app.add_subcommand(
          "reset", "reset the board: it forgets its bands and clears latched error bits")) {
    AddDeviceOption(m_command, m_device,
                    "use this interface instead of searching; the board is claimed as a search "
                    "would");
    m_command->add_option("--reply-timeout-ms", m_replyTimeoutMs, "wait for the answer, per try")
        ->check(CLI::Range(1, 600000));
    m_command->add_option("--tries", m_tries, "times the command is sent before giving up")
        ->check(CLI::Range(1, 100));
    m_command->add_flag("--json", m_json, "the result as one JSON object, for scripts");
    m_command->add_flag("-v,--verbose", "also the library's log records (--log-level failure)");
}

int CResetCommand::Run() {
    CBoardLink link;
    // Claimed: a reset in the middle of another process's job would spoil it.
    if (const int status = OpenLink(link, m_device, true)) return status;
    const std::string tries = " (" + std::to_string(m_tries) + " tries of " +
                              std::to_string(m_replyTimeoutMs) + " ms; --reply-timeout-ms)";
    SCommandReply before;
    if (!link.Command(tools::kSymbolStatusQuery, 0, {}, m_replyTimeoutMs, m_tries, before)) {
        if (link.LinkState() == ELinkState::Down)
            return Fail(ExitStatus_LinkFailed,
                        "the link on " + link.InterfaceName() +
                            " is down (no carrier): check the cable and the board's power");
        return Fail(ExitStatus_JobFailed, "the board on " + link.DeviceName() +
                                              " does not answer a status query" + tries);
    }
    SCommandReply after;
    if (!link.Command(tools::kSymbolReset, 0, {}, m_replyTimeoutMs, m_tries, after))
        return Fail(ExitStatus_JobFailed,
                    "the board on " + link.DeviceName() + " does not answer a Reset" + tries);
    link.StopReceiving();
    const std::uint32_t cleared = CBoardErrors::Word(before.m_status);
    const std::uint32_t left = CBoardErrors::Word(after.m_status);
    const bool fatalLeft = after.m_status.ExistError_Fatal();
    if (m_json) {
        PrintJsonLine(nlohmann::json({{"event", "reset"},
                                      {"time", CFrameText::NowRfc3339()},
                                      {"ok", !fatalLeft},
                                      {"adapter", link.DeviceName()},
                                      {"error_word_before", cleared},
                                      {"error_word_after", left},
                                      {"fatal_after", fatalLeft},
                                      {"exit_status", fatalLeft ? ExitStatus_BoardFault : 0}})
                          .dump());
    } else {
        const std::string was = CBoardErrors::Describe(cleared);
        const std::string now = CBoardErrors::Describe(left);
        std::printf("board on %s reset; errors before: %s; errors now: %s\n",
                    link.DeviceName().c_str(), was.empty() ? "none" : was.c_str(),
                    now.empty() ? "none" : now.c_str());
    }
    if (fatalLeft) {
        std::fflush(stdout);
        std::fprintf(stderr,
                     "ferrolink: the board still reports a fatal fault after a reset: "
                     "power-cycle it\n");
        return ExitStatus_BoardFault;
    }
    return ExitStatus_Ok;
}

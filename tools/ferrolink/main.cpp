// ferrolink: the command-line tool for host developers and service engineers.
//   list | detect | send FILE | reset | monitor | dump   (see --help of each, and
//   docs/ferrolink-tool.md)
// This file builds the command line and dispatches; each subcommand lives in its own file.
#include <pcap/pcap.h>
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "CommandSupport.h"
#include "DetectCommand.h"
#include "DumpCommand.h"
#include "FrameText.h"
#include "ListCommand.h"
#include "MonitorCommand.h"
#include "ResetCommand.h"
#include "SendCommand.h"
#include "common/ConsoleLog.h"
#include "platform/Console.h"

namespace {

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
    if (g_json)
        PrintJsonLine(nlohmann::json({{"event", "error"},
                                      {"time", CFrameText::NowRfc3339()},
                                      {"error", "unknown " + std::string(what) + " " + word},
                                      {"exit_status", ExitStatus_Usage}})
                          .dump());
    return ExitStatus_Usage;
}

// CLI11's message for a usage error (and, with --json, the same as a JSON object); --help and
// --version are no error.
int UsageError(CLI::App& app, const CLI::ParseError& e) {
    if (app.exit(e) == 0) return ExitStatus_Ok;
    if (g_json)
        PrintJsonLine(nlohmann::json({{"event", "error"},
                                      {"time", CFrameText::NowRfc3339()},
                                      {"error", e.what()},
                                      {"exit_status", ExitStatus_Usage}})
                          .dump());
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
    // Nothing from the library reaches the console before the level is known (--version loads
    // the capture library, which logs when it is missing).
    ferrolink::tools::CConsoleLog::Install("off");
    CLI::App app{
        "ferrolink " FERROLINK_VERSION
        ": talk to the printer mainboard over its Ethernet link.\nExit status: 0 ok (also a "
        "monitor or dump ended by Ctrl-C), 1 job or board failure, 2 usage, 3 link or adapter "
        "failure, 4 fatal board fault, 5 board held by another process, 6-8 board cannot be "
        "claimed (blocked, disk full, not permitted), 130 interrupted."};
    app.option_defaults()->always_capture_default();
    app.require_subcommand(1);
    app.fallthrough();  // --log-level may also follow the subcommand
    // The capture library is asked only when --version is: on Windows that loads wpcap.dll.
    app.set_version_flag("--version", [] {
        return std::string("ferrolink " FERROLINK_VERSION " on ") + pcap_lib_version();
    });
    std::string logLevel;
    app.add_option("--log-level", logLevel,
                   "library log records shown on standard error: off, failure, notice "
                   "(default: off; failure with a command's -v)")
        ->check(CLI::IsMember({"off", "failure", "notice"}));

    CListCommand list(app);
    CDetectCommand detect(app);
    CSendCommand send(app);
    CResetCommand reset(app);
    CMonitorCommand monitor(app);
    CDumpCommand dump(app);

    // A mistyped subcommand gets a suggestion rather than CLI11's bare complaint.
    const std::vector<std::string> commands = {"list",  "detect",  "send",
                                               "reset", "monitor", "dump"};
    // Usage errors are told in JSON too when the command line asks for it.
    for (int i = 1; i < argc; ++i) g_json = g_json || std::string(argv[i]) == "--json";
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
        return UsageError(app, e);
    } catch (const CLI::ParseError& e) {
        return UsageError(app, e);
    }
    // Only the command's own --json counts from here on.
    g_json = false;
    CLI::App* chosen = app.get_subcommands().empty() ? nullptr : app.get_subcommands().front();
    if (chosen) {
        const CLI::Option* json = chosen->get_option_no_throw("--json");
        const CLI::Option* verbose = chosen->get_option_no_throw("-v");
        g_json = json && json->count() > 0;
        // The library's records are for whoever asks: -v shows its failures.
        if (logLevel.empty()) logLevel = verbose && verbose->count() > 0 ? "failure" : "off";
    }
    if (logLevel.empty()) logLevel = "off";
    // Whole lines, so that log records on standard error never cut a line of ours in two.
    ferrolink::tools::CConsole::PrepareOutput();
    ferrolink::tools::CConsoleLog::Install(logLevel);
    InstallSignals();

    try {
        if (list.Chosen()) return list.Run();
        if (detect.Chosen()) return detect.Run();
        if (send.Chosen()) return send.Run();
        if (reset.Chosen()) return reset.Run();
        if (monitor.Chosen()) return monitor.Run();
        if (dump.Chosen()) return dump.Run();
    } catch (const std::exception& e) {
        return Fail(ExitStatus_JobFailed, std::string("unexpected failure: ") + e.what());
    }
    return ExitStatus_Usage;
}

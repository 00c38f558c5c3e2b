// ferrolink: the command-line tool for host developers and service engineers.
//   list | detect | send FILE | monitor | dump   (see --help of each, and docs/ferrolink-tool.md)
// This file builds the command line and dispatches; each subcommand lives in its own file.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "CommandSupport.h"
#include "DetectCommand.h"
#include "DumpCommand.h"
#include "ListCommand.h"
#include "MonitorCommand.h"
#include "SendCommand.h"
#include "common/ConsoleLog.h"

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

    CListCommand list(app);
    CDetectCommand detect(app);
    CSendCommand send(app);
    CMonitorCommand monitor(app);
    CDumpCommand dump(app);

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
    // Whole lines, so that log records on standard error never cut a line of ours in two.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    ferrolink::tools::CConsoleLog::Install(logLevel);
    InstallSignals();

    try {
        if (list.Chosen()) return list.Run();
        if (detect.Chosen()) return detect.Run();
        if (send.Chosen()) return send.Run();
        if (monitor.Chosen()) return monitor.Run();
        if (dump.Chosen()) return dump.Run();
    } catch (const std::exception& e) {
        return Fail(ExitStatus_JobFailed, std::string("unexpected failure: ") + e.what());
    }
    return ExitStatus_Usage;
}

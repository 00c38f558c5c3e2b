// The tools' one console sink for log records (the library's and the emulator's own): standard
// error, filtered by a level given by name, each line timed and naming where it was logged.
// Repeated records are rate-limited: a few of each kind per second, then one line that says how
// many more there were, so a flood of bad frames from the wire cannot flood the terminal or a disk.
// The library adds no sinks, so without this a tool logs nothing.
#pragma once

#include <string>

namespace ferrolink::tools {

class CConsoleLog {
public:
    // Records of one kind (same place, same text but for its numbers) shown per second; the rest
    // are counted and summarised.
    static constexpr int kBurst = 5;

    // "off", "failure" (severity 2 only) or "notice" (1 and 2). False for any other name. May be
    // called again: "off" first keeps Boost.Log's default console output away until the level
    // is known.
    static bool Install(const std::string& level);
    static bool IsLevel(const std::string& level);
    // Writes the summaries whose second has passed; `all`: every pending one (at exit). Installed
    // to run at exit too; a long-running command may call it now and then.
    static void Flush(bool all = false);
};

}  // namespace ferrolink::tools

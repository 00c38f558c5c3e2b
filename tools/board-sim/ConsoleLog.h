// The emulator's one log sink: the library's records (and the emulator's own) on standard error,
// filtered by severity. The library adds no sinks, so without this a tool logs nothing.
#pragma once

#include <string>

namespace ferrolink::tools {

class CConsoleLog {
public:
    // "off", "failure" (severity 2 only) or "notice" (1 and 2). False for any other name.
    static bool Install(const std::string& level);
    static bool IsLevel(const std::string& level);
};

}  // namespace ferrolink::tools

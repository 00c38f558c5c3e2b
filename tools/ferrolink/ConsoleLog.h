// The tool's console sink for the library's log records, filtered by a level given by name.
#pragma once

#include <string>

class CConsoleLog {
public:
    // "failure" (severity 2 only), "notice" (1 and 2), "off". False for an unknown name.
    static bool Install(const std::string& level);
};

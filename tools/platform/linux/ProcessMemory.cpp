#include "platform/ProcessMemory.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace ferrolink::tools {

double CProcessMemory::PeakMB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) * 1024.0 / 1e6;
    return 0;
}

}  // namespace ferrolink::tools

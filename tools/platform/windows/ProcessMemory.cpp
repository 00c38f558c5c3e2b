#include "platform/ProcessMemory.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>

namespace ferrolink::tools {

double CProcessMemory::PeakMB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return static_cast<double>(counters.PeakWorkingSetSize) / 1e6;
}

}  // namespace ferrolink::tools

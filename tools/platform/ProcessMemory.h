// The memory this process has used, for the send summary's peak figure.
#pragma once

namespace ferrolink::tools {

class CProcessMemory {
public:
    // The largest resident (working) set so far in MB; 0 when the system does not say.
    static double PeakMB();
};

}  // namespace ferrolink::tools

// The eight status words of a board report, in host order, before they are written big-endian
// into the report's data area (layout in common/BoardProtocol.h).
#pragma once

#include <cstdint>

#include "common/BoardProtocol.h"

namespace ferrolink::tools {

struct SBoardStatus {
    std::uint32_t m_error = 0;
    std::int32_t m_resendIndex = 0;
    std::int32_t m_currentMaximum = -1;
    std::uint32_t m_version = kBoardVersion;
    // band (frameIndex), packets held, bands completed, command sequence answered
    std::uint32_t m_band[4] = {0, 0, 0, 0};
};

}  // namespace ferrolink::tools

#include "platform/LocalTime.h"

namespace ferrolink::tools {

bool CLocalTime::Split(std::time_t seconds, std::tm& local, long& offsetMinutes) {
    offsetMinutes = 0;
    if (localtime_s(&local, &seconds) != 0) {
        gmtime_s(&local, &seconds);
        return false;
    }
    // The local fields read as UTC, less the moment itself: the zone's offset then.
    std::tm copy = local;
    const std::time_t asUtc = _mkgmtime(&copy);
    if (asUtc != static_cast<std::time_t>(-1))
        offsetMinutes = static_cast<long>((asUtc - seconds) / 60);
    return true;
}

}  // namespace ferrolink::tools

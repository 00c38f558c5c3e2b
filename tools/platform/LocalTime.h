// A moment in the local time zone, with the zone's offset from UTC at that moment (daylight saving
// included), for timestamps that a person reads and RFC 3339 times with their zone.
#pragma once

#include <ctime>

namespace ferrolink::tools {

class CLocalTime {
public:
    // `local` and the offset in minutes east of UTC; false (with UTC and offset 0) when the
    // system cannot convert `seconds`.
    static bool Split(std::time_t seconds, std::tm& local, long& offsetMinutes);
};

}  // namespace ferrolink::tools

#include "platform/LocalTime.h"

namespace ferrolink::tools {

bool CLocalTime::Split(std::time_t seconds, std::tm& local, long& offsetMinutes) {
    offsetMinutes = 0;
    if (!localtime_r(&seconds, &local)) {
        gmtime_r(&seconds, &local);
        return false;
    }
    offsetMinutes = local.tm_gmtoff / 60;
    return true;
}

}  // namespace ferrolink::tools

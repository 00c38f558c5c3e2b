#include <ferrolink/platform/HostEncoding.h>

namespace ferrolink::platform {

std::string CHostEncoding::FromUtf8(const char* text) {
    return text ? text : "";
}

}  // namespace ferrolink::platform

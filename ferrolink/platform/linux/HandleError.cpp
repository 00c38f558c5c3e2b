#include <ferrolink/platform/linux/HandleError.h>

#include <cstdarg>
#include <cstdio>

namespace ferrolink::platform {

void SetHandleError(pcap_t* p, const char* format, ...) {
    char* text = ::pcap_geterr(p);
    if (!text) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, PCAP_ERRBUF_SIZE, format, args);
    va_end(args);
}

}  // namespace ferrolink::platform

// Failures of our capture-layer calls are reported the way libpcap reports its own: as the
// handle's error text, which callers read with pcap_geterr.
#pragma once

#include <pcap/pcap.h>

namespace ferrolink::platform {

void SetHandleError(pcap_t* p, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace ferrolink::platform

// What both systems' links share: a capture file is libpcap's (or Npcap's) own reader on either.
#include <ferrolink/platform/Link.h>

namespace ferrolink::platform {

pcap_t* CLink::OpenFile(const std::string& path, std::string& error) {
    char text[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = ::pcap_open_offline(path.c_str(), text);
    if (!handle) error = text;
    return handle;
}

}  // namespace ferrolink::platform

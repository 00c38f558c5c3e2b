// Windows: Npcap keeps the read time-out and breaks its own waits, so the reads are wpcap.dll's.
#include <ferrolink/platform/Link.h>

#include <ferrolink/platform/windows/WpcapLibrary.h>

namespace ferrolink::platform {

namespace {

std::string Missing(const char* name) {
    if (CWpcapLibrary::IsLoaded())
        return std::string("wpcap.dll has no ") + name + ": update Npcap";
    return CWpcapLibrary::LoadError();
}

}  // namespace

pcap_t* CLink::OpenLive(const std::string& device, const SLinkOptions& options,
                        std::string& error) {
    static const auto open = CWpcapLibrary::Function<decltype(&::pcap_open)>("pcap_open");
    if (!open) {
        error = Missing("pcap_open");
        return nullptr;
    }
    // Maximum responsiveness is Npcap's minimum-to-copy of 0: the driver hands each frame over as
    // it arrives, not when its copy threshold fills or the read time-out passes.
    const int flags = (options.promiscuous ? PCAP_OPENFLAG_PROMISCUOUS : 0) |
                      (options.immediate ? PCAP_OPENFLAG_MAX_RESPONSIVENESS : 0);
    char text[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = open(("rpcap://" + device).c_str(), options.snapLength, flags,
                          options.readTimeoutMs, nullptr, text);
    if (!handle) error = text;
    return handle;
}

int CLink::ReadOne(pcap_t* p, struct pcap_pkthdr** header, const u_char** data) {
    return p ? ::pcap_next_ex(p, header, data) : PCAP_ERROR;
}

int CLink::ReadBatch(pcap_t* p, int count, pcap_handler callback, u_char* user) {
    return p ? ::pcap_dispatch(p, count, callback, user) : PCAP_ERROR;
}

void CLink::Break(pcap_t* p) {
    if (p) ::pcap_breakloop(p);
}

void CLink::Close(pcap_t* p) {
    if (p) ::pcap_close(p);
}

bool CLink::Available(std::string& why) {
    if (CWpcapLibrary::IsLoaded()) return true;
    why = CWpcapLibrary::LoadError();
    return false;
}

}  // namespace ferrolink::platform

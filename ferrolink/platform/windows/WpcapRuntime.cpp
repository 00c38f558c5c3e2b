// The plain libpcap calls of the library, bound to wpcap.dll at run time (see WpcapLibrary.h):
// they keep their global names, so the shared code calls them as it does on Linux, and Npcap's
// send queue. Without the library every call fails the way libpcap reports failures, with the
// "Npcap is not installed" text in the error buffer.
#include <pcap/pcap.h>

#include <cstdio>
#include <cstring>

#include <ferrolink/platform/PcapSendQueue.h>
#include <ferrolink/platform/windows/WpcapLibrary.h>

namespace {

using ferrolink::platform::CWpcapLibrary;

// The export of wpcap.dll that the header declares under `name`, with the header's type; looked
// up once per call site (the receive loop calls some of them for every batch).
#define FLK_WPCAP(name)                                                              \
    ([] {                                                                            \
        static const auto found = CWpcapLibrary::Function<decltype(&::name)>(#name); \
        return found;                                                                \
    }())

// Why `name` could not be called: no library, or a library without that export (an old WinPcap).
void NotLoaded(char* errbuf, const char* name) {
    if (!errbuf) return;
    if (CWpcapLibrary::IsLoaded())
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "wpcap.dll has no %s: update Npcap", name);
    else
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s", CWpcapLibrary::LoadError().c_str());
}

}  // namespace

extern "C" {

int pcap_compile(pcap_t* p, struct bpf_program* program, const char* text, int optimize,
                 bpf_u_int32 netmask) {
    auto fn = FLK_WPCAP(pcap_compile);
    return fn ? fn(p, program, text, optimize, netmask) : PCAP_ERROR;
}

void pcap_freecode(struct bpf_program* program) {
    if (auto fn = FLK_WPCAP(pcap_freecode)) fn(program);
}

int pcap_setfilter(pcap_t* p, struct bpf_program* program) {
    auto fn = FLK_WPCAP(pcap_setfilter);
    return fn ? fn(p, program) : PCAP_ERROR;
}

char* pcap_geterr(pcap_t* p) {
    auto fn = FLK_WPCAP(pcap_geterr);
    // A handle exists only when the library was loaded; this is for a caller's mistake.
    return fn ? fn(p) : const_cast<char*>(CWpcapLibrary::LoadError().c_str());
}

int pcap_sendpacket(pcap_t* p, const u_char* data, int size) {
    auto fn = FLK_WPCAP(pcap_sendpacket);
    return fn ? fn(p, data, size) : PCAP_ERROR;
}

int pcap_datalink(pcap_t* p) {
    auto fn = FLK_WPCAP(pcap_datalink);
    return fn ? fn(p) : PCAP_ERROR;
}

pcap_t* pcap_open_dead(int linktype, int snaplen) {
    auto fn = FLK_WPCAP(pcap_open_dead);
    return fn ? fn(linktype, snaplen) : nullptr;
}

pcap_t* pcap_open_offline(const char* path, char* errbuf) {
    if (auto fn = FLK_WPCAP(pcap_open_offline)) return fn(path, errbuf);
    NotLoaded(errbuf, "pcap_open_offline");
    return nullptr;
}

void pcap_close(pcap_t* p) {
    if (auto fn = FLK_WPCAP(pcap_close)) fn(p);
}

int pcap_next_ex(pcap_t* p, struct pcap_pkthdr** header, const u_char** data) {
    auto fn = FLK_WPCAP(pcap_next_ex);
    return fn ? fn(p, header, data) : PCAP_ERROR;
}

int pcap_dispatch(pcap_t* p, int count, pcap_handler callback, u_char* user) {
    auto fn = FLK_WPCAP(pcap_dispatch);
    return fn ? fn(p, count, callback, user) : PCAP_ERROR;
}

int pcap_loop(pcap_t* p, int count, pcap_handler callback, u_char* user) {
    auto fn = FLK_WPCAP(pcap_loop);
    return fn ? fn(p, count, callback, user) : PCAP_ERROR;
}

void pcap_breakloop(pcap_t* p) {
    if (auto fn = FLK_WPCAP(pcap_breakloop)) fn(p);
}

int pcap_findalldevs(pcap_if_t** devices, char* errbuf) {
    if (auto fn = FLK_WPCAP(pcap_findalldevs)) return fn(devices, errbuf);
    NotLoaded(errbuf, "pcap_findalldevs");
    return PCAP_ERROR;
}

void pcap_freealldevs(pcap_if_t* devices) {
    if (auto fn = FLK_WPCAP(pcap_freealldevs)) fn(devices);
}

// Used by the tools (their version line, device list, drop counts and open diagnosis).
const char* pcap_lib_version() {
    auto fn = FLK_WPCAP(pcap_lib_version);
    return fn                          ? fn()
           : CWpcapLibrary::IsLoaded() ? "an old wpcap.dll"
                                       : CWpcapLibrary::LoadError().c_str();
}

int pcap_stats(pcap_t* p, struct pcap_stat* stats) {
    auto fn = FLK_WPCAP(pcap_stats);
    return fn ? fn(p, stats) : PCAP_ERROR;
}

pcap_t* pcap_create(const char* source, char* errbuf) {
    if (auto fn = FLK_WPCAP(pcap_create)) return fn(source, errbuf);
    NotLoaded(errbuf, "pcap_create");
    return nullptr;
}

int pcap_activate(pcap_t* p) {
    auto fn = FLK_WPCAP(pcap_activate);
    return fn ? fn(p) : PCAP_ERROR;
}

const char* pcap_statustostr(int status) {
    auto fn = FLK_WPCAP(pcap_statustostr);
    return fn ? fn(status) : "";
}

}  // extern "C"

namespace ferrolink::platform {

pcap_send_queue* pcap_sendqueue_alloc(u_int memsize) {
    auto fn = FLK_WPCAP(pcap_sendqueue_alloc);
    return fn ? fn(memsize) : nullptr;
}

void pcap_sendqueue_destroy(pcap_send_queue* queue) {
    if (!queue) return;
    if (auto fn = FLK_WPCAP(pcap_sendqueue_destroy)) fn(queue);
}

u_int pcap_sendqueue_transmit(pcap_t* p, pcap_send_queue* queue, int sync) {
    auto fn = FLK_WPCAP(pcap_sendqueue_transmit);
    return fn ? fn(p, queue, sync) : 0;
}

}  // namespace ferrolink::platform

// A wpcap.dll of our own for the tests: the send queue as WinPcap defines it, a transmission
// that sends nothing and says so, an open that finds no device but remembers the flags it was
// given (standin_last_open_flags) and every source it was asked for, one per line
// (standin_open_sources), and an empty device list. Placed beside the test programs, it is what
// the library loads.
#include <pcap/pcap.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct SDeadHandle {
    char errbuf[PCAP_ERRBUF_SIZE];
};

int lastOpenFlags = -1;
std::string openSources;

}  // namespace

extern "C" {

// Like an open of a device that is not there (the stand-in has none), after noting the flags.
pcap_t* pcap_open(const char* source, int, int flags, int, struct pcap_rmtauth*, char* errbuf) {
    lastOpenFlags = flags;
    openSources.append(source ? source : "(null)").push_back('\n');
    if (errbuf) std::strcpy(errbuf, "the stand-in opens no device");
    return nullptr;
}

__declspec(dllexport) int standin_last_open_flags() {
    return lastOpenFlags;
}

__declspec(dllexport) const char* standin_open_sources() {
    return openSources.c_str();
}

// A PC without capture devices.
int pcap_findalldevs(pcap_if_t** devices, char*) {
    *devices = nullptr;
    return 0;
}

const char* pcap_lib_version() {
    return "the tests' stand-in wpcap.dll";
}

pcap_t* pcap_open_dead(int, int) {
    return reinterpret_cast<pcap_t*>(new SDeadHandle{});
}

void pcap_close(pcap_t* p) {
    delete reinterpret_cast<SDeadHandle*>(p);
}

char* pcap_geterr(pcap_t* p) {
    return reinterpret_cast<SDeadHandle*>(p)->errbuf;
}

pcap_send_queue* pcap_sendqueue_alloc(u_int memsize) {
    auto* queue = static_cast<pcap_send_queue*>(std::calloc(1, sizeof(pcap_send_queue)));
    if (!queue) return nullptr;
    queue->buffer = static_cast<char*>(std::malloc(memsize ? memsize : 1));
    if (!queue->buffer) {
        std::free(queue);
        return nullptr;
    }
    queue->maxlen = memsize;
    return queue;
}

void pcap_sendqueue_destroy(pcap_send_queue* queue) {
    std::free(queue->buffer);
    std::free(queue);
}

// Like a transmission on a handle with no adapter behind it: nothing leaves, 0 bytes are reported
// sent and the handle says why, so the caller's short-send path runs as it does on Linux.
u_int pcap_sendqueue_transmit(pcap_t* p, pcap_send_queue*, int) {
    std::strcpy(reinterpret_cast<SDeadHandle*>(p)->errbuf, "the stand-in sends nothing");
    return 0;
}

}  // extern "C"

// The extensions that the Windows capture library adds to libpcap and the adapter code calls,
// built on the Linux libpcap: opening a source string with open flags and a read time-out,
// building source strings, and listing devices under the "rpcap://" prefix.
//
// The names and argument shapes are the Windows ones, so the callers read the same on both
// systems; they live in this namespace because a libpcap built with remote support exports the
// same global names (and its header declares them even when it does not). Call them qualified,
// e.g. ferrolink::platform::pcap_open(...): a using-directive makes every call ambiguous with the
// header's global declarations, and argument-dependent lookup brings those back in past a
// using-declaration.
#pragma once

#include <pcap/pcap.h>

#include <ferrolink/FerrolinkExport.h>

// pcap.h defines the Windows constants as macros; ours are typed constants of the same values,
// reachable qualified, so the macros have to go.
#undef PCAP_BUF_SIZE
#undef PCAP_SRC_FILE
#undef PCAP_SRC_IFLOCAL
#undef PCAP_OPENFLAG_PROMISCUOUS

namespace ferrolink::platform {

// Size of the buffer a source string is built into, terminating zero included.
constexpr int PCAP_BUF_SIZE = 1024;
// Source types of pcap_createsrcstr.
constexpr int PCAP_SRC_FILE = 2;
constexpr int PCAP_SRC_IFLOCAL = 3;
// Open flag of pcap_open: capture frames addressed to other stations too.
constexpr int PCAP_OPENFLAG_PROMISCUOUS = 1;

constexpr const char* PCAP_SRC_FILE_PREFIX = "file://";
constexpr const char* PCAP_SRC_IF_PREFIX = "rpcap://";

// Remote authentication: never needed for local sources, so callers only ever pass null.
struct pcap_rmtauth;

// "rpcap://IFNAME" (or a bare interface name) opens a live capture on that device in blocking
// mode and immediate delivery; "file://PATH" opens a capture file. Remote sources are refused.
// Null on failure, with a text in errbuf (PCAP_ERRBUF_SIZE). Close with ferrolink::platform::
// pcap_close, which also forgets the read time-out remembered here.
FERROLINK_API pcap_t* pcap_open(const char* source, int snaplen, int flags, int read_timeout,
                                struct pcap_rmtauth* auth, char* errbuf);

// Writes "file://NAME" (PCAP_SRC_FILE) or "rpcap://NAME" (PCAP_SRC_IFLOCAL) into `source`, a
// buffer of PCAP_BUF_SIZE characters; host and port are not used by local sources. 0 on success,
// -1 with a text in errbuf when the type is not a local one or the result would not fit.
FERROLINK_API int pcap_createsrcstr(char* source, int type, const char* host, const char* port,
                                    const char* name, char* errbuf);

// For the source "rpcap://": the Ethernet-type capture devices of the calling thread's network
// namespace, each name prefixed with "rpcap://", in libpcap's order. Pseudo devices (any, lo,
// nflog, nfqueue, usbmon, bluetooth, dbus, CAN, tun) are left out: the board answers Ethernet
// frames only. 0 with *alldevs set (null when there is no device), -1 with a text in errbuf.
// Release the list with ferrolink::platform::pcap_freealldevs.
FERROLINK_API int pcap_findalldevs_ex(const char* source, struct pcap_rmtauth* auth,
                                      pcap_if_t** alldevs, char* errbuf);

// Releases a list made by pcap_findalldevs_ex; null is allowed.
FERROLINK_API void pcap_freealldevs(pcap_if_t* alldevs);

}  // namespace ferrolink::platform

// Reads that keep the Windows library's promise of a read time-out, plus the break and close that
// go with them. libpcap 1.10 on Linux waits for frames in a loop that only a frame, a break or an
// error ends, so on a silent link pcap_next_ex and pcap_dispatch never return, whatever the
// handle's time-out; board detection and the receive thread both depend on returning.
//
// On a live handle these wait on the handle's descriptor themselves, for the read time-out that
// pcap_open remembered (10 ms for a handle opened elsewhere), in slices of at most 10 ms so that a
// break is seen promptly, and call libpcap only once frames are waiting, when it cannot block.
// Capture files and dead handles go straight to libpcap. Call them qualified (see
// PcapExtensions.h), and use all four together on a handle:
//  - a break must be asked for with ferrolink::platform::pcap_breakloop: libpcap keeps its break
//    flag private and reports it on a silent link only from inside the wait that never ends, so
//    a plain pcap_breakloop takes effect at the next frame only;
//  - close with ferrolink::platform::pcap_close, which forgets what was remembered of the handle.
// One reader at a time waits on a handle; others queue behind it for at most its time-out.
#pragma once

#include <pcap/pcap.h>

#include <ferrolink/FerrolinkExport.h>

namespace ferrolink::platform {

// 1: a frame, valid until the next read; 0: the read time-out passed without one; -1: error (text
// in pcap_geterr); -2: a break was asked for, or the end of a capture file.
FERROLINK_API int pcap_next_ex(pcap_t* p, struct pcap_pkthdr** pkt_header, const u_char** pkt_data);
// Up to cnt frames that are waiting (all of them for cnt <= 0), after waiting at most the read
// time-out for the first: their number, 0 on time-out, -1 on error, -2 after a break request.
FERROLINK_API int pcap_dispatch(pcap_t* p, int cnt, pcap_handler callback, u_char* user);
// Asks a read in progress on another thread, or else the next read, to return -2; also breaks a
// plain libpcap loop on the handle.
FERROLINK_API void pcap_breakloop(pcap_t* p);
// Closes any handle, ours or opened elsewhere, and forgets it; null is allowed.
FERROLINK_API void pcap_close(pcap_t* p);

}  // namespace ferrolink::platform

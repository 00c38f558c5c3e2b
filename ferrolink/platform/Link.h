// A link: a capture handle on an adapter (or a capture file) and the reads the library makes on
// it. The handle is libpcap's own, because the design's classes hand it to hosts, who call
// libpcap on it; what the library does with it goes through here, so that a read ends when its
// time-out passes or a break is asked for, which libpcap on Linux does not promise on a silent
// link. Used by the capture handles, board detection, the reply wait and the receiver.
#pragma once

#include <pcap/pcap.h>

#include <string>

namespace ferrolink::platform {

struct SLinkOptions {
    int snapLength = 65536;
    bool promiscuous = true;
    int readTimeoutMs = 10;  // longest wait of one read for a frame
    // Each frame reaches the reader as it arrives, not when a buffer or copy threshold fills:
    // replies are single small frames that someone waits for.
    bool immediate = true;
};

class CLink {
public:
    // A live capture on the device (a name as CAdapters gives it); null with the reason in error.
    static pcap_t* OpenLive(const std::string& device, const SLinkOptions& options,
                            std::string& error);
    static pcap_t* OpenFile(const std::string& path, std::string& error);
    // 1: a frame, valid until the next read; 0: the read time-out passed without one; -1: error
    // (text in pcap_geterr); -2: a break was asked for, or the end of a capture file.
    static int ReadOne(pcap_t* p, struct pcap_pkthdr** header, const u_char** data);
    // Up to count frames that are waiting (all for count <= 0), after waiting at most the read
    // time-out for the first: their number, 0 on time-out, -1 on error, -2 after a break.
    static int ReadBatch(pcap_t* p, int count, pcap_handler callback, u_char* user);
    // Makes a read in progress on another thread, or else the next read, return -2.
    static void Break(pcap_t* p);
    // Closes any handle, also one opened elsewhere; null is allowed.
    static void Close(pcap_t* p);
    // Whether links can be opened on this PC at all: false with the reason when the capture
    // library is missing (Windows without Npcap).
    static bool Available(std::string& why);
};

}  // namespace ferrolink::platform

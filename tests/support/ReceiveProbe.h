// Reaches the receiver's per-frame path without a thread or a link, for unit tests, fuzzing and
// benchmarks.
#pragma once

#include <pcap/pcap.h>

#include <ferrolink/receive/ReceiveWPCapPacket.h>

using namespace ferrolink::core;  // the library's core classes, linked from its archive

class CReceiveWPCapPacketProbe {
public:
    static void Configure(CReceiveWPCapPacket& r, ECaptureMode mode, ReceiveCallback callback,
                          void* userData) {
        r.m_captureMode = mode;
        r.m_receiveCallback = callback;
        r.m_userData = userData;
    }
    static bool Handle(CReceiveWPCapPacket& r, const pcap_pkthdr* header,
                       const unsigned char* bytes) {
        return r.ReceivePacketHandler_Internal(header, bytes);
    }
    static void HandleFromCapture(CReceiveWPCapPacket& r, const pcap_pkthdr* header,
                                  const unsigned char* bytes) {
        CReceiveWPCapPacket::ReceivePacketHandler(reinterpret_cast<unsigned char*>(&r), header,
                                                  bytes);
    }
};

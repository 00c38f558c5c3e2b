// Capture handles on the ends of a test link: the library's own kind, a host's plain libpcap
// kind, and a roomy capture that keeps everything a test sends until it is drained.
#pragma once

#include <pcap/pcap.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "VethRig.h"

using PcapHandle = std::unique_ptr<pcap_t, void (*)(pcap_t*)>;
using Frame = std::vector<unsigned char>;

// Through the library's layer: "rpcap://IF", promiscuous, the given snap length and time-out.
PcapHandle OpenOurs(CVethRig& rig, CVethRig::ESide side, int snaplen = 1496, int timeoutMs = 10);
// As a host would with plain libpcap: blocking, default buffer.
PcapHandle OpenPlain(CVethRig& rig, CVethRig::ESide side, int timeoutMs = 10);
// 64 MiB of buffer, immediate delivery, only frames that pass `filter`.
PcapHandle OpenRoomyCapture(CVethRig& rig, CVethRig::ESide side, const std::string& filter);
// Reads until `count` frames arrived or `limit` passed.
std::vector<Frame> Drain(pcap_t* capture, std::size_t count,
                         std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

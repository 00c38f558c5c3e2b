#include "LinkEnds.h"

#include <ferrolink/platform/PcapExtensions.h>
#include <ferrolink/platform/PcapTimedRead.h>

namespace flk = ferrolink::platform;

namespace {
void CloseHandle(pcap_t* p) {
    if (p) flk::pcap_close(p);
}
void Collect(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    reinterpret_cast<std::vector<Frame>*>(user)->emplace_back(bytes, bytes + header->caplen);
}
}  // namespace

PcapHandle OpenOurs(CVethRig& rig, CVethRig::ESide side, int snaplen, int timeoutMs) {
    pcap_t* p = rig.RunIn(side, [&] {
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        return flk::pcap_open(("rpcap://" + rig.Interface(side)).c_str(), snaplen,
                              flk::PCAP_OPENFLAG_PROMISCUOUS, timeoutMs, nullptr, errbuf);
    });
    return PcapHandle(p, &CloseHandle);
}

PcapHandle OpenPlain(CVethRig& rig, CVethRig::ESide side, int timeoutMs) {
    pcap_t* p = rig.RunIn(side, [&] {
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        return pcap_open_live(rig.Interface(side).c_str(), 65536, 1, timeoutMs, errbuf);
    });
    return PcapHandle(p, &CloseHandle);
}

PcapHandle OpenRoomyCapture(CVethRig& rig, CVethRig::ESide side, const std::string& filter) {
    pcap_t* p = rig.RunIn(side, [&]() -> pcap_t* {
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        pcap_t* handle = pcap_create(rig.Interface(side).c_str(), errbuf);
        if (!handle) return nullptr;
        pcap_set_snaplen(handle, 2048);
        pcap_set_buffer_size(handle, 64 << 20);
        pcap_set_immediate_mode(handle, 1);
        pcap_set_timeout(handle, 10);
        bpf_program program{};
        const bool ok = pcap_activate(handle) >= 0 &&
                        pcap_compile(handle, &program, filter.c_str(), 1, 0) == 0 &&
                        pcap_setfilter(handle, &program) == 0;
        pcap_freecode(&program);
        if (!ok) {
            pcap_close(handle);
            return nullptr;
        }
        return handle;
    });
    return PcapHandle(p, &CloseHandle);
}

std::vector<Frame> Drain(pcap_t* capture, std::size_t count, std::chrono::milliseconds limit) {
    std::vector<Frame> frames;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (frames.size() < count && std::chrono::steady_clock::now() < deadline) {
        if (flk::pcap_dispatch(capture, -1, &Collect, reinterpret_cast<u_char*>(&frames)) < 0)
            break;
    }
    return frames;
}

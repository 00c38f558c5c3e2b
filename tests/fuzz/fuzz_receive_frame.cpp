// The receiver's per-frame path over arbitrary captured bytes: length, direction and checksum
// checks, then the callback, which must see only whole frames of at least 88 bytes that sum to 0.
#include <ferrolink/api/ferrolink.h>

#include <pcap/pcap.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include <ferrolink/protocol/NetworkHelper.h>
#include "support/ReceiveProbe.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

bool Check(const unsigned char* frame, int length, void*) {
    if (length < 88 || !CNetworkHelper::IsValidCheckSum(frame, length)) __builtin_trap();
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    flk_log_set_handler(nullptr, nullptr, nullptr);  // no handler: records are dropped unformatted
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // First byte: capture mode; second: how much shorter the captured length claims to be.
    const auto mode = static_cast<ECaptureMode>(data[0] % 5);
    const std::uint32_t cut = data[1] % 4;
    data += 2;
    size -= 2;
    std::unique_ptr<unsigned char[]> frame(new unsigned char[size ? size : 1]);
    if (size) std::memcpy(frame.get(), data, size);

    static CReceiveWPCapPacket receiver;
    CReceiveWPCapPacketProbe::Configure(receiver, mode, &Check, nullptr);
    pcap_pkthdr header{};
    header.caplen = static_cast<bpf_u_int32>(size);
    header.len = static_cast<bpf_u_int32>(size + cut);
    CReceiveWPCapPacketProbe::HandleFromCapture(receiver, &header, frame.get());
    return 0;
}

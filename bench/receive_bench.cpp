// The receiver's per-frame path: tick bookkeeping, length and direction checks, the checksum pass
// and a counting callback, over valid 1496-byte frames from the board.
#include <benchmark/benchmark.h>

#include <pcap/pcap.h>

#include <cstring>
#include <vector>

#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include "support/ReceiveProbe.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

bool Count(const unsigned char*, int, void* user) {
    ++*static_cast<long long*>(user);
    return true;
}

void BM_ReceivePacketHandler_1496(benchmark::State& state) {
    std::vector<unsigned char> frame(1496);
    for (std::size_t i = 24; i < 1492; ++i) frame[i] = static_cast<unsigned char>(i * 31);
    std::memcpy(frame.data(), CConstValue::GetPcMac(), 6);
    std::memcpy(frame.data() + 6, CConstValue::BoardMac_Get(), 6);
    const std::uint32_t c = CNetworkHelper::CheckSum_Get(frame.data(), 1492);
    for (int i = 0; i < 4; ++i) frame[1492 + i] = static_cast<unsigned char>(c >> (24 - 8 * i));

    CReceiveWPCapPacket receiver;
    long long delivered = 0;
    CReceiveWPCapPacketProbe::Configure(receiver, CaptureMode_BoardToPc, &Count, &delivered);
    pcap_pkthdr header{};
    header.caplen = header.len = 1496;
    for (auto _ : state) {
        CReceiveWPCapPacketProbe::HandleFromCapture(receiver, &header, frame.data());
    }
    if (delivered != static_cast<long long>(state.iterations())) state.SkipWithError("frames lost");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1496);
}
BENCHMARK(BM_ReceivePacketHandler_1496);

}  // namespace

BENCHMARK_MAIN();

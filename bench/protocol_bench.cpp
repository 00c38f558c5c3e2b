// CPU cost of the frame paths: checksum, print-frame building, parsing.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/PacketDataWrapper.h>

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

std::vector<unsigned char> Payload(std::size_t n) {
    std::vector<unsigned char> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + 7);
    return v;
}

void BM_CheckSum_Get_1496(benchmark::State& state) {
    const auto frame = Payload(1496);
    for (auto _ : state) {
        benchmark::DoNotOptimize(CNetworkHelper::CheckSum_Get(frame.data(), 1496));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1496);
}
BENCHMARK(BM_CheckSum_Get_1496);

void BM_PreparePacket_Print(benchmark::State& state) {
    const int length = static_cast<int>(state.range(0));
    const auto padding = static_cast<PaddingValueType>(state.range(1));
    const auto data = Payload(1468);
    SBufferData<unsigned char> frame;
    std::uint32_t packetIndex = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(CNetworkHelper::PreparePacket_Print(
            7, packetIndex++, padding, 1468, data.data(), length, frame));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * frame.m_count);
}
BENCHMARK(BM_PreparePacket_Print)
    ->ArgNames({"payload", "padding"})
    ->Args({1468, PaddingValue_Random})
    ->Args({100, PaddingValue_Random})
    ->Args({100, PaddingValue_Sequence});

void BM_FrameData2PacketData_1496(benchmark::State& state) {
    const auto data = Payload(1468);
    SBufferData<unsigned char> frame;
    CNetworkHelper::PreparePacket_Print(1, 2, PaddingValue_Zero, 1468, data.data(), 1468, frame);
    SPacketData parsed{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(CPacketDataWrapper::FrameData2PacketData(
            frame.m_pBuffer, static_cast<std::uint32_t>(frame.m_count), parsed));
        benchmark::ClobberMemory();
    }
    delete[] parsed.actualData;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_FrameData2PacketData_1496);

}  // namespace

BENCHMARK_MAIN();

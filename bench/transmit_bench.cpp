// CPU cost of the bulk send's own work on a job: making its frames (headers, random padding of
// the last one, the checksum read of the host's data) and handing them over in batches, against
// one memcpy of the job into memory already mapped, the least that copying the job into a queue
// would cost. What the kernel spends on the frames afterwards is not in either.
#include <benchmark/benchmark.h>

#include <sys/mman.h>

#include <cstring>
#include <vector>

#include <ferrolink/transmit/InternalProcessor.h>

namespace {

constexpr int kPacketSize = 1468;

CActualPrintData MakeJob(std::size_t bytes) {
    std::vector<unsigned char> data(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        data[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
    CActualPrintData job;
    job.AssignCopy(data.data(), data.size());
    job.CutIntoPackets(kPacketSize);
    return job;
}

std::size_t TakeAll(void*, const ferrolink::platform::SOutgoingFrame* frames, std::size_t count) {
    benchmark::DoNotOptimize(frames);
    return count;
}

void BM_MakeFrames(benchmark::State& state) {
    CActualPrintData job = MakeJob(static_cast<std::size_t>(state.range(0)) << 20);
    int capacity = -1;
    if (!CInternalProcessor::CheckPackets(job, 1, capacity)) {
        state.SkipWithError("the job was refused");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(
            CInternalProcessor::MakeFrames(job, 1, capacity, &TakeAll, nullptr));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * job.m_printDataSize);
}
BENCHMARK(BM_MakeFrames)->ArgName("MiB")->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);

void BM_MemcpyOfTheJob(benchmark::State& state) {
    CActualPrintData job = MakeJob(static_cast<std::size_t>(state.range(0)) << 20);
    const auto bytes = static_cast<std::size_t>(job.m_printDataSize);
    void* block =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) {
        state.SkipWithError("mmap failed");
        return;
    }
    std::memset(block, 0, bytes);
    for (auto _ : state) {
        std::memcpy(block, job.m_printDataBuffer, bytes);
        benchmark::ClobberMemory();
    }
    ::munmap(block, bytes);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * job.m_printDataSize);
}
BENCHMARK(BM_MemcpyOfTheJob)->ArgName("MiB")->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

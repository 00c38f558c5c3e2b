// CPU cost of the bulk send's queue fill against one memcpy of the same job into a block as large
// as the queue, the least any fill must spend before the first frame leaves. Both targets are
// mapped before timing starts, as the send's queue is from its second band on.
#include <benchmark/benchmark.h>

#include <sys/mman.h>

#include <cstring>
#include <vector>

#include <ferrolink/transmit/CustomPCapSendQueue.h>
#include <ferrolink/transmit/InternalProcessor.h>

namespace {

constexpr int kPacketSize = 1468;
constexpr std::size_t kRecordSize = 16 + 1496;

CActualPrintData MakeJob(std::size_t bytes) {
    std::vector<unsigned char> data(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        data[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
    CActualPrintData job;
    job.AssignCopy(data.data(), data.size());
    job.CutIntoPackets(kPacketSize);
    return job;
}

void BM_QueueFill(benchmark::State& state) {
    CActualPrintData job = MakeJob(static_cast<std::size_t>(state.range(0)) << 20);
    const int queueSize = static_cast<int>(job.m_packetList.size() * kRecordSize);
    {
        CCustomPCapSendQueue warm(queueSize);  // maps the queue once, as a band before would
        CInternalProcessor::AddPrintDataToQueue(warm.m_queue, job, 1);
    }
    for (auto _ : state) {
        CCustomPCapSendQueue queue(queueSize);
        benchmark::DoNotOptimize(CInternalProcessor::AddPrintDataToQueue(queue.m_queue, job, 1));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * job.m_printDataSize);
}
BENCHMARK(BM_QueueFill)->ArgName("MiB")->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);

void BM_MemcpyOfTheJob(benchmark::State& state) {
    CActualPrintData job = MakeJob(static_cast<std::size_t>(state.range(0)) << 20);
    const std::size_t queueSize = job.m_packetList.size() * kRecordSize;
    void* block =
        ::mmap(nullptr, queueSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) {
        state.SkipWithError("mmap failed");
        return;
    }
    ::madvise(block, queueSize, MADV_HUGEPAGE);
    std::memset(block, 0, queueSize);
    for (auto _ : state) {
        std::memcpy(block, job.m_printDataBuffer, static_cast<std::size_t>(job.m_printDataSize));
        benchmark::ClobberMemory();
    }
    ::munmap(block, queueSize);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * job.m_printDataSize);
}
BENCHMARK(BM_MemcpyOfTheJob)->ArgName("MiB")->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

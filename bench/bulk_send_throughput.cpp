// Throughput of a bulk print job on a virtual link, against two baselines that send the same
// frames prebuilt: a pcap_sendpacket loop and raw sendmmsg batches on a packet socket. A child
// process in the far end's namespace counts what arrives. Run by scripts/bench, which makes the
// link; usage: bulk_send_throughput NS_A IF_A NS_B IF_B [MiB] [runs]
#include <fcntl.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <pcap/pcap.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <ferrolink/platform/PcapExtensions.h>
#include <ferrolink/platform/PcapTimedRead.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/transmit/CustomPCapSendQueue.h>
#include <ferrolink/transmit/Ferrolink.h>
#include <ferrolink/transmit/InternalProcessor.h>

namespace flk = ferrolink::platform;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPacketSize = 1468;

bool EnterNamespace(const std::string& ns) {
    const int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return ok;
}

long ReadStatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// Counts frames from the PC MAC on `ifName` in namespace `ns` until `expected` arrived or the
// link has been quiet for a second after the first frame. Runs in a child process so that its
// capture buffer does not count in the sender's memory.
struct SCounter {
    pid_t pid = -1;
    int resultFd = -1;

    static SCounter Start(const std::string& ns, const std::string& ifName, long expected) {
        int ready[2], result[2];
        if (::pipe(ready) != 0 || ::pipe(result) != 0) std::exit(2);
        SCounter c;
        c.pid = ::fork();
        if (c.pid == 0) {
            ::close(ready[0]);
            ::close(result[0]);
            long count = -1;
            char errbuf[PCAP_ERRBUF_SIZE];
            pcap_t* p = nullptr;
            if (EnterNamespace(ns) && (p = pcap_create(ifName.c_str(), errbuf))) {
                pcap_set_snaplen(p, 64);
                pcap_set_buffer_size(p, 256 << 20);
                pcap_set_timeout(p, 50);
                bpf_program prog{};
                if (pcap_activate(p) >= 0 &&
                    pcap_compile(p, &prog, "ether src 7b:23:fc:98:10:99", 1, 0) == 0 &&
                    pcap_setfilter(p, &prog) == 0)
                    count = 0;
            }
            (void)!::write(ready[1], "r", 1);
            auto lastFrame = Clock::now();
            const auto start = Clock::now();
            while (count >= 0 && count < expected) {
                const int n = flk::pcap_dispatch(
                    p, -1,
                    [](u_char* u, const pcap_pkthdr*, const u_char*) {
                        ++*reinterpret_cast<long*>(u);
                    },
                    reinterpret_cast<u_char*>(&count));
                if (n > 0) lastFrame = Clock::now();
                if (n < 0) break;
                const auto quiet = Clock::now() - (count > 0 ? lastFrame : start);
                if (quiet > std::chrono::seconds(count > 0 ? 1 : 20)) break;
            }
            long drops = 0;
            pcap_stat stats{};
            if (p && pcap_stats(p, &stats) == 0) drops = static_cast<long>(stats.ps_drop);
            long out[2] = {count, drops};
            (void)!::write(result[1], out, sizeof out);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(result[1]);
        char r;
        (void)!::read(ready[0], &r, 1);
        ::close(ready[0]);
        c.resultFd = result[0];
        return c;
    }

    void Finish(long& count, long& drops) {
        long in[2] = {-1, 0};
        (void)!::read(resultFd, in, sizeof in);
        ::close(resultFd);
        ::waitpid(pid, nullptr, 0);
        count = in[0];
        drops = in[1];
    }
};

struct SResult {
    double framesPerSecond = 0;
    long received = 0;
    long captureDrops = 0;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Where our call's time goes: the queue fill (frames built and queued), the transmission of that
// queue with the far end counting as in the runs above, and one memcpy of the job into a block as
// large as the queue, the least any fill must spend before the first frame leaves.
void ReportSplit(pcap_t* handle, CActualPrintData& job, int runs, double baselineMs,
                 const std::string& ns, const std::string& ifName) {
    const long frames = static_cast<long>(job.m_packetList.size());
    const std::size_t queueBytes = job.m_packetList.size() * (16 + 1496);
    std::vector<char> source(job.m_printDataSize, 1);
    // Mapped like the queue, so that the counter's fork leaves it writable without faults.
    void* mapped =
        ::mmap(nullptr, queueBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return;
    ::madvise(mapped, queueBytes, MADV_HUGEPAGE);
    ::madvise(mapped, queueBytes, MADV_DONTFORK);
    char* target = static_cast<char*>(mapped);
    std::vector<double> fill, transmit, copy;
    for (int run = 0; run <= runs; ++run) {
        CCustomPCapSendQueue queue(static_cast<int>(queueBytes));
        auto start = Clock::now();
        CInternalProcessor::AddPrintDataToQueue(queue.m_queue, job, 1);
        const double filled = MillisecondsSince(start);
        SCounter counter = SCounter::Start(ns, ifName, frames);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        start = Clock::now();
        CInternalProcessor::SendQueueData(handle, queue.m_queue);
        const double sent = MillisecondsSince(start);
        long received = 0, captureDrops = 0;
        counter.Finish(received, captureDrops);
        start = Clock::now();
        std::memcpy(target, source.data(), source.size());
        const double copied = MillisecondsSince(start);
        if (run == 0) continue;  // warm-up
        fill.push_back(filled);
        transmit.push_back(sent);
        copy.push_back(copied);
    }
    ::munmap(mapped, queueBytes);
    const double f = Median(fill), t = Median(transmit), c = Median(copy);
    std::printf(
        "split of our call (medians): queue fill %.1f ms, transmission %.1f ms; raw sendmmsg %.1f "
        "ms; "
        "memcpy of the job %.1f ms\n",
        f, t, baselineMs, c);
    std::printf(
        "ceiling of FLK/sendmmsg with a fill as fast as one memcpy and a transmission as fast as "
        "raw sendmmsg: %.2f\n",
        baselineMs / (baselineMs + c));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s NS_A IF_A NS_B IF_B [MiB] [runs]\n", argv[0]);
        return 2;
    }
    const std::string nsA = argv[1], ifA = argv[2], nsB = argv[3], ifB = argv[4];
    const long mib = argc > 5 ? std::atol(argv[5]) : 64;
    const int runs = argc > 6 ? std::atoi(argv[6]) : 5;

    // The print job: `mib` MiB cut into 1468-byte packets.
    CActualPrintData job;
    {
        std::vector<unsigned char> data(static_cast<std::size_t>(mib) << 20);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
        job.AssignCopy(data.data(), data.size());
    }
    job.CutIntoPackets(kPacketSize);
    const long frames = static_cast<long>(job.m_packetList.size());

    // The same frames prebuilt for the baselines.
    std::vector<std::vector<unsigned char>> prebuilt;
    prebuilt.reserve(static_cast<std::size_t>(frames));
    SBufferData<unsigned char> frame;
    for (long i = 0; i < frames; ++i) {
        const SPacketSlice& s = job.m_packetList[static_cast<std::size_t>(i)];
        CNetworkHelper::PreparePacket_Print(1, static_cast<std::uint32_t>(i), PaddingValue_Random,
                                            kPacketSize, job.m_printDataBuffer + s.offset, s.length,
                                            frame);
        prebuilt.emplace_back(frame.m_pBuffer, frame.m_pBuffer + frame.m_count);
    }

    if (!EnterNamespace(nsA)) {
        std::fprintf(stderr, "cannot enter namespace %s (root needed)\n", nsA.c_str());
        return 1;
    }
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = flk::pcap_open(("rpcap://" + ifA).c_str(), 1496,
                                    flk::PCAP_OPENFLAG_PROMISCUOUS, 10, nullptr, errbuf);
    if (!handle) {
        std::fprintf(stderr, "cannot open %s: %s\n", ifA.c_str(), errbuf);
        return 1;
    }
    const int raw = ::socket(AF_PACKET, SOCK_RAW, 0);
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_ifindex = static_cast<int>(::if_nametoindex(ifA.c_str()));
    if (raw < 0 || ::bind(raw, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("packet socket");
        return 1;
    }

    const long jobKb = static_cast<long>(mib) << 10;
    const long queueKb = frames * (16 + 1496) / 1024;
    std::vector<double> ours, loop, mmsg;
    long lost[3] = {0, 0, 0}, drops[3] = {0, 0, 0};
    long peakKb = 0;
    std::printf("bulk send: %ld MiB job, %ld frames of 1496 bytes, %d runs, link %s -> %s\n", mib,
                frames, runs, ifA.c_str(), ifB.c_str());
    // Run 0 warms every method up (first touches of fresh memory, socket buffers) and is not
    // counted in the medians; it is where the send's peak memory is taken.
    for (int run = 0; run <= runs; ++run) {
        for (int method = 0; method < 3; ++method) {
            SCounter counter = SCounter::Start(nsB, ifB, frames);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::ofstream("/proc/self/clear_refs") << "5";  // reset the peak resident size
            const long rssBefore = ReadStatusKb("VmRSS:");
            const auto start = Clock::now();
            if (method == 0) {
                if (!FLK_SendPrintData(handle, &job, 1))
                    std::fprintf(stderr, "FLK_SendPrintData failed\n");
                peakKb = std::max(peakKb, ReadStatusKb("VmHWM:") - rssBefore + jobKb);
            } else if (method == 1) {
                for (const auto& f : prebuilt)
                    while (pcap_sendpacket(handle, f.data(), static_cast<int>(f.size())) != 0)
                        std::this_thread::sleep_for(std::chrono::microseconds(50));
            } else {
                constexpr std::size_t kBatch = 256;
                std::vector<mmsghdr> messages(kBatch);
                std::vector<iovec> vectors(kBatch);
                for (std::size_t at = 0; at < prebuilt.size();) {
                    const std::size_t n = std::min(kBatch, prebuilt.size() - at);
                    for (std::size_t k = 0; k < n; ++k) {
                        vectors[k] = {prebuilt[at + k].data(), prebuilt[at + k].size()};
                        messages[k] = {};
                        messages[k].msg_hdr.msg_iov = &vectors[k];
                        messages[k].msg_hdr.msg_iovlen = 1;
                    }
                    const int sent = ::sendmmsg(raw, messages.data(), static_cast<unsigned>(n), 0);
                    if (sent > 0)
                        at += static_cast<std::size_t>(sent);
                    else if (errno == ENOBUFS || errno == EAGAIN)
                        std::this_thread::sleep_for(std::chrono::microseconds(100));
                    else {
                        std::perror("sendmmsg");
                        return 1;
                    }
                }
            }
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            long received = 0, captureDrops = 0;
            counter.Finish(received, captureDrops);
            lost[method] += frames - received;
            drops[method] += captureDrops;
            auto& series = method == 0 ? ours : method == 1 ? loop : mmsg;
            series.push_back(frames / seconds);
        }
        std::printf(
            "  %s %d: FLK_SendPrintData %.0f f/s, pcap_sendpacket loop %.0f f/s, raw sendmmsg %.0f "
            "f/s\n",
            run == 0 ? "warm-up" : "run", run, ours.back(), loop.back(), mmsg.back());
        if (run == 0) {
            ours.clear();
            loop.clear();
            mmsg.clear();
        }
    }
    const double o = Median(ours), l = Median(loop), m = Median(mmsg);
    std::printf(
        "median frames/s: FLK_SendPrintData %.0f, pcap_sendpacket loop %.0f, raw sendmmsg %.0f\n",
        o, l, m);
    std::printf("ratios: FLK/loop %.2f, FLK/sendmmsg %.2f\n", o / l, o / m);
    std::printf(
        "frames lost (sent - counted at the far end, all runs): FLK %ld, loop %ld, sendmmsg %ld; "
        "capture drops: %ld, %ld, %ld\n",
        lost[0], lost[1], lost[2], drops[0], drops[1], drops[2]);
    std::printf(
        "peak resident memory of the send: %.1f MiB (job %.1f MiB + queue %.1f MiB + %.1f MiB)\n",
        peakKb / 1024.0, jobKb / 1024.0, queueKb / 1024.0, (peakKb - jobKb - queueKb) / 1024.0);
    ReportSplit(handle, job, runs, frames / m * 1000.0, nsB, ifB);
    flk::pcap_close(handle);
    ::close(raw);
    return 0;
}

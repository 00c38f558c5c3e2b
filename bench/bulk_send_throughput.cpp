// Throughput of a bulk print job on a virtual link, against two baselines that send the same
// frames prebuilt: a pcap_sendpacket loop and raw sendmmsg batches on a packet socket. A child
// process in the far end's namespace counts what arrives and when the last frame came; a rate
// is frames over the time from the start of the send to the arrival of its last frame. Then the
// queue fill of the bulk send against one memcpy of the job. Every figure is given as min /
// median / max over the runs. Run by scripts/bench, which makes (and shapes) the link.
// usage: bulk_send_throughput NS_A IF_A NS_B IF_B [MiB] [runs] [line rate in frames/s]
#include <fcntl.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/transmit/CustomPCapSendQueue.h>
#include <ferrolink/transmit/Ferrolink.h>
#include <ferrolink/transmit/InternalProcessor.h>

using namespace ferrolink::core;  // the library's core classes, linked from its archive

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPacketSize = 1468;
constexpr int kFrameSize = 1496;

bool EnterNamespace(const std::string& ns) {
    const int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return ok;
}

double RealtimeNow() {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

double ThreadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// Counts frames from the PC MAC on `ifName` in namespace `ns` until `expected` arrived, the link
// has been quiet for a second after the first frame, or 20 s passed without one. Runs in a child
// process so that its capture buffer does not count in the sender's memory. Reports the count,
// the capture drops and the arrival time (real-time clock) of the last frame.
struct SCounter {
    pid_t pid = -1;
    int resultFd = -1;

    struct SResult {
        long count = -1;
        long drops = 0;
        double lastArrival = 0;
    };

    static SCounter Start(const std::string& ns, const std::string& ifName, long expected) {
        int ready[2], result[2];
        if (::pipe(ready) != 0 || ::pipe(result) != 0) std::exit(2);
        SCounter c;
        c.pid = ::fork();
        if (c.pid == 0) {
            ::close(ready[0]);
            ::close(result[0]);
            SResult r;
            char errbuf[PCAP_ERRBUF_SIZE];
            pcap_t* p = nullptr;
            if (EnterNamespace(ns) && (p = pcap_create(ifName.c_str(), errbuf))) {
                pcap_set_snaplen(p, 64);
                pcap_set_buffer_size(p, 256 << 20);
                pcap_set_immediate_mode(p, 1);
                bpf_program prog{};
                if (pcap_activate(p) >= 0 && pcap_setnonblock(p, 1, errbuf) == 0 &&
                    pcap_compile(p, &prog, "ether src 7b:23:fc:98:10:99", 1, 0) == 0 &&
                    pcap_setfilter(p, &prog) == 0)
                    r.count = 0;
            }
            (void)!::write(ready[1], "r", 1);
            auto lastFrame = Clock::now();
            const auto start = Clock::now();
            pollfd readable{p ? pcap_get_selectable_fd(p) : -1, POLLIN, 0};
            while (r.count >= 0 && r.count < expected) {
                ::poll(&readable, 1, 50);
                const int n = pcap_dispatch(
                    p, -1,
                    [](u_char* u, const pcap_pkthdr* h, const u_char*) {
                        auto* s = reinterpret_cast<SResult*>(u);
                        ++s->count;
                        s->lastArrival = static_cast<double>(h->ts.tv_sec) + h->ts.tv_usec * 1e-6;
                    },
                    reinterpret_cast<u_char*>(&r));
                if (n > 0) lastFrame = Clock::now();
                if (n < 0) break;
                const auto quiet = Clock::now() - (r.count > 0 ? lastFrame : start);
                if (quiet > std::chrono::seconds(r.count > 0 ? 1 : 20)) break;
            }
            pcap_stat stats{};
            if (p && pcap_stats(p, &stats) == 0) r.drops = static_cast<long>(stats.ps_drop);
            (void)!::write(result[1], &r, sizeof r);
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

    SResult Finish() {
        SResult r;
        if (::read(resultFd, &r, sizeof r) != static_cast<ssize_t>(sizeof r)) r = SResult{};
        ::close(resultFd);
        ::waitpid(pid, nullptr, 0);
        return r;
    }
};

struct SSpread {
    double min = 0, median = 0, max = 0;
};

SSpread Spread(std::vector<double> v) {
    if (v.empty()) return {};
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}

void PrintSpread(const char* what, const std::vector<double>& v, double scale, const char* format) {
    const SSpread s = Spread(v);
    std::printf("  %-44s", what);
    std::printf(format, s.min * scale);
    std::printf(" / ");
    std::printf(format, s.median * scale);
    std::printf(" / ");
    std::printf(format, s.max * scale);
    std::printf("\n");
}

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The queue fill of the bulk send against one memcpy of the job into a block as large as the
// queue, the least any fill must spend before the first frame leaves. Both write into memory
// that is already mapped, as the send does from its second band on.
void ReportFill(CActualPrintData& job, int runs) {
    const std::size_t queueBytes = job.m_packetList.size() * (16 + kFrameSize);
    void* mapped =
        ::mmap(nullptr, queueBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return;
    ::madvise(mapped, queueBytes, MADV_HUGEPAGE);
    auto* target = static_cast<char*>(mapped);
    std::memset(target, 0, queueBytes);
    std::vector<double> fill, copy, ratio;
    // Cheap, and noisier than the link figures on a shared machine: more runs.
    runs *= 3;
    for (int run = 0; run <= runs; ++run) {
        double filled = 0;
        {
            CCustomPCapSendQueue queue(static_cast<int>(queueBytes));
            const auto start = Clock::now();
            if (!CInternalProcessor::AddPrintDataToQueue(queue.m_queue, job, 1))
                std::fprintf(stderr, "queue fill failed\n");
            filled = MillisecondsSince(start);
        }
        const auto start = Clock::now();
        std::memcpy(target, job.m_printDataBuffer, static_cast<std::size_t>(job.m_printDataSize));
        const double copied = MillisecondsSince(start);
        if (run == 0) continue;  // warm-up: the queue's mapping is faulted in here
        fill.push_back(filled);
        copy.push_back(copied);
        ratio.push_back(filled / copied);
    }
    ::munmap(mapped, queueBytes);
    std::printf("queue fill against one memcpy of the job (%d runs, min / median / max):\n", runs);
    PrintSpread("queue fill, ms", fill, 1, "%.1f");
    PrintSpread("memcpy of the job, ms", copy, 1, "%.1f");
    PrintSpread("fill / memcpy, per run", ratio, 1, "%.2f");
    // On a busy machine the least disturbed runs say most about the code itself.
    std::printf("  fill / memcpy, of the medians: %.2f, of the minima: %.2f\n",
                Spread(fill).median / Spread(copy).median, Spread(fill).min / Spread(copy).min);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s NS_A IF_A NS_B IF_B [MiB] [runs] [line rate f/s]\n",
                     argv[0]);
        return 2;
    }
    const std::string nsA = argv[1], ifA = argv[2], nsB = argv[3], ifB = argv[4];
    const long mib = argc > 5 ? std::atol(argv[5]) : 64;
    const int runs = argc > 6 ? std::atoi(argv[6]) : 5;
    const double lineRate = argc > 7 ? std::atof(argv[7]) : 0;
    if (mib <= 0 || mib > 1024 || runs <= 0 || runs > 100) {
        std::fprintf(stderr, "MiB must be 1..1024 and runs 1..100\n");
        return 2;
    }

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
    // A host's own libpcap handle: the bulk send takes any live handle.
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = pcap_create(ifA.c_str(), errbuf);
    if (!handle || pcap_set_snaplen(handle, kFrameSize) != 0 || pcap_set_timeout(handle, 10) != 0 ||
        pcap_activate(handle) < 0) {
        std::fprintf(stderr, "cannot open %s: %s\n", ifA.c_str(),
                     handle ? pcap_geterr(handle) : errbuf);
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

    const char* names[3] = {"FLK_SendPrintData", "pcap_sendpacket loop", "raw sendmmsg (256)"};
    std::vector<double> rate[3], cpuPerGb, toLoop, toMmsg;
    long lost[3] = {0, 0, 0}, drops[3] = {0, 0, 0};
    std::printf("bulk send: %ld MiB job, %ld frames of %d bytes, %d runs, link %s -> %s\n", mib,
                frames, kFrameSize, runs, ifA.c_str(), ifB.c_str());
    // Run 0 warms every method up (first touches of fresh memory, socket buffers) and is not
    // counted.
    for (int run = 0; run <= runs; ++run) {
        double runRate[3] = {0, 0, 0};
        for (int method = 0; method < 3; ++method) {
            SCounter counter = SCounter::Start(nsB, ifB, frames);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const double start = RealtimeNow();
            const double cpuStart = ThreadCpuSeconds();
            if (method == 0) {
                if (!FLK_SendPrintData(handle, &job, 1))
                    std::fprintf(stderr, "FLK_SendPrintData failed\n");
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
            const double cpu = ThreadCpuSeconds() - cpuStart;
            const double returned = RealtimeNow();
            const SCounter::SResult r = counter.Finish();
            // Until the last frame arrived; a shaped link holds frames after the call returned.
            const double seconds = std::max(returned, r.lastArrival) - start;
            runRate[method] = frames / seconds;
            if (run == 0) continue;
            lost[method] += frames - r.count;
            drops[method] += r.drops;
            rate[method].push_back(runRate[method]);
            if (method == 0) cpuPerGb.push_back(cpu / (job.m_printDataSize / 1e9));
        }
        std::printf("  %s %d: %s %.0f f/s, %s %.0f f/s, %s %.0f f/s\n",
                    run == 0 ? "warm-up" : "run", run, names[0], runRate[0], names[1], runRate[1],
                    names[2], runRate[2]);
        if (run == 0) continue;
        toLoop.push_back(runRate[0] / runRate[1]);
        toMmsg.push_back(runRate[0] / runRate[2]);
    }
    std::printf("frames/s (min / median / max of %d runs):\n", runs);
    for (int m = 0; m < 3; ++m) PrintSpread(names[m], rate[m], 1, "%.0f");
    if (lineRate > 0) {
        std::printf("share of line rate (%.0f frames/s):\n", lineRate);
        for (int m = 0; m < 3; ++m) PrintSpread(names[m], rate[m], 1 / lineRate, "%.3f");
    }
    std::printf("ratios per run:\n");
    PrintSpread("FLK_SendPrintData / pcap_sendpacket loop", toLoop, 1, "%.2f");
    PrintSpread("FLK_SendPrintData / raw sendmmsg", toMmsg, 1, "%.2f");
    std::printf("CPU of the sending thread:\n");
    PrintSpread("FLK_SendPrintData, CPU s per GB", cpuPerGb, 1, "%.2f");
    std::printf(
        "frames lost (sent - counted at the far end, all runs): FLK %ld, loop %ld, sendmmsg %ld; "
        "capture drops: %ld, %ld, %ld\n",
        lost[0], lost[1], lost[2], drops[0], drops[1], drops[2]);
    pcap_close(handle);
    ::close(raw);
    ReportFill(job, runs);
    return 0;
}

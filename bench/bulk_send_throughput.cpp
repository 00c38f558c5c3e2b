// Throughput of a bulk print job on a virtual link. FLK_SendPrintData is measured twice: as the
// first call of a fresh process (this program run again with --first-call, which builds the job,
// opens its handle and sends once) and in steady state (calls after a first one in this process).
// Two baselines send the same frames prebuilt, with the socket buffer the library gives itself
// and, for sendmmsg, its batch: a pcap_sendpacket loop on the same handle and raw sendmmsg on a
// packet socket of their own.
//
// A child process in the far end's namespace captures every frame while the send runs and, only
// once it is over (so that it takes no CPU from the sender), compares each byte for byte with
// the frame expected: the padding is reproducible because rand() is seeded alike before every
// send. A rate is frames over the time from the start of the send to the arrival of its last
// frame. Beside every figure: the sender's CPU seconds per GB of print data (its sending
// thread's time) and the machine's load (1-minute average from /proc/loadavg at each run).
// Every figure is min / median / max over the runs, after one warm-up round.
// usage: bulk_send_throughput NS_A IF_A NS_B IF_B [MiB] [runs] [line rate in frames/s]
#include <fcntl.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
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

#include <ferrolink/platform/FrameSender.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/transmit/Ferrolink.h>

using namespace ferrolink::core;  // the library's core classes, linked from its archive

using Clock = std::chrono::steady_clock;
namespace platform = ferrolink::platform;

namespace {

constexpr int kPacketSize = 1468;
constexpr int kFrameSize = 1496;
constexpr unsigned kPaddingSeed = 20;  // rand() seed before every send

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

long MinorFaults() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

double LoadAverage() {
    double load = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = -1;
        std::fclose(f);
    }
    return load;
}

// The print job: `mib` MiB of deterministic bytes cut into 1468-byte packets, as a host holds it.
void MakeJob(long mib, CActualPrintData& job) {
    std::vector<unsigned char> data(static_cast<std::size_t>(mib) << 20);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
    job.AssignCopy(data.data(), data.size());
    job.CutIntoPackets(kPacketSize);
}

pcap_t* OpenHandle(const std::string& ifName) {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* handle = pcap_create(ifName.c_str(), errbuf);
    if (!handle || pcap_set_snaplen(handle, kFrameSize) != 0 || pcap_set_timeout(handle, 10) != 0 ||
        pcap_activate(handle) < 0) {
        std::fprintf(stderr, "cannot open %s: %s\n", ifName.c_str(),
                     handle ? pcap_geterr(handle) : errbuf);
        return nullptr;
    }
    // As the library's shared handle: only frames to the PC, so that no sender's frames are
    // copied into this handle's capture ring.
    bpf_program filter{};
    if (pcap_compile(handle, &filter, "ether dst 7b:23:fc:98:10:99", 1, 0) != 0 ||
        pcap_setfilter(handle, &filter) != 0) {
        std::fprintf(stderr, "cannot filter %s: %s\n", ifName.c_str(), pcap_geterr(handle));
        return nullptr;
    }
    pcap_freecode(&filter);
    return handle;
}

// The library's socket buffer for a large job, given to a baseline's socket; returns the old size
// to put back (as the kernel reports it: twice what was set).
int RaiseSendBuffer(int fd) {
    int previous = 0;
    socklen_t length = sizeof previous;
    ::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &previous, &length);
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &platform::kFrameSendBuffer,
                     sizeof platform::kFrameSendBuffer) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &platform::kFrameSendBuffer,
                     sizeof platform::kFrameSendBuffer);
    return previous;
}

void RestoreSendBuffer(int fd, int previous) {
    const int size = previous / 2;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
}

// What one send reports.
struct SSendResult {
    double start = 0, returned = 0, cpu = 0;
    long faults = 0;  // minor page faults of the sending thread during the send
    int ok = 0;
};

// --first-call IF MiB FD: a fresh process's first FLK_SendPrintData; the result goes to FD.
int FirstCall(const std::string& ifName, long mib, int resultFd) {
    CActualPrintData job;
    MakeJob(mib, job);
    pcap_t* handle = OpenHandle(ifName);
    SSendResult r;
    if (handle) {
        // As long as the other senders wait before theirs, so that the scheduler does not hold
        // the work of making the job against this one.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::srand(kPaddingSeed);
        r.start = RealtimeNow();
        const double cpu = ThreadCpuSeconds();
        const long faults = MinorFaults();
        r.ok = FLK_SendPrintData(handle, &job, 1) ? 1 : 0;
        r.faults = MinorFaults() - faults;
        r.cpu = ThreadCpuSeconds() - cpu;
        r.returned = RealtimeNow();
        pcap_close(handle);
    }
    return ::write(resultFd, &r, sizeof r) == static_cast<ssize_t>(sizeof r) && r.ok ? 0 : 1;
}

// Captures the PC's frames on `ifName` in namespace `ns` while a send runs, without reading them;
// when told the send is over, reads them all and compares each with the frame expected at its
// position. Runs in a child process so that its capture buffer does not count in the sender's
// memory, and its comparisons take place after the timed send.
struct SCounter {
    pid_t pid = -1;
    int doneFd = -1;
    int resultFd = -1;

    struct SResult {
        long count = -1;
        long mismatched = 0;  // frames that differ from the one expected at their position
        long drops = 0;
        double firstArrival = 0, lastArrival = 0;
    };

    static SCounter Start(const std::string& ns, const std::string& ifName,
                          const std::vector<std::vector<unsigned char>>& expected) {
        int ready[2], done[2], result[2];
        if (::pipe(ready) != 0 || ::pipe(done) != 0 || ::pipe(result) != 0) std::exit(2);
        SCounter c;
        c.pid = ::fork();
        if (c.pid == 0) {
            ::close(ready[0]);
            ::close(done[1]);
            ::close(result[0]);
            struct SState {
                SResult r;
                const std::vector<std::vector<unsigned char>>* expected;
            } s{{}, &expected};
            char errbuf[PCAP_ERRBUF_SIZE];
            pcap_t* p = nullptr;
            if (EnterNamespace(ns) && (p = pcap_create(ifName.c_str(), errbuf))) {
                pcap_set_snaplen(p, 2048);
                // Room for every frame of the job, nothing being read until the send is over:
                // the ring's blocks (256 KiB) also retire part-filled whenever the sender pauses
                // for the block time-out (10 ms), as on a loaded machine, so give twice as much.
                pcap_set_buffer_size(p, static_cast<int>(std::min<std::size_t>(
                                            expected.size() * 4400 + (16 << 20), 1u << 30)));
                pcap_set_timeout(p, 10);
                bpf_program prog{};
                if (pcap_activate(p) >= 0 && pcap_setnonblock(p, 1, errbuf) == 0 &&
                    pcap_compile(p, &prog, "ether src 7b:23:fc:98:10:99", 1, 0) == 0 &&
                    pcap_setfilter(p, &prog) == 0)
                    s.r.count = 0;
            }
            (void)!::write(ready[1], "r", 1);
            char d;
            (void)!::read(done[0], &d, 1);
            auto lastFrame = Clock::now();
            pollfd readable{p ? pcap_get_selectable_fd(p) : -1, POLLIN, 0};
            const long wanted = static_cast<long>(expected.size());
            while (s.r.count >= 0 && s.r.count < wanted) {
                ::poll(&readable, 1, 20);
                const int n = pcap_dispatch(
                    p, -1,
                    [](u_char* u, const pcap_pkthdr* h, const u_char* bytes) {
                        auto* s = reinterpret_cast<SState*>(u);
                        const double at = static_cast<double>(h->ts.tv_sec) + h->ts.tv_usec * 1e-6;
                        if (s->r.count == 0) s->r.firstArrival = at;
                        s->r.lastArrival = at;
                        const auto i = static_cast<std::size_t>(s->r.count++);
                        if (i >= s->expected->size() || h->caplen != h->len ||
                            h->len != (*s->expected)[i].size() ||
                            std::memcmp(bytes, (*s->expected)[i].data(), h->len) != 0)
                            ++s->r.mismatched;
                    },
                    reinterpret_cast<u_char*>(&s));
                if (n > 0) lastFrame = Clock::now();
                if (n < 0) break;
                if (Clock::now() - lastFrame > std::chrono::seconds(1)) break;
            }
            pcap_stat stats{};
            if (p && pcap_stats(p, &stats) == 0) s.r.drops = static_cast<long>(stats.ps_drop);
            (void)!::write(result[1], &s.r, sizeof s.r);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(done[0]);
        ::close(result[1]);
        char r;
        (void)!::read(ready[0], &r, 1);
        ::close(ready[0]);
        c.doneFd = done[1];
        c.resultFd = result[0];
        return c;
    }

    SResult Finish() {
        (void)!::write(doneFd, "d", 1);
        ::close(doneFd);
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

std::string Format(const std::vector<double>& v, double scale, const char* format) {
    const SSpread s = Spread(v);
    char text[128];
    std::string f = std::string(format) + " / " + format + " / " + format;
    std::snprintf(text, sizeof text, f.c_str(), s.min * scale, s.median * scale, s.max * scale);
    return text;
}

enum EMethod { kFirstCall, kSteady, kLoop, kMmsg, kMethods };

struct SFigures {
    std::vector<double> rate, cpuPerGb, firstFrameMs, load;
    int exactRuns = 0, uncheckedRuns = 0, runs = 0;
    long lost = 0, drops = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--first-call") == 0)
        return FirstCall(argv[2], std::atol(argv[3]), std::atoi(argv[4]));
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s NS_A IF_A NS_B IF_B [MiB] [runs] [line rate f/s]\n",
                     argv[0]);
        return 2;
    }
    const std::string nsA = argv[1], ifA = argv[2], nsB = argv[3], ifB = argv[4];
    const long mib = argc > 5 ? std::atol(argv[5]) : 64;
    const int runs = argc > 6 ? std::atoi(argv[6]) : 5;
    const double lineRate = argc > 7 ? std::atof(argv[7]) : 0;
    if (mib <= 0 || mib > 256 || runs <= 0 || runs > 100) {
        std::fprintf(stderr, "MiB must be 1..256 and runs 1..100\n");
        return 2;
    }

    CActualPrintData job;
    MakeJob(mib, job);
    const long frames = static_cast<long>(job.m_packetList.size());
    const double gigabytes = static_cast<double>(job.m_printDataSize) / 1e9;
    // The frames every send must bring, padding included: rand() seeded as before each send.
    std::vector<std::vector<unsigned char>> prebuilt;
    prebuilt.reserve(static_cast<std::size_t>(frames));
    SBufferData<unsigned char> frame;
    std::srand(kPaddingSeed);
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
    pcap_t* handle = OpenHandle(ifA);
    const int raw = ::socket(AF_PACKET, SOCK_RAW, 0);
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_ifindex = static_cast<int>(::if_nametoindex(ifA.c_str()));
    if (!handle || raw < 0 ||
        ::bind(raw, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("packet socket");
        return 1;
    }
    RaiseSendBuffer(raw);

    const char* names[kMethods] = {"FLK_SendPrintData, first call", "FLK_SendPrintData, steady",
                                   "pcap_sendpacket loop", "raw sendmmsg"};
    SFigures figures[kMethods];
    std::vector<double> firstToLine, firstToMmsg, steadyToMmsg, steadyToLoop, cpuToMmsg;
    std::printf(
        "bulk send: %ld MiB job, %ld frames of %d bytes, %d runs, link %s -> %s; "
        "baselines with a %d MiB socket buffer, sendmmsg in batches of %zu\n",
        mib, frames, kFrameSize, runs, ifA.c_str(), ifB.c_str(), platform::kFrameSendBuffer >> 20,
        platform::kFrameBatchSize);
    // Run 0 warms every method up and is not counted; the first call is a new process each run.
    for (int run = 0; run <= runs; ++run) {
        double runRate[kMethods] = {}, runCpu[kMethods] = {};
        const double load = LoadAverage();
        for (int method = 0; method < kMethods; ++method) {
            SCounter counter = SCounter::Start(nsB, ifB, prebuilt);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            SSendResult r;
            if (method == kFirstCall) {
                int result[2];
                if (::pipe(result) != 0) return 1;
                const pid_t child = ::fork();
                if (child == 0) {
                    ::close(result[0]);
                    const std::string fd = std::to_string(result[1]);
                    const std::string size = std::to_string(mib);
                    ::execl("/proc/self/exe", argv[0], "--first-call", ifA.c_str(), size.c_str(),
                            fd.c_str(), static_cast<char*>(nullptr));
                    ::_exit(127);
                }
                ::close(result[1]);
                if (::read(result[0], &r, sizeof r) != static_cast<ssize_t>(sizeof r))
                    r = SSendResult{};
                ::close(result[0]);
                ::waitpid(child, nullptr, 0);
            } else {
                r.start = RealtimeNow();
                const double cpuStart = ThreadCpuSeconds();
                const long faults = MinorFaults();
                r.ok = 1;
                if (method == kSteady) {
                    std::srand(kPaddingSeed);
                    r.ok = FLK_SendPrintData(handle, &job, 1) ? 1 : 0;
                } else if (method == kLoop) {
                    const int fd = pcap_get_selectable_fd(handle);
                    const int previous = RaiseSendBuffer(fd);
                    for (const auto& f : prebuilt)
                        while (pcap_sendpacket(handle, f.data(), static_cast<int>(f.size())) != 0)
                            std::this_thread::sleep_for(std::chrono::microseconds(50));
                    RestoreSendBuffer(fd, previous);
                } else {
                    std::vector<mmsghdr> messages(platform::kFrameBatchSize);
                    std::vector<iovec> vectors(platform::kFrameBatchSize);
                    for (std::size_t at = 0; at < prebuilt.size();) {
                        const std::size_t n =
                            std::min(platform::kFrameBatchSize, prebuilt.size() - at);
                        for (std::size_t k = 0; k < n; ++k) {
                            vectors[k] = {prebuilt[at + k].data(), prebuilt[at + k].size()};
                            messages[k] = {};
                            messages[k].msg_hdr.msg_iov = &vectors[k];
                            messages[k].msg_hdr.msg_iovlen = 1;
                        }
                        const int sent =
                            ::sendmmsg(raw, messages.data(), static_cast<unsigned>(n), 0);
                        if (sent > 0) {
                            at += static_cast<std::size_t>(sent);
                        } else if (errno == ENOBUFS || errno == EAGAIN) {
                            std::this_thread::sleep_for(std::chrono::microseconds(100));
                        } else {
                            std::perror("sendmmsg");
                            r.ok = 0;
                            break;
                        }
                    }
                }
                r.faults = MinorFaults() - faults;
                r.cpu = ThreadCpuSeconds() - cpuStart;
                r.returned = RealtimeNow();
            }
            const SCounter::SResult c = counter.Finish();
            // Until the last frame arrived; a shaped link holds frames after the call returned.
            const double seconds = std::max(r.returned, c.lastArrival) - r.start;
            runRate[method] = r.ok && r.start > 0 && seconds > 0 ? frames / seconds : 0;
            runCpu[method] = r.cpu;
            const bool exact = r.ok && c.count == frames && c.mismatched == 0;
            // Frames the far end's capture dropped cannot be compared: the run is unchecked, not
            // wrong (frames after a gap would be compared with the wrong ones).
            const bool unchecked = !exact && c.drops > 0;
            std::printf(
                "  %s %d, %-30s %8.0f f/s, %5.2f CPU s/GB, %5ld page faults, first frame after "
                "%6.2f ms, %s, load %.2f\n",
                run == 0 ? "warm-up" : "run", run, names[method], runRate[method],
                r.cpu / gigabytes, r.faults, c.count > 0 ? (c.firstArrival - r.start) * 1e3 : -1.0,
                exact ? "byte-exact"
                : unchecked
                    ? ("not checked: the capture dropped " + std::to_string(c.drops) + " frames")
                          .c_str()
                    : ("NOT EXACT: " + std::to_string(c.count) + " frames, " +
                       std::to_string(c.mismatched) + " differ")
                          .c_str(),
                load);
            std::fflush(stdout);
            if (run == 0) continue;
            SFigures& f = figures[method];
            ++f.runs;
            f.exactRuns += exact ? 1 : 0;
            f.uncheckedRuns += unchecked ? 1 : 0;
            f.lost += frames - std::max(c.count, 0L);
            f.drops += c.drops;
            f.rate.push_back(runRate[method]);
            f.cpuPerGb.push_back(r.cpu / gigabytes);
            if (c.count > 0) f.firstFrameMs.push_back((c.firstArrival - r.start) * 1e3);
            f.load.push_back(load);
        }
        if (run == 0) continue;
        if (lineRate > 0) firstToLine.push_back(runRate[kFirstCall] / lineRate);
        firstToMmsg.push_back(runRate[kFirstCall] / runRate[kMmsg]);
        steadyToMmsg.push_back(runRate[kSteady] / runRate[kMmsg]);
        steadyToLoop.push_back(runRate[kSteady] / runRate[kLoop]);
        cpuToMmsg.push_back(runCpu[kSteady] / runCpu[kMmsg]);
    }

    std::printf("min / median / max of %d runs:\n", runs);
    for (int m = 0; m < kMethods; ++m) {
        const SFigures& f = figures[m];
        std::printf("  %s\n", names[m]);
        std::printf("    frames/s %s", Format(f.rate, 1, "%.0f").c_str());
        if (lineRate > 0)
            std::printf(", share of line rate %s", Format(f.rate, 1 / lineRate, "%.3f").c_str());
        std::printf("\n    CPU s per GB %s, first frame after %s ms, load %s\n",
                    Format(f.cpuPerGb, 1, "%.2f").c_str(),
                    Format(f.firstFrameMs, 1, "%.2f").c_str(), Format(f.load, 1, "%.2f").c_str());
        std::printf(
            "    byte-exact in %d of %d runs (%d not checked); frames missing at the far "
            "end %ld, of them dropped by its capture %ld\n",
            f.exactRuns, f.runs, f.uncheckedRuns, f.lost, f.drops);
    }
    std::printf("ratios per run (same round):\n");
    if (lineRate > 0)
        std::printf("  FLK first call / line rate (%.0f f/s)   %s\n", lineRate,
                    Format(firstToLine, 1, "%.3f").c_str());
    std::printf("  FLK first call / raw sendmmsg          %s\n",
                Format(firstToMmsg, 1, "%.3f").c_str());
    std::printf("  FLK steady / raw sendmmsg              %s\n",
                Format(steadyToMmsg, 1, "%.3f").c_str());
    std::printf("  FLK steady / pcap_sendpacket loop      %s\n",
                Format(steadyToLoop, 1, "%.3f").c_str());
    // Sending-thread CPU for the same frames: what the rates show once a busy machine's waits
    // for a core are taken out.
    std::printf("  FLK steady CPU / raw sendmmsg CPU      %s\n",
                Format(cpuToMmsg, 1, "%.3f").c_str());
    pcap_close(handle);
    ::close(raw);
    for (const SFigures& f : figures)
        if (f.exactRuns + f.uncheckedRuns != f.runs) return 3;
    return 0;
}

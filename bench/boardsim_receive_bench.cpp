// The board emulator's receive path: the per-frame work alone (CPU), and frames through a real,
// unshaped veth pair in two namespaces this program makes (root). Gigabit Ethernet carries
// 82,237 frames/s of 1496 bytes; the emulator is meant to keep up with three times that.
//
// VethDrain fills the kernel's capture ring before the emulator starts, then times how fast the
// emulator empties it: the receive path's own rate, whatever the sender manages. VethLive runs
// sender and emulator together (on a 2-core machine they share the CPUs, so it is the lower
// figure) and reports what arrived against what was offered.
#include <benchmark/benchmark.h>

// Without the tools in the build there is no emulator to measure.
#if __has_include("board-sim/BoardEmulator.h")

#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <boost/log/core.hpp>

#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>

#include "board-sim/BoardEmulator.h"
#include "common/BoardProtocol.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

namespace tools = ferrolink::tools;
using Clock = std::chrono::steady_clock;

constexpr double kGigabitFrames = 82237;  // 1496-byte frames, 1520 bytes each on the wire
constexpr int kFrameBytes = 1496;
constexpr std::uint32_t kPacketsPerBand = 4096;

using Frame = std::vector<unsigned char>;

Frame PrintFrame(std::uint32_t band, std::uint32_t packet) {
    unsigned char data[1468];
    for (std::size_t i = 0; i < sizeof data; ++i) data[i] = static_cast<unsigned char>(i + packet);
    SBufferData<unsigned char> f;
    CNetworkHelper::PreparePacket(tools::kSymbolPrintData, band, packet, data, 1468, 1468,
                                  PaddingValue_Zero, f);
    return Frame(f.m_pBuffer, f.m_pBuffer + f.m_count);
}

Frame EndOfBand(std::uint32_t band, std::uint32_t packets) {
    const std::uint32_t words[3] = {packets, packets * 1468, 1468};
    unsigned char data[12];
    for (int i = 0; i < 12; ++i)
        data[i] = static_cast<unsigned char>(words[i / 4] >> (24 - 8 * (i % 4)));
    SBufferData<unsigned char> f;
    CNetworkHelper::PreparePacket(tools::kSymbolEndOfBand, band, band, data, 12, 60,
                                  PaddingValue_Zero, f);
    return Frame(f.m_pBuffer, f.m_pBuffer + f.m_count);
}

// Bands of kPacketsPerBand print frames, each followed by its EndOfBand.
std::vector<Frame> Job(std::uint32_t bands) {
    std::vector<Frame> frames;
    for (std::uint32_t b = 0; b < bands; ++b) {
        for (std::uint32_t p = 0; p < kPacketsPerBand; ++p) frames.push_back(PrintFrame(b, p));
        frames.push_back(EndOfBand(b, kPacketsPerBand));
    }
    return frames;
}

void BM_BoardSim_OfferFrame_1496(benchmark::State& state) {
    boost::log::core::get()->set_logging_enabled(false);
    tools::SBoardEmulatorOptions options;
    options.m_boardMemoryBytes = std::size_t{64} << 20;
    tools::CBoardEmulator board(options);
    board.SetFrameSink([](const unsigned char*, int) {});
    const std::vector<Frame> frames = Job(2);
    const auto now = Clock::now();
    std::size_t next = 0;
    for (auto _ : state) {
        const Frame& f = frames[next];
        board.OfferFrame(f.data(), static_cast<int>(f.size()), static_cast<int>(f.size()), now);
        next = next + 1 == frames.size() ? 0 : next + 1;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["x_gigabit"] = benchmark::Counter(
        static_cast<double>(state.iterations()) / kGigabitFrames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BoardSim_OfferFrame_1496);

bool Sh(const std::string& command) {
    return std::system(("PATH=/usr/sbin:/sbin:$PATH " + command + " >/dev/null 2>&1").c_str()) == 0;
}

bool Enter(const std::string& ns) {
    const int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool entered = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return entered;
}

// Two namespaces joined by an unshaped veth pair, removed again at the end.
class CLink {
public:
    CLink() {
        const std::string id = std::to_string(::getpid());
        m_pc = "flkbench-pc-" + id;
        m_board = "flkbench-bd-" + id;
        m_ok =
            ::geteuid() == 0 && Sh("ip netns add " + m_pc) && Sh("ip netns add " + m_board) &&
            Sh("ip link add pc0 netns " + m_pc + " type veth peer name board0 netns " + m_board) &&
            Sh("ip netns exec " + m_pc + " sysctl -qw net.ipv6.conf.all.disable_ipv6=1") &&
            Sh("ip netns exec " + m_board + " sysctl -qw net.ipv6.conf.all.disable_ipv6=1") &&
            Sh("ip -n " + m_pc + " link set pc0 up") &&
            Sh("ip -n " + m_board + " link set board0 up");
    }
    ~CLink() {
        Sh("ip netns del " + m_pc);
        Sh("ip netns del " + m_board);
    }
    bool Ok() const { return m_ok; }
    const std::string& Pc() const { return m_pc; }
    const std::string& Board() const { return m_board; }

private:
    std::string m_pc, m_board;
    bool m_ok = false;
};

// Sends the frames on pc0 of the PC namespace in batches of 64 (one system call per batch);
// returns how many the kernel took.
std::size_t Send(const std::string& ns, const std::vector<Frame>& frames) {
    return std::async(std::launch::async,
                      [&] {
                          if (!Enter(ns)) return std::size_t{0};
                          const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
                          sockaddr_ll to{};
                          to.sll_family = AF_PACKET;
                          to.sll_ifindex = static_cast<int>(::if_nametoindex("pc0"));
                          to.sll_halen = 6;
                          std::size_t sent = 0;
                          for (std::size_t at = 0; fd >= 0 && at < frames.size();) {
                              mmsghdr messages[64]{};
                              iovec parts[64];
                              const std::size_t n = std::min<std::size_t>(64, frames.size() - at);
                              for (std::size_t i = 0; i < n; ++i) {
                                  parts[i] = {const_cast<unsigned char*>(frames[at + i].data()),
                                              frames[at + i].size()};
                                  messages[i].msg_hdr.msg_iov = &parts[i];
                                  messages[i].msg_hdr.msg_iovlen = 1;
                                  messages[i].msg_hdr.msg_name = &to;
                                  messages[i].msg_hdr.msg_namelen = sizeof to;
                              }
                              const int done =
                                  ::sendmmsg(fd, messages, static_cast<unsigned>(n), 0);
                              if (done <= 0) {
                                  if (errno == ENOBUFS || errno == EAGAIN) {
                                      std::this_thread::yield();
                                      continue;
                                  }
                                  break;
                              }
                              at += static_cast<std::size_t>(done);
                              sent += static_cast<std::size_t>(done);
                          }
                          if (fd >= 0) ::close(fd);
                          return sent;
                      })
        .get();
}

// The emulator on board0, opened in the board namespace and run on a thread of its own.
struct SBoard {
    tools::CBoardEmulator m_emulator;
    std::future<bool> m_running;

    explicit SBoard(const tools::SBoardEmulatorOptions& options) : m_emulator(options) {}
    bool Open(const std::string& ns) {
        return std::async(std::launch::async,
                          [&] {
                              std::string why;
                              return Enter(ns) && m_emulator.Open(why);
                          })
            .get();
    }
    void Start() {
        m_running = std::async(std::launch::async, [this] { return m_emulator.Run(); });
    }
    // Until `frames` print frames are stored or nothing has arrived for a second.
    Clock::time_point WaitFor(std::uint64_t frames) {
        std::uint64_t seen = 0;
        Clock::time_point last = Clock::now();
        for (;;) {
            const std::uint64_t now = m_emulator.Statistics().m_printFrames;
            if (now != seen) {
                seen = now;
                last = Clock::now();
            }
            if (seen >= frames || Clock::now() - last > std::chrono::seconds(1)) return last;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    ~SBoard() {
        m_emulator.Stop();
        if (m_running.valid()) m_running.get();
    }
};

tools::SBoardEmulatorOptions BoardOptions() {
    tools::SBoardEmulatorOptions options;
    options.m_interface = "board0";
    options.m_reportIntervalMs = 0;
    options.m_boardMemoryBytes = std::size_t{64} << 20;
    options.m_captureBufferBytes = 512 << 20;
    return options;
}

void Report(benchmark::State& state, const tools::SEmulatorStatistics& s, std::size_t offered,
            double seconds) {
    const double rate = static_cast<double>(s.m_printFrames) / seconds;
    state.SetIterationTime(seconds);
    state.counters["frames_per_s"] = rate;
    state.counters["x_gigabit"] = rate / kGigabitFrames;
    state.counters["offered"] = static_cast<double>(offered);
    state.counters["stored"] = static_cast<double>(s.m_printFrames);
    state.counters["bands_done"] = static_cast<double>(s.m_bandsCompleted);
    state.counters["kernel_drops"] = static_cast<double>(s.m_captureDropped);
}

// Drain: the emulator starts on a ring the whole job was sent into. Live: it runs while the job
// is sent.
void BoardSimOnVeth(benchmark::State& state, bool live) {
    boost::log::core::get()->set_logging_enabled(false);
    const std::vector<Frame> frames = Job(static_cast<std::uint32_t>(state.range(0)));
    const std::uint64_t printFrames = static_cast<std::uint64_t>(state.range(0)) * kPacketsPerBand;
    for (auto _ : state) {
        CLink link;
        if (!link.Ok()) {
            state.SkipWithError("needs root to make network namespaces and a veth pair");
            return;
        }
        SBoard board(BoardOptions());
        if (!board.Open(link.Board())) {
            state.SkipWithError("the emulator could not open board0");
            return;
        }
        if (live) {
            board.Start();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));  // memory readied
        }
        Clock::time_point start = Clock::now();
        const std::size_t offered = Send(link.Pc(), frames);
        const double sendSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (!live) {
            start = Clock::now();
            board.Start();
        }
        const Clock::time_point end = board.WaitFor(printFrames);
        board.m_emulator.Stop();
        board.m_running.get();
        Report(state, board.m_emulator.Statistics(), offered,
               std::chrono::duration<double>(end - start).count());
        if (live) state.counters["offered_per_s"] = static_cast<double>(offered) / sendSeconds;
    }
}

void BM_BoardSim_VethDrain(benchmark::State& state) {
    BoardSimOnVeth(state, false);
}
// 24 bands of 4096 frames: about 147 MB, which the 512 MiB capture ring holds.
BENCHMARK(BM_BoardSim_VethDrain)
    ->Arg(24)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_BoardSim_VethLive(benchmark::State& state) {
    BoardSimOnVeth(state, true);
}
BENCHMARK(BM_BoardSim_VethLive)
    ->Arg(24)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

#endif
BENCHMARK_MAIN();

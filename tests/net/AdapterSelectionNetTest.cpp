// Automatic adapter selection on several veth adapters in a namespace of the test's own, with a
// board in the peer namespace that sends to the PC's protocol address: which adapter is opened
// and how long it takes, the claim on a board across objects and processes, the software MAC
// modes, and the console, abort and lock paths.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <ferrolink/adapter/FindAllDevice_Internal.h>
#include <ferrolink/adapter/PCapOpen_Network.h>
#include <ferrolink/adapter/PCapOpen_Network_Internal.h>
#include <ferrolink/outside/NamedClaim.h>
#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include <ferrolink/platform/PcapTimedRead.h>
#include <ferrolink/protocol/ConstValue.h>
#include "LinkEnds.h"
#include "support/LogCapture.h"
#include "unit/adapter/ConsoleRedirect.h"

namespace {

namespace fs = std::filesystem;
using ESide = CVethRig::ESide;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Mac = std::array<unsigned char, 6>;

const Mac kPc = {0x7B, 0x23, 0xFC, 0x98, 0x10, 0x99};
const Mac kElsewhere = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr unsigned kForever = 0xFFFFFFFFu;

Mac Board(unsigned char first, unsigned char last = 0xBC) {
    return {first, 0x34, 0x56, 0x78, 0x9A, last};
}

Frame MakeFrame(const Mac& to, const Mac& from) {
    Frame f(88, 0);
    std::copy(to.begin(), to.end(), f.begin());
    std::copy(from.begin(), from.end(), f.begin() + 6);
    f[13] = 88;
    return f;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Frames a handle delivers within `span`: (to the PC, to elsewhere).
std::pair<int, int> CountByDestination(pcap_t* handle, milliseconds span) {
    std::pair<int, int> seen{0, 0};
    for (const auto end = Clock::now() + span; Clock::now() < end;) {
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        if (ferrolink::platform::pcap_next_ex(handle, &header, &data) != 1) continue;
        if (header->caplen < 6) continue;
        if (std::equal(kPc.begin(), kPc.end(), data)) ++seen.first;
        if (std::equal(kElsewhere.begin(), kElsewhere.end(), data)) ++seen.second;
    }
    return seen;
}

// Another process tries the claim: true when it got it.
bool ClaimInChild(const std::string& name) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(CNamedClaim().Acquire(name) ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A capture handle on a peer, made inside namespace B; it stays there whoever uses it.
PcapHandle OpenPeer(CVethRig& rig, const std::string& peer) {
    return PcapHandle(rig.RunIn(ESide::B,
                                [&] {
                                    char errbuf[PCAP_ERRBUF_SIZE] = "";
                                    return pcap_open_live(peer.c_str(), 128, 0, 10, errbuf);
                                }),
                      &pcap_close);
}

// A board: sends its frames on a peer every period until destroyed, noting when each round began.
class CBoard {
public:
    CBoard(PcapHandle out, std::vector<Frame> frames, milliseconds period)
        : m_out(std::move(out)), m_thread([this, frames, period] {
              std::unique_lock<std::mutex> lock(m_mutex);
              for (auto next = Clock::now(); !m_stop; next += period) {
                  m_sent.push_back(Clock::now());
                  for (const Frame& f : frames)
                      pcap_sendpacket(m_out.get(), f.data(), int(f.size()));
                  m_changed.notify_all();
                  m_changed.wait_until(lock, next + period, [this] { return m_stop; });
              }
          }) {}
    ~CBoard() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    void WaitNextRound() {
        std::unique_lock<std::mutex> lock(m_mutex);
        const std::size_t count = m_sent.size();
        m_changed.wait(lock, [&] { return m_sent.size() > count; });
    }
    // The first round that began after `t`.
    std::optional<Clock::time_point> RoundAfter(Clock::time_point t) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::upper_bound(m_sent.begin(), m_sent.end(), t);
        return it == m_sent.end() ? std::nullopt : std::optional(*it);
    }

private:
    PcapHandle m_out;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stop = false;
    std::vector<Clock::time_point> m_sent;
    std::thread m_thread;  // last: it uses everything above
};

struct SAdapter {
    std::string name;  // "rpcap://..." as listed in namespace A
    std::string description;
    std::string peer;  // its other end in namespace B
};

// Namespace A is the PC with m_count veth adapters, all paired with peers in namespace B;
// m_adapters lists them in the device list's order. Settings and claims live in a fresh
// directory per test.
class AdapterSelectionNetTest : public VethRigTest {
protected:
    void SetUp() override {
        char dir[] = "/tmp/flk-select-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(dir));
        m_dir = dir;
        ::setenv("FERROLINK_CONFIG", (m_dir / "network.ini").c_str(), 1);
        ::setenv("FERROLINK_LOCK_DIR", (m_dir / "locks").c_str(), 1);
        VethRigTest::SetUp();
        if (IsSkipped()) return;

        const std::string pid = std::to_string(::getpid());
        std::vector<std::pair<std::string, std::string>> pairs = {
            {m_rig->Interface(ESide::A), m_rig->Interface(ESide::B)}};
        // No name may contain another: the gigabit adapter is found by substring.
        for (int k = 1; k < m_count; ++k) {
            pairs.emplace_back("flk" + std::to_string(k) + "a" + pid,
                               "flk" + std::to_string(k) + "b" + pid);
            std::string why;
            ASSERT_TRUE(m_rig->AddPair(pairs.back().first, pairs.back().second, why)) << why;
        }
        m_rig->RunIn(ESide::A, [&] {
            CFindAllDevice_Internal finder;
            for (pcap_if* d = finder.FindAllDevice(); d; d = d->next) {
                for (const auto& [a, b] : pairs)
                    if (d->name == "rpcap://" + a)
                        m_adapters.push_back({d->name, d->description ? d->description : "", b});
            }
        });
        ASSERT_EQ(std::size_t(m_count), m_adapters.size());
    }
    void TearDown() override {
        m_boards.clear();  // joined before their namespace goes
        VethRigTest::TearDown();
        ::unsetenv("FERROLINK_CONFIG");
        ::unsetenv("FERROLINK_LOCK_DIR");
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
        SBufferData<unsigned char> mac;
        mac.AllocateBuffer(6);
        const Mac factory = Board(0x12);
        std::copy(factory.begin(), factory.end(), mac.m_pBuffer);
        CConstValue::BoardMac_Set(mac);
    }

    void StartBoard(const SAdapter& on, std::vector<Frame> frames,
                    milliseconds period = milliseconds(100)) {
        PcapHandle out = OpenPeer(*m_rig, on.peer);
        ASSERT_TRUE(out);
        m_boards.push_back(std::make_unique<CBoard>(std::move(out), std::move(frames), period));
    }
    void SendFrom(const SAdapter& on, const Frame& f, int times) {
        PcapHandle out = OpenPeer(*m_rig, on.peer);
        ASSERT_TRUE(out);
        for (int i = 0; i < times; ++i) pcap_sendpacket(out.get(), f.data(), int(f.size()));
    }
    // Open_ByAuto where the adapters are; `took` gets its duration.
    template <typename T>
    bool AutoOpen(T& pc, Clock::duration& took, const bool* abort = nullptr) {
        return m_rig->RunIn(ESide::A, [&] {
            const auto start = Clock::now();
            const bool opened = pc.Open_ByAuto(0, abort);
            took = Clock::now() - start;
            return opened;
        });
    }
    static std::string Previous() { return OC_NetworkCommon.Previous_PCapDeviceName_Get(); }
    static std::string Success(const SAdapter& a) {
        return "Open adaptor successfully. name = " + a.name + "; description =" + a.description;
    }

    int m_count = 2;
    std::vector<SAdapter> m_adapters;
    std::vector<std::unique_ptr<CBoard>> m_boards;
    fs::path m_dir;
};

class OneAdapterSelectionNetTest : public AdapterSelectionNetTest {
protected:
    OneAdapterSelectionNetTest() { m_count = 1; }
};
class FiveAdapterSelectionNetTest : public AdapterSelectionNetTest {
protected:
    FiveAdapterSelectionNetTest() { m_count = 5; }
};

TEST_F(FiveAdapterSelectionNetTest, BoardBehindSilentAdaptersIsFoundThenAtOnceOnThePreviousOne) {
    const SAdapter& board = m_adapters.back();
    StartBoard(board, {MakeFrame(kPc, Board(0x02))});
    CLogCapture log;
    CPCapOpen_Network_Internal pc;
    Clock::duration took{};
    ASSERT_TRUE(AutoOpen(pc, took));
    std::printf("[ detect ] 4 silent + board on 5th: %.2f s\n", Seconds(took));
    // Five silent listens: the first listed veth (10 Gbit/s) is tried as the gigabit adapter,
    // then once more in list order; each listen costs a second and at most ~50 ms more.
    std::printf("[ detect ] per silent listen: %.3f s\n", Seconds(took) / 5);
    EXPECT_GE(took, milliseconds(5000));
    EXPECT_LT(took, milliseconds(5 * 1050 + 100 + 250));
    EXPECT_TRUE(pc.IsOpen(0, nullptr));
    EXPECT_EQ(board.name, pc.GetDeviceName());
    EXPECT_EQ(board.name, Previous());
    const Mac expected = Board(0x02);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), CConstValue::BoardMac_Get()));
    EXPECT_EQ(1, log.Count(Success(board), 1));
    EXPECT_EQ(0, log.Count("failure"));
    // The filter passes only frames to the PC.
    SendFrom(board, MakeFrame(kElsewhere, Board(0x02)), 3);
    const auto [toPc, toElsewhere] =
        CountByDestination(pc.GetPCapHandle(0, nullptr), milliseconds(400));
    EXPECT_GE(toPc, 2);
    EXPECT_EQ(0, toElsewhere);

    ASSERT_TRUE(pc.Close(kForever, nullptr));
    EXPECT_FALSE(pc.IsOpen(0, nullptr));
    EXPECT_EQ(board.name, pc.GetDeviceName()) << "the name outlives the close";

    // Once a second now; strategy 1 listens on the previous adapter first.
    m_boards.clear();
    ASSERT_NO_FATAL_FAILURE(StartBoard(board, {MakeFrame(kPc, Board(0x02))}, milliseconds(1000)));
    CBoard& slow = *m_boards.back();
    slow.WaitNextRound();
    std::this_thread::sleep_for(milliseconds(300));  // mid-period: the frame cannot be missed
    const auto start = Clock::now();
    ASSERT_TRUE(AutoOpen(pc, took));
    const auto frame = slow.RoundAfter(start);
    ASSERT_TRUE(frame.has_value());
    const auto latency = std::chrono::duration_cast<milliseconds>(start + took - *frame);
    std::printf("[ detect ] board on previous adapter: %lld ms after its frame\n",
                static_cast<long long>(latency.count()));
    EXPECT_LT(latency, milliseconds(300));
    EXPECT_LT(took, milliseconds(1000)) << "no silent listen before it";
    EXPECT_EQ(board.name, pc.GetDeviceName());
}

TEST_F(AdapterSelectionNetTest, BoardIsClaimedByOneObjectOrProcessAtATimeUntilItsHolderEnds) {
    const SAdapter& first = m_adapters[0];
    const SAdapter& second = m_adapters[1];
    StartBoard(first, {MakeFrame(kPc, Board(0x02))});
    StartBoard(second, {MakeFrame(kPc, Board(0x06))});
    // A previous name not listed but holding the gigabit adapter's: straight to the loop over
    // the list, which takes the first board in list order and stops there.
    ASSERT_TRUE(OC_NetworkCommon.Previous_PCapDeviceName_Set(first.name + ".old"));
    auto holder = std::make_unique<CPCapOpen_Network>();
    Clock::duration took{};
    ASSERT_TRUE(AutoOpen(*holder, took));
    EXPECT_EQ(first.name, Previous());
    EXPECT_EQ(0x02, CConstValue::BoardMac_Get()[0]);
    EXPECT_TRUE(CNamedClaim().Acquire("Quon_PCap_06")) << "the second board was claimed too";

    // The held board is heard on the first adapter twice and refused; the other one is free.
    CLogCapture log;
    CPCapOpen_Network other;
    ASSERT_TRUE(AutoOpen(other, took));
    EXPECT_GE(took, milliseconds(2000));
    EXPECT_EQ(second.name, Previous());
    EXPECT_EQ(0x06, CConstValue::BoardMac_Get()[0]);
    EXPECT_EQ(0, log.Count(Success(first)));
    EXPECT_TRUE(holder->IsOpen(0, nullptr));
    CPCapOpen_Network third;
    const bool abort = true;  // strategy 1 only, on the board `other` holds
    EXPECT_FALSE(AutoOpen(third, took, &abort));
    EXPECT_GE(took, milliseconds(1000));
    EXPECT_FALSE(ClaimInChild("Quon_PCap_02"));
    EXPECT_FALSE(ClaimInChild("Quon_PCap_06"));

    holder.reset();
    EXPECT_TRUE(ClaimInChild("Quon_PCap_02")) << "destroying the holder frees its board";
    EXPECT_FALSE(ClaimInChild("Quon_PCap_06"));

    // A process holding the board keeps this one off it until the process is killed.
    int ready[2];
    ASSERT_EQ(0, ::pipe(ready));
    const pid_t child = ::fork();
    if (child == 0) {
        CNamedClaim claim;
        const char got = claim.Acquire("Quon_PCap_02") ? 'y' : 'n';
        (void)!::write(ready[1], &got, 1);
        ::pause();
        ::_exit(0);
    }
    char got = 0;
    EXPECT_EQ(1, ::read(ready[0], &got, 1));
    EXPECT_EQ('y', got);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_TRUE(OC_NetworkCommon.Previous_PCapDeviceName_Set(first.name));
    const bool openedWhileHeld = AutoOpen(third, took, &abort);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(openedWhileHeld);
    ASSERT_TRUE(AutoOpen(third, took, &abort));
    EXPECT_EQ(0x02, CConstValue::BoardMac_Get()[0]);
}

TEST_F(OneAdapterSelectionNetTest, SoftwareMacModesDecideWhichSourceIsTheBoard) {
    const SAdapter& link = m_adapters[0];
    ASSERT_TRUE(OC_NetworkCommon.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    ASSERT_TRUE(OC_NetworkCommon.SoftwareMac_Address_Set(
        CSerialize_NetworkCommon::Address_Value_2_Enum(0x05)));
    // Each misses in one way: the first byte, a later byte, the destination.
    StartBoard(link, {MakeFrame(kPc, Board(0x02)), MakeFrame(kPc, Board(0x05, 0xBD)),
                      MakeFrame(kElsewhere, Board(0x05))});
    CPCapOpen_Network_Internal pc;
    Clock::duration took{};
    EXPECT_FALSE(AutoOpen(pc, took));
    EXPECT_FALSE(pc.IsOpen(0, nullptr));
    EXPECT_EQ(0x12, CConstValue::BoardMac_Get()[0]);
    EXPECT_EQ("", Previous());
    EXPECT_TRUE(CNamedClaim().Acquire("Quon_PCap_02")) << "a refused board is not claimed";
    EXPECT_TRUE(CNamedClaim().Acquire("Quon_PCap_05"));

    m_boards.clear();
    StartBoard(link, {MakeFrame(kPc, Board(0x05))});
    ASSERT_TRUE(AutoOpen(pc, took));
    const Mac expected = Board(0x05);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), CConstValue::BoardMac_Get()));
    EXPECT_FALSE(CNamedClaim().Acquire("Quon_PCap_05"));
    ASSERT_TRUE(pc.Close(kForever, nullptr));

    ASSERT_TRUE(OC_NetworkCommon.SoftwareMac_Mode_Set(static_cast<ESoftwareMacMode>(7)));
    EXPECT_FALSE(AutoOpen(pc, took)) << "an unknown mode accepts no board";
    EXPECT_GE(took, milliseconds(2000));
}

TEST_F(AdapterSelectionNetTest, AbortConsoleChoiceLockedCloseAndDestructionKeepTheirPromises) {
    const SAdapter& board = m_adapters[0];
    const SAdapter& silent = m_adapters[1];
    StartBoard(board, {MakeFrame(kPc, Board(0x02))});
    Clock::duration took{};
    {
        CPCapOpen_Network_Internal pc;
        const bool abort = true;
        ASSERT_TRUE(OC_NetworkCommon.Previous_PCapDeviceName_Set(silent.name));
        EXPECT_FALSE(AutoOpen(pc, took, &abort)) << "aborted after strategy 1";
        EXPECT_GE(took, milliseconds(1000));
        EXPECT_LT(took, milliseconds(1500));
        ASSERT_TRUE(OC_NetworkCommon.Previous_PCapDeviceName_Set(board.name));
        EXPECT_TRUE(AutoOpen(pc, took, &abort)) << "strategy 1 runs in spite of the flag";
        ASSERT_TRUE(pc.Close(kForever, nullptr));

        // A previous adapter that stays silent does not stop the search.
        ASSERT_TRUE(OC_NetworkCommon.Previous_PCapDeviceName_Set(silent.name));
        ASSERT_TRUE(AutoOpen(pc, took));
        EXPECT_LT(took, milliseconds(1600));
        EXPECT_EQ(board.name, pc.GetDeviceName());
        EXPECT_EQ(board.name, Previous());

        // Close gives up when another thread uses the handle past its first check.
        CLogCapture log;
        std::promise<bool> locked;
        std::thread user([&] {
            locked.set_value(pc.Handle_Lock(kForever, nullptr) != nullptr);
            std::this_thread::sleep_for(milliseconds(1300));
            pc.Handle_UnLock();
        });
        ASSERT_TRUE(locked.get_future().get());
        const auto start = Clock::now();
        EXPECT_TRUE(pc.Close(kForever, nullptr));
        EXPECT_LT(Clock::now() - start, milliseconds(1250)) << "did not wait for the user";
        user.join();
        EXPECT_EQ(1, log.Count("failure", 2));
        EXPECT_TRUE(pc.IsOpen(0, nullptr));
        ASSERT_TRUE(pc.Close(kForever, nullptr));
        EXPECT_FALSE(pc.IsOpen(0, nullptr));

        // The console choice opens what is chosen, unfiltered and not remembered.
        ASSERT_TRUE(OC_NetworkCommon.Previous_PCapDeviceName_Set("rpcap://elsewhere"));
        m_rig->RunIn(ESide::A, [&] {
            CConsoleRedirect console("0\n");
            EXPECT_TRUE(pc.Open_ByConsoleInput(0, nullptr));
        });
        EXPECT_EQ(board.name, pc.GetDeviceName());
        EXPECT_EQ("rpcap://elsewhere", Previous());
        SendFrom(board, MakeFrame(kElsewhere, Board(0x02)), 3);
        EXPECT_EQ(3, CountByDestination(pc.GetPCapHandle(0, nullptr), milliseconds(300)).second);
        m_rig->RunIn(ESide::A, [&] {
            CConsoleRedirect console("1\n");
            EXPECT_TRUE(pc.Open_ByConsoleInput(0, nullptr));
            EXPECT_EQ("", console.Output()) << "an open handle needs no choice";
        });
        EXPECT_EQ(board.name, pc.GetDeviceName());
    }

    // Destroying an open facade closes its handle and frees its board for the next object.
    auto sockets = [] {
        int n = 0;
        for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
            std::error_code e;
            n += fs::read_symlink(fd.path(), e).string().rfind("socket:", 0) == 0 ? 1 : 0;
        }
        return n;
    };
    const int before = sockets();
    auto facade = std::make_unique<CPCapOpen_Network>();
    ASSERT_TRUE(AutoOpen(*facade, took));
    EXPECT_EQ(before + 1, sockets());
    facade.reset();
    EXPECT_EQ(before, sockets());
    CPCapOpen_Network next;
    EXPECT_TRUE(AutoOpen(next, took));
}

}  // namespace

// Automatic selection on the real platform layer, in namespaces of the test's own: the PC is
// namespace A with veth adapters whose peers in B are boards sending to the PC's address. The
// software MAC modes, the order of the search (previous adapter, gigabit adapter, the loop) told
// by how many one-second listens it took, the claim on a board across objects, the close and
// console paths, and the walk past a speedless and a silent adapter to the board emulator's.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>

#include <ferrolink/adapter/FindAllDevice.h>
#include <ferrolink/adapter/FindAllDevice_Internal.h>
#include <ferrolink/adapter/NpfPacketHelper.h>
#include <ferrolink/adapter/PCapOpen_Network.h>
#include <ferrolink/adapter/PCapOpen_Network_Internal.h>
#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include <ferrolink/platform/NamedClaim.h>
#include <ferrolink/protocol/ConstValue.h>
#include "VethRig.h"
#include "board-sim/BoardEmulator.h"
#include "support/LogCapture.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive
using ferrolink::platform::CNamedClaim;

namespace {

namespace fs = std::filesystem;
using ESide = CVethRig::ESide;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
constexpr unsigned kForever = 0xFFFFFFFFu;

// An 88-byte frame from board first:34:56:78:9A:last, to the PC (7B:23:FC:98:10:99) or not.
Frame FromBoard(unsigned char first, unsigned char last = 0xBC, bool toPc = true) {
    Frame f = {0x7B, 0x23, 0xFC, 0x98, 0x10, 0x99, first, 0x34, 0x56, 0x78, 0x9A, last};
    if (!toPc) f[0] = 0x02;
    f.resize(88);
    return f;
}

// Frames a handle delivers within `span`: (to the PC, to others).
std::pair<int, int> Count(void* handle, milliseconds span) {
    std::pair<int, int> seen{0, 0};
    for (const Frame& f : CVethRig::Read(static_cast<pcap_t*>(handle), span))
        ++(f[0] == 0x7B ? seen.first : seen.second);
    return seen;
}

int OpenSockets() {
    int n = 0;
    std::error_code e;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd"))
        n += fs::read_symlink(fd.path(), e).string().rfind("socket:", 0) == 0;
    return n;
}

// A board: sends its frames on a peer every 100 ms until destroyed.
struct SBoard {
    PcapHandle m_out;
    std::vector<Frame> m_frames;
    std::atomic<bool> m_stop{false};
    std::thread m_thread{[this] {
        for (; !m_stop; std::this_thread::sleep_for(milliseconds(100)))
            for (const Frame& f : m_frames) pcap_sendpacket(m_out.get(), f.data(), 88);
    }};
    ~SBoard() {
        m_stop = true;
        m_thread.join();
    }
};

// Settings and claims live in a fresh directory.
class AdapterNetTest : public VethRigTest {
protected:
    void SetUp() override {
        char dir[] = "/tmp/flk-select-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(dir));
        m_dir = dir;
        ::setenv("FERROLINK_CONFIG", (m_dir / "network.ini").c_str(), 1);
        ::setenv("FERROLINK_LOCK_DIR", (m_dir / "locks").c_str(), 1);
        VethRigTest::SetUp();
    }
    void TearDown() override {
        ::unsetenv("FERROLINK_CONFIG");
        ::unsetenv("FERROLINK_LOCK_DIR");
        fs::remove_all(m_dir);
        CConstValue::BoardMac_FirstByte_Update(0x12);
    }

    fs::path m_dir;
};

TEST_F(AdapterNetTest, SelectionClaimsCloseConsoleAndTheWalkToTheBoard) {
    // Two adapters: the rig's first (the gigabit one; veth runs at 10 Gbit/s), then if1. Neither
    // name may contain the other: the gigabit adapter is found by substring.
    const std::string& ns = m_rig->Namespace(ESide::A);
    const std::string pid = std::to_string(::getpid()), if1 = "flk1a" + pid;
    std::string peer[2] = {m_rig->Interface(ESide::B), "flk1b" + pid}, why;
    const std::string first = "rpcap://" + m_rig->Interface(ESide::A), second = "rpcap://" + if1;
    ASSERT_TRUE(m_rig->AddPair(if1, peer[1], why)) << why;
    std::unique_ptr<SBoard> boards[2];
    const auto startBoard = [&](int k, std::vector<Frame> frames) {
        boards[k].reset();
        PcapHandle out = m_rig->Open(ESide::B, false, 10, peer[k]);
        ASSERT_TRUE(out);
        boards[k].reset(new SBoard{std::move(out), std::move(frames)});
    };
    Clock::duration took{};
    const auto autoOpen = [&](auto& pc, const bool* flag = nullptr) {
        return m_rig->RunIn(ESide::A, [&] {
            const auto start = Clock::now();
            const bool opened = pc.Open_ByAuto(0, flag);
            took = Clock::now() - start;
            return opened;
        });
    };
    const bool abort = true;  // leaves strategy 1 only: one listen, on the previous adapter
    auto& config = OC_NetworkCommon;

    // Fixed first byte 0x05: each frame misses in one way (first byte, a later byte, the
    // destination) and the listen runs its full second; an unknown mode refuses the right board.
    ASSERT_TRUE(config.Previous_PCapDeviceName_Set(second));
    ASSERT_TRUE(config.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    ASSERT_TRUE(config.SoftwareMac_Address_Set(CSerialize_NetworkCommon::Address_Value_2_Enum(5)));
    startBoard(1, {FromBoard(0x02), FromBoard(0x05, 0xBD), FromBoard(0x05, 0xBC, false)});
    auto pc = std::make_unique<CPCapOpen_Network_Internal>();
    EXPECT_FALSE(autoOpen(*pc, &abort));
    EXPECT_GE(took, milliseconds(1000));
    EXPECT_EQ(0x12, CConstValue::BoardMac_Get()[0]);
    EXPECT_TRUE(CNamedClaim().Acquire("Quon_PCap_02")) << "a refused board is not claimed";
    startBoard(1, {FromBoard(0x05)});
    ASSERT_TRUE(config.SoftwareMac_Mode_Set(static_cast<ESoftwareMacMode>(7)));
    EXPECT_FALSE(autoOpen(*pc, &abort)) << "an unknown mode accepts no board";
    ASSERT_TRUE(config.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    ASSERT_TRUE(autoOpen(*pc, &abort)) << "strategy 1 runs in spite of the flag";
    EXPECT_EQ(0x05, CConstValue::BoardMac_Get()[0]);
    EXPECT_FALSE(CNamedClaim().Acquire("Quon_PCap_05"));

    // Any first byte, no previous adapter: the silent gigabit adapter, then the loop, whose first
    // is that one again: two silent listens. The filter passes only frames to the PC.
    ASSERT_TRUE(config.SoftwareMac_Mode_Set(SoftwareMacMode_AnyFirstByte));
    ASSERT_TRUE(config.Previous_PCapDeviceName_Set(""));
    startBoard(1, {FromBoard(0x02), FromBoard(0x02, 0xBC, false)});
    pc = std::make_unique<CPCapOpen_Network_Internal>();
    ASSERT_TRUE(autoOpen(*pc));
    EXPECT_GE(took, milliseconds(2000));
    EXPECT_LT(took, milliseconds(2900));
    EXPECT_EQ(second, pc->GetDeviceName());
    const auto [toPc, toOthers] = Count(pc->GetPCapHandle(0, nullptr), milliseconds(350));
    EXPECT_GE(toPc, 2);
    EXPECT_EQ(0, toOthers);
    ASSERT_TRUE(pc->Close(kForever, nullptr));
    EXPECT_FALSE(pc->IsOpen(0, nullptr));
    ASSERT_TRUE(autoOpen(*pc));
    EXPECT_LT(took, milliseconds(900)) << "the previous adapter is listened to first";
    // Destroying an open object closes its handle and frees its board.
    const int sockets = OpenSockets();
    pc.reset();
    EXPECT_EQ(sockets - 1, OpenSockets());
    EXPECT_TRUE(CNamedClaim().Acquire("Quon_PCap_02"));

    // A previous name not listed but holding the gigabit adapter's: straight to the loop, which
    // takes the first board in list order. Held, that board is refused to another object, heard
    // twice (strategy 1, then the loop) before the other board is taken; said once.
    startBoard(0, {FromBoard(0x06)});
    ASSERT_TRUE(config.Previous_PCapDeviceName_Set(first + ".old"));
    auto holder = std::make_unique<CPCapOpen_Network>();
    ASSERT_TRUE(autoOpen(*holder));
    EXPECT_EQ(first, config.Previous_PCapDeviceName_Get());
    CPCapOpen_Network other;
    std::optional<CLogCapture> claimLog(std::in_place);
    ASSERT_TRUE(autoOpen(other));
    EXPECT_GE(took, milliseconds(2000));
    EXPECT_LT(took, milliseconds(2900));
    EXPECT_EQ(1,
              claimLog->Count("claim Quon_PCap_06 refused: the board is held by another "
                              "process (pid " +
                                  pid + "): " + (m_dir / "locks").string() + "/Quon_PCap_06.lock",
                              2));
    claimLog.reset();
    // The abort flag ends the search after the listen on the previous adapter; the holder's end
    // frees its board.
    ASSERT_TRUE(config.Previous_PCapDeviceName_Set(first));
    pc = std::make_unique<CPCapOpen_Network_Internal>();
    EXPECT_FALSE(autoOpen(*pc, &abort));
    EXPECT_LT(took, milliseconds(1900)) << "aborted after strategy 1";
    holder.reset();
    ASSERT_TRUE(autoOpen(*pc, &abort)) << "destroying the holder frees its board";

    // Close gives up, yet says it closed, while another thread holds the handle past its first
    // check: the handle stays open and only the log tells.
    CLogCapture log;
    std::promise<void> locked;
    std::thread user([&] {
        const bool got = pc->Handle_Lock(kForever, nullptr) != nullptr;
        locked.set_value();
        std::this_thread::sleep_for(milliseconds(1500));
        if (got) pc->Handle_UnLock();
        EXPECT_TRUE(got);
    });
    locked.get_future().wait();
    EXPECT_TRUE(pc->Close(kForever, nullptr));
    user.join();
    EXPECT_EQ(1, log.Count("failure", 2));
    EXPECT_TRUE(pc->IsOpen(0, nullptr));
    ASSERT_TRUE(pc->Close(kForever, nullptr));

    // The console choice opens what is chosen, unfiltered and not remembered; an open handle
    // needs no choice.
    ASSERT_TRUE(config.Previous_PCapDeviceName_Set("rpcap://elsewhere"));
    std::istringstream typed("1\n");
    std::ostringstream screen;
    std::streambuf* keyboard = std::cin.rdbuf(typed.rdbuf());
    std::streambuf* console = std::cout.rdbuf(screen.rdbuf());
    m_rig->RunIn(ESide::A, [&] {
        EXPECT_TRUE(pc->Open_ByConsoleInput(0, nullptr));
        EXPECT_TRUE(pc->Open_ByConsoleInput(0, nullptr)) << "asks nothing: the input is used up";
    });
    std::cin.rdbuf(keyboard);
    std::cout.rdbuf(console);
    std::cin.clear();
    EXPECT_EQ(second, pc->GetDeviceName());
    EXPECT_EQ("rpcap://elsewhere", config.Previous_PCapDeviceName_Get());
    EXPECT_GE(Count(pc->GetPCapHandle(0, nullptr), milliseconds(350)).second, 1);

    // Without Ethernet devices (deleting one end removes a pair) there is no list at all.
    ASSERT_TRUE(CVethRig::Sh("ip -n " + ns + " link del " + m_rig->Interface(ESide::A) +
                             " && ip -n " + ns + " link del " + if1));
    m_rig->RunIn(ESide::A, [&] {
        CFindAllDevice finder;
        int size = 12345;
        EXPECT_EQ(nullptr, finder.FindAllDevice());
        EXPECT_EQ(-1, finder.GetAdaptorInfo(nullptr, size));
        EXPECT_EQ(12345, size);
    });

    // An adapter without a link speed (ifb answers no ethtool query) listed first, a silent
    // gigabit adapter second and the board emulator on the third: the speedless adapter reports
    // 0 b/s and the search walks on to the board. lo and libpcap's pseudo devices are not listed;
    // the driver lists what the finder lists.
    ASSERT_TRUE(CVethRig::Sh("ip -n " + ns + " link add flkz" + pid + " type ifb && ip -n " + ns +
                             " link set flkz" + pid + " up"));
    ASSERT_TRUE(m_rig->AddPair("flk2a" + pid, "flk2b" + pid, why)) << why;
    ASSERT_TRUE(m_rig->AddPair("flk3a" + pid, "flk3b" + pid, why)) << why;
    std::vector<std::string> names, driverNames;
    std::uint64_t speeds[2] = {1, 0};
    m_rig->RunIn(ESide::A, [&] {
        CFindAllDevice_Internal finder;
        for (const pcap_if* d = finder.FindAllDevice(); d; d = d->next) names.push_back(d->name);
        EXPECT_TRUE(CNpfPacketHelper::AdapterNameList_Get(driverNames));
        EXPECT_TRUE(CNpfPacketHelper::AdapterName_2_LinkSpeed("flkz" + pid, speeds[0]));
        EXPECT_TRUE(CNpfPacketHelper::AdapterName_2_LinkSpeed("flk2a" + pid, speeds[1]));
    });
    ASSERT_EQ((std::vector<std::string>{"rpcap://flkz" + pid, "rpcap://flk2a" + pid,
                                        "rpcap://flk3a" + pid}),
              names);
    for (std::string& name : driverNames) name = "rpcap://" + name;
    EXPECT_EQ(names, driverNames);
    EXPECT_EQ(0u, speeds[0]) << "no speed is 0 b/s";
    EXPECT_GE(speeds[1], 1000000000u);
    ASSERT_TRUE(config.Previous_PCapDeviceName_Set(""));
    ferrolink::tools::SBoardEmulatorOptions options;
    options.m_interface = "flk3b" + pid;
    options.m_reportIntervalMs = 100;
    options.m_boardMemoryBytes = 1 << 20;
    ferrolink::tools::CBoardEmulator emulator(options);
    ASSERT_TRUE(m_rig->RunIn(ESide::B, [&] { return emulator.Open(why); })) << why;
    auto running = std::async(std::launch::async, [&] { return emulator.Run(); });
    CPCapOpen_Network found;
    EXPECT_TRUE(autoOpen(found));
    EXPECT_EQ("rpcap://flk3a" + pid, config.Previous_PCapDeviceName_Get());
    emulator.Stop();
    EXPECT_TRUE(running.get());
}

}  // namespace

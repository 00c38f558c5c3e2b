// Adapters inside a namespace of the test's own. The device list, the packet driver and the
// finder: only that namespace's Ethernet devices, the MAC address ip set, the link speed veth
// reports, the console listing of a connected veth, and what is left without a device. Automatic
// selection on two veth adapters, with boards in the peer namespace that send to the PC's
// address: the software MAC modes, which adapter the search opens and how long it takes, the
// claim on a board across objects and processes, and the close, console and destruction paths.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <future>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <ferrolink/adapter/FindAllDevice.h>
#include <ferrolink/adapter/FindAllDevice_Internal.h>
#include <ferrolink/adapter/NpfPacketHelper.h>
#include <ferrolink/adapter/PCapOpen_Network.h>
#include <ferrolink/adapter/PCapOpen_Network_Internal.h>
#include <ferrolink/outside/NamedClaim.h>
#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include <ferrolink/platform/PacketDriver.h>
#include <ferrolink/platform/PcapExtensions.h>
#include <ferrolink/platform/PcapTimedRead.h>
#include <ferrolink/protocol/ConstValue.h>
#include "VethRig.h"
#include "support/LogCapture.h"

namespace {

namespace fs = std::filesystem;
namespace flk = ferrolink::platform;
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
Mac BoardMac() {
    const unsigned char* mac = CConstValue::BoardMac_Get();
    return {mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]};
}

Frame MakeFrame(const Mac& to, const Mac& from) {
    Frame f(88, 0);
    std::copy(to.begin(), to.end(), f.begin());
    std::copy(from.begin(), from.end(), f.begin() + 6);
    f[13] = 88;
    return f;
}

// Frames a handle delivers within `span`: (to the PC, to elsewhere).
std::pair<int, int> CountByDestination(void* handle, milliseconds span) {
    std::pair<int, int> seen{0, 0};
    for (const auto end = Clock::now() + span; Clock::now() < end;) {
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        if (ferrolink::platform::pcap_next_ex(static_cast<pcap_t*>(handle), &header, &data) != 1)
            continue;
        seen.first += std::equal(kPc.begin(), kPc.end(), data);
        seen.second += std::equal(kElsewhere.begin(), kElsewhere.end(), data);
    }
    return seen;
}

int Length(const pcap_if* d) {
    int n = 0;
    for (; d; d = d->next) ++n;
    return n;
}

// Another process tries the claim: true when it got it.
bool ClaimInChild(const std::string& name) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(CNamedClaim().Acquire(name) ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int OpenSockets() {
    int n = 0;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code e;
        n += fs::read_symlink(fd.path(), e).string().rfind("socket:", 0) == 0;
    }
    return n;
}

// Runs `f` with std::cin reading `input`; gives what it printed.
template <typename F>
std::string WithConsole(const std::string& input, F f) {
    std::istringstream in(input);
    std::ostringstream out;
    std::streambuf* oldIn = std::cin.rdbuf(in.rdbuf());
    std::streambuf* oldOut = std::cout.rdbuf(out.rdbuf());
    std::cin.clear();
    f();
    std::cin.rdbuf(oldIn);
    std::cout.rdbuf(oldOut);
    std::cin.clear();
    return out.str();
}

// A board: sends its frames on a peer every 100 ms until destroyed.
class CBoard {
public:
    CBoard(PcapHandle out, std::vector<Frame> frames)
        : m_running(std::async(
              std::launch::async, [out = std::move(out), frames, stop = m_stop.get_future()] {
                  do {
                      for (const Frame& f : frames)
                          pcap_sendpacket(out.get(), f.data(), static_cast<int>(f.size()));
                  } while (stop.wait_for(milliseconds(100)) == std::future_status::timeout);
              })) {}
    ~CBoard() {
        m_stop.set_value();
        m_running.wait();
    }

private:
    std::promise<void> m_stop;  // before m_running, which takes its future
    std::future<void> m_running;
};

struct SAdapter {
    std::string name;  // "rpcap://..." as listed in namespace A
    std::string peer;  // its other end in namespace B
};

// Namespace A is the PC with two veth adapters paired with peers in namespace B, in the device
// list's order. Settings and claims live in a fresh directory.
class AdapterNetTest : public VethRigTest {
protected:
    void SetUp() override {
        char dir[] = "/tmp/flk-select-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(dir));
        m_dir = dir;
        ::setenv("FERROLINK_CONFIG", (m_dir / "network.ini").c_str(), 1);
        ::setenv("FERROLINK_LOCK_DIR", (m_dir / "locks").c_str(), 1);
        VethRigTest::SetUp();
        if (IsSkipped()) return;
        // Neither name may contain the other: the gigabit adapter is found by substring.
        const std::string pid = std::to_string(::getpid());
        const std::vector<std::pair<std::string, std::string>> pairs = {
            {m_rig->Interface(ESide::A), m_rig->Interface(ESide::B)},
            {"flk1a" + pid, "flk1b" + pid}};
        std::string why;
        ASSERT_TRUE(m_rig->AddPair(pairs[1].first, pairs[1].second, why)) << why;
        m_rig->RunIn(ESide::A, [&] {
            CFindAllDevice_Internal finder;
            for (pcap_if* d = finder.FindAllDevice(); d; d = d->next)
                for (const auto& [a, b] : pairs)
                    if (d->name == "rpcap://" + a) m_adapters.push_back({d->name, b});
        });
        ASSERT_EQ(2u, m_adapters.size());
    }
    void TearDown() override {
        for (auto& board : m_boards) board.reset();  // joined before their namespace goes
        VethRigTest::TearDown();
        ::unsetenv("FERROLINK_CONFIG");
        ::unsetenv("FERROLINK_LOCK_DIR");
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
        CConstValue::BoardMac_FirstByte_Update(0x12);
    }

    // Replaces the board behind adapter `k`.
    void StartBoard(int k, std::vector<Frame> frames) {
        m_boards[k].reset();
        PcapHandle out = m_rig->Open(ESide::B, false, 10, m_adapters[k].peer);
        ASSERT_TRUE(out);
        m_boards[k] = std::make_unique<CBoard>(std::move(out), std::move(frames));
    }
    void SendThrice(int k, const Frame& f) {
        PcapHandle out = m_rig->Open(ESide::B, false, 10, m_adapters[k].peer);
        ASSERT_TRUE(out);
        for (int i = 0; i < 3; ++i)
            pcap_sendpacket(out.get(), f.data(), static_cast<int>(f.size()));
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
    static bool SetPrevious(const std::string& name) {
        return OC_NetworkCommon.Previous_PCapDeviceName_Set(name);
    }
    static std::string Previous() { return OC_NetworkCommon.Previous_PCapDeviceName_Get(); }

    std::vector<SAdapter> m_adapters;
    std::unique_ptr<CBoard> m_boards[2];
    fs::path m_dir;
};

TEST_F(AdapterNetTest, ListDriverSelectionClaimsCloseAndConsoleOnTwoAdapters) {
    const std::string& ns = m_rig->Namespace(ESide::A);
    const std::string& ifA = m_rig->Interface(ESide::A);  // the first adapter
    const std::string& first = m_adapters[0].name;  // also the gigabit one: veth runs at 10 Gbit/s
    const std::string& second = m_adapters[1].name;
    const std::vector<unsigned char> mac = {0x02, 0x46, 0x8a, 0xce, 0x13, 0x57};
    // A pair inside A, both ends down: listed after the adapters that are up.
    ASSERT_TRUE(CVethRig::Sh("ip -n " + ns + " link set dev " + ifA + " address 02:46:8a:ce:13:57" +
                             " && ip -n " + ns + " link add flkc0 type veth peer name flkd0"));
    flk::ADAPTER* adapter = nullptr;
    m_rig->RunIn(ESide::A, [&] {
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        EXPECT_EQ(nullptr, flk::pcap_open(("rpcap://" + m_rig->Interface(ESide::B)).c_str(), 1496,
                                          1, 10, nullptr, errbuf))
            << "the peer is in the other namespace";
        EXPECT_STRNE("", errbuf);
        EXPECT_EQ(nullptr, flk::PacketOpenAdapter(m_rig->Interface(ESide::B).c_str()));
        EXPECT_EQ(static_cast<unsigned long>(ENODEV), flk::GetLastError());

        // lo, "any" and libpcap's other pseudo devices are left out; the list is read once, so a
        // device added later only a new finder sees.
        CFindAllDevice_Internal finder;
        pcap_if* list = finder.FindAllDevice();
        std::vector<std::string> names;
        for (const pcap_if* d = list; d; d = d->next) {
            EXPECT_EQ(0u, std::string(d->name).rfind("rpcap://", 0)) << d->name;
            names.push_back(d->name + 8);
        }
        EXPECT_EQ(4u, names.size());
        std::vector<std::string> driverNames;
        EXPECT_TRUE(CNpfPacketHelper::AdapterNameList_Get(driverNames));
        EXPECT_EQ(names, driverNames);
        EXPECT_TRUE(CVethRig::Sh("ip -n " + ns + " link add flkc1 type veth peer name flkd1"));
        EXPECT_EQ(list, finder.FindAllDevice());
        EXPECT_EQ(4, Length(list));
        CFindAllDevice_Internal later;
        EXPECT_EQ(6, Length(later.FindAllDevice()));

        std::vector<unsigned char> read;
        EXPECT_TRUE(CNpfPacketHelper::AdapterName_2_MacAddress(ifA, read));
        EXPECT_EQ(mac, read);
        std::uint64_t speed = 0;
        EXPECT_TRUE(CNpfPacketHelper::AdapterName_2_LinkSpeed(ifA, speed));
        EXPECT_EQ(10000000000u, speed) << "veth reports 10 Gbit/s";
        std::string gigabit;
        EXPECT_TRUE(CNpfPacketHelper::GB_AdapterName_Get(gigabit));
        EXPECT_EQ(ifA, gigabit);
        adapter = flk::PacketOpenAdapter(ifA.c_str());
    });
    ASSERT_NE(nullptr, adapter);
    // Asked from this thread, outside the namespace: the adapter still answers for its own.
    std::vector<unsigned char> room(sizeof(flk::PACKET_OID_DATA) + 6);
    auto* request = reinterpret_cast<flk::PACKET_OID_DATA*>(room.data());
    request->Oid = flk::OID_802_3_CURRENT_ADDRESS;
    request->Length = 6;
    EXPECT_TRUE(flk::PacketRequest(adapter, false, request));
    EXPECT_EQ(mac, std::vector<unsigned char>(request->Data, request->Data + 6));
    flk::PacketCloseAdapter(adapter);
    ASSERT_TRUE(CVethRig::Sh("ip -n " + ns + " link del flkc0 && ip -n " + ns + " link del flkc1"));

    const bool abort = true;  // leaves strategy 1 only: one listen, on the previous adapter
    Clock::duration took{};
    auto pc = std::make_unique<CPCapOpen_Network_Internal>();

    // Fixed first byte 0x05: each frame misses in one way (first byte, a later byte, the
    // destination), then an unknown mode refuses even the right board.
    ASSERT_TRUE(SetPrevious(second));
    ASSERT_TRUE(OC_NetworkCommon.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    ASSERT_TRUE(OC_NetworkCommon.SoftwareMac_Address_Set(
        CSerialize_NetworkCommon::Address_Value_2_Enum(0x05)));
    StartBoard(1, {MakeFrame(kPc, Board(0x02)), MakeFrame(kPc, Board(0x05, 0xBD)),
                   MakeFrame(kElsewhere, Board(0x05))});
    EXPECT_FALSE(AutoOpen(*pc, took, &abort));
    EXPECT_GE(took, milliseconds(1000));
    EXPECT_FALSE(pc->IsOpen(0, nullptr));
    EXPECT_EQ(0x12, CConstValue::BoardMac_Get()[0]);
    EXPECT_TRUE(CNamedClaim().Acquire("Quon_PCap_02")) << "a refused board is not claimed";
    EXPECT_TRUE(CNamedClaim().Acquire("Quon_PCap_05"));
    StartBoard(1, {MakeFrame(kPc, Board(0x05))});
    ASSERT_TRUE(OC_NetworkCommon.SoftwareMac_Mode_Set(static_cast<ESoftwareMacMode>(7)));
    EXPECT_FALSE(AutoOpen(*pc, took, &abort)) << "an unknown mode accepts no board";
    ASSERT_TRUE(OC_NetworkCommon.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    ASSERT_TRUE(AutoOpen(*pc, took, &abort)) << "strategy 1 runs in spite of the flag";
    EXPECT_EQ(Board(0x05), BoardMac());
    EXPECT_FALSE(CNamedClaim().Acquire("Quon_PCap_05"));
    pc.reset();
    ASSERT_TRUE(OC_NetworkCommon.SoftwareMac_Mode_Set(SoftwareMacMode_AnyFirstByte));

    // No previous adapter: the silent gigabit adapter, then the loop over the list, whose first
    // is that one again; each silent listen costs a second and little more.
    StartBoard(1, {MakeFrame(kPc, Board(0x02))});
    ASSERT_TRUE(SetPrevious(""));
    pc = std::make_unique<CPCapOpen_Network_Internal>();
    ASSERT_TRUE(AutoOpen(*pc, took));
    EXPECT_GE(took, milliseconds(2000));
    EXPECT_LT(took, milliseconds(2600));
    EXPECT_EQ(second, pc->GetDeviceName());
    EXPECT_EQ(second, Previous());
    EXPECT_EQ(Board(0x02), BoardMac());
    SendThrice(1, MakeFrame(kElsewhere, Board(0x02)));
    const auto [toPc, toElsewhere] =
        CountByDestination(pc->GetPCapHandle(0, nullptr), milliseconds(400));
    EXPECT_GE(toPc, 2);
    EXPECT_EQ(0, toElsewhere) << "the filter passes only frames to the PC";
    ASSERT_TRUE(pc->Close(kForever, nullptr));
    EXPECT_FALSE(pc->IsOpen(0, nullptr));
    EXPECT_EQ(second, pc->GetDeviceName()) << "the name outlives the close";
    ASSERT_TRUE(AutoOpen(*pc, took));
    EXPECT_LT(took, milliseconds(500)) << "the previous adapter is listened to first";

    // Destroying an open object closes its handle and frees its board.
    const int sockets = OpenSockets();
    pc.reset();
    EXPECT_EQ(sockets - 1, OpenSockets());
    EXPECT_TRUE(ClaimInChild("Quon_PCap_02"));

    // A previous name not listed but holding the gigabit adapter's: straight to the loop, which
    // takes the first board in list order and stops there.
    StartBoard(0, {MakeFrame(kPc, Board(0x06))});
    ASSERT_TRUE(SetPrevious(first + ".old"));
    auto holder = std::make_unique<CPCapOpen_Network>();
    ASSERT_TRUE(AutoOpen(*holder, took));
    EXPECT_EQ(first, Previous());
    EXPECT_EQ(0x06, CConstValue::BoardMac_Get()[0]);
    EXPECT_TRUE(CNamedClaim().Acquire("Quon_PCap_02")) << "the second board was claimed too";
    // The held board is heard twice (strategy 1, then the loop; the gigabit adapter is the
    // previous one) and refused; the other one is free.
    CPCapOpen_Network other;
    ASSERT_TRUE(AutoOpen(other, took));
    EXPECT_GE(took, milliseconds(2000));
    EXPECT_LT(took, milliseconds(2600));
    EXPECT_EQ(second, Previous());
    EXPECT_EQ(0x02, CConstValue::BoardMac_Get()[0]);
    EXPECT_TRUE(holder->IsOpen(0, nullptr));
    EXPECT_FALSE(ClaimInChild("Quon_PCap_02"));
    EXPECT_FALSE(ClaimInChild("Quon_PCap_06"));
    // Held, the board on the previous adapter keeps an object off it, and the abort flag ends
    // the search after that one listen; the holder's end frees it.
    ASSERT_TRUE(SetPrevious(first));
    pc = std::make_unique<CPCapOpen_Network_Internal>();
    EXPECT_FALSE(AutoOpen(*pc, took, &abort));
    EXPECT_GE(took, milliseconds(1000));
    EXPECT_LT(took, milliseconds(1500)) << "aborted after strategy 1";
    holder.reset();
    EXPECT_TRUE(ClaimInChild("Quon_PCap_06")) << "destroying the holder frees its board";
    ASSERT_TRUE(AutoOpen(*pc, took, &abort));
    EXPECT_EQ(0x06, CConstValue::BoardMac_Get()[0]);

    // Close gives up, yet says it closed, when another thread uses the handle past its first
    // check: the handle stays open and a failure is logged.
    CLogCapture log;
    std::promise<bool> locked;
    std::thread user([&] {
        const bool got = pc->Handle_Lock(kForever, nullptr) != nullptr;
        locked.set_value(got);
        std::this_thread::sleep_for(milliseconds(1300));
        if (got) pc->Handle_UnLock();
    });
    EXPECT_TRUE(locked.get_future().get());
    const auto start = Clock::now();
    EXPECT_TRUE(pc->Close(kForever, nullptr));
    EXPECT_LT(Clock::now() - start, milliseconds(1250)) << "did not wait for the user";
    user.join();
    EXPECT_EQ(1, log.Count("failure", 2));
    EXPECT_TRUE(pc->IsOpen(0, nullptr));
    ASSERT_TRUE(pc->Close(kForever, nullptr));

    // The console choice opens what is chosen, unfiltered and not remembered.
    ASSERT_TRUE(SetPrevious("rpcap://elsewhere"));
    std::string shown;
    m_rig->RunIn(ESide::A, [&] {
        shown = WithConsole("0\n", [&] { EXPECT_TRUE(pc->Open_ByConsoleInput(0, nullptr)); });
    });
    EXPECT_EQ(first, pc->GetDeviceName());
    // The listing shows what the driver and the adapter table say of the connected veth.
    EXPECT_NE(std::string::npos, shown.find("Index = 0.\nName = " + first + "\n")) << shown;
    EXPECT_NE(std::string::npos,
              shown.find("\nLinkSpeed = 10000000000, 10.000000 GigaBytes\n"
                         "Mac = 02-46-8A-CE-13-57\nConnected = On\n\nIndex = 1."))
        << shown;
    EXPECT_EQ("rpcap://elsewhere", Previous());
    SendThrice(0, MakeFrame(kElsewhere, Board(0x06)));
    EXPECT_EQ(3, CountByDestination(pc->GetPCapHandle(0, nullptr), milliseconds(300)).second);
    m_rig->RunIn(ESide::A, [&] {
        EXPECT_EQ("", WithConsole("1\n", [&] { EXPECT_TRUE(pc->Open_ByConsoleInput(0, nullptr)); }))
            << "an open handle needs no choice";
    });
    EXPECT_EQ(first, pc->GetDeviceName());

    // Down, a veth has no speed, and no adapter is a gigabit one.
    ASSERT_TRUE(CVethRig::Sh("ip -n " + ns + " link set dev " + ifA + " down && ip -n " + ns +
                             " link set dev " + m_adapters[1].name.substr(8) + " down"));
    m_rig->RunIn(ESide::A, [&] {
        std::uint64_t speed = 42;
        EXPECT_FALSE(CNpfPacketHelper::AdapterName_2_LinkSpeed(ifA, speed));
        EXPECT_EQ(42u, speed);
        std::string gigabit;
        EXPECT_FALSE(CNpfPacketHelper::GB_AdapterName_Get(gigabit));
    });

    // Without Ethernet devices (deleting one end removes a pair) there is no list at all.
    ASSERT_TRUE(CVethRig::Sh("ip -n " + ns + " link del " + ifA + " && ip -n " + ns + " link del " +
                             m_adapters[1].name.substr(8)));
    m_rig->RunIn(ESide::A, [&] {
        CLogCapture log;
        CFindAllDevice finder;
        EXPECT_EQ(nullptr, finder.FindAllDevice());
        EXPECT_EQ(1, log.Count("find all device failure.", 2)) << "not an error of the library";
        int size = 12345;
        EXPECT_EQ(-1, finder.GetAdaptorInfo(nullptr, size));
        EXPECT_EQ(12345, size);
        std::string name = "unchanged";
        EXPECT_EQ("",
                  WithConsole("0\n", [&] { EXPECT_FALSE(finder.GetSelectedDeviceName(name)); }));
        EXPECT_EQ("unchanged", name);
    });
}

}  // namespace

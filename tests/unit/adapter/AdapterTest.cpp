// The adapter subsystem without a link: the helpers, the device block and the console dialogue
// above fake adapters (so that link speeds, states and refused queries can be chosen), the
// capture-file source read back from a file the test writes, and the network handle's lock and
// failure paths that need no adapter. The capture file's descriptor count is Linux's alone.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include <ferrolink/adapter/FindAllDevice_Internal.h>
#include <ferrolink/adapter/NpfPacketHelper.h>
#include <ferrolink/adapter/PCapOpen_CapFile.h>
#include <ferrolink/adapter/PCapOpen_Network_Internal.h>
#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include <ferrolink/platform/Link.h>
#include "support/FakeAdapters.h"
#include "support/LogCapture.h"
#include "support/ScopedEnv.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

// Reaches the handle mutex, so a test can hold it while the object has no handle.
class CPCapOpen_NetworkProbe {
public:
    static CCustomMutex& Mutex(CPCapOpen_Network_Internal& o) { return o.m_mutex; }
};

namespace {

namespace flk = ferrolink::platform;
namespace fs = std::filesystem;

class AdapterDiscoveryTest : public ::testing::Test {
protected:
    flk::CFakeAdapters m_fake;
    CLogCapture m_log;
};

TEST_F(AdapterDiscoveryTest, NameListAndGigabitSearchInDriverOrder) {
    m_fake.Add("locked", 10000000000ull).queryError = 5;
    m_fake.Add("almost", 999999999ull);
    m_fake.Add("wlan0", 10000000000ull).ethernet = false;  // no board answers there
    m_fake.Add("giga", 1000000000ull);
    m_fake.Add("ten", 10000000000ull);
    std::vector<std::string> names{"stale"};
    ASSERT_TRUE(CNpfPacketHelper::AdapterNameList_Get(names));
    EXPECT_EQ((std::vector<std::string>{"locked", "almost", "giga", "ten"}), names);
    std::string name;
    EXPECT_TRUE(CNpfPacketHelper::GB_AdapterName_Get(name));
    EXPECT_EQ("giga", name) << "the first of at least one gigabit";
    EXPECT_EQ((std::vector<std::string>{"locked", "almost", "giga"}), m_fake.queried);

    m_fake.adapters.clear();
    EXPECT_FALSE(CNpfPacketHelper::AdapterNameList_Get(names));
    // Without a gigabit adapter (an unknown speed, 0, does not count) the caller's name decides.
    m_fake.Add("slow", 100000000ull);
    m_fake.Add("mute", 0);
    name.clear();
    EXPECT_FALSE(CNpfPacketHelper::GB_AdapterName_Get(name));
    name = "preset";
    EXPECT_TRUE(CNpfPacketHelper::GB_AdapterName_Get(name));
    EXPECT_EQ("preset", name);
    // A failed listing fails the search even with a name given, and leaves the list alone.
    m_fake.listError = 5;
    names = {"kept"};
    EXPECT_FALSE(CNpfPacketHelper::AdapterNameList_Get(names));
    EXPECT_FALSE(CNpfPacketHelper::GB_AdapterName_Get(name));
    EXPECT_EQ(std::vector<std::string>{"kept"}, names);
}

TEST_F(AdapterDiscoveryTest, QueriesUseTheDriverNameAndLeaveNothingBehindOnFailure) {
    const unsigned char mac[6] = {0x7b, 0x23, 0xfc, 0x98, 0x10, 0x99};
    std::memcpy(m_fake.Add("enp3s0", 1).mac, mac, 6);
    flk::SFakeAdapter& tunnel = m_fake.Add("tun0", 0);
    tunnel.ethernet = tunnel.hasMac = false;
    m_fake.Add("locked", 1).queryError = 0x7f3a;
    char deviceName[] = "rpcap://enp3s0";
    pcap_if_t device{};
    device.name = deviceName;
    std::vector<unsigned char> got;
    ASSERT_TRUE(CNpfPacketHelper::Device_2_MacAddress(&device, got));
    EXPECT_EQ(std::vector<unsigned char>(mac, mac + 6), got);
    // No MAC: the query is refused, its speed (unknown: 0) is not. Not openable: neither is.
    const struct {
        const char* name;
        bool speedRead;
    } cases[] = {{"tun0", true}, {"locked", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        got.assign(6, 1);
        std::uint64_t speed = 7;
        EXPECT_FALSE(CNpfPacketHelper::AdapterName_2_MacAddress(c.name, got));
        EXPECT_TRUE(got.empty());
        EXPECT_EQ(c.speedRead, CNpfPacketHelper::AdapterName_2_LinkSpeed(c.name, speed));
        EXPECT_EQ(c.speedRead ? 0u : 7u, speed);
    }
    EXPECT_EQ(1, m_log.Count("error retrieving the MAC address of the adapter!", 2));
    EXPECT_EQ(2, m_log.Count("Unable to open the adapter, Error Code : 0x7f3a", 2));  // in hex

    // Only the name's own bytes may be read: a heap copy lets the address sanitizer check that.
    std::unique_ptr<char[]> shortName(new char[4]{'r', 'p', 'c', '\0'});
    device.name = shortName.get();
    EXPECT_FALSE(CNpfPacketHelper::Device_2_MacAddress(&device, got));
    EXPECT_FALSE(CNpfPacketHelper::Device_2_MacAddress(nullptr, got));
}

TEST_F(AdapterDiscoveryTest, DeviceBlockIsSizedThenWrittenOnlyWhenItFits) {
    // Names of 21 characters, a description of 9 and none; an adapter that is not Ethernet is
    // no device.
    m_fake.Add("eth0123456789", 1).description = "Intel NIC";
    m_fake.Add("wlan0", 1).ethernet = false;
    m_fake.Add("eth1123456789", 1);
    CFindAllDevice_Internal finder;
    const pcap_if* devices = finder.FindAllDevice();
    m_fake.Add("eth2", 1);
    EXPECT_EQ(devices, finder.FindAllDevice()) << "read once per object";
    int size = -5;
    ASSERT_EQ(0, finder.GetAdaptorInfo(nullptr, size));
    ASSERT_EQ(71, size);
    std::vector<unsigned char> block(71, 0xEE);
    size = 70;
    EXPECT_EQ(1, finder.GetAdaptorInfo(block.data(), size));
    EXPECT_EQ(70, size);
    EXPECT_EQ(std::vector<unsigned char>(71, 0xEE), block) << "a short buffer is not written";
    size = 71;
    ASSERT_EQ(0, finder.GetAdaptorInfo(block.data(), size));
    // Each text after its 32-bit length, which counts the terminating zero:
    // 0 length, 4 name, 26 length, 30 description, 40 length, 44 name, 66 length, 70 empty text
    const auto field = [](std::uint32_t n, const char* text) {
        return std::string(reinterpret_cast<const char*>(&n), 4) + std::string(text, n);
    };
    EXPECT_EQ(field(22, "rpcap://eth0123456789") + field(10, "Intel NIC") +
                  field(22, "rpcap://eth1123456789") + field(1, ""),
              std::string(block.begin(), block.end()));
}

TEST_F(AdapterDiscoveryTest, ConsoleListsEveryDeviceAndTakesOnlyAListedIndex) {
    m_fake.Add("eth0", 1000000000ull).hasMac = false;
    const unsigned char mac[6] = {0x00, 0x1b, 0x21, 0x0a, 0xbc, 0xde};
    std::memcpy(m_fake.Add("eth1", 0).mac, mac, 6);
    m_fake.adapters.back().description = "Intel I210";
    m_fake.Add("eth2", 0).linkUp = false;
    CFindAllDevice_Internal finder;
    std::string name, shown;
    const auto choose = [&](const char* input) {
        std::istringstream typed(input);
        std::ostringstream screen;
        std::streambuf* keyboard = std::cin.rdbuf(typed.rdbuf());
        std::streambuf* console = std::cout.rdbuf(screen.rdbuf());
        const bool chosen = finder.GetSelectedDeviceName(name);
        std::cin.rdbuf(keyboard);
        std::cout.rdbuf(console);
        std::cin.clear();
        shown = screen.str();
        return chosen;
    };
    EXPECT_TRUE(choose("2\n"));
    EXPECT_EQ("rpcap://eth2", name);
    EXPECT_EQ(
        // no MAC: no Mac line, and not found connected
        "Index = 0.\nName = rpcap://eth0\n (No description available)\n"
        "LinkSpeed = 1000000000, 1.000000 GigaBytes\nConnected = Off\n\n"
        // speed unknown: printed as 0
        "Index = 1.\nName = rpcap://eth1\nDescription = Intel I210\n"
        "LinkSpeed = 0, 0.000000 GigaBytes\nMac = 00-1B-21-0A-BC-DE\nConnected = On\n\n"
        "Index = 2.\nName = rpcap://eth2\n (No description available)\n"
        "LinkSpeed = 0, 0.000000 GigaBytes\nMac = 02-00-00-00-00-03\nConnected = Off\n\n"
        "Enter the index value of which you want to choose device:",
        shown);
    EXPECT_EQ((std::vector<std::string>{"eth0", "eth0", "eth1", "eth1", "eth2", "eth2"}),
              m_fake.queried);
    for (const char* input : {"3\n", "-1\n", "", "x\n"}) {
        SCOPED_TRACE(input);
        name = "unchanged";
        EXPECT_FALSE(choose(input));
        EXPECT_EQ("unchanged", name);
    }
    EXPECT_TRUE(choose(" 0 \n"));
    EXPECT_EQ("rpcap://eth0", name);
}

#ifndef _WIN32
int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

TEST(PCapOpenCapFileTest, FileOpensAgainAfterCloseAndNeverLeaksItsHandle) {
    const std::string path =
        ::testing::TempDir() + "flk_capfile_" + std::to_string(::getpid()) + ".pcap";
    // Magic (little-endian), version 2.4, zone, accuracy, snapshot length 65535, link type
    // Ethernet; then two records: time 0.0, caplen 4, len 4, the frame.
    const std::string header("\xd4\xc3\xb2\xa1\2\0\4\0\0\0\0\0\0\0\0\0\xff\xff\0\0\1\0\0\0", 24);
    const std::string record("\0\0\0\0\0\0\0\0\4\0\0\0\4\0\0\0\xde\xad\xbe\xef", 20);
    std::ofstream(path, std::ios::binary) << header << record << record;
    const int descriptorsBefore = OpenDescriptors();
    {
        CPCapOpen_CapFile file;
        ASSERT_TRUE(file.Initialize_DeviceName(path.c_str()));
        EXPECT_EQ("file://" + path, file.GetDeviceName());
        // A closed file keeps its name and opens again; opening twice closes the first handle.
        ASSERT_TRUE(file.OpenPCap());
        file.ClosePCap();
        EXPECT_FALSE(file.IsOpen());
        ASSERT_TRUE(file.OpenPCap());
        ASSERT_TRUE(file.OpenPCap());
        // Files are read by libpcap at once, not waited on like a link.
        pcap_pkthdr* h = nullptr;
        const u_char* data = nullptr;
        EXPECT_EQ(1, flk::CLink::ReadOne(file.GetPCapHandle(), &h, &data));
        EXPECT_EQ(1, flk::CLink::ReadBatch(
                         file.GetPCapHandle(), -1,
                         [](u_char*, const pcap_pkthdr*, const u_char*) {}, nullptr));
        EXPECT_EQ(descriptorsBefore + 1, OpenDescriptors());
    }
    EXPECT_EQ(descriptorsBefore, OpenDescriptors()) << "destroying an open source closes its file";
    CPCapOpen_CapFile missing;
    ASSERT_TRUE(missing.Initialize_DeviceName((path + ".absent").c_str()));
    EXPECT_FALSE(missing.OpenPCap());
    fs::remove(path);
}
#endif

TEST(PCapOpenNetworkTest, ClosedObjectFreesItsLockAndAnUnknownDeviceIsNotRemembered) {
    // Settings from a place without a file: the defaults, whatever the user stored.
    const std::string nonePath = ::testing::TempDir() + "flk-none/network.ini";
    std::remove(nonePath.c_str());  // an earlier run's file would not be "none"
    SScopedEnv none("FERROLINK_CONFIG", nonePath);
    CLogCapture log;
    CPCapOpen_Network_Internal net;
    CCustomMutex& mutex = CPCapOpen_NetworkProbe::Mutex(net);
    EXPECT_TRUE(net.Close(0xFFFFFFFFu, nullptr)) << "never opened";
    EXPECT_EQ(nullptr, net.Handle_Lock(0xFFFFFFFFu, nullptr));
    EXPECT_FALSE(mutex.IsOwnedByCurrentThread()) << "no handle: the lock is given back";
    EXPECT_FALSE(net.IsOpen(0, nullptr));
    EXPECT_TRUE(log.Records().empty()) << "a free lock on a closed object is no failure";

    // Held elsewhere, the state cannot be read: the abort flag ends an endless wait for it, and
    // only the log tells that from "closed".
    ASSERT_TRUE(mutex.WaitOne(0));
    const bool abort = true;
    auto reader = std::async(std::launch::async, [&] { return net.IsOpen(0xFFFFFFFFu, &abort); });
    const bool ended = reader.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    mutex.ReleaseOne();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(reader.get());
    EXPECT_EQ(1, log.Count("failure", 2));

    EXPECT_FALSE(net.Open_ByDeviceName("rpcap://flk-nosuch0"));
    EXPECT_EQ("", net.GetDeviceName());
    EXPECT_EQ("", OC_NetworkCommon.Previous_PCapDeviceName_Get());
}

}  // namespace

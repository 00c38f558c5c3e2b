// The adapter helpers, the device block and the console dialogue above a fake packet driver, so
// that link speeds and refused queries can be chosen.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <future>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>

#include <ferrolink/adapter/FindAllDevice_Internal.h>
#include <ferrolink/adapter/NpfPacketHelper.h>
#include "support/FakePacketDriverBackend.h"
#include "support/LogCapture.h"

namespace flk = ferrolink::platform;

namespace {

// A finder holding a list the test made, every block from malloc as the finder frees it.
class CSeededFinder : public CFindAllDevice_Internal {
public:
    explicit CSeededFinder(const std::vector<std::pair<const char*, const char*>>& devices) {
        pcap_if_t** tail = &m_deviceList;
        for (const auto& [name, description] : devices) {
            *tail = static_cast<pcap_if_t*>(std::calloc(1, sizeof(pcap_if_t)));
            (*tail)->name = ::strdup(name);
            (*tail)->description = description ? ::strdup(description) : nullptr;
            tail = &(*tail)->next;
        }
    }
};

class AdapterDiscoveryTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(m_fake.open.empty()) << "an opened adapter was kept"; }
    flk::CFakePacketDriverBackend m_fake;
    flk::CPacketDriverBackendScope m_scope{m_fake};
    CLogCapture m_log;
};

TEST_F(AdapterDiscoveryTest, NameListAndGigabitSearchInDriverOrder) {
    m_fake.Add("locked", 10000000000ull).openError = EACCES;  // 13
    m_fake.Add("almost", 999999999ull).description = "Intel";
    m_fake.Add("giga", 1000000000ull);  // no description between two
    m_fake.Add("ten", 10000000000ull).description = "Bridge";
    std::vector<std::string> names{"stale"};
    ASSERT_TRUE(CNpfPacketHelper::AdapterNameList_Get(names));
    EXPECT_EQ((std::vector<std::string>{"locked", "almost", "giga", "ten"}), names);

    std::string name;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(CNpfPacketHelper::GB_AdapterName_Get(name));
    EXPECT_EQ("Unable to open the adapter, Error Code : d\n",
              testing::internal::GetCapturedStdout());
    EXPECT_EQ("giga", name) << "the first of at least one gigabit";
    EXPECT_EQ((std::vector<std::string>{"locked", "almost", "giga"}), m_fake.opened);

    m_fake.adapters.clear();
    EXPECT_FALSE(CNpfPacketHelper::AdapterNameList_Get(names));
    EXPECT_TRUE(names.empty());
    // Without a gigabit adapter (an unknown speed does not count) the caller's name decides.
    m_fake.Add("slow", 100000000ull);
    m_fake.Add("mute", 10000000000ull).netTypeError = EOPNOTSUPP;
    name.clear();
    EXPECT_FALSE(CNpfPacketHelper::GB_AdapterName_Get(name));
    EXPECT_EQ("", name);
    name = "preset";
    EXPECT_TRUE(CNpfPacketHelper::GB_AdapterName_Get(name));
    EXPECT_EQ("preset", name);

    // A failed listing fails the search even with a name given, and leaves the list alone.
    m_fake.listError = EIO;
    names = {"kept"};
    testing::internal::CaptureStdout();
    EXPECT_FALSE(CNpfPacketHelper::AdapterNameList_Get(names));
    EXPECT_FALSE(CNpfPacketHelper::GB_AdapterName_Get(name));
    EXPECT_EQ(
        "Unable to retrieve the list of the adapters!\n"
        "Unable to retrieve the list of the adapters!\n",
        testing::internal::GetCapturedStdout());
    EXPECT_EQ(std::vector<std::string>{"kept"}, names);
    EXPECT_EQ("preset", name);
}

TEST_F(AdapterDiscoveryTest, QueriesUseTheDriverNameAndLeaveNothingBehindOnFailure) {
    const unsigned char mac[6] = {0x7b, 0x23, 0xfc, 0x98, 0x10, 0x99};
    std::memcpy(m_fake.Add("enp3s0", 10000000000ull).mac, mac, 6);
    m_fake.Add("mute", 1).addressError = EOPNOTSUPP;
    m_fake.adapters.back().netTypeError = ENODATA;
    m_fake.Add("locked", 1).openError = 0x7f3a;

    char deviceName[] = "rpcap://enp3s0";
    pcap_if_t device{};
    device.name = deviceName;
    std::vector<unsigned char> got;
    ASSERT_TRUE(CNpfPacketHelper::Device_2_MacAddress(&device, got));
    EXPECT_EQ(std::vector<unsigned char>(mac, mac + 6), got);
    std::uint64_t speed = 0;
    ASSERT_TRUE(CNpfPacketHelper::AdapterName_2_LinkSpeed("enp3s0", speed));
    EXPECT_EQ(10000000000ull, speed);

    for (const char* name : {"mute", "locked"}) {
        SCOPED_TRACE(name);
        got.assign(6, 1);
        speed = 42;
        EXPECT_FALSE(CNpfPacketHelper::AdapterName_2_MacAddress(name, got));
        EXPECT_TRUE(got.empty());
        EXPECT_FALSE(CNpfPacketHelper::AdapterName_2_LinkSpeed(name, speed));
        EXPECT_EQ(42u, speed);
    }
    // The open failure's code is seen nowhere else.
    EXPECT_EQ(2, m_log.Count("Unable to open the adapter, Error Code : 0x7f3a", 2));

    // Only the name's own bytes may be read: a heap copy lets the address sanitizer check that.
    std::unique_ptr<char[]> shortName(new char[4]{'r', 'p', 'c', '\0'});
    device.name = shortName.get();
    const auto openedBefore = m_fake.opened.size();
    EXPECT_FALSE(CNpfPacketHelper::Device_2_MacAddress(&device, got));
    EXPECT_FALSE(CNpfPacketHelper::Device_2_MacAddress(nullptr, got));
    EXPECT_EQ(openedBefore, m_fake.opened.size());
}

TEST(FindAllDeviceTest, DeviceBlockIsSizedThenWrittenOnlyWhenItFits) {
    // Names of 21 characters, a description of 9 and none.
    CSeededFinder finder(
        {{"rpcap://eth0123456789", "Intel NIC"}, {"rpcap://eth1123456789", nullptr}});
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
    EXPECT_EQ(71, size);
    // Each text after its 32-bit length, which counts the terminating zero:
    // 0 length, 4 name, 26 length, 30 description, 40 length, 44 name, 66 length, 70 empty text
    const auto field = [](std::uint32_t n, const char* text) {
        return std::string(reinterpret_cast<const char*>(&n), 4) + std::string(text, n);
    };
    EXPECT_EQ(field(22, "rpcap://eth0123456789") + field(10, "Intel NIC") +
                  field(22, "rpcap://eth1123456789") + field(1, ""),
              std::string(block.begin(), block.end()));
    EXPECT_EQ(finder.FindAllDevice(), finder.FindAllDevice()) << "the list is kept, not re-read";
}

// The dialogue reads the adapter table; that happens in a network namespace of the test's own,
// so the machine's adapters are never looked at.
template <typename F>
void InPrivateNetwork(F&& body) {
    const std::string refused = std::async(std::launch::async, [&]() -> std::string {
                                    if (::unshare(CLONE_NEWNET) != 0) return std::strerror(errno);
                                    body();
                                    return "";
                                }).get();
    if (!refused.empty())
        GTEST_SKIP() << "needs a network namespace of its own (CAP_SYS_ADMIN): " << refused;
}

TEST_F(AdapterDiscoveryTest, ConsoleListsEveryDeviceAndTakesOnlyAListedIndex) {
    const unsigned char mac[6] = {0x00, 0x1b, 0x21, 0x0a, 0xbc, 0xde};
    std::memcpy(m_fake.Add("eth0", 1000000000ull).mac, mac, 6);
    m_fake.Add("wlan0", 54000000ull).addressError = EOPNOTSUPP;
    m_fake.Add("eth1", 0).netTypeError = ENODATA;
    const auto choose = [&](const std::string& input, std::string& name, std::string& output) {
        bool chosen = false;
        InPrivateNetwork([&] {
            CSeededFinder finder({{"rpcap://eth0", "Intel I210"},
                                  {"rpcap://wlan0", nullptr},
                                  {"rpcap://eth1", "Realtek"},
                                  {"eth9", nullptr}});
            std::istringstream typed(input);
            std::streambuf* keyboard = std::cin.rdbuf(typed.rdbuf());
            testing::internal::CaptureStdout();
            chosen = finder.GetSelectedDeviceName(name);
            output = testing::internal::GetCapturedStdout();
            std::cin.rdbuf(keyboard);
            std::cin.clear();
        });
        return chosen;
    };
    std::string name;
    std::string output;
    const bool chosen = choose("3\n", name, output);
    if (IsSkipped()) return;
    EXPECT_TRUE(chosen);
    EXPECT_EQ("eth9", name);
    EXPECT_EQ(
        "Index = 0.\nName = rpcap://eth0\nDescription = Intel I210\n"
        "LinkSpeed = 1000000000, 1.000000 GigaBytes\nMac = 00-1B-21-0A-BC-DE\nConnected = Off\n\n"
        // the MAC query fails: no Mac line
        "Index = 1.\nName = rpcap://wlan0\n (No description available)\n"
        "LinkSpeed = 54000000, 0.054000 GigaBytes\nConnected = Off\n\n"
        // the speed query fails: printed as 0
        "Index = 2.\nName = rpcap://eth1\nDescription = Realtek\n"
        "LinkSpeed = 0, 0.000000 GigaBytes\nMac = 02-00-00-00-00-01\nConnected = Off\n\n"
        // too short for its prefix: nothing is asked about it
        "Index = 3.\nName = eth9\n (No description available)\n"
        "LinkSpeed = 0, 0.000000 GigaBytes\nConnected = Off\n\n"
        "Enter the index value of which you want to choose device:",
        output);
    EXPECT_EQ((std::set<std::string>{"eth0", "wlan0", "eth1"}),
              std::set<std::string>(m_fake.opened.begin(), m_fake.opened.end()));

    for (const char* input : {"4\n", "-1\n", "", "x\n"}) {
        SCOPED_TRACE(input);
        name = "unchanged";
        EXPECT_FALSE(choose(input, name, output));
        EXPECT_EQ("unchanged", name);
    }
    EXPECT_TRUE(choose(" 0 \n", name, output));
    EXPECT_EQ("rpcap://eth0", name);
}

}  // namespace

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <ferrolink/adapter/NpfPacketHelper.h>
#include "support/FakePacketDriverBackend.h"
#include "support/LogCapture.h"
#include "unit/adapter/ConsoleRedirect.h"

namespace flk = ferrolink::platform;

namespace {

constexpr unsigned long long Mbit100 = 100000000ull;
constexpr unsigned long long Gbit1 = 1000000000ull;
constexpr unsigned long long Gbit10 = 10000000000ull;

class NpfPacketHelperTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_TRUE(m_fake.open.empty()) << "every adapter opened is closed again";
    }

    flk::CFakePacketDriverBackend m_fake;
    flk::CPacketDriverBackendScope m_scope{m_fake};
    CLogCapture m_log;
};

TEST_F(NpfPacketHelperTest, FirstGigabitAdapterWinsAndLaterOnesAreNeverOpened) {
    m_fake.Add("fast100", Mbit100);
    m_fake.Add("giga", Gbit1);
    m_fake.Add("ten", Gbit10);
    std::string name;
    EXPECT_TRUE(CNpfPacketHelper::GB_AdapterName_Get(name));
    EXPECT_EQ("giga", name);
    EXPECT_EQ((std::vector<std::string>{"fast100", "giga"}), m_fake.opened);
}

TEST_F(NpfPacketHelperTest, GigabitThresholdIsExactlyOneBillion) {
    m_fake.Add("almost", 999999999ull);
    m_fake.Add("exact", Gbit1);
    std::string name;
    EXPECT_TRUE(CNpfPacketHelper::GB_AdapterName_Get(name));
    EXPECT_EQ("exact", name);
}

TEST_F(NpfPacketHelperTest, UnopenableAdapterIsSkippedWithItsCodeInHex) {
    m_fake.Add("locked", Gbit10).openError = EACCES;  // 13
    m_fake.Add("gone", Gbit10).openError = 2;
    m_fake.Add("giga", Gbit1);
    CConsoleRedirect console;
    std::string name;
    EXPECT_TRUE(CNpfPacketHelper::GB_AdapterName_Get(name));
    EXPECT_EQ("giga", name);
    EXPECT_EQ(
        "Unable to open the adapter, Error Code : d\n"
        "Unable to open the adapter, Error Code : 2\n",
        console.Output());
}

TEST_F(NpfPacketHelperTest, WithoutAGigabitAdapterTheCallersNameDecides) {
    m_fake.Add("slow", Mbit100);
    m_fake.Add("mute", Gbit10).netTypeError = EOPNOTSUPP;  // speed unknown: does not qualify
    std::string name;
    EXPECT_FALSE(CNpfPacketHelper::GB_AdapterName_Get(name));
    EXPECT_EQ("", name);
    name = "preset";
    EXPECT_TRUE(CNpfPacketHelper::GB_AdapterName_Get(name));
    EXPECT_EQ("preset", name);
    EXPECT_TRUE(m_log.Records().empty());
}

TEST_F(NpfPacketHelperTest, NameListHoldsOnlyTheNamesInDriverOrder) {
    m_fake.Add("eth0", Gbit1).description = "Intel";
    m_fake.Add("veth9", Gbit10);  // empty description
    m_fake.Add("br0", Mbit100).description = "Bridge";
    std::vector<std::string> names{"stale"};
    ASSERT_TRUE(CNpfPacketHelper::AdapterNameList_Get(names));
    EXPECT_EQ((std::vector<std::string>{"eth0", "veth9", "br0"}), names);

    m_fake.adapters.clear();
    EXPECT_FALSE(CNpfPacketHelper::AdapterNameList_Get(names));
    EXPECT_TRUE(names.empty());
}

TEST_F(NpfPacketHelperTest, FailedListingIsPrintedAndTheGigabitSearchFails) {
    m_fake.listError = EIO;
    std::vector<std::string> names{"kept"};
    std::string name = "preset";
    {
        CConsoleRedirect console;
        EXPECT_FALSE(CNpfPacketHelper::AdapterNameList_Get(names));
        EXPECT_FALSE(CNpfPacketHelper::GB_AdapterName_Get(name));
        EXPECT_EQ(
            "Unable to retrieve the list of the adapters!\n"
            "Unable to retrieve the list of the adapters!\n",
            console.Output());
    }
    EXPECT_EQ(std::vector<std::string>{"kept"}, names);
    EXPECT_EQ("preset", name);
    EXPECT_EQ(1, m_log.Count("failure", 2));
}

TEST_F(NpfPacketHelperTest, DeviceIsQueriedUnderItsDriverName) {
    auto& a = m_fake.Add("enp3s0", Gbit1);
    const unsigned char mac[6] = {0x7b, 0x23, 0xfc, 0x98, 0x10, 0x99};
    std::copy(mac, mac + 6, a.mac);
    char deviceName[] = "rpcap://enp3s0";
    pcap_if_t device{};
    device.name = deviceName;
    std::vector<unsigned char> got;
    ASSERT_TRUE(CNpfPacketHelper::Device_2_MacAddress(&device, got));
    EXPECT_EQ(std::vector<unsigned char>(mac, mac + 6), got);
    EXPECT_EQ(std::vector<std::string>{"enp3s0"}, m_fake.opened);
}

TEST_F(NpfPacketHelperTest, DeviceWithoutRoomForThePrefixIsRefusedUnread) {
    // Only the name's own bytes may be read: a heap copy lets the address sanitizer check that.
    std::unique_ptr<char[]> shortName(new char[4]{'r', 'p', 'c', '\0'});
    pcap_if_t device{};
    device.name = shortName.get();
    std::vector<unsigned char> mac{1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(CNpfPacketHelper::Device_2_MacAddress(&device, mac));
    EXPECT_TRUE(m_fake.opened.empty());
    EXPECT_EQ(1, m_log.Count("failure", 2));
    EXPECT_EQ(2u, m_log.Records().size()) << "the refusal has a record of its own";

    m_log.Clear();
    EXPECT_FALSE(CNpfPacketHelper::Device_2_MacAddress(nullptr, mac));
    EXPECT_EQ(1, m_log.Count("failure", 2));
}

TEST_F(NpfPacketHelperTest, FailedMacQueryEmptiesTheVectorAndIsLogged) {
    m_fake.Add("eth0", Gbit1).addressError = EOPNOTSUPP;
    std::vector<unsigned char> mac{1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(CNpfPacketHelper::AdapterName_2_MacAddress("eth0", mac));
    EXPECT_TRUE(mac.empty());
    EXPECT_EQ(1, m_log.Count("error retrieving the MAC address of the adapter!", 2));

    char deviceName[] = "rpcap://eth0";
    pcap_if_t device{};
    device.name = deviceName;
    m_log.Clear();
    EXPECT_FALSE(CNpfPacketHelper::Device_2_MacAddress(&device, mac));
    EXPECT_EQ(
        (std::vector<std::string>{"error retrieving the MAC address of the adapter!", "failure"}),
        m_log.Messages())
        << "innermost first";
}

TEST_F(NpfPacketHelperTest, OpenFailureOfAQueryIsLoggedWithTheCodeAfter0x) {
    m_fake.Add("gone", Gbit1).openError = 2;
    m_fake.Add("locked", Gbit1).openError = 0x7f3a;
    std::vector<unsigned char> mac{1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(CNpfPacketHelper::AdapterName_2_MacAddress("gone", mac));
    EXPECT_TRUE(mac.empty());
    EXPECT_FALSE(CNpfPacketHelper::AdapterName_2_MacAddress("locked", mac));
    std::uint64_t speed = 42;
    EXPECT_FALSE(CNpfPacketHelper::AdapterName_2_LinkSpeed("gone", speed));
    EXPECT_FALSE(CNpfPacketHelper::AdapterName_2_LinkSpeed("locked", speed));
    EXPECT_EQ(42u, speed);
    EXPECT_EQ((std::vector<std::string>{"Unable to open the adapter, Error Code : 0x2",
                                        "Unable to open the adapter, Error Code : 0x7f3a",
                                        "Unable to open the adapter, Error Code : 0x2",
                                        "Unable to open the adapter, Error Code : 0x7f3a"}),
              m_log.Messages());
    for (const auto& r : m_log.Records()) EXPECT_EQ(2, r.severity);
}

TEST_F(NpfPacketHelperTest, LinkSpeedIsReadOrLeftAloneSilently) {
    m_fake.Add("ten", Gbit10);
    m_fake.Add("mute", Gbit10).netTypeError = ENODATA;
    std::uint64_t speed = 0;
    ASSERT_TRUE(CNpfPacketHelper::AdapterName_2_LinkSpeed("ten", speed));
    EXPECT_EQ(Gbit10, speed);
    speed = 42;
    EXPECT_FALSE(CNpfPacketHelper::AdapterName_2_LinkSpeed("mute", speed));
    EXPECT_EQ(42u, speed);
    EXPECT_TRUE(m_log.Records().empty());
}

}  // namespace

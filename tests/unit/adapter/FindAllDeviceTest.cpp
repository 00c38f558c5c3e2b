#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sched.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include <ferrolink/adapter/FindAllDevice.h>
#include <ferrolink/adapter/FindAllDevice_Internal.h>
#include "support/FakePacketDriverBackend.h"
#include "support/LogCapture.h"
#include "unit/adapter/ConsoleRedirect.h"

namespace flk = ferrolink::platform;

namespace {

struct SDevice {
    const char* name;
    const char* description;  // null: none
};

// Laid out as the capture layer lays out its lists (every block from malloc), because the
// finder releases the list it holds with that layer's free.
pcap_if_t* MakeList(const std::vector<SDevice>& devices) {
    pcap_if_t* head = nullptr;
    pcap_if_t** tail = &head;
    for (const auto& d : devices) {
        auto* entry = static_cast<pcap_if_t*>(std::calloc(1, sizeof(pcap_if_t)));
        entry->name = ::strdup(d.name);
        entry->description = d.description ? ::strdup(d.description) : nullptr;
        *tail = entry;
        tail = &entry->next;
    }
    return head;
}

// A finder that holds a list made by the test, so no system device is ever listed.
class CSeededFinder : public CFindAllDevice_Internal {
public:
    explicit CSeededFinder(const std::vector<SDevice>& devices) {
        m_deviceList = MakeList(devices);
    }
};

class CSeededFacade : public CFindAllDevice {
public:
    explicit CSeededFacade(const std::vector<SDevice>& devices) {
        delete m_internal;
        m_internal = new CSeededFinder(devices);
    }
};

std::uint32_t LengthAt(const std::vector<unsigned char>& block, std::size_t offset) {
    std::uint32_t length = 0;
    std::memcpy(&length, block.data() + offset, sizeof length);
    return length;
}

// Names of 21 characters, a description of 9 and none.
const std::vector<SDevice> TwoDevices{{"rpcap://eth0123456789", "Intel NIC"},
                                      {"rpcap://eth1123456789", nullptr}};

TEST(FindAllDeviceInfoTest, BlockOfTwoDevicesIs71BytesInTheDocumentedLayout) {
    CLogCapture log;
    CSeededFacade finder(TwoDevices);
    int size = -5;
    ASSERT_EQ(0, finder.GetAdaptorInfo(nullptr, size));
    ASSERT_EQ(71, size);

    std::vector<unsigned char> block(71, 0xEE);
    ASSERT_EQ(0, finder.GetAdaptorInfo(block.data(), size));
    EXPECT_EQ(71, size);
    // 0 name length, 4 name, 26 description length, 30 description,
    // 40 name length, 44 name, 66 description length, 70 description
    EXPECT_EQ(22u, LengthAt(block, 0));
    EXPECT_EQ(std::string("rpcap://eth0123456789", 22),
              std::string(block.begin() + 4, block.begin() + 26));
    EXPECT_EQ(10u, LengthAt(block, 26));
    EXPECT_EQ(std::string("Intel NIC", 10), std::string(block.begin() + 30, block.begin() + 40));
    EXPECT_EQ(22u, LengthAt(block, 40));
    EXPECT_EQ(std::string("rpcap://eth1123456789", 22),
              std::string(block.begin() + 44, block.begin() + 66));
    EXPECT_EQ(1u, LengthAt(block, 66));
    EXPECT_EQ(0, block[70]);
    EXPECT_TRUE(log.Records().empty());
}

TEST(FindAllDeviceInfoTest, BufferOneByteShortIsRefusedUntouchedWithItsSizeKept) {
    CLogCapture log;
    CSeededFinder finder(TwoDevices);
    std::vector<unsigned char> block(71, 0xEE);
    int size = 70;
    EXPECT_EQ(1, finder.GetAdaptorInfo(block.data(), size));
    EXPECT_EQ(70, size);
    EXPECT_EQ(std::vector<unsigned char>(71, 0xEE), block);
    EXPECT_EQ(1, log.Count("failure", 2));
    EXPECT_EQ(finder.FindAllDevice(), finder.FindAllDevice()) << "the list is kept, not re-read";
}

// The listing reads the adapter table; that happens in a network namespace of the test's own,
// so the machine's adapters are never looked at.
template <typename F>
void InPrivateNetwork(F&& body) {
    auto result = std::async(std::launch::async, [&]() -> std::string {
        if (::unshare(CLONE_NEWNET) != 0) return std::strerror(errno);
        body();
        return "";
    });
    const std::string refused = result.get();
    if (!refused.empty())
        GTEST_SKIP() << "needs a network namespace of its own (CAP_SYS_ADMIN): " << refused;
}

class FindAllDeviceConsoleTest : public ::testing::Test {
protected:
    FindAllDeviceConsoleTest() {
        auto& giga = m_fake.Add("eth0", 1000000000ull);
        const unsigned char mac[6] = {0x00, 0x1b, 0x21, 0x0a, 0xbc, 0xde};
        std::memcpy(giga.mac, mac, 6);
        m_fake.Add("wlan0", 54000000ull).addressError = EOPNOTSUPP;
        m_fake.Add("eth1", 0).netTypeError = ENODATA;
    }

    // The console dialogue with `input` typed; the name it chose, or "unchanged".
    bool Choose(const std::string& input, std::string& name, std::string& output) {
        bool chosen = false;
        InPrivateNetwork([&] {
            CSeededFinder finder(m_devices);
            CConsoleRedirect console(input);
            chosen = finder.GetSelectedDeviceName(name);
            output = console.Output();
        });
        return chosen;
    }

    flk::CFakePacketDriverBackend m_fake;
    flk::CPacketDriverBackendScope m_scope{m_fake};
    const std::vector<SDevice> m_devices{
        {"rpcap://eth0", "Intel I210"}, {"rpcap://wlan0", nullptr}, {"rpcap://eth1", "Realtek"}};
};

TEST_F(FindAllDeviceConsoleTest, ListsEveryDeviceThenChoosesTheLastIndex) {
    std::string name = "unchanged";
    std::string output;
    const bool chosen = Choose("2\n", name, output);
    if (IsSkipped()) return;
    EXPECT_TRUE(chosen);
    EXPECT_EQ("rpcap://eth1", name);
    EXPECT_EQ(
        "Index = 0.\n"
        "Name = rpcap://eth0\n"
        "Description = Intel I210\n"
        "LinkSpeed = 1000000000, 1.000000 GigaBytes\n"
        "Mac = 00-1B-21-0A-BC-DE\n"
        "Connected = Off\n"
        "\n"
        // the MAC query fails: no Mac line, the speed as reported
        "Index = 1.\n"
        "Name = rpcap://wlan0\n"
        " (No description available)\n"
        "LinkSpeed = 54000000, 0.054000 GigaBytes\n"
        "Connected = Off\n"
        "\n"
        // the speed query fails: printed as 0
        "Index = 2.\n"
        "Name = rpcap://eth1\n"
        "Description = Realtek\n"
        "LinkSpeed = 0, 0.000000 GigaBytes\n"
        "Mac = 02-00-00-00-00-01\n"
        "Connected = Off\n"
        "\n"
        "Enter the index value of which you want to choose device:",
        output);
}

TEST_F(FindAllDeviceConsoleTest, IndexPastTheListOrNegativeOrMissingChoosesNothing) {
    for (const char* input : {"3\n", "-1\n", ""}) {
        std::string name = "unchanged";
        std::string output;
        const bool chosen = Choose(input, name, output);
        if (IsSkipped()) return;
        EXPECT_FALSE(chosen) << '"' << input << '"';
        EXPECT_EQ("unchanged", name) << '"' << input << '"';
    }
    std::string name;
    std::string output;
    EXPECT_TRUE(Choose(" 0 \n", name, output));
    EXPECT_EQ("rpcap://eth0", name);
}

TEST_F(FindAllDeviceConsoleTest, DeviceNameTooShortForItsPrefixIsListedWithoutQueries) {
    m_fake.opened.clear();
    std::string output;
    InPrivateNetwork([&] {
        CLogCapture log;
        CSeededFinder finder({{"eth0", nullptr}});
        CConsoleRedirect console("0\n");
        std::string name;
        EXPECT_TRUE(finder.GetSelectedDeviceName(name));
        EXPECT_EQ("eth0", name);
        output = console.Output();
        EXPECT_FALSE(log.Records().empty());
    });
    if (IsSkipped()) return;
    EXPECT_NE(std::string::npos, output.find("LinkSpeed = 0, 0.000000 GigaBytes\n"));
    EXPECT_EQ(std::string::npos, output.find("Mac = "));
    EXPECT_TRUE(m_fake.opened.empty());
}

}  // namespace

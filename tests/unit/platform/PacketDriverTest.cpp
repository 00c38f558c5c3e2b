#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/FakePacketDriverBackend.h"
#include <ferrolink/platform/PacketDriver.h>

namespace flk = ferrolink::platform;

namespace {

struct SRequest {
    flk::PACKET_OID_DATA* data;
    explicit SRequest(unsigned long room)
        : data(static_cast<flk::PACKET_OID_DATA*>(
              std::calloc(1, sizeof(flk::PACKET_OID_DATA) + room))) {
        data->Oid = flk::OID_802_3_CURRENT_ADDRESS;
        data->Length = room;
    }
    ~SRequest() { std::free(data); }
};

class PacketDriverTest : public ::testing::Test {
protected:
    flk::CFakePacketDriverBackend m_fake;
    flk::CPacketDriverBackendScope m_scope{m_fake};
};

TEST_F(PacketDriverTest, NameBlockIsNegotiatedThenFilledNamesFirstThenDescriptions) {
    m_fake.Add("eth0", 1000000000ull).description = "Intel";
    m_fake.Add("veth1", 10000000000ull);  // no description: an empty one
    m_fake.Add("br2", 100000000ull).description = "Bridge";
    const std::string expected("eth0\0veth1\0br2\0\0Intel\0\0Bridge\0\0", 31);

    unsigned long size = 0;
    EXPECT_FALSE(flk::PacketGetAdapterNames(nullptr, &size));
    EXPECT_EQ(expected.size(), size);
    EXPECT_EQ(static_cast<unsigned long>(ERANGE), flk::GetLastError());

    std::vector<char> buffer(expected.size() + 4, 'x');
    unsigned long small = expected.size() - 1;
    EXPECT_FALSE(flk::PacketGetAdapterNames(buffer.data(), &small));
    EXPECT_EQ(expected.size(), small);
    EXPECT_EQ(std::string(buffer.size(), 'x'), std::string(buffer.begin(), buffer.end()))
        << "a refused buffer is not written";

    unsigned long room = buffer.size();
    ASSERT_TRUE(flk::PacketGetAdapterNames(buffer.data(), &room));
    EXPECT_EQ(expected.size(), room);
    EXPECT_EQ(expected, std::string(buffer.data(), expected.size()));
    EXPECT_EQ("xxxx", std::string(buffer.data() + expected.size(), 4));
}

TEST_F(PacketDriverTest, NameBlockOfNoAdaptersAndAFailedListing) {
    char buffer[8];
    unsigned long size = sizeof buffer;
    ASSERT_TRUE(flk::PacketGetAdapterNames(buffer, &size));
    EXPECT_EQ(std::string(2, '\0'), std::string(buffer, size));

    m_fake.listError = EIO;
    EXPECT_FALSE(flk::PacketGetAdapterNames(buffer, &size));
    EXPECT_EQ(static_cast<unsigned long>(EIO), flk::GetLastError());
    EXPECT_FALSE(flk::PacketGetAdapterNames(buffer, nullptr));
}

TEST_F(PacketDriverTest, OpenFailuresLeaveTheirReasonInTheLastError) {
    m_fake.Add("locked0", 1000000000ull).openError = EACCES;
    EXPECT_EQ(nullptr, flk::PacketOpenAdapter("absent0"));
    EXPECT_EQ(static_cast<unsigned long>(ENODEV), flk::GetLastError());
    EXPECT_EQ(nullptr, flk::PacketOpenAdapter("locked0"));
    EXPECT_EQ(static_cast<unsigned long>(EACCES), flk::GetLastError());
    EXPECT_EQ(nullptr, flk::PacketOpenAdapter(nullptr));
    EXPECT_EQ(static_cast<unsigned long>(EINVAL), flk::GetLastError());
    const std::string tooLong(flk::ADAPTER_NAME_LENGTH, 'n');
    EXPECT_EQ(nullptr, flk::PacketOpenAdapter(tooLong.c_str()));
    EXPECT_EQ((std::vector<std::string>{"absent0", "locked0"}), m_fake.opened);
    EXPECT_TRUE(m_fake.open.empty());
}

TEST_F(PacketDriverTest, CurrentAddressIsTheOnlyRequestServed) {
    auto& a = m_fake.Add("eth0", 1000000000ull);
    const unsigned char mac[6] = {0x00, 0x1b, 0x21, 0xab, 0xcd, 0xef};
    std::memcpy(a.mac, mac, 6);
    flk::ADAPTER* adapter = flk::PacketOpenAdapter("eth0");
    ASSERT_NE(nullptr, adapter);
    EXPECT_STREQ("eth0", adapter->Name);

    SRequest room8(8);
    ASSERT_TRUE(flk::PacketRequest(adapter, false, room8.data));
    EXPECT_EQ(6u, room8.data->Length);
    const unsigned char* bytes = room8.data->Data;
    EXPECT_EQ(0, std::memcmp(mac, bytes, 6));

    SRequest room5(5);
    EXPECT_FALSE(flk::PacketRequest(adapter, false, room5.data));
    EXPECT_EQ(static_cast<unsigned long>(ERANGE), flk::GetLastError());
    SRequest change(6);
    EXPECT_FALSE(flk::PacketRequest(adapter, true, change.data));
    EXPECT_EQ(static_cast<unsigned long>(EOPNOTSUPP), flk::GetLastError());
    SRequest other(6);
    other.data->Oid = 0x01010101;  // permanent address
    EXPECT_FALSE(flk::PacketRequest(adapter, false, other.data));
    EXPECT_EQ(static_cast<unsigned long>(EOPNOTSUPP), flk::GetLastError());

    a.addressError = EADDRNOTAVAIL;
    EXPECT_FALSE(flk::PacketRequest(adapter, false, room8.data));
    EXPECT_EQ(static_cast<unsigned long>(EADDRNOTAVAIL), flk::GetLastError());
    flk::PacketCloseAdapter(adapter);
    EXPECT_TRUE(m_fake.open.empty());
}

TEST_F(PacketDriverTest, NetTypeCarriesTheSpeedOrTheQuerysError) {
    auto& a = m_fake.Add("eth0", 10000000000ull);
    flk::ADAPTER* adapter = flk::PacketOpenAdapter("eth0");
    ASSERT_NE(nullptr, adapter);
    flk::NetType type{};
    ASSERT_TRUE(flk::PacketGetNetType(adapter, &type));
    EXPECT_EQ(10000000000ull, type.LinkSpeed);
    EXPECT_EQ(flk::NdisMedium802_3, type.LinkType);

    a.netTypeError = ENETDOWN;
    type.LinkSpeed = 7;
    EXPECT_FALSE(flk::PacketGetNetType(adapter, &type));
    EXPECT_EQ(static_cast<unsigned long>(ENETDOWN), flk::GetLastError());
    EXPECT_EQ(7u, type.LinkSpeed) << "a failed query leaves the record alone";
    flk::PacketCloseAdapter(adapter);
    EXPECT_FALSE(flk::PacketGetNetType(nullptr, &type));
}

TEST_F(PacketDriverTest, AnAdapterIsClosedByTheBackendThatOpenedIt) {
    m_fake.Add("eth0", 1000000000ull);
    flk::ADAPTER* adapter = flk::PacketOpenAdapter("eth0");
    ASSERT_NE(nullptr, adapter);
    {
        flk::CFakePacketDriverBackend other;
        flk::CPacketDriverBackendScope scope(other);
        flk::PacketCloseAdapter(adapter);
    }
    EXPECT_TRUE(m_fake.open.empty());
}

TEST(PacketDriverLinuxTest, UnknownInterfaceIsNoSuchDevice) {
    // The Linux backend is back once no fake is installed.
    EXPECT_EQ(nullptr, flk::PacketOpenAdapter("flkabsent9"));
    EXPECT_EQ(static_cast<unsigned long>(ENODEV), flk::GetLastError());
}

TEST(PacketDriverLinuxTest, SpeedsInMbpsBecomeBitsPerSecondUnknownOnesFail) {
    std::uint64_t bps = 5;
    EXPECT_FALSE(flk::LinkSpeed_FromMbps(0, bps));
    EXPECT_FALSE(flk::LinkSpeed_FromMbps(0xFFFFFFFFu, bps));  // SPEED_UNKNOWN, -1
    EXPECT_EQ(5u, bps);
    ASSERT_TRUE(flk::LinkSpeed_FromMbps(100, bps));
    EXPECT_EQ(100000000ull, bps);
    ASSERT_TRUE(flk::LinkSpeed_FromMbps(10000, bps));
    EXPECT_EQ(10000000000ull, bps);
    ASSERT_TRUE(flk::LinkSpeed_FromMbps(400000, bps));  // past 32 bits in bit/s
    EXPECT_EQ(400000000000ull, bps);
}

}  // namespace

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <ferrolink/platform/PacketDriver.h>
#include "support/FakePacketDriverBackend.h"

namespace flk = ferrolink::platform;

namespace {

// A request with `room` data bytes, laid out as the driver's callers allocate it.
struct SRequest {
    explicit SRequest(unsigned long room, unsigned long oid = flk::OID_802_3_CURRENT_ADDRESS)
        : data(static_cast<flk::PACKET_OID_DATA*>(
              std::calloc(1, sizeof(flk::PACKET_OID_DATA) + room))) {
        data->Oid = oid;
        data->Length = room;
    }
    ~SRequest() { std::free(data); }
    flk::PACKET_OID_DATA* data;
};

class PacketDriverTest : public ::testing::Test {
protected:
    flk::CFakePacketDriverBackend m_fake;
    flk::CPacketDriverBackendScope m_scope{m_fake};
};

TEST_F(PacketDriverTest, NameBlockIsNegotiatedThenFilledNamesFirstThenDescriptions) {
    char empty[8];
    unsigned long size = sizeof empty;
    ASSERT_TRUE(flk::PacketGetAdapterNames(empty, &size));
    EXPECT_EQ(std::string(2, '\0'), std::string(empty, size)) << "no adapters";

    m_fake.Add("eth0", 1).description = "Intel";
    m_fake.Add("veth1", 1);  // no description: an empty one
    m_fake.Add("br2", 1).description = "Bridge";
    const std::string expected("eth0\0veth1\0br2\0\0Intel\0\0Bridge\0\0", 31);
    size = 0;
    EXPECT_FALSE(flk::PacketGetAdapterNames(nullptr, &size));
    EXPECT_EQ(expected.size(), size);
    EXPECT_EQ(static_cast<unsigned long>(ERANGE), flk::GetLastError());
    std::vector<char> buffer(expected.size() + 4, 'x');
    size = expected.size() - 1;
    EXPECT_FALSE(flk::PacketGetAdapterNames(buffer.data(), &size));
    EXPECT_EQ(expected.size(), size);
    EXPECT_EQ(std::string(buffer.size(), 'x'), std::string(buffer.begin(), buffer.end()))
        << "a refused buffer is not written";
    size = buffer.size();
    ASSERT_TRUE(flk::PacketGetAdapterNames(buffer.data(), &size));
    EXPECT_EQ(expected.size(), size);
    EXPECT_EQ(expected + "xxxx", std::string(buffer.begin(), buffer.end()));

    m_fake.listError = EIO;
    EXPECT_FALSE(flk::PacketGetAdapterNames(buffer.data(), &size));
    EXPECT_EQ(static_cast<unsigned long>(EIO), flk::GetLastError());
    EXPECT_FALSE(flk::PacketGetAdapterNames(buffer.data(), nullptr));
}

TEST_F(PacketDriverTest, OpenFailuresLeaveTheirReasonInTheLastError) {
    m_fake.Add("locked0", 1).openError = EACCES;
    const std::string tooLong(flk::ADAPTER_NAME_LENGTH, 'n');
    const std::pair<const char*, int> cases[] = {
        {"absent0", ENODEV}, {"locked0", EACCES}, {nullptr, EINVAL}, {tooLong.c_str(), ENODEV}};
    for (const auto& [name, error] : cases) {
        EXPECT_EQ(nullptr, flk::PacketOpenAdapter(name));
        EXPECT_EQ(static_cast<unsigned long>(error), flk::GetLastError()) << (name ? name : "null");
    }
    EXPECT_EQ((std::vector<std::string>{"absent0", "locked0"}), m_fake.opened)
        << "no name the driver cannot hold reaches it";
    EXPECT_TRUE(m_fake.open.empty());
}

TEST_F(PacketDriverTest, OnlyTheCurrentAddressAndTheNetTypeAreServed) {
    const unsigned char mac[6] = {0x00, 0x1b, 0x21, 0xab, 0xcd, 0xef};
    std::memcpy(m_fake.Add("eth0", 10000000000ull).mac, mac, 6);
    flk::ADAPTER* adapter = flk::PacketOpenAdapter("eth0");
    ASSERT_NE(nullptr, adapter);
    EXPECT_STREQ("eth0", adapter->Name);

    SRequest room8(8);
    ASSERT_TRUE(flk::PacketRequest(adapter, false, room8.data));
    EXPECT_EQ(6u, room8.data->Length);
    EXPECT_EQ(0, std::memcmp(mac, room8.data->Data, 6));
    flk::NetType type{};
    ASSERT_TRUE(flk::PacketGetNetType(adapter, &type));
    EXPECT_EQ(10000000000ull, type.LinkSpeed);
    EXPECT_EQ(flk::NdisMedium802_3, type.LinkType);

    const struct {
        SRequest request;
        bool set;
        int error;
    } refused[] = {{SRequest(5), false, ERANGE},
                   {SRequest(6), true, EOPNOTSUPP},
                   {SRequest(6, 0x01010101), false, EOPNOTSUPP}};  // the permanent address
    for (const auto& r : refused) {
        EXPECT_FALSE(flk::PacketRequest(adapter, r.set, r.request.data));
        EXPECT_EQ(static_cast<unsigned long>(r.error), flk::GetLastError());
    }
    m_fake.adapters[0].addressError = EADDRNOTAVAIL;
    m_fake.adapters[0].netTypeError = ENETDOWN;
    EXPECT_FALSE(flk::PacketRequest(adapter, false, room8.data));
    EXPECT_EQ(static_cast<unsigned long>(EADDRNOTAVAIL), flk::GetLastError());
    type.LinkSpeed = 7;
    EXPECT_FALSE(flk::PacketGetNetType(adapter, &type));
    EXPECT_EQ(static_cast<unsigned long>(ENETDOWN), flk::GetLastError());
    EXPECT_EQ(7u, type.LinkSpeed) << "a failed query leaves the record alone";
    EXPECT_FALSE(flk::PacketGetNetType(nullptr, &type));

    {  // closed by the backend that opened it, whichever is installed now
        flk::CFakePacketDriverBackend other;
        flk::CPacketDriverBackendScope scope(other);
        flk::PacketCloseAdapter(adapter);
    }
    EXPECT_TRUE(m_fake.open.empty());
}

TEST(PacketDriverLinuxTest, UnknownInterfaceIsNoSuchDeviceAndSpeedsBecomeBitsPerSecond) {
    // The Linux backend is back once no fake is installed.
    EXPECT_EQ(nullptr, flk::PacketOpenAdapter("flkabsent9"));
    EXPECT_EQ(static_cast<unsigned long>(ENODEV), flk::GetLastError());

    std::uint64_t bps = 5;
    EXPECT_FALSE(flk::LinkSpeed_FromMbps(0, bps));
    EXPECT_FALSE(flk::LinkSpeed_FromMbps(0xFFFFFFFFu, bps));  // SPEED_UNKNOWN, -1
    EXPECT_EQ(5u, bps);
    ASSERT_TRUE(flk::LinkSpeed_FromMbps(400000, bps));  // past 32 bits in bit/s
    EXPECT_EQ(400000000000ull, bps);
}

}  // namespace

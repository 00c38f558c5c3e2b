// The platform layer without a link: the packet driver above a fake backend, and the WinPcap
// extensions on Linux (source strings, opening, listing, the per-handle state) with dead handles.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <ferrolink/platform/PacketDriver.h>
#include <ferrolink/platform/PcapExtensions.h>
#include <ferrolink/platform/PcapTimedRead.h>
#include <ferrolink/platform/linux/PcapHandleRegistry.h>
#include "support/FakePacketDriverBackend.h"

namespace flk = ferrolink::platform;

namespace {

using Request = std::unique_ptr<flk::PACKET_OID_DATA, void (*)(void*)>;
// A request with `room` data bytes, laid out as the driver's callers allocate it.
Request MakeRequest(unsigned long room, unsigned long oid = flk::OID_802_3_CURRENT_ADDRESS) {
    Request r(static_cast<flk::PACKET_OID_DATA*>(std::calloc(1, sizeof(*r) + room)), std::free);
    r->Oid = oid;
    r->Length = room;
    return r;
}

class PacketDriverTest : public ::testing::Test {
protected:
    flk::CFakePacketDriverBackend m_fake;
    flk::CPacketDriverBackendScope m_scope{m_fake};
};

TEST_F(PacketDriverTest, NameBlockIsNegotiatedThenFilledNamesFirstThenDescriptions) {
    char empty[2];
    unsigned long size = sizeof empty;
    ASSERT_TRUE(flk::PacketGetAdapterNames(empty, &size)) << "no adapters: an empty block";
    EXPECT_EQ(std::string(2, '\0'), std::string(empty, size));

    m_fake.Add("eth0", 1).description = "Intel";
    m_fake.Add("veth1", 1);  // no description: an empty one
    m_fake.Add("br2", 1).description = "Bridge";
    const std::string expected("eth0\0veth1\0br2\0\0Intel\0\0Bridge\0\0", 31);
    EXPECT_FALSE(flk::PacketGetAdapterNames(nullptr, nullptr));
    size = 0;
    EXPECT_FALSE(flk::PacketGetAdapterNames(nullptr, &size));
    EXPECT_EQ(expected.size(), size);
    EXPECT_EQ(static_cast<unsigned long>(ERANGE), flk::GetLastError());
    std::vector<char> buffer(expected.size() + 4, 'x');
    size = expected.size() - 1;
    EXPECT_FALSE(flk::PacketGetAdapterNames(buffer.data(), &size));
    EXPECT_EQ(std::string(buffer.size(), 'x'), std::string(buffer.begin(), buffer.end()))
        << "a refused buffer is not written";
    size = buffer.size();
    ASSERT_TRUE(flk::PacketGetAdapterNames(buffer.data(), &size));
    EXPECT_EQ(expected.size(), size);
    EXPECT_EQ(expected + "xxxx", std::string(buffer.begin(), buffer.end()));
}

TEST_F(PacketDriverTest, FailuresLeaveTheirReasonAndOnlyTheAddressAndNetTypeAreServed) {
    m_fake.Add("locked0", 1).openError = EACCES;
    const std::string tooLong(flk::ADAPTER_NAME_LENGTH, 'n');
    const std::pair<const char*, int> cases[] = {
        {"locked0", EACCES}, {nullptr, EINVAL}, {tooLong.c_str(), ENODEV}};
    for (const auto& [name, error] : cases) {
        EXPECT_EQ(nullptr, flk::PacketOpenAdapter(name));
        EXPECT_EQ(static_cast<unsigned long>(error), flk::GetLastError()) << (name ? name : "null");
    }
    EXPECT_EQ(std::vector<std::string>{"locked0"}, m_fake.opened)
        << "no name the driver cannot hold reaches it";

    const unsigned char mac[6] = {0x00, 0x1b, 0x21, 0xab, 0xcd, 0xef};
    std::memcpy(m_fake.Add("eth0", 10000000000ull).mac, mac, 6);
    flk::ADAPTER* adapter = flk::PacketOpenAdapter("eth0");
    ASSERT_NE(nullptr, adapter);

    const Request room8 = MakeRequest(8);
    ASSERT_TRUE(flk::PacketRequest(adapter, false, room8.get()));
    EXPECT_EQ(6u, room8->Length);
    EXPECT_EQ(0, std::memcmp(mac, room8->Data, 6));

    m_fake.adapters[1].addressError = EADDRNOTAVAIL;
    m_fake.adapters[1].netTypeError = ENODEV;  // the interface went away
    const struct {
        Request request;
        bool set;
        int error;
    } refused[] = {{MakeRequest(5), false, ERANGE},
                   {MakeRequest(6), true, EOPNOTSUPP},
                   {MakeRequest(6, 0x01010101), false, EOPNOTSUPP},  // the permanent address
                   {MakeRequest(6), false, EADDRNOTAVAIL}};          // the backend's own answer
    for (const auto& r : refused) {
        EXPECT_FALSE(flk::PacketRequest(adapter, r.set, r.request.get()));
        EXPECT_EQ(static_cast<unsigned long>(r.error), flk::GetLastError());
    }
    flk::NetType type{};
    type.LinkSpeed = 7;
    EXPECT_FALSE(flk::PacketGetNetType(adapter, &type));
    EXPECT_EQ(static_cast<unsigned long>(ENODEV), flk::GetLastError());
    EXPECT_EQ(7u, type.LinkSpeed) << "a failed query leaves the record alone";
    EXPECT_FALSE(flk::PacketGetNetType(nullptr, &type));

    {  // closed by the backend that opened it, whichever is installed now
        flk::CFakePacketDriverBackend other;
        flk::CPacketDriverBackendScope scope(other);
        flk::PacketCloseAdapter(adapter);
    }
    EXPECT_TRUE(m_fake.open.empty());
}

TEST(PcapSourceTest, LocalFormsUpToTheLongestNameThatFitsOnlyTheyOpenOrList) {
    char source[flk::PCAP_BUF_SIZE];
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    ASSERT_EQ(
        0, flk::pcap_createsrcstr(source, flk::PCAP_SRC_IFLOCAL, "host", "2002", "eth1", errbuf));
    EXPECT_STREQ("rpcap://eth1", source);
    // "file://" takes 7 characters and the terminating zero one.
    const std::string fits(flk::PCAP_BUF_SIZE - 8, 'f');
    ASSERT_EQ(0, flk::pcap_createsrcstr(source, flk::PCAP_SRC_FILE, nullptr, nullptr, fits.c_str(),
                                        errbuf));
    EXPECT_EQ("file://" + fits, std::string(source));
    // One more no longer fits, nor does the same name after the longer "rpcap://"; remote (4) and
    // nameless sources are refused too. Each with a reason, and the buffer left alone.
    const std::string tooLong = fits + "x";
    const std::pair<int, const char*> refused[] = {{flk::PCAP_SRC_FILE, tooLong.c_str()},
                                                   {flk::PCAP_SRC_IFLOCAL, fits.c_str()},
                                                   {4, "eth0"},
                                                   {flk::PCAP_SRC_FILE, nullptr}};
    for (const auto& [type, name] : refused) {
        std::snprintf(source, sizeof source, "untouched");
        errbuf[0] = '\0';
        EXPECT_EQ(-1, flk::pcap_createsrcstr(source, type, "host", "2002", name, errbuf)) << type;
        EXPECT_STREQ("untouched", source) << type;
        EXPECT_STRNE("", errbuf) << type;
    }
    // Only local sources open, and only the local device source is listed.
    for (const char* from : {"file:///nonexistent/flk.pcap", "file://", "rpcap://",
                             "rpcap://host:2002/eth0", "udp://eth0"}) {
        errbuf[0] = '\0';
        EXPECT_EQ(nullptr, flk::pcap_open(from, 65536, 1, 10, nullptr, errbuf)) << from;
        EXPECT_STRNE("", errbuf) << from;
    }
    for (const char* from : {"file:///tmp", "rpcap://host/"}) {
        pcap_if_t* list = reinterpret_cast<pcap_if_t*>(&list);  // must be overwritten
        errbuf[0] = '\0';
        EXPECT_EQ(-1, flk::pcap_findalldevs_ex(from, nullptr, &list, errbuf)) << from;
        EXPECT_EQ(nullptr, list) << from;
        EXPECT_STRNE("", errbuf) << from;
    }
}

TEST(PcapHandleRegistryTest, RegisteredTimeOutUntilForgottenAndNoStaleStateAfterwards) {
    // The registry only keys on the address, so any address stands in for a handle.
    int slot = 0;
    pcap_t* const a = reinterpret_cast<pcap_t*>(&slot);
    using Registry = flk::CPcapHandleRegistry;
    Registry::Register(a, 1000);
    EXPECT_EQ(1000, Registry::Obtain(a)->m_readTimeoutMs);
    Registry::Obtain(a)->m_breakRequested = true;
    Registry::Forget(a);
    // A handle opened later at the same address inherits neither time-out nor break request.
    EXPECT_EQ(Registry::DefaultReadTimeoutMs, Registry::Obtain(a)->m_readTimeoutMs);
    EXPECT_FALSE(Registry::Obtain(a)->m_breakRequested);
    Registry::Obtain(a)->m_breakRequested = true;
    Registry::Register(a, 10);
    EXPECT_FALSE(Registry::Obtain(a)->m_breakRequested);
    Registry::Forget(a);
}

TEST(PcapTimedReadTest, DeadHandleIsLibpcapsToRefuseNotAWaitOnStandardInput) {
    // A dead handle reports descriptor 0; with a quiet standard input a wait on it would look
    // like a read time-out (0) instead of libpcap's refusal.
    int quiet[2];
    ASSERT_EQ(0, ::pipe(quiet));
    const int keptInput = ::dup(0);
    ASSERT_EQ(0, ::dup2(quiet[0], 0));
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int next = flk::pcap_next_ex(dead, &header, &data);
    const int dispatched = flk::pcap_dispatch(
        dead, 1, [](u_char*, const pcap_pkthdr*, const u_char*) {}, nullptr);
    ::dup2(keptInput, 0);
    for (int fd : {keptInput, quiet[0], quiet[1]}) ::close(fd);
    EXPECT_EQ(PCAP_ERROR, next);
    EXPECT_EQ(PCAP_ERROR, dispatched);
    flk::pcap_close(dead);
}

}  // namespace

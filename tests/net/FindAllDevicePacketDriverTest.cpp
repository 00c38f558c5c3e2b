// The packet driver on real interfaces inside a namespace of the test's own: its names are the
// device list's, the MAC address is the one ip set, the link speed is the one sysfs shows there,
// and an adapter keeps answering for its namespace whichever thread asks.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <ferrolink/adapter/NpfPacketHelper.h>
#include <ferrolink/platform/PacketDriver.h>
#include <ferrolink/platform/PcapExtensions.h>
#include "VethRig.h"

namespace flk = ferrolink::platform;
using ESide = CVethRig::ESide;

namespace {

const unsigned char KnownMac[6] = {0x02, 0x46, 0x8a, 0xce, 0x13, 0x57};

// Called inside the namespace.
std::vector<std::string> DeviceListNamesWithoutPrefix() {
    std::vector<std::string> names;
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_if_t* list = nullptr;
    if (flk::pcap_findalldevs_ex("rpcap://", nullptr, &list, errbuf) != 0) {
        ADD_FAILURE() << errbuf;
        return names;
    }
    for (pcap_if_t* d = list; d; d = d->next) names.push_back(std::string(d->name).substr(8));
    flk::pcap_freealldevs(list);
    return names;
}

std::vector<std::string> PacketDriverNames() {
    unsigned long size = 0;
    EXPECT_FALSE(flk::PacketGetAdapterNames(nullptr, &size));
    std::vector<char> buffer(size);
    if (!flk::PacketGetAdapterNames(buffer.data(), &size)) {
        ADD_FAILURE() << "error " << flk::GetLastError();
        return {};
    }
    std::vector<std::string> names;
    for (std::size_t at = 0; at < size && buffer[at] != '\0'; at += names.back().size() + 1)
        names.emplace_back(buffer.data() + at);
    return names;
}

// /sys/class/net/IF/speed as `ip netns exec` shows it: with sysfs mounted for that namespace.
bool SysfsSpeed(const std::string& ns, const std::string& interface, long& mbps) {
    std::string text;
    if (!CVethRig::RunIp({"netns", "exec", ns, "cat", "/sys/class/net/" + interface + "/speed"},
                         &text))
        return false;
    mbps = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

using PacketDriverNetTest = VethRigTest;

TEST_F(PacketDriverNetTest, AdapterNamesAreTheDeviceListsInItsOrder) {
    const std::string& ns = m_rig->Namespace(ESide::A);
    // Two more Ethernet devices beside the rig's, so that the order has something to show.
    ASSERT_TRUE(CVethRig::RunIp(
        {"-n", ns, "link", "add", "flkc0", "type", "veth", "peer", "name", "flkd0"}));
    m_rig->RunIn(ESide::A, [&] {
        const std::vector<std::string> listed = DeviceListNamesWithoutPrefix();
        ASSERT_EQ(3u, listed.size());
        EXPECT_EQ(listed, PacketDriverNames());
        std::vector<std::string> helper;
        ASSERT_TRUE(CNpfPacketHelper::AdapterNameList_Get(helper));
        EXPECT_EQ(listed, helper);
    });
}

TEST_F(PacketDriverNetTest, MacAddressIsTheOneIpSetAndOnlyTheNamespacesAdaptersOpen) {
    const std::string& ifA = m_rig->Interface(ESide::A);
    ASSERT_TRUE(CVethRig::RunIp({"-n", m_rig->Namespace(ESide::A), "link", "set", "dev", ifA,
                                 "address", "02:46:8a:ce:13:57"}));
    const std::vector<unsigned char> expected(KnownMac, KnownMac + 6);
    flk::ADAPTER* adapter = m_rig->RunIn(ESide::A, [&] {
        std::vector<unsigned char> mac;
        EXPECT_TRUE(CNpfPacketHelper::AdapterName_2_MacAddress(ifA, mac));
        EXPECT_EQ(expected, mac);

        EXPECT_EQ(nullptr, flk::PacketOpenAdapter(m_rig->Interface(ESide::B).c_str()));
        EXPECT_EQ(static_cast<unsigned long>(ENODEV), flk::GetLastError());
        return flk::PacketOpenAdapter(ifA.c_str());
    });
    ASSERT_NE(nullptr, adapter);
    // Asked from this thread, outside the namespace: the adapter still answers for its own.
    std::vector<unsigned char> room(sizeof(flk::PACKET_OID_DATA) + 6);
    auto* request = reinterpret_cast<flk::PACKET_OID_DATA*>(room.data());
    request->Oid = flk::OID_802_3_CURRENT_ADDRESS;
    request->Length = 6;
    EXPECT_TRUE(flk::PacketRequest(adapter, false, request));
    const unsigned char* bytes = request->Data;
    EXPECT_EQ(expected, std::vector<unsigned char>(bytes, bytes + 6));
    flk::PacketCloseAdapter(adapter);
}

TEST_F(PacketDriverNetTest, LinkSpeedIsWhatSysfsShowsInTheNamespaceAndFailsWhenDown) {
    const std::string& ns = m_rig->Namespace(ESide::A);
    const std::string& ifA = m_rig->Interface(ESide::A);
    long mbps = 0;
    ASSERT_TRUE(SysfsSpeed(ns, ifA, mbps));
    EXPECT_EQ(10000, mbps) << "veth reports 10 Gbit/s";
    m_rig->RunIn(ESide::A, [&] {
        std::uint64_t speed = 0;
        ASSERT_TRUE(CNpfPacketHelper::AdapterName_2_LinkSpeed(ifA, speed));
        EXPECT_EQ(static_cast<std::uint64_t>(mbps) * 1000000u, speed);
        std::string gigabit;
        EXPECT_TRUE(CNpfPacketHelper::GB_AdapterName_Get(gigabit));
        EXPECT_EQ(ifA, gigabit);
    });

    ASSERT_TRUE(CVethRig::RunIp({"-n", ns, "link", "set", "dev", ifA, "down"}));
    EXPECT_FALSE(SysfsSpeed(ns, ifA, mbps)) << "sysfs has no speed for a device that is down";
    m_rig->RunIn(ESide::A, [&] {
        std::uint64_t speed = 42;
        EXPECT_FALSE(CNpfPacketHelper::AdapterName_2_LinkSpeed(ifA, speed));
        EXPECT_EQ(42u, speed);
        std::string gigabit;
        EXPECT_FALSE(CNpfPacketHelper::GB_AdapterName_Get(gigabit));
    });
}

}  // namespace

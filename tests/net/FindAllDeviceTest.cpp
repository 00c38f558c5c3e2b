// The device finder inside a namespace of the test's own: the list it keeps, the info block made
// from it, the console listing of a connected veth, and a namespace without Ethernet devices.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <ferrolink/adapter/FindAllDevice.h>
#include <ferrolink/adapter/FindAllDevice_Internal.h>
#include "VethRig.h"
#include "support/LogCapture.h"
#include "unit/adapter/ConsoleRedirect.h"

using ESide = CVethRig::ESide;

namespace {

std::vector<std::string> NamesOf(const pcap_if* list) {
    std::vector<std::string> names;
    for (; list; list = list->next) names.emplace_back(list->name);
    return names;
}

// The info block read back as (name, description) pairs.
std::vector<std::pair<std::string, std::string>> ParseBlock(const std::vector<unsigned char>& b) {
    std::vector<std::pair<std::string, std::string>> records;
    std::size_t at = 0;
    auto field = [&](std::string& text) {
        std::uint32_t length = 0;
        if (at + sizeof length > b.size()) return false;
        std::memcpy(&length, b.data() + at, sizeof length);
        at += sizeof length;
        if (length == 0 || at + length > b.size() || b[at + length - 1] != 0) return false;
        text.assign(reinterpret_cast<const char*>(b.data() + at), length - 1);
        at += length;
        return true;
    };
    while (at < b.size()) {
        std::pair<std::string, std::string> r;
        if (!field(r.first) || !field(r.second)) {
            ADD_FAILURE() << "block broken at offset " << at;
            break;
        }
        records.push_back(r);
    }
    return records;
}

using FindAllDeviceNetTest = VethRigTest;

TEST_F(FindAllDeviceNetTest, FacadeDescribesTheNamespacesDevicesInListOrder) {
    ASSERT_TRUE(CVethRig::RunIp({"-n", m_rig->Namespace(ESide::A), "link", "add", "flkc0", "type",
                                 "veth", "peer", "name", "flkd0"}));
    m_rig->RunIn(ESide::A, [&] {
        CFindAllDevice finder;
        const auto* list = static_cast<const pcap_if*>(finder.FindAllDevice());
        ASSERT_NE(nullptr, list);
        const std::vector<std::string> names = NamesOf(list);
        EXPECT_EQ(3u, names.size());
        for (const auto& n : names) EXPECT_EQ(0u, n.rfind("rpcap://", 0)) << n;

        int size = 0;
        ASSERT_EQ(0, finder.GetAdaptorInfo(nullptr, size));
        std::vector<unsigned char> block(size);
        ASSERT_EQ(0, finder.GetAdaptorInfo(block.data(), size));
        ASSERT_EQ(block.size(), static_cast<std::size_t>(size));
        const auto records = ParseBlock(block);
        ASSERT_EQ(names.size(), records.size());
        std::size_t i = 0;
        for (const pcap_if* d = list; d; d = d->next, ++i) {
            EXPECT_EQ(d->name, records[i].first);
            EXPECT_EQ(d->description ? d->description : "", records[i].second);
        }
    });
}

TEST_F(FindAllDeviceNetTest, ListIsReadOnceAnAdapterAddedLaterOnlyANewFinderSees) {
    const std::string& ns = m_rig->Namespace(ESide::A);
    m_rig->RunIn(ESide::A, [&] {
        CFindAllDevice_Internal finder;
        pcap_if* first = finder.FindAllDevice();
        ASSERT_NE(nullptr, first);
        const std::vector<std::string> before = NamesOf(first);
        ASSERT_TRUE(CVethRig::RunIp(
            {"-n", ns, "link", "add", "flkc0", "type", "veth", "peer", "name", "flkd0"}));
        EXPECT_EQ(first, finder.FindAllDevice());
        EXPECT_EQ(before, NamesOf(finder.FindAllDevice()));
        CFindAllDevice_Internal later;
        EXPECT_EQ(before.size() + 2, NamesOf(later.FindAllDevice()).size());
    });
}

TEST_F(FindAllDeviceNetTest, ConsoleListsAConnectedVethAndTakesItsIndex) {
    const std::string& ifA = m_rig->Interface(ESide::A);
    ASSERT_TRUE(CVethRig::RunIp({"-n", m_rig->Namespace(ESide::A), "link", "set", "dev", ifA,
                                 "address", "02:46:8a:ce:13:57"}));
    m_rig->RunIn(ESide::A, [&] {
        CFindAllDevice finder;
        const auto* list = static_cast<const pcap_if*>(finder.FindAllDevice());
        ASSERT_NE(nullptr, list);
        ASSERT_EQ(nullptr, list->next);
        const std::string description =
            list->description ? std::string("Description = ") + list->description + "\n"
                              : std::string(" (No description available)\n");
        CConsoleRedirect console("0\n");
        std::string name;
        EXPECT_TRUE(finder.GetSelectedDeviceName(name));
        EXPECT_EQ("rpcap://" + ifA, name);
        EXPECT_EQ(
            "Index = 0.\n"
            "Name = rpcap://" +
                ifA + "\n" + description +
                "LinkSpeed = 10000000000, 10.000000 GigaBytes\n"
                "Mac = 02-46-8A-CE-13-57\n"
                "Connected = On\n"
                "\n"
                "Enter the index value of which you want to choose device:",
            console.Output());
    });
}

TEST_F(FindAllDeviceNetTest, NamespaceWithoutEthernetDevicesHasNoList) {
    // Deleting one end removes the pair: namespace A is left with its loopback only.
    ASSERT_TRUE(CVethRig::RunIp(
        {"-n", m_rig->Namespace(ESide::B), "link", "del", m_rig->Interface(ESide::B)}));
    m_rig->RunIn(ESide::A, [&] {
        CLogCapture log;
        CFindAllDevice finder;
        EXPECT_EQ(nullptr, finder.FindAllDevice());
        EXPECT_EQ(1, log.Count("find all device failure.", 2));
        int size = 12345;
        EXPECT_EQ(-1, finder.GetAdaptorInfo(nullptr, size));
        EXPECT_EQ(12345, size);
        CConsoleRedirect console("0\n");
        std::string name = "unchanged";
        EXPECT_FALSE(finder.GetSelectedDeviceName(name));
        EXPECT_EQ("unchanged", name);
        EXPECT_EQ("", console.Output());
    });
}

}  // namespace

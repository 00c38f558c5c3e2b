#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <ferrolink/outside/AdapterInfo.h>
#include <ferrolink/outside/StringUtils.h>

namespace {

TEST(StringUtilsTest, SplitsAtMultiByteSeparatorsAndDropsEmptyPieces) {
    const std::string sep("\0\0", 2);
    const std::string text = std::string("eth0\0veth1", 10) + sep + std::string("Ethernet\0Veth", 13) + sep;
    std::vector<std::string> pieces = {"stale"};
    StringUtils::Split(text, sep, pieces, false, true);
    ASSERT_EQ(2u, pieces.size());
    EXPECT_EQ(std::string("eth0\0veth1", 10), pieces[0]);
    EXPECT_EQ(std::string("Ethernet\0Veth", 13), pieces[1]);

    StringUtils::Split("a,,b,", ",", pieces, true, true);
    EXPECT_EQ((std::vector<std::string>{"a", "", "b", ""}), pieces);
    StringUtils::Split("c", ",", pieces, false, false);
    EXPECT_EQ(5u, pieces.size()) << "appends without clearing";
}

TEST(AdapterInfoTest, ConnectionIsLookedUpByHardwareAddress) {
    std::vector<SAdapterInfo> table(2);
    const unsigned char up[6] = {0x02, 0, 0, 0, 0, 1};
    const unsigned char down[6] = {0x02, 0, 0, 0, 0, 2};
    std::copy(up, up + 6, table[0].address);
    table[0].addressLength = 6;
    table[0].status = 1;
    std::copy(down, down + 6, table[1].address);
    table[1].addressLength = 6;
    table[1].status = 0;
    EXPECT_TRUE(CAdapterInfo::IsAdapterConnected({up, up + 6}, table));
    EXPECT_FALSE(CAdapterInfo::IsAdapterConnected({down, down + 6}, table));
    EXPECT_FALSE(CAdapterInfo::IsAdapterConnected({}, table)) << "failed MAC query";
    EXPECT_FALSE(CAdapterInfo::IsAdapterConnected({0x02, 0, 0, 0, 0, 3}, table));

    std::vector<SAdapterInfo> system;
    ASSERT_TRUE(CAdapterInfo::AllAdpaterInfo_Get(system));
    bool loopback = false;
    for (const auto& a : system) loopback = loopback || a.name == "lo";
    EXPECT_TRUE(loopback) << "every system has a loopback interface";
}

}  // namespace

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include "support/LogCapture.h"

namespace fs = std::filesystem;
using Config = CSerialize_NetworkCommon;

namespace {

// Sets (or, given null, unsets) an environment variable for the life of a scope.
struct SEnv {
    SEnv(const char* variable, const char* value) : name(variable) {
        if (const char* before = std::getenv(name)) old = before;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~SEnv() { old ? ::setenv(name, old->c_str(), 1) : ::unsetenv(name); }
    const char* name;
    std::optional<std::string> old;
};

class ConfigNetworkCommonTest : public ::testing::Test {
protected:
    ConfigNetworkCommonTest() { fs::remove_all(m_dir); }
    ~ConfigNetworkCommonTest() override { fs::remove_all(m_dir); }
    void Write(const std::string& text) {
        fs::create_directories(m_file.parent_path());
        std::ofstream(m_file) << text;
    }
    // Entries beside the file: a temporary left behind shows here.
    long Entries() const {
        return std::distance(fs::directory_iterator(m_file.parent_path()),
                             fs::directory_iterator());
    }
    static bool Logged(const CLogCapture& log, const std::string& part) {
        for (const auto& r : log.Records())
            if (r.severity == 2 && r.message.find(part) != std::string::npos) return true;
        return false;
    }
    void ExpectDefaults() const {
        EXPECT_EQ("", m_config.Previous_PCapDeviceName_Get());
        EXPECT_EQ(SoftwareMacMode_AnyFirstByte, m_config.SoftwareMac_Mode_Get());
        EXPECT_EQ(0x12, Config::Address_Enum_2_Value(m_config.SoftwareMac_Address_Get()));
    }

    const fs::path m_dir =
        fs::path(::testing::TempDir()) / ("flk_config_" + std::to_string(::getpid()));
    const fs::path m_file = m_dir / "sub" / "network.ini";
    SEnv m_env{"FERROLINK_CONFIG", m_file.c_str()};
    Config m_config;
};

TEST_F(ConfigNetworkCommonTest, UnusableFileGivesDefaultsWithARecordAndUnusablePlaceRefusesStores) {
    {
        CLogCapture log;
        ExpectDefaults();
        EXPECT_TRUE(log.Records().empty()) << "a missing file is no failure";
        EXPECT_FALSE(fs::exists(m_file.parent_path())) << "reading makes no file";
    }
    Write("[Network\nPreviousPCapDeviceName=rpcap://eth0\n");  // a section left open
    {
        CLogCapture log;
        ExpectDefaults();
        EXPECT_TRUE(Logged(log, "malformed"));
    }
    fs::remove(m_file);
    fs::create_directories(m_file);  // a directory where the file should be
    {
        CLogCapture log;
        ExpectDefaults();
        EXPECT_TRUE(Logged(log, m_file.string()));
    }
    EXPECT_FALSE(m_config.Previous_PCapDeviceName_Set("rpcap://eth0"));
    EXPECT_EQ(1, Entries());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    std::ofstream(m_dir / "sub") << "a file where the directory should be";
    EXPECT_FALSE(m_config.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
}

TEST_F(ConfigNetworkCommonTest, InvalidValueFallsBackAloneTheOthersStillCount) {
    Write(
        "[Network]\nPreviousPCapDeviceName = "
        "rpcap://enp3s0\n[SoftwareMac]\nMode=two\nAddress=0x100\n");
    CLogCapture log;
    EXPECT_EQ("rpcap://enp3s0", m_config.Previous_PCapDeviceName_Get());
    EXPECT_EQ(SoftwareMacMode_AnyFirstByte, m_config.SoftwareMac_Mode_Get());
    EXPECT_EQ(MacAddress_Default, m_config.SoftwareMac_Address_Get());
    EXPECT_TRUE(Logged(log, "SoftwareMac.Mode"));
    EXPECT_TRUE(Logged(log, "SoftwareMac.Address"));
    Write("[SoftwareMac]\nMode=7\nAddress=154\n");  // an unknown mode is kept: it accepts no board
    EXPECT_EQ(7, static_cast<int>(m_config.SoftwareMac_Mode_Get()));
    EXPECT_EQ(0x9A, Config::Address_Enum_2_Value(m_config.SoftwareMac_Address_Get()));
}

TEST_F(ConfigNetworkCommonTest, StoredValuesReadBackThroughTheFileAlone) {
    Write("garbage without equals sign\n");  // replaced by the first store
    ASSERT_TRUE(m_config.Previous_PCapDeviceName_Set("rpcap://enp3s0"));
    ASSERT_TRUE(m_config.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    ASSERT_TRUE(m_config.SoftwareMac_Address_Set(Config::Address_Value_2_Enum(0x9A)));
    CLogCapture log;
    Config other;  // stands for another process: nothing is shared but the file
    EXPECT_EQ("rpcap://enp3s0", other.Previous_PCapDeviceName_Get());
    EXPECT_EQ(SoftwareMacMode_FixedFirstByte, other.SoftwareMac_Mode_Get());
    EXPECT_EQ(0x9A, Config::Address_Enum_2_Value(other.SoftwareMac_Address_Get()));
    EXPECT_TRUE(log.Records().empty()) << "the malformed file was replaced";
    std::ostringstream text;
    text << std::ifstream(m_file).rdbuf();
    EXPECT_NE(std::string::npos, text.str().find("Address=0x9A"));

    ASSERT_TRUE(other.Previous_PCapDeviceName_Set("rpcap://eth1"));
    EXPECT_EQ("rpcap://eth1", m_config.Previous_PCapDeviceName_Get()) << "no stale cache";
    // The INI form trims values and ends them at a line break: such names would not read back.
    EXPECT_FALSE(m_config.Previous_PCapDeviceName_Set("rpcap://eth0\nMode=2"));
    EXPECT_FALSE(m_config.Previous_PCapDeviceName_Set(" rpcap://eth0"));
    EXPECT_EQ("rpcap://eth1", m_config.Previous_PCapDeviceName_Get());
    ASSERT_TRUE(m_config.Previous_PCapDeviceName_Set(""));
    EXPECT_EQ("", m_config.Previous_PCapDeviceName_Get());
    EXPECT_EQ(1, Entries());
}

TEST_F(ConfigNetworkCommonTest, WritersOfDifferentValuesDoNotUndoEachOther) {
    // Two objects have separate mutexes, like two processes: only the file lock orders them.
    Config other;
    std::thread names([&] {
        for (int i = 0; i < 40; ++i)
            ASSERT_TRUE(m_config.Previous_PCapDeviceName_Set("rpcap://eth" + std::to_string(i)));
    });
    for (int i = 0; i < 40; ++i)
        EXPECT_TRUE(other.SoftwareMac_Address_Set(
            Config::Address_Value_2_Enum(static_cast<unsigned char>(i))));
    names.join();
    EXPECT_EQ("rpcap://eth39", m_config.Previous_PCapDeviceName_Get());
    EXPECT_EQ(39, Config::Address_Enum_2_Value(m_config.SoftwareMac_Address_Get()));
    EXPECT_EQ(1, Entries());
}

TEST(ConfigLocationTest, ExplicitPathThenAbsoluteXdgThenHome) {
    SEnv explicitPath("FERROLINK_CONFIG", nullptr);
    SEnv home("HOME", "/home/op");
    for (const char* xdg : {"relative/config", "", "/xdg/config"}) {
        SEnv set("XDG_CONFIG_HOME", xdg);
        EXPECT_EQ(*xdg == '/' ? "/xdg/config/ferrolink/network.ini"
                              : "/home/op/.config/ferrolink/network.ini",
                  Config::ConfigPath_Get())
            << xdg;
    }
    SEnv given("FERROLINK_CONFIG", "/etc/flk.ini");
    EXPECT_EQ("/etc/flk.ini", Config::ConfigPath_Get());
}

TEST(ConfigAddressTest, ClaimNameTextIsTwoUpperCaseHexDigits) {
    for (const auto& [value, text] :
         {std::pair<unsigned char, const char*>{0x00, "00"}, {0x0A, "0A"}, {0xFF, "FF"}})
        EXPECT_EQ(text, Config::Address_Enum_2_String(Config::Address_Value_2_Enum(value)));
}

}  // namespace

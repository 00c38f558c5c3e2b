#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include "support/LogCapture.h"

namespace fs = std::filesystem;

namespace {

// Sets an environment variable for the life of a scope.
class CEnv {
public:
    CEnv(const char* name, std::optional<std::string> value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        Set(value);
    }
    ~CEnv() { Set(m_old); }
    CEnv(const CEnv&) = delete;
    CEnv& operator=(const CEnv&) = delete;

private:
    void Set(const std::optional<std::string>& value) {
        if (value)
            ::setenv(m_name, value->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    const char* m_name;
    std::optional<std::string> m_old;
};

class ConfigNetworkCommonTest : public ::testing::Test {
protected:
    ConfigNetworkCommonTest()
        : m_dir(fs::path(::testing::TempDir()) /
                ("flk_config_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          m_file(m_dir / "sub" / "network.ini"),
          m_env("FERROLINK_CONFIG", m_file.string()) {
        fs::remove_all(m_dir);
    }
    ~ConfigNetworkCommonTest() override { fs::remove_all(m_dir); }

    void Write(const std::string& text) {
        fs::create_directories(m_file.parent_path());
        std::ofstream(m_file) << text;
    }
    std::string Read() const {
        std::ifstream in(m_file);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_file.parent_path()))
            names.push_back(e.path().filename().string());
        return names;
    }
    static bool Logged(const CLogCapture& log, const std::string& part) {
        for (const auto& r : log.Records())
            if (r.severity == 2 && r.message.find(part) != std::string::npos) return true;
        return false;
    }
    static void ExpectDefaults(const CSerialize_NetworkCommon& config) {
        EXPECT_EQ("", config.Previous_PCapDeviceName_Get());
        EXPECT_EQ(SoftwareMacMode_AnyFirstByte, config.SoftwareMac_Mode_Get());
        EXPECT_EQ(0x12,
                  CSerialize_NetworkCommon::Address_Enum_2_Value(config.SoftwareMac_Address_Get()));
    }

    fs::path m_dir;
    fs::path m_file;
    CEnv m_env;
    CSerialize_NetworkCommon m_config;
};

TEST_F(ConfigNetworkCommonTest, MissingFileGivesDefaultsQuietlyAndReadingMakesNoFile) {
    CLogCapture log;
    ExpectDefaults(m_config);
    EXPECT_TRUE(log.Records().empty());
    EXPECT_FALSE(fs::exists(m_file.parent_path()));
}

TEST_F(ConfigNetworkCommonTest, MalformedOrUnreadableFileGivesDefaultsAndARecord) {
    Write("[Network\nPreviousPCapDeviceName=rpcap://eth0\n");
    {
        CLogCapture log;
        ExpectDefaults(m_config);
        EXPECT_TRUE(Logged(log, "malformed"));
    }
    Write("[SoftwareMac]\nMode=2\nMode=1\n");  // duplicate key
    {
        CLogCapture log;
        EXPECT_EQ(SoftwareMacMode_AnyFirstByte, m_config.SoftwareMac_Mode_Get());
        EXPECT_TRUE(Logged(log, "malformed"));
    }
    fs::remove(m_file);
    fs::create_directories(m_file);  // a directory where the file should be
    CLogCapture log;
    ExpectDefaults(m_config);
    EXPECT_TRUE(Logged(log, m_file.string()));
}

TEST_F(ConfigNetworkCommonTest, InvalidValueFallsBackAloneTheOthersStillCount) {
    Write(
        "[Network]\nPreviousPCapDeviceName = rpcap://enp3s0\n"
        "[SoftwareMac]\nMode=two\nAddress=0x100\n");
    CLogCapture log;
    EXPECT_EQ("rpcap://enp3s0", m_config.Previous_PCapDeviceName_Get());
    EXPECT_EQ(SoftwareMacMode_AnyFirstByte, m_config.SoftwareMac_Mode_Get());
    EXPECT_EQ(MacAddress_Default, m_config.SoftwareMac_Address_Get());
    EXPECT_TRUE(Logged(log, "SoftwareMac.Mode"));
    EXPECT_TRUE(Logged(log, "SoftwareMac.Address"));

    Write("[SoftwareMac]\nMode=7\nAddress=154\n");  // an unknown mode is kept as it is
    EXPECT_EQ(7, static_cast<int>(m_config.SoftwareMac_Mode_Get()));
    EXPECT_EQ(0x9A,
              CSerialize_NetworkCommon::Address_Enum_2_Value(m_config.SoftwareMac_Address_Get()));
}

TEST_F(ConfigNetworkCommonTest, StoredValuesReadBackInAnotherObjectAndNoTemporaryIsLeft) {
    ASSERT_TRUE(m_config.Previous_PCapDeviceName_Set("rpcap://enp3s0"));
    ASSERT_TRUE(m_config.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    ASSERT_TRUE(
        m_config.SoftwareMac_Address_Set(CSerialize_NetworkCommon::Address_Value_2_Enum(0x9A)));

    CSerialize_NetworkCommon other;  // stands for another process: nothing is shared but the file
    EXPECT_EQ("rpcap://enp3s0", other.Previous_PCapDeviceName_Get());
    EXPECT_EQ(SoftwareMacMode_FixedFirstByte, other.SoftwareMac_Mode_Get());
    EXPECT_EQ(0x9A,
              CSerialize_NetworkCommon::Address_Enum_2_Value(other.SoftwareMac_Address_Get()));
    EXPECT_EQ("rpcap://enp3s0", OC_NetworkCommon.Previous_PCapDeviceName_Get());
    EXPECT_NE(std::string::npos, Read().find("Address=0x9A"));

    ASSERT_TRUE(other.Previous_PCapDeviceName_Set("rpcap://eth1"));
    EXPECT_EQ("rpcap://eth1", m_config.Previous_PCapDeviceName_Get()) << "no stale cache";
    EXPECT_EQ(std::vector<std::string>{"network.ini"}, Entries());
}

TEST_F(ConfigNetworkCommonTest, StoringOverAMalformedFileReplacesIt) {
    Write("garbage without equals sign\n");
    CLogCapture log;
    ASSERT_TRUE(m_config.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    EXPECT_TRUE(Logged(log, "malformed"));
    log.Clear();
    EXPECT_EQ(SoftwareMacMode_FixedFirstByte, m_config.SoftwareMac_Mode_Get());
    EXPECT_TRUE(log.Records().empty());
}

TEST_F(ConfigNetworkCommonTest, FailedStoreReportsFalseAndLeavesNoTemporary) {
    fs::create_directories(m_file);  // the file's place is taken by a directory
    CLogCapture log;
    EXPECT_FALSE(m_config.Previous_PCapDeviceName_Set("rpcap://eth0"));
    EXPECT_FALSE(log.Records().empty());
    EXPECT_EQ(std::vector<std::string>{"network.ini"}, Entries());

    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    std::ofstream(m_dir / "sub") << "a file where the directory should be";
    EXPECT_FALSE(m_config.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
}

TEST_F(ConfigNetworkCommonTest, NameThatWouldNotReadBackIsRefused) {
    EXPECT_FALSE(m_config.Previous_PCapDeviceName_Set("rpcap://eth0\nMode=2"));
    EXPECT_FALSE(m_config.Previous_PCapDeviceName_Set(" rpcap://eth0"));
    ASSERT_TRUE(m_config.Previous_PCapDeviceName_Set("rpcap://eth0"));
    ASSERT_TRUE(m_config.Previous_PCapDeviceName_Set(""));
    EXPECT_EQ("", m_config.Previous_PCapDeviceName_Get());
}

TEST_F(ConfigNetworkCommonTest, WritersOfDifferentValuesDoNotUndoEachOther) {
    // Two objects have separate mutexes, like two processes: only the file lock orders them.
    CSerialize_NetworkCommon other;
    std::thread names([&] {
        for (int i = 0; i < 40; ++i)
            ASSERT_TRUE(m_config.Previous_PCapDeviceName_Set("rpcap://eth" + std::to_string(i)));
    });
    std::thread addresses([&] {
        for (int i = 0; i < 40; ++i)
            ASSERT_TRUE(other.SoftwareMac_Address_Set(
                CSerialize_NetworkCommon::Address_Value_2_Enum(static_cast<unsigned char>(i))));
    });
    names.join();
    addresses.join();
    EXPECT_EQ("rpcap://eth39", m_config.Previous_PCapDeviceName_Get());
    EXPECT_EQ(39,
              CSerialize_NetworkCommon::Address_Enum_2_Value(m_config.SoftwareMac_Address_Get()));
    EXPECT_EQ(std::vector<std::string>{"network.ini"}, Entries());
}

TEST(ConfigLocationTest, ExplicitPathThenXdgThenHome) {
    CEnv explicitPath("FERROLINK_CONFIG", std::nullopt);
    CEnv xdg("XDG_CONFIG_HOME", "/xdg/config");
    CEnv home("HOME", "/home/op");
    EXPECT_EQ("/xdg/config/ferrolink/network.ini", CSerialize_NetworkCommon::ConfigPath_Get());
    {
        CEnv relative("XDG_CONFIG_HOME", "relative/config");  // ignored, as the rules say
        EXPECT_EQ("/home/op/.config/ferrolink/network.ini",
                  CSerialize_NetworkCommon::ConfigPath_Get());
    }
    {
        CEnv unset("XDG_CONFIG_HOME", "");
        EXPECT_EQ("/home/op/.config/ferrolink/network.ini",
                  CSerialize_NetworkCommon::ConfigPath_Get());
    }
    CEnv given("FERROLINK_CONFIG", "/etc/flk.ini");
    EXPECT_EQ("/etc/flk.ini", CSerialize_NetworkCommon::ConfigPath_Get());
}

TEST(ConfigAddressTest, EveryFirstByteHasItsOwnEnumAndEventNameText) {
    std::set<std::string> texts;
    for (int value = 0; value < 256; ++value) {
        const auto byte = static_cast<unsigned char>(value);
        const EMacAddress address = CSerialize_NetworkCommon::Address_Value_2_Enum(byte);
        EXPECT_EQ(byte, CSerialize_NetworkCommon::Address_Enum_2_Value(address));
        const std::string text = CSerialize_NetworkCommon::Address_Enum_2_String(address);
        EXPECT_EQ(2u, text.size());
        EXPECT_EQ(std::string::npos, text.find_first_not_of("0123456789ABCDEF")) << text;
        texts.insert(text);
    }
    EXPECT_EQ(256u, texts.size()) << "two boards never share a claim name";
    EXPECT_EQ("12", CSerialize_NetworkCommon::Address_Enum_2_String(MacAddress_Default));
    EXPECT_EQ("9A", CSerialize_NetworkCommon::Address_Enum_2_String(
                        CSerialize_NetworkCommon::Address_Value_2_Enum(0x9A)));
}

}  // namespace

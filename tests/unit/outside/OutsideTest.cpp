// The maker's libraries on every system: wait handles, the named claim, the adapter table and the
// configuration file; the claim's folder and file modes on Linux alone.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <ferrolink/outside/AdapterInfo.h>
#include <ferrolink/outside/CustomAutoResetEvent.h>
#include <ferrolink/outside/CustomManualResetEvent.h>
#include <ferrolink/outside/CustomMutex.h>
#include <ferrolink/outside/NamedClaim.h>
#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include <ferrolink/outside/WaitReleaseMutex.h>
#include "support/LogCapture.h"
#include "support/ScopedEnv.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

namespace fs = std::filesystem;
using Config = CSerialize_NetworkCommon;
using ::testing::AllOf;
using ::testing::AnyOf;
using ::testing::HasSubstr;

// A temporary path no other test process uses at the same time.
fs::path Unique(const char* stem) {
    return fs::path(::testing::TempDir()) /
           (stem + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
}

std::string Text(const fs::path& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
}

// The failure records a capture holds, one a line.
std::string Failures(const CLogCapture& log) {
    std::string text;
    for (const auto& r : log.Records())
        if (r.severity == 2) text += r.message + "\n";
    return text;
}

// Whether another thread obtains the mutex within `ms` (and gives it back).
bool OtherThreadGets(CCustomMutex& mutex, unsigned int ms) {
    return std::async(std::launch::async, [&] { return CWaitReleaseMutex(mutex, ms).IsOwnMutex(); })
        .get();
}

// (The abort flag and the time limits of every wait are the worker thread's and the network
// handle's tests.)
TEST(WaitHandlesTest, MutexNestsForItsOwnerWhoAloneReleasesItAutoEventPassesOneWaiter) {
    CCustomMutex mutex;
    ASSERT_TRUE(mutex.WaitOne(0));
    {
        CWaitReleaseMutex nested(mutex, 0);
        ASSERT_TRUE(nested.IsOwnMutex());
    }
    EXPECT_FALSE(OtherThreadGets(mutex, 20)) << "the scope gave back only its own level";
    EXPECT_FALSE(std::async(std::launch::async, [&] { return mutex.ReleaseOne(); }).get())
        << "released by a thread that does not own it";
    EXPECT_TRUE(mutex.ReleaseOne());
    EXPECT_TRUE(OtherThreadGets(mutex, 1000));

    CCustomManualResetEvent manual(true);
    EXPECT_TRUE(manual.WaitOne(0));
    EXPECT_TRUE(manual.WaitOne(0));
    manual.Reset();
    EXPECT_FALSE(manual.WaitOne(0));
    CCustomAutoResetEvent automatic(true);
    EXPECT_TRUE(automatic.WaitOne(0));
    EXPECT_FALSE(automatic.WaitOne(0)) << "the wait consumed the signal";
    automatic.Set();
    EXPECT_TRUE(automatic.WaitOne(0));
}

// One holder per name in one process, on every system; a refusal is forgotten by the next grant.
TEST(WaitHandlesTest, NamedClaimIsExclusiveAndItsRefusalIsForgottenByTheNextGrant) {
    const fs::path dir = Unique("ferrolink-claims-");
    SScopedEnv lockDirectory("FERROLINK_LOCK_DIR", dir.string());
    CNamedClaim refused;
    {
        CCustomAutoResetEvent first("Quon_PCap_12", false);
        EXPECT_TRUE(CCustomAutoResetEvent("Quon_PCap_56", false).IsCreated());
        EXPECT_FALSE(CCustomAutoResetEvent("Quon_PCap_12", false).IsCreated());
        EXPECT_FALSE(refused.Acquire("Quon_PCap_12"));
        EXPECT_THAT(refused.Refusal(), HasSubstr("held by another process"));
        EXPECT_EQ(refused.Refusal(), CNamedClaim::LastRefusal());
    }
    EXPECT_TRUE(refused.Acquire("Quon_PCap_12")) << "freed with its holder";
    EXPECT_EQ("", refused.Refusal());
    EXPECT_EQ("", CNamedClaim::LastRefusal());
    fs::remove_all(dir);
}

#ifndef _WIN32
// Runs `f` in a child process, as user and group nobody when `asNobody`; its exit status.
template <typename F>
int InChild(bool asNobody, F f) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (asNobody && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                         ::setresuid(65534, 65534, 65534) != 0))
            ::_exit(99);
        ::_exit(f());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(WaitHandlesTest, ClaimFolderIsSharedSafelyAndAClaimIsFreedWithItsHoldingProcess) {
    const fs::path dir = Unique("ferrolink-claims-");
    SScopedEnv lockDirectory("FERROLINK_LOCK_DIR", dir.string());
    EXPECT_TRUE(CNamedClaim().Acquire("Quon_PCap_12"));
    // Made by root in a sticky folder (/tmp, as a rule), the lock folder is where every user
    // meets; any other user's would be its own.
    if ((fs::status(dir.parent_path()).permissions() & fs::perms::sticky_bit) != fs::perms::none &&
        ::geteuid() == 0) {
        EXPECT_EQ(fs::perms::all | fs::perms::sticky_bit, fs::status(dir).permissions());
    }

    // Another process's claim holds here until that process is killed; the refusal names it.
    const pid_t holder = ::fork();
    if (holder == 0) {
        CNamedClaim claim;
        if (claim.Acquire("Quon_PCap_77")) ::raise(SIGSTOP);
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(holder, &status, WUNTRACED);
    ASSERT_TRUE(WIFSTOPPED(status)) << "the other process could not claim it";
    CNamedClaim refused;
    EXPECT_FALSE(refused.Acquire("Quon_PCap_77"));
    EXPECT_THAT(refused.Refusal(),
                HasSubstr("held by another process (pid " + std::to_string(holder) + ")"));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, &status, 0);
    EXPECT_TRUE(CNamedClaim().Acquire("Quon_PCap_77"));

    // A link planted in the folder is not followed: nothing is made where it points.
    fs::create_symlink(dir / "victim", dir / "Quon_PCap_CD.lock");
    CLogCapture log;
    EXPECT_FALSE(refused.Acquire("Quon_PCap_CD"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "victim")));
    EXPECT_THAT(Failures(log), HasSubstr("symbolic link"));

    // Made where the parent is not sticky, the folder is its owner's alone; a folder that is a
    // link is refused, and nothing is claimed elsewhere instead.
    const fs::path plain = dir / "plain" / "locks";
    fs::create_directories(plain.parent_path());
    fs::permissions(plain.parent_path(), fs::perms::owner_all);
    {
        SScopedEnv there("FERROLINK_LOCK_DIR", plain.c_str());
        EXPECT_TRUE(CNamedClaim().Acquire("Quon_PCap_12"));
        EXPECT_EQ(fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec,
                  fs::status(plain).permissions());
    }
    fs::create_directory_symlink(plain, dir / "linked");
    {
        SScopedEnv linked("FERROLINK_LOCK_DIR", (dir / "linked").c_str());
        EXPECT_FALSE(refused.Acquire("Quon_PCap_13"));
        EXPECT_THAT(refused.Refusal(), HasSubstr("symbolic link"));
    }
    EXPECT_FALSE(fs::exists(plain / "Quon_PCap_13.lock"));

    if (::geteuid() == 0) {
        // A user with no right to write root's claim file still claims after root: a lock needs
        // no write access. A folder of another user is refused, with the reason.
        ASSERT_TRUE(CNamedClaim().Acquire("Quon_PCap_AB"));
        EXPECT_EQ(0, InChild(true, [] { return CNamedClaim().Acquire("Quon_PCap_AB") ? 0 : 1; }));
        ASSERT_EQ(0, ::chown(dir.c_str(), 65534, 65534));
        EXPECT_FALSE(refused.Acquire("Quon_PCap_AB"));
        EXPECT_THAT(refused.Refusal(), HasSubstr("belongs to user 65534"));
    }
    fs::remove_all(dir);
}
#endif

TEST(AdapterInfoTest, ConnectionIsLookedUpByHardwareAddress) {
    const std::vector<SAdapterInfo> table = {
        {{0, 0, 0, 0, 0, 0}, 6, 0, 0, "down"},
        {{0, 0, 0, 0, 0, 1}, 6, 0, CAdapterInfo::Status_Connected, "up"}};
    EXPECT_TRUE(CAdapterInfo::IsAdapterConnected({0, 0, 0, 0, 0, 1}, table));
    EXPECT_FALSE(CAdapterInfo::IsAdapterConnected({0, 0, 0, 0, 0, 0}, table)) << "link down";
    EXPECT_FALSE(CAdapterInfo::IsAdapterConnected({0, 0, 0, 0, 0, 3}, table)) << "not listed";
    EXPECT_FALSE(CAdapterInfo::IsAdapterConnected({}, table)) << "failed MAC query";
}

class ConfigNetworkCommonTest : public ::testing::Test {
protected:
    ~ConfigNetworkCommonTest() override { fs::remove_all(m_dir); }
    void Write(const std::string& text) {
        fs::create_directories(m_file.parent_path());
        std::ofstream(m_file, std::ios::binary) << text;
    }
    // Reads every setting, expecting its default; gives the failure records of the reads.
    std::string ReadDefaults() const {
        CLogCapture log;
        EXPECT_EQ("", m_config.Previous_PCapDeviceName_Get());
        EXPECT_EQ(SoftwareMacMode_AnyFirstByte, m_config.SoftwareMac_Mode_Get());
        EXPECT_EQ(MacAddress_Default, m_config.SoftwareMac_Address_Get());
        return Failures(log);
    }
    long Entries(const fs::path& dir) const {
        return std::distance(fs::directory_iterator(dir), fs::directory_iterator());
    }

    const fs::path m_dir = Unique("flk_config_");
    const fs::path m_file = m_dir / "sub" / "network.ini";
    SScopedEnv m_env{"FERROLINK_CONFIG", m_file.string()};
    Config m_config;
};

TEST_F(ConfigNetworkCommonTest, UnusableFileGivesDefaultsIsNeverOverwrittenAndSaysWhy) {
    std::string why;
    EXPECT_EQ("", ReadDefaults()) << "a missing file is no failure";
    EXPECT_FALSE(fs::exists(m_file.parent_path())) << "reading makes no file";
    EXPECT_TRUE(Config::ConfigPath_Check(why)) << why;
    // A file that cannot be read or parsed keeps the operator's settings: stores are refused
    // and leave it as it was, and the check says what is wrong.
    const std::string broken = "[Network\nPreviousPCapDeviceName=rpcap://eth0\n";  // left open
    Write(broken);
    EXPECT_THAT(ReadDefaults(), HasSubstr("malformed"));
    CLogCapture log;
    EXPECT_FALSE(m_config.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    EXPECT_THAT(Failures(log), AllOf(HasSubstr("malformed"), HasSubstr("not overwritten")));
    EXPECT_FALSE(Config::ConfigPath_Check(why));
    EXPECT_THAT(why, AllOf(HasSubstr(m_file.string()), HasSubstr("malformed")));
    EXPECT_EQ(broken, Text(m_file));
#ifndef _WIN32
    // Unreadable for this user (nobody, when the test runs as root, who reads anything).
    Write("[SoftwareMac]\nMode=2\n");
    fs::permissions(m_file, fs::perms::owner_read | fs::perms::owner_write);
    const auto unreadable = [this] {
        std::string reason;
        return !m_config.Previous_PCapDeviceName_Set("rpcap://eth0") &&
                       !Config::ConfigPath_Check(reason) &&
                       reason.find("Permission denied") != std::string::npos
                   ? 0
                   : 1;
    };
    EXPECT_EQ(0, ::geteuid() == 0 ? InChild(true, unreadable) : unreadable());
    EXPECT_EQ("[SoftwareMac]\nMode=2\n", Text(m_file));
    fs::remove(m_file);
    std::ofstream(m_dir / "elsewhere.ini") << "[SoftwareMac]\nMode=2\n";
    fs::create_symlink(m_dir / "elsewhere.ini", m_file);  // a link is neither read nor replaced
    EXPECT_THAT(ReadDefaults(), HasSubstr("symbolic link"));
    EXPECT_FALSE(m_config.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    EXPECT_TRUE(fs::is_symlink(m_file));
#endif
    fs::remove(m_file);
    fs::create_directories(m_file);  // a directory where the file should be
    EXPECT_THAT(ReadDefaults(), HasSubstr(m_file.string()));
    EXPECT_FALSE(m_config.Previous_PCapDeviceName_Set("rpcap://eth0"));
    EXPECT_FALSE(Config::ConfigPath_Check(why));
    EXPECT_THAT(why, HasSubstr("not a regular file"));
    EXPECT_EQ(1, Entries(m_dir / "sub")) << "a temporary file was left";
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    std::ofstream(m_dir / "sub") << "a file where the directory should be";
    EXPECT_FALSE(m_config.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    EXPECT_FALSE(Config::ConfigPath_Check(why));
    EXPECT_THAT(why, AnyOf(HasSubstr("Not a directory"), HasSubstr("is not a folder")));
}

TEST_F(ConfigNetworkCommonTest, InvalidValueFallsBackAloneTheOthersStillCount) {
    Write(
        "[Network]\nPreviousPCapDeviceName = "
        "rpcap://enp3s0\n[SoftwareMac]\nMode=two\nAddress=0x100\n");
    CLogCapture log;
    EXPECT_EQ("rpcap://enp3s0", m_config.Previous_PCapDeviceName_Get());
    EXPECT_EQ(SoftwareMacMode_AnyFirstByte, m_config.SoftwareMac_Mode_Get());
    EXPECT_EQ(MacAddress_Default, m_config.SoftwareMac_Address_Get());
    EXPECT_THAT(Failures(log),
                AllOf(HasSubstr("SoftwareMac.Mode"), HasSubstr("SoftwareMac.Address")));
    Write("[SoftwareMac]\nMode=7\nAddress=154\n");  // an unknown mode is kept: it accepts no board
    EXPECT_EQ(7, static_cast<int>(m_config.SoftwareMac_Mode_Get()));
    EXPECT_EQ(0x9A, Config::Address_Enum_2_Value(m_config.SoftwareMac_Address_Get()));
}

TEST_F(ConfigNetworkCommonTest, StoredValuesReadBackThroughTheFileAlone) {
#ifndef _WIN32
    const mode_t umask = ::umask(0);  // even so, nothing made is writable by others
    ASSERT_TRUE(m_config.Previous_PCapDeviceName_Set("rpcap://enp3s0"));
    ::umask(umask);
    for (const fs::path& made : {m_dir, m_dir / "sub", m_file})
        EXPECT_EQ(fs::perms::none, fs::status(made).permissions() & fs::perms::others_write)
            << made;
#endif
    ASSERT_TRUE(m_config.Previous_PCapDeviceName_Set("rpcap://enp3s0"));
    ASSERT_TRUE(m_config.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    ASSERT_TRUE(m_config.SoftwareMac_Address_Set(Config::Address_Value_2_Enum(0x0A)));
    Config other;  // stands for another process: nothing is shared but the file
    EXPECT_EQ("rpcap://enp3s0", other.Previous_PCapDeviceName_Get());
    EXPECT_EQ(SoftwareMacMode_FixedFirstByte, other.SoftwareMac_Mode_Get());
    EXPECT_EQ(0x0A, Config::Address_Enum_2_Value(other.SoftwareMac_Address_Get()));
    // Two upper-case hex digits, the form that also names the board's claim.
    EXPECT_THAT(Text(m_file), HasSubstr("Address=0x0A"));

    ASSERT_TRUE(other.Previous_PCapDeviceName_Set("rpcap://eth1"));
    // The INI form trims values and ends them at a line break: such names would not read back.
    EXPECT_FALSE(m_config.Previous_PCapDeviceName_Set("rpcap://eth0\nMode=2"));
    EXPECT_FALSE(m_config.Previous_PCapDeviceName_Set(" rpcap://eth0"));
    EXPECT_EQ("rpcap://eth1", m_config.Previous_PCapDeviceName_Get()) << "no stale cache";
    ASSERT_TRUE(m_config.Previous_PCapDeviceName_Set(""));
    EXPECT_EQ("", m_config.Previous_PCapDeviceName_Get());
    EXPECT_EQ(1, Entries(m_dir / "sub")) << "the temporary files were renamed over the file";
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
}

#ifndef _WIN32
TEST(ConfigLocationTest, ExplicitPathThenAbsoluteXdgThenHome) {
    SScopedEnv explicitPath("FERROLINK_CONFIG", nullptr);
    SScopedEnv home("HOME", "/home/op");
    for (const char* xdg : {"relative/config", "", "/xdg/config"}) {
        SScopedEnv set("XDG_CONFIG_HOME", xdg);
        EXPECT_EQ(*xdg == '/' ? "/xdg/config/ferrolink/network.ini"
                              : "/home/op/.config/ferrolink/network.ini",
                  Config::ConfigPath_Get())
            << xdg;
    }
    SScopedEnv given("FERROLINK_CONFIG", "/etc/flk.ini");
    EXPECT_EQ("/etc/flk.ini", Config::ConfigPath_Get());
}
#endif

}  // namespace

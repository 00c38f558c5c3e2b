// The maker's libraries on every system: wait handles, the named claim, the adapter table and the
// configuration file; the claim's folder and file modes on Linux alone.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
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
#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include <ferrolink/outside/WaitReleaseMutex.h>
#include <ferrolink/platform/NamedClaim.h>
#include "support/LogCapture.h"
#include "support/ScopedEnv.h"

using namespace ferrolink::core;      // the library's core classes, linked from its archive
using namespace ferrolink::platform;  // the board claim

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
        EXPECT_EQ(ClaimResult_Held, refused.Result());
        EXPECT_THAT(refused.Refusal(), HasSubstr("held by another process"));
        EXPECT_EQ(refused.Refusal(), CNamedClaim::LastRefusal());
        EXPECT_EQ(ClaimResult_Held, CNamedClaim::LastResult());
        const auto states = CNamedClaim::Survey({"Quon_PCap_12", "Quon_PCap_34"});
        ASSERT_EQ(1u, states.size()) << "only the held name is reported";
        EXPECT_EQ("Quon_PCap_12", states[0].m_name);
        EXPECT_EQ(ClaimResult_Held, states[0].m_result);
    }
    EXPECT_TRUE(refused.Acquire("Quon_PCap_12")) << "freed with its holder";
    EXPECT_EQ("", refused.Refusal());
    EXPECT_EQ("", CNamedClaim::LastRefusal());
    EXPECT_EQ(ClaimResult_Granted, CNamedClaim::LastResult());
    fs::remove_all(dir);
}

#ifndef _WIN32
// Runs `f` in a child process, as that user and group (no others) when `uid` is not -1; its exit
// status.
template <typename F>
int InChild(uid_t uid, gid_t gid, F f) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (uid != static_cast<uid_t>(-1) &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 ||
             ::setresuid(uid, uid, uid) != 0))
            ::_exit(99);
        ::_exit(f());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

template <typename F>
int InChild(bool asNobody, F f) {
    return InChild(asNobody ? 65534 : static_cast<uid_t>(-1), 65534, f);
}

// How a claim ends when taken in a child as that user: its result, or 99 when the refusal
// lacks `text`.
int ClaimAs(uid_t uid, gid_t gid, const char* name, const std::string& text = "") {
    return InChild(uid, gid, [&] {
        CNamedClaim claim;
        claim.Acquire(name);
        return claim.Refusal().find(text) == std::string::npos ? 99 : claim.Result();
    });
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

    // Another process's claim holds here until that process is killed; the refusal names it as
    // the kernel's lock table does, whatever the file says.
    const pid_t holder = ::fork();
    if (holder == 0) {
        CNamedClaim claim;
        if (claim.Acquire("Quon_PCap_77")) ::raise(SIGSTOP);
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(holder, &status, WUNTRACED);
    ASSERT_TRUE(WIFSTOPPED(status)) << "the other process could not claim it";
    std::ofstream(dir / "Quon_PCap_77.lock") << "1\n";
    CNamedClaim refused;
    EXPECT_FALSE(refused.Acquire("Quon_PCap_77"));
    EXPECT_EQ("the board is held by another process (pid " + std::to_string(holder) +
                  "): " + (dir / "Quon_PCap_77.lock").string(),
              refused.Refusal());
    ::kill(holder, SIGKILL);
    ::waitpid(holder, &status, 0);
    EXPECT_TRUE(CNamedClaim().Acquire("Quon_PCap_77"));

    // Whatever else stands under a claim's name is told for what it is, by the claim and by the
    // survey, which makes nothing: never "held", never followed, never opened.
    const fs::path plain = dir / "plain";  // not shared: entries of other users are foreign
    fs::create_directories(plain);
    fs::permissions(plain, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    struct SPlanted {
        const char* name;
        std::function<void(const fs::path&)> plant;
        const char* what;
        bool needsRoot;
    };
    const SPlanted planted[] = {
        {"Quon_PCap_C1", [&](const fs::path& p) { fs::create_symlink(dir / "victim", p); },
         "a symbolic link", false},
        {"Quon_PCap_C2", [](const fs::path& p) { ::mkfifo(p.c_str(), 0644); }, "a FIFO", false},
        {"Quon_PCap_C3", [](const fs::path& p) { fs::create_directory(p); }, "a folder", false},
        {"Quon_PCap_C4",
         [&](const fs::path& p) { fs::create_hard_link(dir / "Quon_PCap_12.lock", p); },
         "a file with 2 names (hard links)", false},
        {"Quon_PCap_C5",
         [](const fs::path& p) {
             std::ofstream{p};
             EXPECT_EQ(0, ::chown(p.c_str(), 65534, 65534));
         },
         "a file of user 65534 and group", true},
    };
    for (const SPlanted& row : planted) {
        if (row.needsRoot && ::geteuid() != 0) continue;
        const fs::path path = plain / (std::string(row.name) + ".lock");
        row.plant(path);
        SScopedEnv there("FERROLINK_LOCK_DIR", plain.c_str());
        EXPECT_FALSE(refused.Acquire(row.name)) << row.what;
        EXPECT_EQ(ClaimResult_NotAClaim, refused.Result()) << row.what;
        EXPECT_THAT(refused.Refusal(),
                    AllOf(HasSubstr("remove " + path.string() + ": it is " + row.what),
                          HasSubstr(", not a claim")));
        const auto states = CNamedClaim::Survey({row.name});
        ASSERT_EQ(1u, states.size()) << row.what;
        EXPECT_EQ(refused.Refusal(), states[0].m_why);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "victim")));
    {
        SScopedEnv there("FERROLINK_LOCK_DIR", plain.c_str());
        EXPECT_TRUE(CNamedClaim::Survey({"Quon_PCap_C6"}).empty());
        EXPECT_FALSE(fs::exists(plain / "Quon_PCap_C6.lock")) << "the survey made a claim file";
    }
    // Unreadable to this user (nobody, when the test runs as root, who reads anything).
    std::ofstream(plain / "Quon_PCap_C7.lock");
    fs::permissions(plain / "Quon_PCap_C7.lock", fs::perms::none);
    {
        SScopedEnv there("FERROLINK_LOCK_DIR", plain.c_str());
        const auto unreadable = [] {
            CNamedClaim claim;
            return !claim.Acquire("Quon_PCap_C7") && claim.Result() == ClaimResult_NotAClaim &&
                           claim.Refusal().find("a file this user may not read") !=
                               std::string::npos
                       ? 0
                       : 1;
        };
        EXPECT_EQ(0, ::geteuid() == 0 ? InChild(true, unreadable) : unreadable());
    }

    // A folder that is a link is refused, and nothing is claimed elsewhere instead.
    fs::create_directory_symlink(plain, dir / "linked");
    {
        SScopedEnv linked("FERROLINK_LOCK_DIR", (dir / "linked").c_str());
        EXPECT_FALSE(refused.Acquire("Quon_PCap_13"));
        EXPECT_EQ(ClaimResult_NotAClaim, refused.Result());
        EXPECT_THAT(refused.Refusal(), HasSubstr("symbolic link"));
    }
    EXPECT_FALSE(fs::exists(plain / "Quon_PCap_13.lock"));

    if (::geteuid() == 0) {
        // A user with no right to write root's claim file still claims after root: a lock needs
        // no write access. A folder of another user is refused, with the reason.
        ASSERT_TRUE(CNamedClaim().Acquire("Quon_PCap_AB"));
        EXPECT_EQ(ClaimResult_Granted, ClaimAs(65534, 65534, "Quon_PCap_AB"));
        ASSERT_EQ(0, ::chown(dir.c_str(), 65534, 65534));
        EXPECT_FALSE(refused.Acquire("Quon_PCap_AB"));
        EXPECT_THAT(refused.Refusal(), HasSubstr("belongs to user 65534"));
    }
    fs::remove_all(dir);
}

// The installed claim folder, in a /run of the test's own (a tmpfs in a private mount namespace):
// its group alone may claim, a full file system and an unfit folder are told as such, and
// without it claims go to /run/lock with a notice. Each check's failure comes back as a line.
TEST(WaitHandlesTest, InstalledClaimFolderIsForItsGroupAloneAndEveryRefusalSaysWhatItIs) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: mounts a private /run in its own mount namespace";
    int report[2];
    ASSERT_EQ(0, ::pipe(report));
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        std::string failures;
        const auto check = [&](bool ok, const std::string& what) {
            if (!ok) failures += what + "\n";
        };
        ::unsetenv("FERROLINK_LOCK_DIR");
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("flktest", "/run", "tmpfs", 0, "mode=0755,size=1m") != 0)
            failures = std::string("no private /run: ") + std::strerror(errno);
        if (failures.empty()) {
            fs::create_directory("/run/lock");
            fs::permissions("/run/lock", fs::perms::all | fs::perms::sticky_bit);
            CLogCapture log;
            check(CCustomAutoResetEvent("Quon_PCap_20", false).IsCreated() &&
                      CCustomAutoResetEvent("Quon_PCap_21", false).IsCreated(),
                  "no claim in /run/lock without the installed folder");
            check(fs::exists("/run/lock/Quon_PCap_21.lock"), "the claim is not in /run/lock");
            int notices = 0;
            for (const auto& r : log.Records())
                notices += r.severity == 1 &&
                           r.message.find("/run/ferrolink does not exist") != std::string::npos;
            check(notices == 1,
                  "the notice of the shared folder came " + std::to_string(notices) + " times");

            // As the package makes it: root's, group nogroup here, 2770.
            const char* folder = "/run/ferrolink";
            check(::mkdir(folder, 0) == 0 && ::chown(folder, 0, 65534) == 0 &&
                      ::chmod(folder, 02770) == 0,
                  "no installed folder");
            CNamedClaim held;
            held.Acquire("Quon_PCap_06");
            check(held.IsHeld(), "root cannot claim in the installed folder: " + held.Refusal());
            check(fs::exists("/run/ferrolink/Quon_PCap_06.lock"),
                  "the claim is not in /run/ferrolink");
            check(ClaimAs(65534, 65534, "Quon_PCap_06",
                          "(pid " + std::to_string(::getpid()) + ")") == ClaimResult_Held,
                  "a member of the group is not told the board is held, and by whom");
            check(ClaimAs(65534, 65533, "Quon_PCap_07",
                          "open to root and the group nogroup only") == ClaimResult_NoPermission,
                  "a user outside the group is not refused for want of permission, naming it");
            check(!fs::exists("/run/ferrolink/Quon_PCap_07.lock"), "an outsider made a claim file");
            held.Release();
            check(ClaimAs(65534, 65534, "Quon_PCap_06") == ClaimResult_Granted,
                  "a member of the group cannot claim a free board");

            // Full: no inode is left for a claim file.
            check(::mount("flkfull", folder, "tmpfs", 0, "mode=2770,gid=65534,nr_inodes=2") == 0,
                  "no tiny tmpfs");
            for (int k = 0;
                 k < 4 && ::mknod((folder + std::string("/f") + std::to_string(k)).c_str(),
                                  S_IFREG | 0600, 0) == 0;)
                ++k;
            CNamedClaim full;
            full.Acquire("Quon_PCap_09");
            check(
                full.Result() == ClaimResult_NoSpace &&
                    full.Refusal().find("no room for the claim /run/ferrolink/Quon_PCap_09.lock") !=
                        std::string::npos,
                "a full folder is not told: " + full.Refusal());
            ::umount(folder);

            // Writable by every user, the folder is the old weakness again: refused.
            ::chmod(folder, 02777);
            CNamedClaim open;
            open.Acquire("Quon_PCap_06");
            check(open.Result() == ClaimResult_NotAClaim &&
                      open.Refusal().find("is writable by every user") != std::string::npos,
                  "a folder open to every user is used: " + open.Refusal());
        }
        [[maybe_unused]] const ssize_t n = ::write(report[1], failures.data(), failures.size());
        ::_exit(0);
    }
    ::close(report[1]);
    std::string failures;
    char buffer[512];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) failures.append(buffer, n);
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ("", failures);
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

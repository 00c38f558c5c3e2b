// What only the Windows build has: Npcap device names joined with the IP Helper API's adapters,
// automatic opening past adapters that are down or not Ethernet, %APPDATA% (and the shell's folder
// without it), a settings file held for a moment by another program, board descriptions in GBK,
// the board claim held by another process and freed when that process dies, and wait handles a
// host waits on with its own. (Loading wpcap.dll, and failing without it, is check_host.sh's; the
// bulk send through it is the transmit suite's, above our stand-in.)
#include <gtest/gtest.h>

#include <winsock2.h>
// (after winsock2.h, which must come before windows.h)
#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include <ferrolink/adapter/PCapOpen_Network_Internal.h>
#include <ferrolink/api/ferrolink.h>
#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include <ferrolink/platform/Adapters.h>
#include <ferrolink/platform/ConfigFile.h>
#include <ferrolink/platform/HostEncoding.h>
#include <ferrolink/platform/Link.h>
#include <ferrolink/platform/NamedClaim.h>
#include "support/FakeAdapters.h"
#include "support/LogCapture.h"
#include "support/ScopedEnv.h"

namespace flk = ferrolink::platform;
using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

constexpr const char* HoldClaimArgument = "--hold-claim";
constexpr const char* ClaimName = "Quon_PCap_ferrolink_test";

// An export of the stand-in wpcap.dll, which the library has loaded by then.
template <typename Fn>
Fn Standin(const char* name) {
    const FARPROC found = ::GetProcAddress(::GetModuleHandleW(L"wpcap.dll"), name);
    return found ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(found)) : nullptr;
}

// An Npcap device is the IP Helper adapter of its interface GUID, whatever the case of its hex
// digits and of the prefix; no other name is an adapter.
TEST(AdaptersWindowsTest, NpcapNamesFindTheAdapterOfTheirGuidAndNothingElseDoes) {
    ULONG size = 64 * 1024;
    std::string buffer(size, '\0');
    auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(&buffer[0]);
    ASSERT_EQ(static_cast<ULONG>(NO_ERROR),
              ::GetAdaptersAddresses(AF_UNSPEC, 0, nullptr, first, &size));
    ASSERT_NE(nullptr, first->AdapterName) << "wine shows at least its loopback adapter";
    std::string lower = first->AdapterName;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const struct SCase {
        std::string name;
        bool found;
    } cases[] = {
        {std::string("\\Device\\NPF_") + first->AdapterName, true},
        {"\\device\\npf_" + lower, true},
        {"\\Device\\NPF_Loopback", false},
        {"\\Device\\NPF_{0A1B2C3D-4E5F-6789-ABCD-EF012345678G}", false},  // not hex
        {first->AdapterName, false},                                      // no device prefix
    };
    for (const SCase& c : cases) {
        flk::SAdapter adapter;
        const flk::SSystemError error = flk::CAdapters::Query(c.name, adapter);
        EXPECT_EQ(c.found ? 0ul : static_cast<unsigned long>(ERROR_FILE_NOT_FOUND), error.code)
            << c.name;
        if (c.found) {
            EXPECT_EQ(first->IfIndex, adapter.index) << c.name;
        }
    }
}

// The third strategy asks every Ethernet adapter in turn: one that is down, or whose speed is not
// known, is passed over without ending the walk, and one that is not Ethernet is no device. Only
// the connected ones are opened (the stand-in opens none, so the walk goes to the end), each so
// that a small reply reaches the receiver as it arrives (Npcap's maximum responsiveness).
TEST(AutoOpenWindowsTest, TheWalkGoesOnPastDownAndNonEthernetAdapters) {
    const std::string config = ::testing::TempDir() + "flk-auto-none\\network.ini";
    std::remove(config.c_str());
    SScopedEnv settings("FERROLINK_CONFIG", config);
    const struct SCase {
        const char* guid;
        bool ethernet;
        bool up;
        std::uint64_t speed;
    } cases[] = {
        {"{00000000-0000-0000-0000-0000000000A1}", true, false, 0},          // cable out
        {"{00000000-0000-0000-0000-0000000000A2}", false, true, 100000000},  // Wi-Fi
        {"{00000000-0000-0000-0000-0000000000A3}", true, true, 100000000},
        {"{00000000-0000-0000-0000-0000000000A5}", true, true, 0},  // speed not known
    };
    flk::CFakeAdapters fake;
    std::string expected;
    for (const SCase& c : cases) {
        flk::SFakeAdapter& a = fake.Add(std::string("\\Device\\NPF_") + c.guid, c.speed);
        a.ethernet = c.ethernet;
        a.linkUp = c.up;
        if (c.ethernet && c.up) expected += std::string("rpcap://\\Device\\NPF_") + c.guid + "\n";
    }
    CLogCapture log;
    CPCapOpen_Network_Internal network;
    EXPECT_FALSE(network.Open_ByAuto(0, nullptr));
    const auto sources = Standin<const char* (*)()>("standin_open_sources");
    const auto flags = Standin<int (*)()>("standin_last_open_flags");
    ASSERT_TRUE(sources && flags) << "the library did not load the stand-in wpcap.dll";
    EXPECT_EQ(expected, sources());
    EXPECT_EQ(PCAP_OPENFLAG_PROMISCUOUS | PCAP_OPENFLAG_MAX_RESPONSIVENESS, flags());
    EXPECT_EQ(0, log.Count("failure", 2)) << "no query ended the walk";
}

// Without FERROLINK_CONFIG the settings live under %APPDATA%, whose folder a store makes, also
// when the user's name is outside the code page's reach (here Chinese, as the hosts' users are).
// A process started without APPDATA finds the same folder through the shell.
TEST(ConfigurationWindowsTest, SettingsLiveUnderAppData) {
    namespace fs = std::filesystem;
    const std::string userAppData = flk::CConfigFile::Environment("APPDATA");
    ASSERT_FALSE(userAppData.empty()) << "wine gives every process APPDATA";
    const fs::path appData = fs::temp_directory_path() /
                             (L"flk-\u5F20\u4E09-" + std::to_wstring(::GetCurrentProcessId()));
    fs::remove_all(appData);
    ASSERT_EQ(0, ::_putenv_s("FERROLINK_CONFIG", ""));
    ASSERT_EQ(0, ::_wputenv_s(L"APPDATA", appData.wstring().c_str()));
    const std::string path = (appData / "ferrolink" / "network.ini").u8string();
    EXPECT_EQ(path, CSerialize_NetworkCommon::ConfigPath_Get());
    CSerialize_NetworkCommon config;
    ASSERT_TRUE(config.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    EXPECT_EQ(SoftwareMacMode_FixedFirstByte, CSerialize_NetworkCommon().SoftwareMac_Mode_Get());
    EXPECT_TRUE(fs::is_regular_file(fs::u8path(path)));
    std::string why;
    EXPECT_TRUE(CSerialize_NetworkCommon::ConfigPath_Check(why)) << why;
    fs::remove_all(appData);
    ASSERT_EQ(0, ::_wputenv_s(L"APPDATA", L""));
    EXPECT_EQ(userAppData + "\\ferrolink\\network.ini", CSerialize_NetworkCommon::ConfigPath_Get());
    ::_wputenv_s(L"APPDATA", fs::u8path(userAppData).wstring().c_str());
}

// A scanner or an indexer that holds the settings file for a moment without sharing it delays a
// write; one that keeps holding it fails the write, which says why and leaves the old file whole.
TEST(ConfigurationWindowsTest, AWriteWaitsForAMomentaryHolderOfTheFile) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("flk-held-" + std::to_string(::GetCurrentProcessId()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path file = folder / "network.ini";
    const auto contents = [&] {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    };
    const auto holdUnshared = [&] {
        return ::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    std::string why;
    ASSERT_TRUE(flk::CConfigFile::Replace(file.u8string(), "first\n", why)) << why;

    HANDLE held = holdUnshared();
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    std::thread release([held] {
        ::Sleep(300);
        ::CloseHandle(held);
    });
    EXPECT_TRUE(flk::CConfigFile::Replace(file.u8string(), "second\n", why)) << why;
    release.join();
    EXPECT_EQ("second\n", contents());

    held = holdUnshared();
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_FALSE(flk::CConfigFile::Replace(file.u8string(), "third\n", why));
    ::CloseHandle(held);
    EXPECT_EQ(0u, why.find("file cannot be replaced: " + file.u8string() + ": ")) << why;
    EXPECT_NE(std::string::npos, why.find("(tried 10 times)")) << why;
    EXPECT_EQ("second\n", contents());
    EXPECT_EQ(1, std::distance(fs::directory_iterator(folder), fs::directory_iterator()))
        << "a temporary file was left behind";
    fs::remove_all(folder);
}

TEST(HostEncodingTest, BoardDescriptionsAreLoggedInGbkBytes) {
    // Full-width colon A3 BA, then the two characters of "mainboard": D6 F7, B0 E5.
    EXPECT_EQ("b0\xA3\xBA\xD6\xF7\xB0\xE5", flk::CHostEncoding::FromUtf8(u8"b0：主板"));
    EXPECT_EQ("plain", flk::CHostEncoding::FromUtf8("plain"));
    EXPECT_EQ("\xFF broken", flk::CHostEncoding::FromUtf8("\xFF broken")) << "not UTF-8: kept";
}

// A host waits on our events and mutex beside its own handles with WaitForMultipleObjects: the
// handle the library gives is signalled exactly while a WaitOne(0) would succeed, and the OS
// wait only watches (the auto-reset event keeps its signal, the mutex stays free).
TEST(WaitHandleWindowsTest, TheSystemHandleFollowsTheObjectAndWakesAHostsWait) {
    flk_event* manual = flk_event_create(0, 0);
    flk_event* automatic = flk_event_create(1, 1);
    flk_mutex* mutex = flk_mutex_create();
    ASSERT_TRUE(manual && automatic && mutex);
    const auto handle = [](void* h) { return static_cast<HANDLE>(h); };
    HANDLE manualHandle = handle(flk_event_wait_handle(manual));
    HANDLE automaticHandle = handle(flk_event_wait_handle(automatic));
    HANDLE mutexHandle = handle(flk_mutex_wait_handle(mutex));
    const struct SStep {
        const char* what;
        std::function<void()> act;
        HANDLE handle;
        bool signalled;
    } steps[] = {
        {"manual, made unset", [] {}, manualHandle, false},
        {"manual, set", [&] { flk_event_set(manual); }, manualHandle, true},
        {"manual, taken", [&] { EXPECT_EQ(FLK_OK, flk_event_wait(manual, 0, nullptr)); },
         manualHandle, true},
        {"manual, reset", [&] { flk_event_reset(manual); }, manualHandle, false},
        {"auto, made set", [] {}, automaticHandle, true},
        {"auto, taken after the system saw it",
         [&] { EXPECT_EQ(FLK_OK, flk_event_wait(automatic, 0, nullptr)); }, automaticHandle, false},
        {"mutex, free", [] {}, mutexHandle, true},
        {"mutex, owned twice after the system saw it free",
         [&] {
             EXPECT_EQ(FLK_OK, flk_mutex_wait(mutex, 0, nullptr));
             EXPECT_EQ(FLK_OK, flk_mutex_wait(mutex, 0, nullptr));
         },
         mutexHandle, false},
        {"mutex, released once", [&] { flk_mutex_release(mutex); }, mutexHandle, false},
        {"mutex, released", [&] { flk_mutex_release(mutex); }, mutexHandle, true},
    };
    for (const SStep& step : steps) {
        step.act();
        EXPECT_EQ(step.signalled, ::WaitForSingleObject(step.handle, 0) == WAIT_OBJECT_0)
            << step.what;
    }

    // Set by another thread while the host waits on its own event and ours.
    HANDLE own = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE handles[] = {own, manualHandle};
    std::thread setter([&] {
        ::Sleep(50);
        flk_event_set(manual);
    });
    EXPECT_EQ(WAIT_OBJECT_0 + 1, ::WaitForMultipleObjects(2, handles, FALSE, 10000));
    setter.join();
    ::CloseHandle(own);
    flk_event_destroy(manual);
    flk_event_destroy(automatic);
    flk_mutex_destroy(mutex);
}

// Runs this program as the claim's holder: it takes the claim, says so on the ready event and
// waits to be killed.
TEST(NamedClaimTest, AnotherProcessHoldsTheClaimUntilItDies) {
    HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, L"Local\\ferrolink_test_claim_ready");
    ASSERT_NE(nullptr, ready);
    wchar_t self[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --hold-claim";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION holder{};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &holder));
    const bool held = ::WaitForSingleObject(ready, 30000) == WAIT_OBJECT_0;
    flk::CNamedClaim claim;
    const bool takenWhileHeld = held && claim.Acquire(ClaimName);
    ::TerminateProcess(holder.hProcess, 9);
    ::WaitForSingleObject(holder.hProcess, 30000);
    ::CloseHandle(holder.hThread);
    ::CloseHandle(holder.hProcess);
    ::CloseHandle(ready);
    ASSERT_TRUE(held) << "the holder process did not take the claim";
    EXPECT_FALSE(takenWhileHeld);
    EXPECT_TRUE(claim.Acquire(ClaimName)) << "the claim outlived its holder";
}

int HoldClaim() {
    flk::CNamedClaim claim;
    if (!claim.Acquire(ClaimName)) return 1;
    HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Local\\ferrolink_test_claim_ready");
    if (!ready) return 2;
    ::SetEvent(ready);
    ::Sleep(INFINITE);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], HoldClaimArgument) == 0) return HoldClaim();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

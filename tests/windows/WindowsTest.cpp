// What only the Windows build has: Npcap device names from interface GUIDs, board descriptions in
// GBK, the board claim held by another process and freed when that process dies, and the bulk
// send reaching wpcap.dll (our stand-in beside this program) as one queue of WinPcap records.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <pcap/pcap.h>

#include <ferrolink/adapter/NpfPacketHelper.h>
#include <ferrolink/outside/NamedClaim.h>
#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include <ferrolink/platform/HostEncoding.h>
#include <ferrolink/platform/windows/NpfDeviceName.h>
#include <ferrolink/transmit/ActualPrintData.h>
#include <ferrolink/transmit/Ferrolink.h>
#include "support/FakePacketDriverBackend.h"
#include "support/LogCapture.h"

namespace flk = ferrolink::platform;

namespace {

constexpr const char* HoldClaimArgument = "--hold-claim";
constexpr const char* ClaimName = "Quon_PCap_ferrolink_test";

TEST(NpfDeviceNameTest, GuidAndDeviceNameTranslateBothWaysAndNothingElsePasses) {
    const std::string guid = "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}";
    EXPECT_EQ("\\Device\\NPF_" + guid, flk::CNpfDeviceName::FromGuid(guid));
    EXPECT_EQ("\\Device\\NPF_" + guid,
              flk::CNpfDeviceName::FromGuid("{0a1b2c3d-4e5f-6789-abcd-ef0123456789}"));
    struct SCase {
        const char* name;
        bool valid;
    } const cases[] = {
        {"\\Device\\NPF_{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}", true},
        {"rpcap://\\Device\\NPF_{0a1b2c3d-4e5f-6789-abcd-ef0123456789}", true},
        {"\\device\\npf_{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}", true},
        {"\\Device\\NPF_Loopback", false},
        {"\\Device\\NPF_{0A1B2C3D-4E5F-6789-ABCD-EF012345678}", false},    // one digit short
        {"\\Device\\NPF_{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}x", false},  // trailing text
        {"\\Device\\NPF_{0A1B2C3D+4E5F-6789-ABCD-EF0123456789}", false},   // wrong separator
        {"\\Device\\NPF_{0A1B2C3D-4E5F-6789-ABCD-EF012345678G}", false},   // not hex
        {"{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}", false},                 // no device prefix
        {"", false},
    };
    for (const auto& c : cases) {
        std::string out = "unchanged";
        EXPECT_EQ(c.valid, flk::CNpfDeviceName::ToGuid(c.name, out)) << c.name;
        EXPECT_EQ(c.valid ? guid : "unchanged", out) << c.name;
    }
    EXPECT_EQ("", flk::CNpfDeviceName::FromGuid("0A1B2C3D-4E5F-6789-ABCD-EF0123456789"));
}

// The packet-driver calls of the Windows build above a fake backend: Npcap names in the driver's
// order, the gigabit search, and queries made under the name without "rpcap://".
TEST(PacketDriverWindowsTest, QueriesAnswerFromTheBackendUnderNpcapNames) {
    const std::string giga = "\\Device\\NPF_{00000000-0000-0000-0000-000000000002}";
    flk::CFakePacketDriverBackend fake;
    flk::CPacketDriverBackendScope scope(fake);
    CLogCapture log;
    fake.Add("\\Device\\NPF_{00000000-0000-0000-0000-000000000001}", 10000000000ull).openError =
        ERROR_ACCESS_DENIED;
    const unsigned char mac[6] = {0x7b, 0x23, 0xfc, 0x98, 0x10, 0x99};
    std::memcpy(fake.Add(giga, 1000000000ull).mac, mac, 6);
    fake.Add("\\Device\\NPF_{00000000-0000-0000-0000-000000000003}", 10000000000ull);

    std::vector<std::string> names;
    ASSERT_TRUE(CNpfPacketHelper::AdapterNameList_Get(names));
    ASSERT_EQ(3u, names.size());
    EXPECT_EQ(giga, names[1]);
    std::string name;
    EXPECT_TRUE(CNpfPacketHelper::GB_AdapterName_Get(name));
    EXPECT_EQ(giga, name) << "the locked adapter is skipped, the later one never opened";
    EXPECT_EQ(2u, fake.opened.size());

    std::string source = "rpcap://" + giga;
    pcap_if_t device{};
    device.name = source.data();
    std::vector<unsigned char> got;
    ASSERT_TRUE(CNpfPacketHelper::Device_2_MacAddress(&device, got));
    EXPECT_EQ(std::vector<unsigned char>(mac, mac + 6), got);
    EXPECT_FALSE(CNpfPacketHelper::AdapterName_2_MacAddress(names[0], got));
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(1, log.Count("Unable to open the adapter, Error Code : 0x5", 2));
    EXPECT_TRUE(fake.open.empty()) << "an opened adapter was kept";
}

// The settings live under %APPDATA% and survive a round through the file alone; a directory or a
// malformed file in the file's place gives the defaults and a record, refuses stores and fails
// the check.
TEST(ConfigurationWindowsTest, SettingsLiveUnderAppDataAndReadBackThroughTheFile) {
    namespace fs = std::filesystem;
    const fs::path appData =
        fs::temp_directory_path() / ("flk-appdata-" + std::to_string(::GetCurrentProcessId()));
    fs::remove_all(appData);
    ASSERT_EQ(0, ::_putenv_s("FERROLINK_CONFIG", ""));
    ASSERT_EQ(0, ::_putenv_s("APPDATA", appData.string().c_str()));
    const std::string path = (appData / "ferrolink" / "network.ini").string();
    EXPECT_EQ(path, CSerialize_NetworkCommon::ConfigPath_Get());

    CSerialize_NetworkCommon config;
    EXPECT_EQ("", config.Previous_PCapDeviceName_Get()) << "no file: defaults";
    const std::string device = "rpcap://\\Device\\NPF_{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}";
    ASSERT_TRUE(config.Previous_PCapDeviceName_Set(device));
    ASSERT_TRUE(config.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    ASSERT_TRUE(config.SoftwareMac_Address_Set(static_cast<EMacAddress>(0x05)));
    CSerialize_NetworkCommon reader;
    EXPECT_EQ(device, reader.Previous_PCapDeviceName_Get());
    EXPECT_EQ(SoftwareMacMode_FixedFirstByte, reader.SoftwareMac_Mode_Get());
    EXPECT_EQ(0x05, reader.SoftwareMac_Address_Get());
    std::string why;
    EXPECT_TRUE(CSerialize_NetworkCommon::ConfigPath_Check(why)) << why;
    EXPECT_EQ(
        1, std::distance(fs::directory_iterator(appData / "ferrolink"), fs::directory_iterator{}))
        << "no temporary file left behind";

    fs::remove_all(appData / "ferrolink");
    fs::create_directories(path);
    CLogCapture log;
    EXPECT_EQ("", reader.Previous_PCapDeviceName_Get());
    EXPECT_FALSE(reader.Previous_PCapDeviceName_Set(device));
    EXPECT_FALSE(log.Records().empty());
    EXPECT_FALSE(CSerialize_NetworkCommon::ConfigPath_Check(why));
    EXPECT_NE(std::string::npos, why.find("is not a regular file")) << why;
    fs::remove_all(path);
    std::ofstream(path, std::ios::binary) << "[Network\n";  // left open
    EXPECT_FALSE(reader.SoftwareMac_Mode_Set(SoftwareMacMode_FixedFirstByte));
    EXPECT_FALSE(CSerialize_NetworkCommon::ConfigPath_Check(why));
    EXPECT_NE(std::string::npos, why.find("malformed")) << why;
    EXPECT_EQ(9u, fs::file_size(path)) << "the operator's file was overwritten";
    fs::remove_all(appData);
    ::_putenv_s("APPDATA", "");
}

TEST(HostEncodingTest, BoardDescriptionsAreLoggedInGbkBytes) {
    // Full-width colon A3 BA, then the two characters of "mainboard": D6 F7, B0 E5.
    EXPECT_EQ("b0\xA3\xBA\xD6\xF7\xB0\xE5", flk::CHostEncoding::FromUtf8(u8"b0：主板"));
    EXPECT_EQ("plain", flk::CHostEncoding::FromUtf8("plain"));
    EXPECT_EQ("\xFF broken", flk::CHostEncoding::FromUtf8("\xFF broken")) << "not UTF-8: kept";
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
    CNamedClaim claim;
    const bool takenWhileHeld = held && claim.Acquire(ClaimName);
    ::TerminateProcess(holder.hProcess, 9);
    ::WaitForSingleObject(holder.hProcess, 30000);
    ::CloseHandle(holder.hThread);
    ::CloseHandle(holder.hProcess);
    ::CloseHandle(ready);
    ASSERT_TRUE(held) << "the holder process did not take the claim";
    EXPECT_FALSE(takenWhileHeld);
    EXPECT_TRUE(claim.Acquire(ClaimName)) << "the claim outlived its holder";
    CNamedClaim second;
    EXPECT_FALSE(second.Acquire(ClaimName)) << "a second claim in the same process";
    claim.Release();
    EXPECT_TRUE(second.Acquire(ClaimName));
}

using LastTransmit = const char* (*)(unsigned*, int*, int*);

TEST(BulkSendWpcapTest, OneQueueOfWinPcapRecordsReachesWpcapInOneSynchronousTransmission) {
    HMODULE wpcap = ::GetModuleHandleW(L"wpcap.dll");
    pcap_t* handle = pcap_open_dead(DLT_EN10MB, 65535);  // loads the stand-in
    wpcap = ::GetModuleHandleW(L"wpcap.dll");
    ASSERT_NE(nullptr, handle);
    ASSERT_NE(nullptr, wpcap);
    const FARPROC proc = ::GetProcAddress(wpcap, "standin_last_transmit");
    ASSERT_NE(nullptr, proc) << "the loaded wpcap.dll is not the stand-in";
    LastTransmit last = nullptr;
    std::memcpy(&last, &proc, sizeof last);

    std::vector<unsigned char> data(3000, 0x5A);
    CActualPrintData print;
    print.UseBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    print.m_packetList = {{0, 100}, {100, 1468}, {1568, 10}};
    print.m_packetDataSize = 1468;
    print.m_startPacketIndex = 0;
    ASSERT_TRUE(FLK_SendPrintData(handle, &print, 7));

    unsigned length = 0;
    int sync = 0, transmissions = 0;
    const auto* bytes =
        reinterpret_cast<const unsigned char*>(last(&length, &sync, &transmissions));
    EXPECT_EQ(1, transmissions);
    EXPECT_EQ(1, sync);
    ASSERT_EQ(3u * (16 + 1496), length);
    for (unsigned i = 0; i < 3; ++i) {
        std::uint32_t header[4];
        std::memcpy(header, bytes + i * (16 + 1496), sizeof header);
        EXPECT_EQ(0u, header[0]) << "time stamp, record " << i;
        EXPECT_EQ(0u, header[1]) << "time stamp, record " << i;
        EXPECT_EQ(1496u, header[2]) << "caplen, record " << i;
        EXPECT_EQ(1496u, header[3]) << "len, record " << i;
        EXPECT_EQ(i, bytes[i * (16 + 1496) + 16 + 23]) << "packetIndex low byte, record " << i;
    }
    pcap_close(handle);
}

int HoldClaim() {
    CNamedClaim claim;
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

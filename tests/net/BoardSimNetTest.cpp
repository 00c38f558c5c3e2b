// The board emulator on a real link: it runs in-process on namespace B's end of a veth pair and
// the host listens from namespace A as a host would. Its bands over a clean and an impaired link
// are the end-to-end test's (tests/e2e); here, its own clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <ferrolink/platform/PcapTimedRead.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>

#include "VethRig.h"
#include "board-sim/BoardEmulator.h"
#include "common/BoardProtocol.h"

namespace {

namespace tools = ferrolink::tools;
using ESide = CVethRig::ESide;
using BoardSimNetTest = VethRigTest;

TEST_F(BoardSimNetTest, PeriodicReportsArriveAboutEveryIntervalAndDetectionHearsThem) {
    CConstValue::BoardMac_FirstByte_Update(0x12);  // the emulator's default
    PcapHandle host = m_rig->Open(ESide::A, true);
    ASSERT_TRUE(host);
    tools::SBoardEmulatorOptions options;
    options.m_interface = m_rig->Interface(ESide::B);
    options.m_reportIntervalMs = 100;
    options.m_boardMemoryBytes = 1 << 20;
    tools::CBoardEmulator board(options);
    std::string why;
    ASSERT_TRUE(m_rig->RunIn(ESide::B, [&] { return board.Open(why); })) << why;
    auto running = m_rig->StartIn(ESide::B, [&] { return board.Run(); });

    const bool heard = CNetworkHelper::Detect_ReplyPacket(host.get(), 1000);
    std::vector<double> at;  // capture times of the reports, in ms
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1050);
         std::chrono::steady_clock::now() < end;) {
        pcap_pkthdr* h = nullptr;
        const u_char* p = nullptr;
        if (ferrolink::platform::pcap_next_ex(host.get(), &h, &p) == 1 && h->caplen >= 88 &&
            std::memcmp(p, CConstValue::GetPcMac(), 6) == 0 &&
            CNetworkHelper::IsValidCheckSum(p, static_cast<int>(h->caplen)) &&
            ((p[14] << 8) | p[15]) == tools::kSymbolAutoReport)
            at.push_back(h->ts.tv_sec * 1e3 + h->ts.tv_usec / 1e3);
    }
    board.Stop();
    EXPECT_TRUE(running.get());
    EXPECT_TRUE(heard);
    ASSERT_GE(at.size(), 8u);
    EXPECT_LE(at.size(), 12u);
    EXPECT_NEAR(100.0, (at.back() - at.front()) / static_cast<double>(at.size() - 1), 15.0);
    for (std::size_t i = 1; i < at.size(); ++i) EXPECT_LT(at[i] - at[i - 1], 180.0) << i;
}

}  // namespace

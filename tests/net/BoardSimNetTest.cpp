// The board emulator in-process on namespace B's end of a veth pair, the host listening from
// namespace A: on a silent link its reports keep their rhythm. Its bands over a clean and an
// impaired link are the end-to-end test's (tests/e2e).
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include <ferrolink/platform/PcapTimedRead.h>

#include "VethRig.h"
#include "board-sim/BoardEmulator.h"
#include "common/BoardProtocol.h"

namespace {

namespace tools = ferrolink::tools;
using ESide = CVethRig::ESide;
using BoardSimNetTest = VethRigTest;

TEST_F(BoardSimNetTest, PeriodicReportsArriveAboutEveryInterval) {
    PcapHandle host = m_rig->Open(ESide::A, true);
    ASSERT_TRUE(host);
    tools::SBoardEmulatorOptions options;
    options.m_interface = m_rig->Interface(ESide::B);
    options.m_reportIntervalMs = 100;
    options.m_boardMemoryBytes = 1 << 20;
    tools::CBoardEmulator board(options);
    std::string why;
    ASSERT_TRUE(m_rig->RunIn(ESide::B, [&] { return board.Open(why); })) << why;
    auto running = std::async(std::launch::async, [&] { return board.Run(); });
    std::vector<double> at;  // capture times of the reports, in ms
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1050);
         std::chrono::steady_clock::now() < end;) {
        pcap_pkthdr* h = nullptr;
        const u_char* p = nullptr;
        if (ferrolink::platform::pcap_next_ex(host.get(), &h, &p) == 1 && h->caplen >= 16 &&
            ((p[14] << 8) | p[15]) == tools::kSymbolAutoReport)
            at.push_back(h->ts.tv_sec * 1e3 + h->ts.tv_usec / 1e3);
    }
    board.Stop();
    EXPECT_TRUE(running.get());
    ASSERT_GE(at.size(), 8u);
    EXPECT_LE(at.size(), 12u);
    EXPECT_NEAR(100.0, (at.back() - at.front()) / static_cast<double>(at.size() - 1), 15.0);
}

}  // namespace

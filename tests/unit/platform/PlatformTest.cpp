// The platform layer without a link: what a query and an open of an adapter that is not there
// answer, the per-handle state of the reads, and reads on dead handles.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <ferrolink/platform/Adapters.h>
#include <ferrolink/platform/Link.h>
#include <ferrolink/platform/linux/PcapHandleRegistry.h>

namespace flk = ferrolink::platform;

namespace {

// Nothing here exists in any namespace, so nothing is opened or listened to.
TEST(PlatformTest, AbsentAdaptersFailWithTheirReason) {
    for (const std::string& name :
         {std::string("flk-nosuch0"), std::string(), std::string(16, 'n')}) {
        flk::SAdapter adapter;
        const flk::SSystemError error = flk::CAdapters::Query(name, adapter);
        EXPECT_EQ(static_cast<unsigned long>(ENODEV), error.code) << name;
        EXPECT_NE(std::string::npos, error.text.find(std::strerror(ENODEV))) << error.text;
    }
    std::string error;
    EXPECT_EQ(nullptr, flk::CLink::OpenLive("flk-nosuch0", flk::SLinkOptions{}, error));
    EXPECT_NE(std::string::npos, error.find("flk-nosuch0")) << error;
}

TEST(PcapHandleRegistryTest, RegisteredTimeOutUntilForgottenAndNoStaleStateAfterwards) {
    // The registry only keys on the address, so any address stands in for a handle.
    int slot = 0;
    pcap_t* const a = reinterpret_cast<pcap_t*>(&slot);
    using Registry = flk::CPcapHandleRegistry;
    Registry::Register(a, 1000);
    EXPECT_EQ(1000, Registry::Obtain(a)->m_readTimeoutMs);
    Registry::Obtain(a)->m_breakRequested = true;
    Registry::Forget(a);
    // A handle opened later at the same address inherits neither time-out nor break request.
    EXPECT_EQ(Registry::DefaultReadTimeoutMs, Registry::Obtain(a)->m_readTimeoutMs);
    EXPECT_FALSE(Registry::Obtain(a)->m_breakRequested);
    Registry::Obtain(a)->m_breakRequested = true;
    Registry::Register(a, 10);
    EXPECT_FALSE(Registry::Obtain(a)->m_breakRequested);
    Registry::Forget(a);
}

TEST(LinkReadTest, DeadHandleIsLibpcapsToRefuseNotAWaitOnStandardInput) {
    // A dead handle reports descriptor 0; with a quiet standard input a wait on it would look
    // like a read time-out (0) instead of libpcap's refusal.
    int quiet[2];
    ASSERT_EQ(0, ::pipe(quiet));
    const int keptInput = ::dup(0);
    ASSERT_EQ(0, ::dup2(quiet[0], 0));
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int next = flk::CLink::ReadOne(dead, &header, &data);
    const int dispatched = flk::CLink::ReadBatch(
        dead, 1, [](u_char*, const pcap_pkthdr*, const u_char*) {}, nullptr);
    ::dup2(keptInput, 0);
    for (int fd : {keptInput, quiet[0], quiet[1]}) ::close(fd);
    EXPECT_EQ(PCAP_ERROR, next);
    EXPECT_EQ(PCAP_ERROR, dispatched);
    flk::CLink::Close(dead);
}

}  // namespace

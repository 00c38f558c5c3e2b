#include <gtest/gtest.h>

#include <ferrolink/platform/PcapHandleRegistry.h>

using ferrolink::platform::CPcapHandleRegistry;

namespace {

// The registry only keys on the address, so any distinct addresses stand in for handles.
pcap_t* FakeHandle(int& slot) {
    return reinterpret_cast<pcap_t*>(&slot);
}

TEST(PcapHandleRegistryTest, RegisteredTimeOutUntilForgottenAndNoStaleStateAfterwards) {
    int a = 0, b = 0;
    CPcapHandleRegistry::Register(FakeHandle(a), 1000);
    EXPECT_EQ(1000, CPcapHandleRegistry::Obtain(FakeHandle(a))->m_readTimeoutMs);
    EXPECT_EQ(CPcapHandleRegistry::DefaultReadTimeoutMs,
              CPcapHandleRegistry::Obtain(FakeHandle(b))->m_readTimeoutMs);
    CPcapHandleRegistry::Obtain(FakeHandle(a))->m_breakRequested = true;
    EXPECT_TRUE(CPcapHandleRegistry::Forget(FakeHandle(a)));
    EXPECT_FALSE(CPcapHandleRegistry::Forget(FakeHandle(a)));
    // A handle opened later at the same address inherits neither time-out nor break request.
    EXPECT_EQ(CPcapHandleRegistry::DefaultReadTimeoutMs,
              CPcapHandleRegistry::Obtain(FakeHandle(a))->m_readTimeoutMs);
    EXPECT_FALSE(CPcapHandleRegistry::Obtain(FakeHandle(a))->m_breakRequested);
    CPcapHandleRegistry::Obtain(FakeHandle(a))->m_breakRequested = true;
    CPcapHandleRegistry::Register(FakeHandle(a), 10);
    EXPECT_FALSE(CPcapHandleRegistry::Obtain(FakeHandle(a))->m_breakRequested);
    CPcapHandleRegistry::Forget(FakeHandle(a));
    CPcapHandleRegistry::Forget(FakeHandle(b));
}

}  // namespace

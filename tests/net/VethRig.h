// Two fresh network namespaces joined by a veth pair, for tests that put real frames on a link
// without ever touching the machine's own adapters. Both ends are up, carry no addresses and have
// IPv6 switched off, so the link stays silent unless a test sends. Everything is removed when the
// rig is destroyed, also after a failed test.
#pragma once

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using PcapHandle = std::unique_ptr<pcap_t, void (*)(pcap_t*)>;
using Frame = std::vector<unsigned char>;

class CVethRig {
public:
    enum class ESide { A, B };

    // Null, with the reason in `why`, when namespaces cannot be made here (not root, or no
    // CAP_SYS_ADMIN and CAP_NET_ADMIN) or the link does not come up.
    static std::unique_ptr<CVethRig> Create(std::string& why);
    ~CVethRig();

    const std::string& Namespace(ESide side) const { return side == ESide::A ? m_nsA : m_nsB; }
    const std::string& Interface(ESide side) const { return side == ESide::A ? m_ifA : m_ifB; }

    // One more veth pair between the same two namespaces, up and as silent as the first.
    bool AddPair(const std::string& ifA, const std::string& ifB, std::string& why);

    // Runs `f` on a thread that has entered the side's namespace. Sockets and capture handles
    // made there stay in that namespace wherever they are used later.
    template <typename F>
    auto RunIn(ESide side, F f) -> decltype(f()) {
        return std::async(std::launch::async,
                          [ns = Namespace(side), &f] {
                              std::string why;
                              if (!EnterNamespace(ns, why)) throw std::runtime_error(why);
                              return f();
                          })
            .get();
    }

    // A command line (ip, tc) run by the shell with sbin on the path; true when it exits with 0.
    static bool Sh(const std::string& command, std::string* output = nullptr);

    // A capture handle made inside the side's namespace on `interface` (the rig's end when
    // empty): ours is opened through the library's layer ("rpcap://IF", promiscuous, 1496-byte
    // snap length), plain as a host would with libpcap alone (blocking, default buffer).
    PcapHandle Open(ESide side, bool ours, int timeoutMs = 10, std::string interface = "");

    // The frames a handle delivers within `span`, read through the library's timed read.
    static std::vector<Frame> Read(pcap_t* p, std::chrono::milliseconds span);

private:
    CVethRig() = default;
    static bool EnterNamespace(const std::string& ns, std::string& why);

    std::string m_nsA, m_nsB, m_ifA, m_ifB;
};

// Fixture: a fresh rig per test, skipped with the reason when the rig cannot be made.
class VethRigTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        m_rig = CVethRig::Create(why);
        if (!m_rig) GTEST_SKIP() << "no veth rig: " << why;
    }

    std::unique_ptr<CVethRig> m_rig;
};

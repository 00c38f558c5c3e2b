// Two fresh network namespaces joined by a veth pair, for tests that put real frames on a link
// without ever touching the machine's own adapters. Both ends are up, carry no addresses and have
// IPv6 switched off, so the link stays silent unless a test sends. Everything is removed when the
// rig is destroyed, also after a failed test; namespaces left by a crashed run are removed when
// the next rig is made.
#pragma once

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class CVethRig {
public:
    enum class ESide { A, B };

    // Null, with the reason in `why`, when namespaces cannot be made here (not root, or no
    // CAP_SYS_ADMIN and CAP_NET_ADMIN) or the link does not come up.
    static std::unique_ptr<CVethRig> Create(std::string& why);
    ~CVethRig();
    CVethRig(const CVethRig&) = delete;
    CVethRig& operator=(const CVethRig&) = delete;

    const std::string& Namespace(ESide side) const { return side == ESide::A ? m_nsA : m_nsB; }
    const std::string& Interface(ESide side) const { return side == ESide::A ? m_ifA : m_ifB; }

    // One more veth pair between the same two namespaces, `ifA` in A and `ifB` in B, up and as
    // silent as the first; it goes with the namespaces. False, with the reason in `why`, if not.
    bool AddPair(const std::string& ifA, const std::string& ifB, std::string& why);

    // Runs `f` on a new thread that has entered the side's namespace; the calling thread stays
    // where it is. Sockets and capture handles made there stay in that namespace wherever they
    // are used later. Exceptions, including a failure to enter, come out of get().
    template <typename F>
    auto StartIn(ESide side, F&& f) -> std::future<decltype(f())> {
        using Result = decltype(f());
        return std::async(std::launch::async,
                          [ns = Namespace(side), fn = std::forward<F>(f)]() mutable -> Result {
                              std::string why;
                              if (!EnterNamespace(ns, why)) throw std::runtime_error(why);
                              return fn();
                          });
    }
    // Same, waiting for the result.
    template <typename F>
    auto RunIn(ESide side, F&& f) -> decltype(f()) {
        return StartIn(side, std::forward<F>(f)).get();
    }

    // Run `ip` or `tc` with these arguments; true when it exits with 0. Output goes to `output`.
    static bool RunIp(const std::vector<std::string>& args, std::string* output = nullptr);
    static bool RunTc(const std::vector<std::string>& args, std::string* output = nullptr);

private:
    CVethRig() = default;
    static bool Run(const char* program, const std::vector<std::string>& args, std::string* output);
    static bool EnterNamespace(const std::string& ns, std::string& why);
    static void RemoveLeftovers();
    static bool WaitUntilUp(const std::string& ns, const std::string& interface);
    static bool MakePair(const std::string& nsA, const std::string& ifA, const std::string& nsB,
                         const std::string& ifB, std::string& why);

    std::string m_nsA, m_nsB, m_ifA, m_ifB;
    bool m_madeA = false, m_madeB = false;
};

// Fixture: a fresh rig per test, skipped with the reason when the rig cannot be made.
class VethRigTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { m_rig.reset(); }

    std::unique_ptr<CVethRig> m_rig;
};

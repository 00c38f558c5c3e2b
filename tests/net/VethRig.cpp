#include "VethRig.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include <ferrolink/platform/PcapExtensions.h>
#include <ferrolink/platform/PcapTimedRead.h>

namespace flk = ferrolink::platform;

namespace {
// Namespaces are named flktest-<pid>-<n>-a/b; a pid that no longer runs marks a leftover.
constexpr const char* kPrefix = "flktest-";
std::atomic<int> g_rigCount{0};
}  // namespace

bool CVethRig::Sh(const std::string& command, std::string* output) {
    // iproute2 lives in sbin, which a test runner's PATH may lack.
    FILE* pipe =
        ::popen(("export PATH=/usr/sbin:/sbin:$PATH; (" + command + ") 2>&1").c_str(), "r");
    if (!pipe) return false;
    std::string text;
    char chunk[512];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
    if (output) *output = text;
    const int status = ::pclose(pipe);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool CVethRig::EnterNamespace(const std::string& ns, std::string& why) {
    const int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    const bool entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    if (!entered) why = "cannot enter " + ns + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return entered;
}

bool CVethRig::AddPair(const std::string& ifA, const std::string& ifB, std::string& why) {
    if (!Sh("ip link add " + ifA + " netns " + m_nsA + " type veth peer name " + ifB + " netns " +
                m_nsB + " && ip -n " + m_nsA + " link set " + ifA + " up && ip -n " + m_nsB +
                " link set " + ifB + " up",
            &why))
        return false;
    // The device queue is attached a moment after the link comes up; frames sent before that
    // are dropped without an error, so wait until the queue is no longer the "noop" one.
    for (const auto& [ns, interface] : {std::pair(m_nsA, ifA), std::pair(m_nsB, ifB)}) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!Sh("ip -n " + ns + " link show dev " + interface, &why) ||
               why.find("LOWER_UP") == std::string::npos ||
               why.find("qdisc noop") != std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) {
                why = interface + " did not come up: " + why;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return true;
}

std::unique_ptr<CVethRig> CVethRig::Create(std::string& why) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/run/netns", ignored)) {
        const std::string name = entry.path().filename();
        if (name.rfind(kPrefix, 0) != 0) continue;
        const long pid = std::strtol(name.c_str() + std::strlen(kPrefix), nullptr, 10);
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH) Sh("ip netns delete " + name);
    }
    std::unique_ptr<CVethRig> rig(new CVethRig);
    const std::string pid = std::to_string(::getpid());
    const std::string base = kPrefix + pid + "-" + std::to_string(g_rigCount++);
    rig->m_nsA = base + "-a";
    rig->m_nsB = base + "-b";
    // Each name lives in its own namespace; the pid only makes them easy to trace (<= 15 chars).
    rig->m_ifA = "flka" + pid;
    rig->m_ifB = "flkb" + pid;
    // No IPv6, so that the link stays silent; "default" covers the devices made next, before
    // they can send a solicitation. A kernel without IPv6 is silent anyway.
    std::string command;
    for (const std::string& ns : {rig->m_nsA, rig->m_nsB})
        command += "ip netns add " + ns + " && { ip netns exec " + ns +
                   " sh -c 'for c in all default; do echo 1 >/proc/sys/net/ipv6/conf/$c/"
                   "disable_ipv6; done' || true; } && ";
    if (!Sh(command + "true", &why)) {
        why = "cannot create network namespaces (needs root, CAP_SYS_ADMIN, CAP_NET_ADMIN): " + why;
        return nullptr;
    }
    return rig->AddPair(rig->m_ifA, rig->m_ifB, why) ? std::move(rig) : nullptr;
}

CVethRig::~CVethRig() {
    // The veth pairs go with their namespaces; one that was never made is no error here.
    Sh("ip netns delete " + m_nsA + "; ip netns delete " + m_nsB);
}

PcapHandle CVethRig::Open(ESide side, bool ours, int timeoutMs, std::string interface) {
    if (interface.empty()) interface = Interface(side);
    pcap_t* p = RunIn(side, [&] {
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        return ours ? flk::pcap_open(("rpcap://" + interface).c_str(), 1496, 1, timeoutMs, nullptr,
                                     errbuf)
                    : pcap_open_live(interface.c_str(), 65536, 1, timeoutMs, errbuf);
    });
    return PcapHandle(p, &flk::pcap_close);
}

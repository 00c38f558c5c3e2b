#include "VethRig.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <ferrolink/platform/Link.h>

namespace flk = ferrolink::platform;

namespace {
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
    // The device queue is attached a moment after the link comes up; frames sent before that
    // are dropped without an error, so each end waits (up to 5 s) for a queue other than "noop".
    const std::string a = m_nsA + " " + ifA, b = m_nsB + " " + ifB;
    return Sh(
        "set_up() { ip -n $1 link set $2 up; }; up() { for i in $(seq 500); do ip -n $1 link "
        "show dev $2 | grep LOWER_UP | grep -qv 'qdisc noop' && return 0; sleep 0.01; done; "
        "echo $2 did not come up; return 1; }; ip link add " +
            ifA + " netns " + m_nsA + " type veth peer name " + ifB + " netns " + m_nsB +
            " && set_up " + a + " && set_up " + b + " && up " + a + " && up " + b,
        &why);
}

std::unique_ptr<CVethRig> CVethRig::Create(std::string& why) {
    std::unique_ptr<CVethRig> rig(new CVethRig);
    const std::string pid = std::to_string(::getpid());
    const std::string base = "flktest-" + pid + "-" + std::to_string(g_rigCount++);
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
        flk::SLinkOptions options;
        options.snapLength = 1496;
        options.readTimeoutMs = timeoutMs;
        std::string error;
        return ours ? flk::CLink::OpenLive(interface, options, error)
                    : pcap_open_live(interface.c_str(), 65536, 1, timeoutMs, errbuf);
    });
    return PcapHandle(p, &flk::CLink::Close);
}

std::vector<Frame> CVethRig::Read(pcap_t* p, std::chrono::milliseconds span) {
    std::vector<Frame> frames;
    for (const auto end = std::chrono::steady_clock::now() + span;
         std::chrono::steady_clock::now() < end;) {
        pcap_pkthdr* h = nullptr;
        const u_char* data = nullptr;
        if (flk::CLink::ReadOne(p, &h, &data) == 1) frames.emplace_back(data, data + h->caplen);
    }
    return frames;
}

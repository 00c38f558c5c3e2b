#include "VethRig.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

extern char** environ;

namespace {

// Namespaces are named <prefix><pid>-<n>-a/b; a pid that no longer runs marks a leftover.
constexpr const char* NamespacePrefix = "flktest-";
constexpr const char* NamespaceDirectory = "/run/netns";

std::atomic<int> g_rigCount{0};

// iproute2 lives in sbin, which a test runner's PATH may lack.
std::string Program(const std::string& name) {
    for (const char* directory : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
        const std::string path = directory + name;
        if (::access(path.c_str(), X_OK) == 0) return path;
    }
    return name;
}

// Written from a thread inside the namespace: /proc/sys/net shows the reader's namespace.
void DisableIpv6(const std::string& ns) {
    std::thread([&ns] {
        const int fd =
            ::open((std::string(NamespaceDirectory) + "/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        const bool entered = ::setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        if (!entered) return;
        // "default" covers the devices made afterwards, before they can send a solicitation.
        for (const char* which : {"all", "default"}) {
            std::ofstream(std::string("/proc/sys/net/ipv6/conf/") + which + "/disable_ipv6")
                << "1\n";
        }
    }).join();
}

}  // namespace

bool CVethRig::RunIp(const std::vector<std::string>& args, std::string* output) {
    return Run("ip", args, output);
}

bool CVethRig::RunTc(const std::vector<std::string>& args, std::string* output) {
    return Run("tc", args, output);
}

bool CVethRig::Run(const char* program, const std::vector<std::string>& args, std::string* output) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    std::vector<std::string> argv{Program(program)};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp;
    for (auto& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    std::string text;
    char chunk[512];
    for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof(chunk))) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    if (output) *output = text;
    if (spawned != 0) {
        if (output) *output = "cannot run " + argv[0] + ": " + std::strerror(spawned);
        return false;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool CVethRig::EnterNamespace(const std::string& ns, std::string& why) {
    const std::string path = std::string(NamespaceDirectory) + "/" + ns;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool entered = ::setns(fd, CLONE_NEWNET) == 0;
    if (!entered) why = "setns into " + ns + ": " + std::strerror(errno);
    ::close(fd);
    return entered;
}

void CVethRig::RemoveLeftovers() {
    DIR* directory = ::opendir(NamespaceDirectory);
    if (!directory) return;
    std::vector<std::string> stale;
    const std::size_t prefixLength = std::strlen(NamespacePrefix);
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefixLength, NamespacePrefix) != 0) continue;
        const long pid = std::strtol(name.c_str() + prefixLength, nullptr, 10);
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            stale.push_back(name);
    }
    ::closedir(directory);
    for (const auto& name : stale) RunIp({"netns", "delete", name});
}

bool CVethRig::WaitUntilUp(const std::string& ns, const std::string& interface) {
    // The device queue is attached a moment after the link comes up; frames sent before that
    // are dropped without an error, so wait until the queue is no longer the "noop" one.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::string shown;
    while (std::chrono::steady_clock::now() < deadline) {
        if (RunIp({"-n", ns, "link", "show", "dev", interface}, &shown) &&
            shown.find("LOWER_UP") != std::string::npos &&
            shown.find("qdisc noop") == std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool CVethRig::MakePair(const std::string& nsA, const std::string& ifA, const std::string& nsB,
                        const std::string& ifB, std::string& why) {
    std::string output;
    if (!RunIp(
            {"link", "add", ifA, "netns", nsA, "type", "veth", "peer", "name", ifB, "netns", nsB},
            &output)) {
        why = "cannot create a veth pair: " + output;
        return false;
    }
    for (const auto& [ns, interface] : {std::pair(nsA, ifA), std::pair(nsB, ifB)}) {
        if (!RunIp({"-n", ns, "link", "set", "dev", interface, "up"}, &output)) {
            why = "cannot bring " + interface + " up: " + output;
            return false;
        }
    }
    for (const auto& [ns, interface] : {std::pair(nsA, ifA), std::pair(nsB, ifB)}) {
        if (!WaitUntilUp(ns, interface)) {
            why = interface + " did not come up";
            return false;
        }
    }
    return true;
}

bool CVethRig::AddPair(const std::string& ifA, const std::string& ifB, std::string& why) {
    return MakePair(m_nsA, ifA, m_nsB, ifB, why);
}

std::unique_ptr<CVethRig> CVethRig::Create(std::string& why) {
    RemoveLeftovers();
    std::unique_ptr<CVethRig> rig(new CVethRig);
    const std::string pid = std::to_string(::getpid());
    const std::string base = NamespacePrefix + pid + "-" + std::to_string(g_rigCount++);
    rig->m_nsA = base + "-a";
    rig->m_nsB = base + "-b";
    // Each name lives in its own namespace; the pid only makes them easy to trace (<= 15 chars).
    rig->m_ifA = "flka" + pid;
    rig->m_ifB = "flkb" + pid;

    std::string output;
    if (!RunIp({"netns", "add", rig->m_nsA}, &output)) {
        why =
            "cannot create network namespaces (needs root with CAP_SYS_ADMIN and "
            "CAP_NET_ADMIN): " +
            output;
        return nullptr;
    }
    rig->m_madeA = true;
    if (!RunIp({"netns", "add", rig->m_nsB}, &output)) {
        why = "cannot create a second network namespace: " + output;
        return nullptr;
    }
    rig->m_madeB = true;
    DisableIpv6(rig->m_nsA);
    DisableIpv6(rig->m_nsB);
    if (!MakePair(rig->m_nsA, rig->m_ifA, rig->m_nsB, rig->m_ifB, why)) return nullptr;
    return rig;
}

CVethRig::~CVethRig() {
    // The veth pair goes with its namespaces.
    if (m_madeA) RunIp({"netns", "delete", m_nsA});
    if (m_madeB) RunIp({"netns", "delete", m_nsB});
}

void VethRigTest::SetUp() {
    std::string why;
    m_rig = CVethRig::Create(why);
    if (!m_rig) GTEST_SKIP() << "no veth rig: " << why;
}

#include "platform/JobFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A file cut shorter while a view of it is read makes the kernel raise SIGBUS at the first access
// past its new end. The views in use are noted here, so that such a fault ends the tool with a
// message naming the cause rather than a crash; any other SIGBUS keeps its default action.
constexpr std::size_t kViewSlots = 64;
std::atomic<std::uintptr_t> g_viewBegin[kViewSlots];
std::atomic<std::uintptr_t> g_viewEnd[kViewSlots];
char g_shrankMessage[600];
std::atomic<std::size_t> g_shrankLength{0};

void OnBusError(int, siginfo_t* info, void*) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (std::size_t i = 0; i < kViewSlots; ++i) {
        if (address >= g_viewBegin[i].load() && address < g_viewEnd[i].load()) {
            const std::size_t length = g_shrankLength.load();
            if (::write(STDERR_FILENO, g_shrankMessage, length) < 0) {
                // Nothing more can be said from here.
            }
            ::_exit(1);
        }
    }
    ::signal(SIGBUS, SIG_DFL);  // not ours: the fault repeats with the default action
}

void GuardViews(const std::string& path) {
    const int length = std::snprintf(
        g_shrankMessage, sizeof g_shrankMessage,
        "ferrolink: %s shrank while it was being sent; the job is incomplete\n", path.c_str());
    g_shrankLength = length > 0 ? std::min<std::size_t>(static_cast<std::size_t>(length),
                                                        sizeof g_shrankMessage - 1)
                                : 0;
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        return ::sigaction(SIGBUS, &action, nullptr) == 0;
    }();
    (void)installed;
}

void NoteView(const void* base, std::size_t length, bool inUse) {
    const auto begin = reinterpret_cast<std::uintptr_t>(base);
    for (std::size_t i = 0; i < kViewSlots; ++i) {
        std::uintptr_t expected = inUse ? 0 : begin;
        if (g_viewBegin[i].compare_exchange_strong(expected, inUse ? begin : 0)) {
            g_viewEnd[i] = inUse ? begin + length : 0;
            return;
        }
    }
}

}  // namespace

CJobFile::~CJobFile() {
    Close();
}

void CJobFile::Close() {
    if (m_file >= 0) ::close(static_cast<int>(m_file));
    m_file = -1;
}

bool CJobFile::Open(const std::string& path, std::string& error) {
    Close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        error = "cannot read " + path + ": " +
                (fd < 0 ? std::strerror(errno) : "not a non-empty regular file");
        if (fd >= 0) ::close(fd);
        return false;
    }
    GuardViews(path);
    m_file = fd;
    m_size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool CJobFile::View(std::uint64_t offset, std::size_t length, SJobView& view,
                    std::string& error) const {
    static const std::uint64_t kPage = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t start = offset / kPage * kPage;
    const auto mapped = static_cast<std::size_t>(offset - start) + length;
    // Populated now, on the reader's thread: the pages are read from the disk (or found in the
    // page cache) and entered at once rather than faulted in one by one where they are used.
    void* base = ::mmap(nullptr, mapped, PROT_READ, MAP_SHARED | MAP_POPULATE,
                        static_cast<int>(m_file), static_cast<off_t>(start));
    if (base == MAP_FAILED) return ReadInto(offset, length, view, error);
    struct stat info {};
    if (::fstat(static_cast<int>(m_file), &info) != 0 ||
        static_cast<std::uint64_t>(info.st_size) < offset + length) {
        ::munmap(base, mapped);
        error = "the file shrank while it was sent";
        return false;
    }
    NoteView(base, mapped, true);
    view.m_base = base;
    view.m_mapped = mapped;
    view.m_data = static_cast<const unsigned char*>(base) + (offset - start);
    view.m_length = length;
    return true;
}

bool CJobFile::ReadAt(std::uint64_t offset, unsigned char* into, std::size_t length,
                      std::size_t& got, std::string& error) const {
    for (;;) {
        const ssize_t read =
            ::pread(static_cast<int>(m_file), into, length, static_cast<off_t>(offset));
        if (read < 0 && errno == EINTR) continue;
        if (read < 0) {
            error = std::strerror(errno);
            return false;
        }
        got = static_cast<std::size_t>(read);
        return true;
    }
}

void CJobFile::Release(SJobView& view) const {
    if (view.m_base && view.m_mapped) {
        NoteView(view.m_base, view.m_mapped, false);
        ::munmap(view.m_base, view.m_mapped);
    }
    if (view.m_base && !view.m_mapped) std::free(view.m_base);
    view = SJobView{};
}

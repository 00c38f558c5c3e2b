#include <ferrolink/outside/NamedClaim.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// Names become file names: keep them to a safe alphabet.
std::string FileNameFor(const std::string& name) {
    std::string out;
    for (char c : name) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        out += safe ? c : '_';
    }
    return out + ".lock";
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

class CDescriptor {
public:
    explicit CDescriptor(int fd = -1) : m_fd(fd) {}
    ~CDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;
    int Get() const { return m_fd; }
    int Take() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset(int fd) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// Opens the lock folder, making it when missing, without following a link. A folder that another
// user owns, or that others may write into without the sticky bit, could be emptied or filled
// with links by them: it is refused. So only root makes a folder that every user may share
// (sticky and writable by all, inside a sticky parent); a folder any other user makes is that
// user's alone, since a shared one it owned would be refused to everyone else.
int OpenLockDirectory(const std::string& dir, std::string& why) {
    std::filesystem::path parent = std::filesystem::path(dir).lexically_normal();
    parent = parent.has_filename() ? parent.parent_path() : parent.parent_path().parent_path();
    if (parent.empty()) parent = ".";
    struct stat parentStatus {};
    const bool sharedParent = ::stat(parent.c_str(), &parentStatus) == 0 &&
                              (parentStatus.st_mode & S_ISVTX) && (parentStatus.st_mode & S_IWOTH);
    const mode_t mode = sharedParent && ::geteuid() == 0 ? 01777 : 0755;
    const bool made = ::mkdir(dir.c_str(), 0755) == 0;
    if (!made && errno != EEXIST) {
        why = "the lock folder " + dir + " cannot be made: " + ErrorText(errno);
        return -1;
    }
    CDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Get() < 0) {
        why = "the lock folder " + dir + " cannot be opened: " +
              (errno == ELOOP || errno == ENOTDIR ? "it is a symbolic link or not a folder"
                                                  : ErrorText(errno));
        return -1;
    }
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0) {
        why = "the lock folder " + dir + " cannot be examined: " + ErrorText(errno);
        return -1;
    }
    if (made && status.st_uid == ::geteuid() && ::fchmod(fd.Get(), mode) == 0)
        status.st_mode = (status.st_mode & ~07777) | mode;
    if (status.st_uid != 0 && status.st_uid != ::geteuid()) {
        why = "the lock folder " + dir + " belongs to user " + std::to_string(status.st_uid) +
              ", neither root nor this user";
        return -1;
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) && !(status.st_mode & S_ISVTX)) {
        why = "the lock folder " + dir + " is writable by other users without the sticky bit";
        return -1;
    }
    return fd.Take();
}

// The process holding the flock on the file, as /proc/locks tells; 0 when it cannot tell (no
// /proc, or a holder in another process namespace).
long HolderFromLocks(const struct stat& file) {
    std::ifstream locks("/proc/locks");
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(file.st_dev), minor(file.st_dev),
                  static_cast<unsigned long long>(file.st_ino));
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, advisory, access, where;
        long pid = 0;
        if (fields >> number >> kind >> advisory >> access >> pid >> where && kind == "FLOCK" &&
            where == device)
            return pid;
    }
    return 0;
}

// The process id that a holder wrote into the file, 0 when there is none.
long HolderFromFile(int fd) {
    char text[24] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    return end != text && pid > 0 ? pid : 0;
}

// Records the holder's process id in a claim file of this user, for people who look. A file of
// another user is left alone: the lock needs no write access.
void WriteHolder(int dirFd, const std::string& file, const struct stat& locked) {
    if (locked.st_uid != ::geteuid() || locked.st_nlink != 1) return;
    CDescriptor fd(::openat(dirFd, file.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &status) != 0 || status.st_ino != locked.st_ino ||
        status.st_dev != locked.st_dev)
        return;
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd.Get(), 0) != 0) return;
    [[maybe_unused]] const ssize_t written = ::pwrite(fd.Get(), pid.data(), pid.size(), 0);
}

}  // namespace

CNamedClaim::~CNamedClaim() {
    Release();
}

std::string CNamedClaim::LockDirectory() {
    if (const char* dir = std::getenv("FERROLINK_LOCK_DIR"); dir && *dir) return dir;
    // Root's sticky folder itself: a folder of our own inside it would belong to whichever user
    // made it first, and every other user would be refused it.
    return "/run/lock";
}

bool CNamedClaim::Acquire(const std::string& name) {
    Release();
    const std::string dir = LockDirectory();
    const std::string file = FileNameFor(name);
    const std::string path = dir + "/" + file;
    std::string why;
    CDescriptor dirFd(OpenLockDirectory(dir, why));
    CDescriptor fd;
    struct stat status {};
    // Opened for reading, never through a link, without blocking on a planted fifo; made only
    // when missing, so that a file of another user in a sticky folder is opened, not replaced.
    for (int attempt = 0; dirFd.Get() >= 0 && fd.Get() < 0 && why.empty() && attempt < 2;
         ++attempt) {
        const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        int opened = ::openat(dirFd.Get(), file.c_str(), O_RDONLY | flags);
        if (opened < 0 && errno == ENOENT) {
            opened = ::openat(dirFd.Get(), file.c_str(), O_RDWR | O_CREAT | O_EXCL | flags, 0644);
            if (opened >= 0) ::fchmod(opened, 0644);      // whatever the umask: others may lock it
            if (opened < 0 && errno == EEXIST) continue;  // made by another process meanwhile
        }
        if (opened < 0) {
            why = "the claim file " + path + " cannot be opened: " +
                  (errno == ELOOP ? "it is a symbolic link" : ErrorText(errno));
            break;
        }
        fd.Reset(opened);
        if (::fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode))
            why = "the claim file " + path + " is not a regular file";
    }
    if (why.empty() && fd.Get() < 0) why = "the claim file " + path + " keeps changing";
    if (why.empty() && ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            long holder = HolderFromLocks(status);
            if (holder <= 0) holder = HolderFromFile(fd.Get());
            why = "the board is held by another process" +
                  (holder > 0 ? " (pid " + std::to_string(holder) + ")" : std::string()) + ": " +
                  path;
        } else {
            why = "the claim file " + path + " cannot be locked: " + ErrorText(errno);
        }
    }
    if (!why.empty()) return Refuse(name, why);
    WriteHolder(dirFd.Get(), file, status);
    m_fd = fd.Take();
    Granted();
    return true;
}

void CNamedClaim::Release() {
    if (m_fd >= 0) {
        ::close(m_fd);  // closing the descriptor drops the lock
        m_fd = -1;
    }
}

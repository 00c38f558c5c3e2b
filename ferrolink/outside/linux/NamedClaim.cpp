#include <ferrolink/outside/NamedClaim.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <ferrolink/outside/CustomBoostLog.h>

namespace {

bool EnsureDirectory(const std::string& dir) {
    if (::mkdir(dir.c_str(), 01777) == 0) {
        ::chmod(dir.c_str(), 01777);  // every user's claims meet in one place
        return true;
    }
    return errno == EEXIST && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

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

}  // namespace

CNamedClaim::~CNamedClaim() { Release(); }

std::string CNamedClaim::LockDirectory() {
    if (const char* dir = std::getenv("FERROLINK_LOCK_DIR"); dir && *dir) {
        EnsureDirectory(dir);
        return dir;
    }
    const std::string shared = "/run/lock/ferrolink";
    if (EnsureDirectory(shared)) return shared;
    const std::string personal = "/tmp/ferrolink-lock-" + std::to_string(::getuid());
    EnsureDirectory(personal);
    return personal;
}

bool CNamedClaim::Acquire(const std::string& name) {
    Release();
    const std::string path = LockDirectory() + "/" + FileNameFor(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        FLK_LOG(2) << "cannot open the claim file " << path << ": errno = " << errno;
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void CNamedClaim::Release() {
    if (m_fd >= 0) {
        ::close(m_fd);  // closing the descriptor drops the lock
        m_fd = -1;
    }
}

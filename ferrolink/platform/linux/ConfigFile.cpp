// The configuration file on Linux: $XDG_CONFIG_HOME/ferrolink/network.ini, else
// ~/.config/ferrolink/network.ini. Writers of all processes are serialised by an flock on the
// file's folder; a write goes to an mkstemp file that is renamed over the old one.
#include <ferrolink/platform/ConfigFile.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace ferrolink::platform {

namespace {

const char* NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

std::string HomeDirectory() {
    if (const char* home = NonEmptyEnv("HOME")) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir)
        return found->pw_dir;
    return {};
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool MakeDirectories(const std::filesystem::path& directory) {
    std::error_code error;
    if (std::filesystem::is_directory(directory, error)) return true;
    const std::filesystem::path parent = directory.parent_path();
    if (!parent.empty() && parent != directory && !MakeDirectories(parent)) return false;
    return ::mkdir(directory.c_str(), 0755) == 0 || errno == EEXIST;
}

}  // namespace

// The lock is on the folder, not the file: the file is replaced by every write, and a lock on
// the replaced one would guard nothing. Readers need none, the rename being atomic.
CConfigFile::CConfigFile(const std::string& folder)
    : m_lock(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (m_lock >= 0) {
        while (::flock(static_cast<int>(m_lock), LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

CConfigFile::~CConfigFile() {
    if (m_lock >= 0) ::close(static_cast<int>(m_lock));  // closing drops the lock
}

std::filesystem::path CConfigFile::PathOf(const std::string& text) {
    return std::filesystem::path(text);
}

std::string CConfigFile::TextOf(const std::filesystem::path& path) {
    return path.string();
}

std::string CConfigFile::Environment(const char* name) {
    const char* value = NonEmptyEnv(name);
    return value ? value : "";
}

std::string CConfigFile::DefaultPath() {
    // A relative XDG_CONFIG_HOME is to be ignored, as the base directory rules say.
    const char* xdg = NonEmptyEnv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/ferrolink/network.ini";
    const std::string home = HomeDirectory();
    if (home.empty()) return {};
    return home + "/.config/ferrolink/network.ini";
}

const char* CConfigFile::DefaultPathSources() {
    return "neither FERROLINK_CONFIG, XDG_CONFIG_HOME nor a home directory";
}

bool CConfigFile::ReadText(const std::string& path, std::string& text, std::string& why) {
    text.clear();
    // Not blocking on a FIFO put in the file's place, nor following a link to a file the user
    // did not mean.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        why = errno == ELOOP ? std::string("is a symbolic link, which is not followed")
                             : std::string("cannot be opened: ") + std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        why = "is not a regular file";
        ::close(fd);
        return false;
    }
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            why = std::string("cannot be read: ") + std::strerror(errno);
            ::close(fd);
            return false;
        }
        text.append(chunk, static_cast<std::size_t>(n));
        if (text.size() > MaximumFileSize) {
            why = "is larger than " + std::to_string(MaximumFileSize) + " bytes";
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

// 0755 whatever the umask: the folder is the user's to write, everyone's to read.
bool CConfigFile::MakeFolder(const std::string& folder, std::string& why) {
    if (MakeDirectories(folder)) return true;
    why = std::strerror(errno);
    return false;
}

bool CConfigFile::FolderWritable(const std::string& folder, std::string& why) {
    if (::access(folder.c_str(), W_OK | X_OK) == 0) return true;
    why = std::strerror(errno);
    return false;
}

bool CConfigFile::Replace(const std::string& path, const std::string& text, std::string& why) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        why = "temporary file cannot be made: " + temporary + ": " + std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private; the settings are not secret, but they are the user's.
    const bool written = ::fchmod(fd, 0644) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        why = "temporary file cannot be written: " + temporary + ": " +
              std::strerror(written ? errno : writeError);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        why = "file cannot be replaced: " + path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace ferrolink::platform

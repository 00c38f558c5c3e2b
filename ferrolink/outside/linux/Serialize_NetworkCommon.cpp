#include <ferrolink/outside/Serialize_NetworkCommon.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <sstream>
#include <vector>

#include <ferrolink/outside/CustomBoostLog.h>

CSerialize_NetworkCommon OC_NetworkCommon;

namespace {

using Tree = boost::property_tree::ptree;

constexpr const char* KeyPreviousDevice = "Network.PreviousPCapDeviceName";
constexpr const char* KeyMode = "SoftwareMac.Mode";
constexpr const char* KeyAddress = "SoftwareMac.Address";

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

// A settings file is far smaller; a bigger one is not read into memory.
constexpr std::size_t MaximumFileSize = 1 << 20;

// Reads the whole file. False, with the reason in `why`, for a file that exists but cannot be
// read; a missing file is an empty text.
bool ReadText(const std::string& path, std::string& text, std::string& why) {
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        why = std::string("cannot be opened: ") + std::strerror(errno);
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

// The stored settings into `tree` (empty for a missing file). False, with the reason in `why`,
// when the file exists but cannot be read or parsed: then it holds settings we do not know.
bool Load(const std::string& path, Tree& tree, std::string& why) {
    tree.clear();
    std::string text;
    if (path.empty()) return true;
    if (!ReadText(path, text, why)) return false;
    if (text.empty()) return true;
    std::istringstream stream(text);
    try {
        boost::property_tree::read_ini(stream, tree);
    } catch (const boost::property_tree::ptree_error& e) {
        why = std::string("is malformed: ") + e.what();
        tree.clear();
        return false;
    }
    return true;
}

// For the readers: the stored settings, or all defaults and a record when the file is unusable.
Tree Load(const std::string& path) {
    Tree tree;
    std::string why;
    if (!Load(path, tree, why))
        FLK_LOG(2) << "configuration file " << path << " " << why << "; defaults used";
    return tree;
}

// An integer in decimal or, after "0x", hexadecimal, and nothing else.
bool ParseInteger(const std::string& text, long minimum, long maximum, long& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return false;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum) return false;
    value = parsed;
    return true;
}

long IntegerSetting(const Tree& tree, const char* key, long minimum, long maximum, long fallback,
                    const std::string& path) {
    const auto stored = tree.get_optional<std::string>(key);
    if (!stored) return fallback;
    long value = 0;
    if (ParseInteger(*stored, minimum, maximum, value)) return value;
    FLK_LOG(2) << "configuration value " << key << " = \"" << *stored
               << "\" is not valid, default used: " << path;
    return fallback;
}

// Holds an exclusive lock on the configuration file's directory, which serialises writers of
// all processes; readers need none, the rename being atomic.
class CDirectoryLock {
public:
    explicit CDirectoryLock(const std::string& directory)
        : m_fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~CDirectoryLock() {
        if (m_fd >= 0) ::close(m_fd);  // closing drops the lock
    }
    CDirectoryLock(const CDirectoryLock&) = delete;
    CDirectoryLock& operator=(const CDirectoryLock&) = delete;

private:
    int m_fd;
};

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

// Writes the tree to a temporary file beside `path` and renames it over `path`.
bool Replace(const std::string& path, const Tree& tree) {
    std::ostringstream stream;
    try {
        boost::property_tree::write_ini(stream, tree);
    } catch (const boost::property_tree::ptree_error& e) {
        FLK_LOG(2) << "configuration cannot be formatted: " << e.what();
        return false;
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        FLK_LOG(2) << "configuration temporary file cannot be made: " << temporary
                   << ": errno = " << errno;
        return false;
    }
    // mkstemp makes the file private; the settings are not secret, but they are the user's.
    const bool written = ::fchmod(fd, 0644) == 0 && WriteAll(fd, stream.str()) && ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        FLK_LOG(2) << "configuration temporary file cannot be written: " << temporary
                   << ": errno = " << (written ? errno : writeError);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        FLK_LOG(2) << "configuration file cannot be replaced: " << path << ": errno = " << errno;
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// Makes the folder and the missing ones above it, writable by the user alone whatever the umask.
bool MakeDirectories(const std::filesystem::path& directory) {
    std::error_code error;
    if (std::filesystem::is_directory(directory, error)) return true;
    const std::filesystem::path parent = directory.parent_path();
    if (!parent.empty() && parent != directory && !MakeDirectories(parent)) return false;
    return ::mkdir(directory.c_str(), 0755) == 0 || errno == EEXIST;
}

// Read, change one value, write back: under the directory lock, so that a value another process
// stored in between is kept.
bool Update(std::mutex& mutex, const std::function<void(Tree&)>& change) {
    const std::string path = CSerialize_NetworkCommon::ConfigPath_Get();
    if (path.empty()) {
        FLK_LOG(2) << "no place for the configuration file: neither FERROLINK_CONFIG, "
                      "XDG_CONFIG_HOME nor a home directory";
        return false;
    }
    std::filesystem::path directory = std::filesystem::path(path).parent_path();
    if (directory.empty()) directory = ".";
    if (!MakeDirectories(directory)) {
        FLK_LOG(2) << "configuration directory cannot be made: " << directory.string() << ": "
                   << std::strerror(errno);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex);
    CDirectoryLock directoryLock(directory.string());
    // A file that cannot be read holds the operator's settings all the same: it is not replaced.
    Tree tree;
    std::string why;
    if (!Load(path, tree, why)) {
        FLK_LOG(2) << "configuration file " << path << " " << why << "; not overwritten";
        return false;
    }
    change(tree);
    return Replace(path, tree);
}

}  // namespace

bool CSerialize_NetworkCommon::ConfigPath_Check(std::string& why) {
    why.clear();
    const std::string path = ConfigPath_Get();
    if (path.empty()) {
        why =
            "no place for the configuration file: neither FERROLINK_CONFIG, XDG_CONFIG_HOME nor "
            "a home directory";
        return false;
    }
    Tree tree;
    std::string problem;
    if (!Load(path, tree, problem)) {
        why = "the configuration file " + path + " " + problem;
        return false;
    }
    // The folder, or the nearest one that exists on the way to it, must take a new file.
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) folder = ".";
    std::error_code error;
    while (!std::filesystem::exists(folder, error) && folder.has_parent_path() &&
           folder.parent_path() != folder)
        folder = folder.parent_path();
    if (!std::filesystem::is_directory(folder, error)) {
        why = "the configuration file " + path + " cannot be stored: " + folder.string() +
              " is not a folder";
        return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        why = "the configuration file " + path + " cannot be stored in " + folder.string() + ": " +
              std::strerror(errno);
        return false;
    }
    return true;
}

std::string CSerialize_NetworkCommon::ConfigPath_Get() {
    if (const char* path = NonEmptyEnv("FERROLINK_CONFIG")) return path;
    // A relative XDG_CONFIG_HOME is to be ignored, as the base directory rules say.
    const char* xdg = NonEmptyEnv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/ferrolink/network.ini";
    const std::string home = HomeDirectory();
    if (home.empty()) return {};
    return home + "/.config/ferrolink/network.ini";
}

std::string CSerialize_NetworkCommon::Previous_PCapDeviceName_Get() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return Load(ConfigPath_Get()).get<std::string>(KeyPreviousDevice, "");
}

bool CSerialize_NetworkCommon::Previous_PCapDeviceName_Set(std::string name) {
    // The INI form trims values and ends them at a line break; such a name would not read back.
    const bool storable =
        name.find_first_of("\r\n") == std::string::npos &&
        (name.empty() || (!std::isspace(static_cast<unsigned char>(name.front())) &&
                          !std::isspace(static_cast<unsigned char>(name.back()))));
    if (!storable) {
        FLK_LOG(2) << "device name cannot be stored (line break or surrounding blanks): \"" << name
                   << "\"";
        return false;
    }
    return Update(m_mutex, [&](Tree& tree) { tree.put(KeyPreviousDevice, name); });
}

ESoftwareMacMode CSerialize_NetworkCommon::SoftwareMac_Mode_Get() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string path = ConfigPath_Get();
    // Any integer is kept: a mode the detection does not know makes it accept no board, which is
    // what such a setting asks for.
    return static_cast<ESoftwareMacMode>(
        IntegerSetting(Load(path), KeyMode, std::numeric_limits<int>::min(),
                       std::numeric_limits<int>::max(), SoftwareMacMode_AnyFirstByte, path));
}

bool CSerialize_NetworkCommon::SoftwareMac_Mode_Set(ESoftwareMacMode mode) {
    return Update(m_mutex,
                  [&](Tree& tree) { tree.put(KeyMode, std::to_string(static_cast<int>(mode))); });
}

EMacAddress CSerialize_NetworkCommon::SoftwareMac_Address_Get() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string path = ConfigPath_Get();
    return Address_Value_2_Enum(static_cast<unsigned char>(
        IntegerSetting(Load(path), KeyAddress, 0, 0xFF, MacAddress_Default, path)));
}

bool CSerialize_NetworkCommon::SoftwareMac_Address_Set(EMacAddress address) {
    return Update(m_mutex,
                  [&](Tree& tree) { tree.put(KeyAddress, "0x" + Address_Enum_2_String(address)); });
}

unsigned char CSerialize_NetworkCommon::Address_Enum_2_Value(EMacAddress address) {
    return static_cast<unsigned char>(address);
}

EMacAddress CSerialize_NetworkCommon::Address_Value_2_Enum(unsigned char value) {
    return static_cast<EMacAddress>(value);
}

std::string CSerialize_NetworkCommon::Address_Enum_2_String(EMacAddress address) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(Address_Enum_2_Value(address)));
    return text;
}

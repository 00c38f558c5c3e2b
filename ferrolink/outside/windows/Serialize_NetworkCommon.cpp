// The configuration file on Windows: %APPDATA%\ferrolink\network.ini (or $FERROLINK_CONFIG), with
// the same keys and rules as on Linux. Writers of all processes are serialised by a named mutex;
// a write goes to a temporary file that replaces the old one in one step.
#include <ferrolink/outside/Serialize_NetworkCommon.h>

#include <windows.h>

#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

#include <ferrolink/outside/CustomBoostLog.h>

CSerialize_NetworkCommon OC_NetworkCommon;

namespace {

using Tree = boost::property_tree::ptree;
namespace fs = std::filesystem;

constexpr const char* KeyPreviousDevice = "Network.PreviousPCapDeviceName";
constexpr const char* KeyMode = "SoftwareMac.Mode";
constexpr const char* KeyAddress = "SoftwareMac.Address";
// Far more than the three settings need; a larger file is not ours.
constexpr std::uintmax_t MaximumFileSize = 64 * 1024;

const char* NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// A missing file is an empty text; anything that cannot be read is false, with the reason logged.
bool ReadText(const std::string& path, std::string& text) {
    text.clear();
    std::error_code error;
    const fs::file_status status = fs::symlink_status(fs::path(path), error);
    if (status.type() == fs::file_type::not_found) return true;
    if (error || status.type() != fs::file_type::regular) {
        FLK_LOG(2) << "configuration file is not a regular file, defaults used: " << path;
        return false;
    }
    if (fs::file_size(fs::path(path), error) > MaximumFileSize || error) {
        FLK_LOG(2) << "configuration file is too large, defaults used: " << path;
        return false;
    }
    std::ifstream in(fs::path(path), std::ios::binary);
    std::ostringstream content;
    if (!in || !(content << in.rdbuf())) {
        if (in && in.peek() == std::ifstream::traits_type::eof()) return true;  // empty file
        FLK_LOG(2) << "configuration file cannot be read, defaults used: " << path;
        return false;
    }
    text = content.str();
    return true;
}

Tree Load(const std::string& path) {
    Tree tree;
    std::string text;
    if (path.empty() || !ReadText(path, text) || text.empty()) return tree;
    std::istringstream stream(text);
    try {
        boost::property_tree::read_ini(stream, tree);
    } catch (const boost::property_tree::ptree_error& e) {
        FLK_LOG(2) << "configuration file is malformed, defaults used: " << path << ": "
                   << e.what();
        tree.clear();
    }
    return tree;
}

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

// Owns the machine-wide writers' mutex while it lives (an abandoned one is owned too).
class CWriterLock {
public:
    CWriterLock() : m_mutex(::CreateMutexW(nullptr, FALSE, L"Local\\ferrolink.config")) {
        if (m_mutex) ::WaitForSingleObject(m_mutex, INFINITE);
    }
    ~CWriterLock() {
        if (m_mutex) {
            ::ReleaseMutex(m_mutex);
            ::CloseHandle(m_mutex);
        }
    }
    CWriterLock(const CWriterLock&) = delete;
    CWriterLock& operator=(const CWriterLock&) = delete;

private:
    HANDLE m_mutex;
};

bool Replace(const std::string& path, const Tree& tree) {
    std::ostringstream stream;
    try {
        boost::property_tree::write_ini(stream, tree);
    } catch (const boost::property_tree::ptree_error& e) {
        FLK_LOG(2) << "configuration cannot be formatted: " << e.what();
        return false;
    }
    const fs::path target(path);
    fs::path temporary = target;
    temporary += ".tmp" + std::to_string(::GetCurrentProcessId());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << stream.str();
        out.flush();
        if (!out) {
            FLK_LOG(2) << "configuration temporary file cannot be written: " << temporary.string();
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return false;
        }
    }
    if (!::MoveFileExW(temporary.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        FLK_LOG(2) << "configuration file cannot be replaced: " << path
                   << ": error = " << ::GetLastError();
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    return true;
}

bool Update(std::mutex& mutex, const std::function<void(Tree&)>& change) {
    const std::string path = CSerialize_NetworkCommon::ConfigPath_Get();
    if (path.empty()) {
        FLK_LOG(2) << "no place for the configuration file: neither FERROLINK_CONFIG nor APPDATA";
        return false;
    }
    fs::path directory = fs::path(path).parent_path();
    if (directory.empty()) directory = ".";
    std::error_code error;
    fs::create_directories(directory, error);
    if (error) {
        FLK_LOG(2) << "configuration directory cannot be made: " << directory.string() << ": "
                   << error.message();
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex);
    CWriterLock writers;
    Tree tree = Load(path);
    change(tree);
    return Replace(path, tree);
}

}  // namespace

std::string CSerialize_NetworkCommon::ConfigPath_Get() {
    if (const char* path = NonEmptyEnv("FERROLINK_CONFIG")) return path;
    if (const char* appData = NonEmptyEnv("APPDATA"))
        return std::string(appData) + "\\ferrolink\\network.ini";
    return {};
}

std::string CSerialize_NetworkCommon::Previous_PCapDeviceName_Get() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return Load(ConfigPath_Get()).get<std::string>(KeyPreviousDevice, "");
}

bool CSerialize_NetworkCommon::Previous_PCapDeviceName_Set(std::string name) {
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

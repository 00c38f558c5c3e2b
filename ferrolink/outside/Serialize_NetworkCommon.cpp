// The settings' logic, the same on every system: the INI form, the values' checks and defaults,
// and the rule that a file which cannot be read or parsed is never overwritten. What the system
// does differently (the file's default place, reading, locking, replacing) is the platform's
// CConfigFile, whose failures are logged here.
#include <ferrolink/outside/Serialize_NetworkCommon.h>

#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <sstream>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/platform/ConfigFile.h>

namespace ferrolink::core {

CSerialize_NetworkCommon OC_NetworkCommon;

namespace {

using Tree = boost::property_tree::ptree;
using platform::CConfigFile;

constexpr const char* KeyPreviousDevice = "Network.PreviousPCapDeviceName";
constexpr const char* KeyMode = "SoftwareMac.Mode";
constexpr const char* KeyAddress = "SoftwareMac.Address";

// The stored settings into `tree` (empty for a missing file). False, with the reason in `why`,
// when the file exists but cannot be read or parsed: then it holds settings we do not know.
bool Load(const std::string& path, Tree& tree, std::string& why) {
    tree.clear();
    std::string text;
    if (path.empty()) return true;
    if (!CConfigFile::ReadText(path, text, why)) return false;
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

// Formats the settings and puts them in place of the file.
bool Replace(const std::string& path, const Tree& tree) {
    std::ostringstream stream;
    try {
        boost::property_tree::write_ini(stream, tree);
    } catch (const boost::property_tree::ptree_error& e) {
        FLK_LOG(2) << "configuration cannot be formatted: " << e.what();
        return false;
    }
    std::string why;
    if (CConfigFile::Replace(path, stream.str(), why)) return true;
    FLK_LOG(2) << "configuration " << why;
    return false;
}

// Read, change one value, write back: under the writers' lock, so that a value another process
// stored in between is kept.
bool Update(std::mutex& mutex, const std::function<void(Tree&)>& change) {
    const std::string path = CSerialize_NetworkCommon::ConfigPath_Get();
    if (path.empty()) {
        FLK_LOG(2) << "no place for the configuration file: " << CConfigFile::DefaultPathSources();
        return false;
    }
    std::filesystem::path directory = CConfigFile::PathOf(path).parent_path();
    if (directory.empty()) directory = ".";
    std::string why;
    if (!CConfigFile::MakeFolder(CConfigFile::TextOf(directory), why)) {
        FLK_LOG(2) << "configuration directory cannot be made: " << CConfigFile::TextOf(directory)
                   << ": " << why;
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex);
    const CConfigFile writers(CConfigFile::TextOf(directory));
    // A file that cannot be read holds the operator's settings all the same: it is not replaced.
    Tree tree;
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
        why = std::string("no place for the configuration file: ") +
              CConfigFile::DefaultPathSources();
        return false;
    }
    Tree tree;
    std::string problem;
    if (!Load(path, tree, problem)) {
        why = "the configuration file " + path + " " + problem;
        return false;
    }
    // The folder, or the nearest one that exists on the way to it, must take a new file.
    std::filesystem::path folder = CConfigFile::PathOf(path).parent_path();
    if (folder.empty()) folder = ".";
    std::error_code error;
    while (!std::filesystem::exists(folder, error) && folder.has_parent_path() &&
           folder.parent_path() != folder)
        folder = folder.parent_path();
    if (!std::filesystem::is_directory(folder, error)) {
        why = "the configuration file " + path +
              " cannot be stored: " + CConfigFile::TextOf(folder) + " is not a folder";
        return false;
    }
    if (!CConfigFile::FolderWritable(CConfigFile::TextOf(folder), problem)) {
        why = "the configuration file " + path + " cannot be stored in " +
              CConfigFile::TextOf(folder) + ": " + problem;
        return false;
    }
    return true;
}

std::string CSerialize_NetworkCommon::ConfigPath_Get() {
    if (std::string path = CConfigFile::Environment("FERROLINK_CONFIG"); !path.empty()) return path;
    return CConfigFile::DefaultPath();
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

}  // namespace ferrolink::core

#include <ferrolink/platform/windows/NpfDeviceName.h>

#include <cctype>
#include <cstring>

namespace ferrolink::platform {

namespace {

constexpr const char* NpfPrefix = "\\Device\\NPF_";
constexpr const char* SourcePrefix = "rpcap://";

bool StartsWithNoCase(const std::string& text, std::size_t at, const char* prefix) {
    const std::size_t length = std::strlen(prefix);
    if (text.size() < at + length) return false;
    for (std::size_t i = 0; i < length; ++i)
        if (std::tolower(static_cast<unsigned char>(text[at + i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

bool CNpfDeviceName::IsGuid(const std::string& text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

std::string CNpfDeviceName::FromGuid(const std::string& guid) {
    return IsGuid(guid) ? NpfPrefix + guid : std::string();
}

bool CNpfDeviceName::ToGuid(const std::string& deviceName, std::string& guid) {
    std::size_t at = StartsWithNoCase(deviceName, 0, SourcePrefix) ? std::strlen(SourcePrefix) : 0;
    if (!StartsWithNoCase(deviceName, at, NpfPrefix)) return false;
    at += std::strlen(NpfPrefix);
    const std::string rest = deviceName.substr(at);
    if (!IsGuid(rest)) return false;
    guid = Upper(rest);
    return true;
}

}  // namespace ferrolink::platform

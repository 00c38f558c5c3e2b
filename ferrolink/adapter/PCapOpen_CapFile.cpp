#include <ferrolink/adapter/PCapOpen_CapFile.h>

#include <cstdio>
#include <cstring>

#include <ferrolink/platform/Link.h>

namespace ferrolink::core {

namespace {
constexpr const char* kFilePrefix = "file://";
// A source string, terminating zero included, fits the capture library's buffer of this size.
constexpr std::size_t kSourceSize = 1024;
}  // namespace

CPCapOpen_CapFile::CPCapOpen_CapFile() = default;
CPCapOpen_CapFile::~CPCapOpen_CapFile() = default;

bool CPCapOpen_CapFile::Initialize_DeviceName(const char* path) {
    if (path == nullptr) return false;
    if (!*path || std::strlen(kFilePrefix) + std::strlen(path) >= kSourceSize) {
        std::fprintf(stderr, "\nError creating a source string\n");
        return false;
    }
    *m_deviceName = std::string(kFilePrefix) + path;
    return true;
}

bool CPCapOpen_CapFile::Initialize_DeviceName_ConsoleInput() {
    return false;
}

bool CPCapOpen_CapFile::OpenPCap() {
    if (m_deviceName->empty()) return false;
    ClosePCap();  // never leak a handle opened before
    // The source string names the file after its prefix; a bare path is taken as it is.
    const std::size_t prefix = std::strlen(kFilePrefix);
    const bool prefixed = m_deviceName->compare(0, prefix, kFilePrefix) == 0;
    std::string error;
    pcap* handle =
        ferrolink::platform::CLink::OpenFile(m_deviceName->substr(prefixed ? prefix : 0), error);
    if (handle == nullptr) {
        std::fprintf(stderr, "\nUnable to open the file %s.\n", m_deviceName->c_str());
        return false;
    }
    m_handle = handle;
    return true;
}

}  // namespace ferrolink::core

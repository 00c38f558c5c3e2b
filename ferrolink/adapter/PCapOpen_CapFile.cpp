#include <ferrolink/adapter/PCapOpen_CapFile.h>

#include <cstdio>

#include <ferrolink/platform/PcapExtensions.h>

namespace ferrolink::core {

namespace flk = ferrolink::platform;

CPCapOpen_CapFile::CPCapOpen_CapFile() = default;
CPCapOpen_CapFile::~CPCapOpen_CapFile() = default;

bool CPCapOpen_CapFile::Initialize_DeviceName(const char* path) {
    if (path == nullptr) return false;
    char source[flk::PCAP_BUF_SIZE] = "";
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    if (flk::pcap_createsrcstr(source, flk::PCAP_SRC_FILE, nullptr, nullptr, path, errbuf) != 0) {
        std::fprintf(stderr, "\nError creating a source string\n");
        return false;
    }
    *m_deviceName = source;
    return true;
}

bool CPCapOpen_CapFile::Initialize_DeviceName_ConsoleInput() { return false; }

bool CPCapOpen_CapFile::OpenPCap() {
    if (m_deviceName->empty()) return false;
    ClosePCap();  // never leak a handle opened before
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap* handle = flk::pcap_open(m_deviceName->c_str(), 65536, flk::PCAP_OPENFLAG_PROMISCUOUS,
                                  1000, nullptr, errbuf);
    if (handle == nullptr) {
        std::fprintf(stderr, "\nUnable to open the file %s.\n", m_deviceName->c_str());
        return false;
    }
    m_handle = handle;
    return true;
}

}  // namespace ferrolink::core

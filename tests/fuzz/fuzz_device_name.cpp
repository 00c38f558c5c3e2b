// Device names as users and the configuration file give them: the library's "rpcap://" handling
// (adapter name of a device name, building a source string, refusing remote and unknown sources
// before anything is opened) and the board emulator's interface option. Nothing here opens a
// device or a file.
#include <ferrolink/api/ferrolink.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include <ferrolink/adapter/NpfPacketHelper.h>
#include <ferrolink/platform/PcapExtensions.h>

#include "board-sim/BoardEmulator.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

namespace platform = ferrolink::platform;

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    flk_log_set_handler(nullptr, nullptr, nullptr);  // no handler: records are dropped unformatted
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A C string, as the callers hand names on: up to the first zero byte.
    const std::string name(reinterpret_cast<const char*>(data), size);
    const std::string text = name.substr(0, name.find('\0'));

    std::string adapter = "unchanged";
    const bool split = CNpfPacketHelper::DeviceName_2_AdapterName(text.c_str(), adapter);
    if (split != (text.size() >= 8) || (split && adapter != text.substr(8))) __builtin_trap();

    char source[platform::PCAP_BUF_SIZE];
    char error[PCAP_ERRBUF_SIZE] = "";
    for (int type : {platform::PCAP_SRC_IFLOCAL, platform::PCAP_SRC_FILE}) {
        const char* prefix = type == platform::PCAP_SRC_FILE ? platform::PCAP_SRC_FILE_PREFIX
                                                             : platform::PCAP_SRC_IF_PREFIX;
        if (platform::pcap_createsrcstr(source, type, nullptr, nullptr, text.c_str(), error) == 0) {
            if (std::strlen(source) >= sizeof source || std::string(source) != prefix + text)
                __builtin_trap();
        } else if (!error[0]) {
            __builtin_trap();  // a refusal names its cause
        }
    }

    // Only sources that must be refused before anything is opened: remote ones and unknown kinds.
    const bool remote = StartsWith(text, "rpcap://") && text.find('/', 8) != std::string::npos;
    const bool unknown = text.find("://") != std::string::npos && !StartsWith(text, "rpcap://") &&
                         !StartsWith(text, "file://");
    if (remote || unknown) {
        error[0] = '\0';
        if (platform::pcap_open(text.c_str(), 100, 0, 10, nullptr, error) || !error[0])
            __builtin_trap();
    }

    std::string device, why;
    if (ferrolink::tools::CBoardEmulator::InterfaceName(text, device, why)) {
        if (device.empty() || device.size() > 15 || device.find('/') != std::string::npos ||
            !(device == text || "rpcap://" + device == text))
            __builtin_trap();
    } else if (why.empty() || !device.empty()) {
        __builtin_trap();
    }
    return 0;
}

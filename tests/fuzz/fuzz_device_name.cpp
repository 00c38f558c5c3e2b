// Device names as users and the configuration file give them: the library's "rpcap://" handling
// (adapter name of a device name) and the board emulator's interface option. Nothing here opens a
// device or a file.
#include <ferrolink/api/ferrolink.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include <ferrolink/adapter/NpfPacketHelper.h>

#include "board-sim/BoardEmulator.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

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

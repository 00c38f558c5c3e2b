// The configuration file's parser over arbitrary file contents: the three settings are read
// (malformed text, bad numbers, odd sections), and a value stored afterwards reads back as
// stored whatever else the file held. The file lives in a private folder on a memory file
// system where there is one, so the writes stay cheap.
#include <ferrolink/api/ferrolink.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <ferrolink/outside/Serialize_NetworkCommon.h>

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace {

std::string g_folder, g_path;

void RemoveFolder() {
    for (const char* suffix : {"", ".lock"}) unlink((g_path + suffix).c_str());
    rmdir(g_folder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    flk_log_set_handler(nullptr, nullptr, nullptr);  // no handler: records are dropped unformatted
    std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    folder += "/ferrolink-fuzz-config.XXXXXX";
    if (!mkdtemp(folder.data())) std::abort();
    g_folder = folder;
    g_path = folder + "/network.ini";
    std::atexit(&RemoveFolder);
    setenv("FERROLINK_CONFIG", g_path.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    if (size && write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
    close(fd);

    (void)OC_NetworkCommon.Previous_PCapDeviceName_Get();
    (void)OC_NetworkCommon.SoftwareMac_Mode_Get();
    (void)OC_NetworkCommon.SoftwareMac_Address_Get();
    // Half of the inputs also go through a read-modify-write of the same file.
    if (size && (data[0] & 1)) {
        const std::string name = "rpcap://fuzz" + std::to_string(size);
        if (OC_NetworkCommon.Previous_PCapDeviceName_Set(name) &&
            OC_NetworkCommon.Previous_PCapDeviceName_Get() != name)
            __builtin_trap();
        const auto address = static_cast<EMacAddress>(data[size - 1]);
        if (OC_NetworkCommon.SoftwareMac_Address_Set(address) &&
            OC_NetworkCommon.SoftwareMac_Address_Get() != address)
            __builtin_trap();
    }
    return 0;
}

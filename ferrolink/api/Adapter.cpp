// The C interface of adapter discovery, the capture handles and the receiver. Forwards to the core
// classes; handles are core objects wrapped in the opaque structures the interface names.
#include <pcap/pcap.h>

#include <string>
#include <vector>

#include <ferrolink/adapter/FindAllDevice_Internal.h>
#include <ferrolink/adapter/NpfPacketHelper.h>
#include <ferrolink/adapter/PCapOpen_CapFile.h>
#include <ferrolink/adapter/PCapOpen_Network_Internal.h>
#include <ferrolink/api/ApiSupport.h>
#include <ferrolink/platform/Link.h>
#include <ferrolink/receive/ReceiveWPCapPacket.h>

namespace core = ferrolink::core;
using ferrolink::api::CopyText;
using ferrolink::api::Guard;
using ferrolink::api::GuardValue;
using ferrolink::api::Status;

struct flk_device_list {
    core::CFindAllDevice_Internal devices;
};
struct flk_network {
    core::CPCapOpen_Network_Internal network;
};

namespace {

// The receiver's loop steps, run on a thread that the caller owns.
class CReceiverSteps : public core::CReceiveWPCapPacket {
public:
    using core::CReceiveWPCapPacket::Finally;
    using core::CReceiveWPCapPacket::OneLoop;
    using core::CReceiveWPCapPacket::Prepare;
};

// Opens a capture file from its source string and hands the handle over to the caller.
class CCapFileOpener : public core::CPCapOpen_CapFile {
public:
    pcap* OpenSource(const char* source) {
        *m_deviceName = source;
        if (!OpenPCap()) return nullptr;
        pcap* handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
};

}  // namespace

struct flk_receiver {
    CReceiverSteps steps;
};

extern "C" {

FLK_API flk_device_list* FLK_CALL flk_device_list_create(void) {
    return GuardValue<flk_device_list*>(nullptr, [] { return new flk_device_list; });
}
FLK_API void FLK_CALL flk_device_list_destroy(flk_device_list* list) {
    delete list;
}
FLK_API void* FLK_CALL flk_device_list_find(flk_device_list* list) {
    if (list == nullptr) return nullptr;
    return GuardValue<void*>(nullptr,
                             [&] { return static_cast<void*>(list->devices.FindAllDevice()); });
}
FLK_API int32_t FLK_CALL flk_device_list_adaptor_info(flk_device_list* list, uint8_t* buffer,
                                                      int32_t* size) {
    if (list == nullptr || size == nullptr) return -1;
    return GuardValue<int32_t>(-1, [&] {
        int n = *size;
        const int result = list->devices.GetAdaptorInfo(buffer, n);
        *size = n;
        return result;
    });
}
FLK_API flk_status FLK_CALL flk_device_list_select(flk_device_list* list, char* name,
                                                   int32_t capacity, int32_t* length) {
    if (list == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard([&] {
        std::string chosen;
        if (!list->devices.GetSelectedDeviceName(chosen)) return FLK_FAILED;
        return CopyText(chosen, name, capacity, length);
    });
}

FLK_API flk_status FLK_CALL flk_npf_adapter_name(int32_t index, char* name, int32_t capacity,
                                                 int32_t* length) {
    if (index < 0) return FLK_INVALID_ARGUMENT;
    return Guard([&] {
        std::vector<std::string> list;
        if (!core::CNpfPacketHelper::AdapterNameList_Get(list) ||
            static_cast<std::size_t>(index) >= list.size())
            return FLK_NOT_FOUND;
        return CopyText(list[static_cast<std::size_t>(index)], name, capacity, length);
    });
}
FLK_API flk_status FLK_CALL flk_npf_gigabit_adapter_name(char* name, int32_t capacity,
                                                         int32_t* length) {
    return Guard([&] {
        std::string found;
        if (!core::CNpfPacketHelper::GB_AdapterName_Get(found)) return FLK_NOT_FOUND;
        return CopyText(found, name, capacity, length);
    });
}
FLK_API flk_status FLK_CALL flk_npf_device_mac(void* device, uint8_t* mac) {
    if (mac == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard([&] {
        std::vector<unsigned char> bytes;
        if (!core::CNpfPacketHelper::Device_2_MacAddress(device, bytes) || bytes.size() != 6)
            return FLK_FAILED;
        std::memcpy(mac, bytes.data(), 6);
        return FLK_OK;
    });
}
FLK_API flk_status FLK_CALL flk_npf_adapter_mac(const char* adapter_name, uint8_t* mac) {
    if (adapter_name == nullptr || mac == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard([&] {
        std::vector<unsigned char> bytes;
        if (!core::CNpfPacketHelper::AdapterName_2_MacAddress(adapter_name, bytes) ||
            bytes.size() != 6)
            return FLK_FAILED;
        std::memcpy(mac, bytes.data(), 6);
        return FLK_OK;
    });
}
FLK_API flk_status FLK_CALL flk_npf_adapter_link_speed(const char* adapter_name,
                                                       uint64_t* bits_per_second) {
    if (adapter_name == nullptr || bits_per_second == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard([&] {
        std::uint64_t speed = *bits_per_second;
        if (!core::CNpfPacketHelper::AdapterName_2_LinkSpeed(adapter_name, speed))
            return FLK_FAILED;
        *bits_per_second = speed;
        return FLK_OK;
    });
}
FLK_API flk_status FLK_CALL flk_npf_device_to_adapter_name(const char* device_name, char* name,
                                                           int32_t capacity, int32_t* length) {
    return Guard([&] {
        std::string adapter;
        if (!core::CNpfPacketHelper::DeviceName_2_AdapterName(device_name, adapter))
            return FLK_FAILED;
        return CopyText(adapter, name, capacity, length);
    });
}

FLK_API flk_status FLK_CALL flk_capfile_source(const char* path, char* source, int32_t capacity,
                                               int32_t* length) {
    return Guard([&] {
        core::CPCapOpen_CapFile file;
        if (!file.Initialize_DeviceName(path)) return FLK_FAILED;
        return CopyText(file.GetDeviceName(), source, capacity, length);
    });
}
FLK_API flk_status FLK_CALL flk_capfile_open(const char* source, void** pcap_handle) {
    if (source == nullptr || pcap_handle == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard([&] {
        CCapFileOpener opener;
        *pcap_handle = opener.OpenSource(source);
        return *pcap_handle != nullptr ? FLK_OK : FLK_FAILED;
    });
}
FLK_API void FLK_CALL flk_pcap_close(void* pcap_handle) {
    ferrolink::platform::CLink::Close(static_cast<pcap_t*>(pcap_handle));
}

FLK_API flk_network* FLK_CALL flk_network_create(void) {
    return GuardValue<flk_network*>(nullptr, [] { return new flk_network; });
}
FLK_API void FLK_CALL flk_network_destroy(flk_network* network) {
    delete network;
}
FLK_API flk_status FLK_CALL flk_network_open_auto(flk_network* network, uint32_t milliseconds,
                                                  const bool* abort_flag) {
    if (network == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard([&] { return Status(network->network.Open_ByAuto(milliseconds, abort_flag)); });
}
FLK_API flk_status FLK_CALL flk_network_open_console(flk_network* network, uint32_t milliseconds,
                                                     const bool* abort_flag) {
    if (network == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard(
        [&] { return Status(network->network.Open_ByConsoleInput(milliseconds, abort_flag)); });
}
FLK_API flk_status FLK_CALL flk_network_open_device(flk_network* network, const char* device_name) {
    if (network == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard([&] { return Status(network->network.Open_ByDeviceName(device_name)); });
}
FLK_API flk_status FLK_CALL flk_network_close(flk_network* network, uint32_t milliseconds,
                                              const bool* abort_flag) {
    if (network == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard([&] { return Status(network->network.Close(milliseconds, abort_flag)); });
}
FLK_API int32_t FLK_CALL flk_network_is_open(flk_network* network, uint32_t milliseconds,
                                             const bool* abort_flag) {
    if (network == nullptr) return 0;
    return GuardValue<int32_t>(
        0, [&] { return network->network.IsOpen(milliseconds, abort_flag) ? 1 : 0; });
}
FLK_API void* FLK_CALL flk_network_handle(flk_network* network, uint32_t milliseconds,
                                          const bool* abort_flag) {
    if (network == nullptr) return nullptr;
    return GuardValue<void*>(nullptr, [&] {
        return static_cast<void*>(network->network.GetPCapHandle(milliseconds, abort_flag));
    });
}
FLK_API void* FLK_CALL flk_network_lock(flk_network* network, uint32_t milliseconds,
                                        const bool* abort_flag) {
    if (network == nullptr) return nullptr;
    return GuardValue<void*>(nullptr, [&] {
        return static_cast<void*>(network->network.Handle_Lock(milliseconds, abort_flag));
    });
}
FLK_API void FLK_CALL flk_network_unlock(flk_network* network) {
    if (network == nullptr) return;
    try {
        network->network.Handle_UnLock();
    } catch (...) {
        // Giving up a level of a mutex allocates nothing; nothing to report.
    }
}
FLK_API flk_status FLK_CALL flk_network_device_name(flk_network* network, char* name,
                                                    int32_t capacity, int32_t* length) {
    if (network == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard(
        [&] { return CopyText(network->network.GetDeviceName(), name, capacity, length); });
}

FLK_API flk_receiver* FLK_CALL flk_receiver_create(void) {
    return GuardValue<flk_receiver*>(nullptr, [] { return new flk_receiver; });
}
FLK_API void FLK_CALL flk_receiver_destroy(flk_receiver* receiver) {
    delete receiver;
}
FLK_API flk_status FLK_CALL flk_receiver_setup(flk_receiver* receiver, int32_t mode,
                                               void* pcap_handle, flk_receive_fn callback,
                                               void* user) {
    if (receiver == nullptr) return FLK_INVALID_ARGUMENT;
    // The two callback types differ only in the calling-convention spelling, the same on every
    // supported target.
    receiver->steps.Setup(static_cast<core::ECaptureMode>(mode), pcap_handle,
                          reinterpret_cast<core::ReceiveCallback>(callback), user);
    return FLK_OK;
}
FLK_API int32_t FLK_CALL flk_receiver_prepare(flk_receiver* receiver) {
    if (receiver == nullptr) return 0;
    return GuardValue<int32_t>(0, [&] { return receiver->steps.Prepare() ? 1 : 0; });
}
FLK_API int32_t FLK_CALL flk_receiver_one_loop(flk_receiver* receiver) {
    if (receiver == nullptr) return 0;
    return GuardValue<int32_t>(0, [&] { return receiver->steps.OneLoop() ? 1 : 0; });
}
FLK_API void FLK_CALL flk_receiver_finally(flk_receiver* receiver) {
    if (receiver == nullptr) return;
    try {
        receiver->steps.Finally();
    } catch (...) {
        // Nothing to release that could fail.
    }
}
FLK_API void FLK_CALL flk_receiver_stop(flk_receiver* receiver) {
    if (receiver == nullptr) return;
    try {
        receiver->steps.Stop();
    } catch (...) {
        // Breaking a dispatch allocates nothing.
    }
}
FLK_API int32_t FLK_CALL flk_receiver_process_check(const uint8_t* frame, int32_t length) {
    return GuardValue<int32_t>(
        1, [&] { return core::CReceiveWPCapPacket::ProcessPacket_Check(frame, length) ? 1 : 0; });
}

}  // extern "C"

// The C interface of the common runtime: events, the re-entrant mutex, threads, the clock, the
// configuration store and the adapter table. Forwards to the core classes.
#include <new>
#include <vector>

#include <ferrolink/api/ApiSupport.h>
#include <ferrolink/outside/AdapterInfo.h>
#include <ferrolink/outside/CustomEvent.h>
#include <ferrolink/outside/CustomMutex.h>
#include <ferrolink/outside/Serialize_NetworkCommon.h>
#include <ferrolink/platform/MonotonicClock.h>
#include <ferrolink/platform/Thread.h>

namespace core = ferrolink::core;
using ferrolink::api::CopyText;
using ferrolink::api::Guard;
using ferrolink::api::GuardValue;
using ferrolink::api::Status;
using ferrolink::platform::CThread;

struct flk_event {
    core::CCustomEvent event;
};
struct flk_mutex {
    core::CCustomMutex mutex;
};
struct flk_thread {
    void* handle;
};

namespace {

struct SThreadStart {
    flk_thread_proc proc;
    void* parameter;
};

unsigned long ThreadEntry(void* parameter) {
    const SThreadStart start = *static_cast<SThreadStart*>(parameter);
    delete static_cast<SThreadStart*>(parameter);
    return start.proc(start.parameter);
}

}  // namespace

extern "C" {

FLK_API flk_event* FLK_CALL flk_event_create(int32_t auto_reset, int32_t initial_state) {
    return GuardValue<flk_event*>(nullptr, [&] {
        return new flk_event{core::CCustomEvent(auto_reset != 0, initial_state != 0)};
    });
}
FLK_API void FLK_CALL flk_event_destroy(flk_event* event) {
    delete event;
}
FLK_API flk_status FLK_CALL flk_event_wait(flk_event* event, uint32_t milliseconds,
                                           const bool* abort_flag) {
    if (event == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard(
        [&] { return event->event.WaitOne(milliseconds, abort_flag) ? FLK_OK : FLK_TIMEOUT; });
}
FLK_API flk_status FLK_CALL flk_event_set(flk_event* event) {
    if (event == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard([&] { return Status(event->event.Set()); });
}
FLK_API flk_status FLK_CALL flk_event_reset(flk_event* event) {
    if (event == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard([&] { return Status(event->event.Reset()); });
}
FLK_API int32_t FLK_CALL flk_event_is_set(const flk_event* event) {
    if (event == nullptr) return 0;
    return GuardValue<int32_t>(0, [&] { return event->event.IsSet() ? 1 : 0; });
}
FLK_API void* FLK_CALL flk_event_wait_handle(flk_event* event) {
    return event == nullptr ? nullptr : event->event.GetWaitHandle();
}

FLK_API flk_mutex* FLK_CALL flk_mutex_create(void) {
    return GuardValue<flk_mutex*>(nullptr, [] { return new flk_mutex; });
}
FLK_API void FLK_CALL flk_mutex_destroy(flk_mutex* mutex) {
    delete mutex;
}
FLK_API flk_status FLK_CALL flk_mutex_wait(flk_mutex* mutex, uint32_t milliseconds,
                                           const bool* abort_flag) {
    if (mutex == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard(
        [&] { return mutex->mutex.WaitOne(milliseconds, abort_flag) ? FLK_OK : FLK_TIMEOUT; });
}
FLK_API flk_status FLK_CALL flk_mutex_release(flk_mutex* mutex) {
    if (mutex == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard([&] { return Status(mutex->mutex.ReleaseOne()); });
}
FLK_API int32_t FLK_CALL flk_mutex_is_owned(const flk_mutex* mutex) {
    if (mutex == nullptr) return 0;
    return GuardValue<int32_t>(0, [&] { return mutex->mutex.IsOwnedByCurrentThread() ? 1 : 0; });
}
FLK_API void* FLK_CALL flk_mutex_wait_handle(flk_mutex* mutex) {
    return mutex == nullptr ? nullptr : mutex->mutex.GetWaitHandle();
}

FLK_API flk_thread* FLK_CALL flk_thread_create(flk_thread_proc proc, void* parameter,
                                               uint32_t* thread_id) {
    if (proc == nullptr) return nullptr;
    auto* start = new (std::nothrow) SThreadStart{proc, parameter};
    auto* thread = new (std::nothrow) flk_thread{nullptr};
    if (start == nullptr || thread == nullptr) {
        delete start;
        delete thread;
        return nullptr;
    }
    uint32_t id = 0;
    thread->handle = CThread::Start(&ThreadEntry, start, &id);
    if (thread->handle == nullptr) {
        delete start;
        delete thread;
        return nullptr;
    }
    if (thread_id != nullptr) *thread_id = id;
    return thread;
}
FLK_API void FLK_CALL flk_thread_join(flk_thread* thread) {
    if (thread == nullptr) return;
    CThread::Join(thread->handle);
    delete thread;
}
FLK_API int32_t FLK_CALL flk_thread_is_current(const flk_thread* thread) {
    return thread != nullptr && CThread::IsCurrent(thread->handle) ? 1 : 0;
}
FLK_API uint32_t FLK_CALL flk_tick_count(void) {
    return ferrolink::platform::CMonotonicClock::Ticks();
}

FLK_API flk_status FLK_CALL flk_config_previous_device_get(char* name, int32_t capacity,
                                                           int32_t* length) {
    return Guard([&] {
        return CopyText(core::OC_NetworkCommon.Previous_PCapDeviceName_Get(), name, capacity,
                        length);
    });
}
FLK_API flk_status FLK_CALL flk_config_previous_device_set(const char* name) {
    if (name == nullptr) return FLK_INVALID_ARGUMENT;
    return Guard([&] { return Status(core::OC_NetworkCommon.Previous_PCapDeviceName_Set(name)); });
}
FLK_API int32_t FLK_CALL flk_config_mac_mode_get(void) {
    return GuardValue<int32_t>(core::SoftwareMacMode_AnyFirstByte, [] {
        return static_cast<int32_t>(core::OC_NetworkCommon.SoftwareMac_Mode_Get());
    });
}
FLK_API flk_status FLK_CALL flk_config_mac_mode_set(int32_t mode) {
    return Guard([&] {
        return Status(
            core::OC_NetworkCommon.SoftwareMac_Mode_Set(static_cast<core::ESoftwareMacMode>(mode)));
    });
}
FLK_API uint8_t FLK_CALL flk_config_mac_address_get(void) {
    return GuardValue<uint8_t>(core::MacAddress_Default, [] {
        return static_cast<uint8_t>(core::OC_NetworkCommon.SoftwareMac_Address_Get());
    });
}
FLK_API flk_status FLK_CALL flk_config_mac_address_set(uint8_t first_byte) {
    return Guard([&] {
        return Status(core::OC_NetworkCommon.SoftwareMac_Address_Set(
            core::CSerialize_NetworkCommon::Address_Value_2_Enum(first_byte)));
    });
}
FLK_API flk_status FLK_CALL flk_config_path(char* path, int32_t capacity, int32_t* length) {
    return Guard([&] {
        const std::string where = core::CSerialize_NetworkCommon::ConfigPath_Get();
        const flk_status copied = CopyText(where, path, capacity, length);
        return copied == FLK_OK && where.empty() ? FLK_NOT_FOUND : copied;
    });
}
FLK_API flk_status FLK_CALL flk_config_path_check(char* why, int32_t capacity, int32_t* length) {
    return Guard([&] {
        std::string reason;
        const bool usable = core::CSerialize_NetworkCommon::ConfigPath_Check(reason);
        const flk_status copied = CopyText(reason, why, capacity, length);
        if (copied != FLK_OK) return copied;
        return usable ? FLK_OK : FLK_FAILED;
    });
}

FLK_API flk_status FLK_CALL flk_adapter_table_get(flk_adapter_info* adapters, int32_t capacity,
                                                  int32_t* count) {
    if (count == nullptr || capacity < 0 || (adapters == nullptr && capacity > 0))
        return FLK_INVALID_ARGUMENT;
    return Guard([&] {
        std::vector<core::SAdapterInfo> table;
        if (!core::CAdapterInfo::AllAdpaterInfo_Get(table)) return FLK_FAILED;
        *count = static_cast<int32_t>(table.size());
        for (std::size_t i = 0; i < table.size() && i < static_cast<std::size_t>(capacity); ++i) {
            flk_adapter_info& out = adapters[i];
            out = flk_adapter_info{};
            std::memcpy(out.address, table[i].address, sizeof out.address);
            out.address_length = table[i].addressLength;
            out.index = table[i].index;
            out.status = table[i].status;
            // A name that does not fit is cut; interface names are far shorter.
            const std::size_t n = std::min(table[i].name.size(), sizeof out.name - 1);
            std::memcpy(out.name, table[i].name.data(), n);
        }
        return table.size() > static_cast<std::size_t>(capacity) ? FLK_BUFFER_TOO_SMALL : FLK_OK;
    });
}

}  // extern "C"

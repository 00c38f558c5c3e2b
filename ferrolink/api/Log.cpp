// The log handler of the process: where FLK_LOG's records (the library's and the header-only
// classes') cross to the host.
#include <atomic>
#include <mutex>

#include <ferrolink/api/ApiSupport.h>

namespace {

struct SHandler {
    flk_log_enabled_fn enabled;
    flk_log_record_fn record;
    void* user;
    SHandler* older;  // every handler ever installed stays reachable: a thread may still use it
};

std::atomic<SHandler*> g_handler{nullptr};
std::mutex g_installing;        // serialises installers
SHandler* g_retired = nullptr;  // guarded by g_installing

}  // namespace

extern "C" {

FLK_API void FLK_CALL flk_log_set_handler(flk_log_enabled_fn enabled, flk_log_record_fn record,
                                          void* user) {
    SHandler* handler = nullptr;
    if (record != nullptr) {
        handler = new (std::nothrow) SHandler{enabled, record, user, nullptr};
        if (handler == nullptr) return;
    }
    // A mutex that cannot be locked is a broken process; there is nothing to report it to.
    try {
        std::lock_guard<std::mutex> lock(g_installing);
        SHandler* old = g_handler.exchange(handler, std::memory_order_acq_rel);
        if (old != nullptr) {
            old->older = g_retired;
            g_retired = old;
        }
    } catch (...) {
        delete handler;
    }
}

FLK_API int32_t FLK_CALL flk_log_enabled(int32_t severity) {
    const SHandler* handler = g_handler.load(std::memory_order_acquire);
    if (handler == nullptr) return 0;
    if (handler->enabled == nullptr) return 1;
    return handler->enabled(severity, handler->user) != 0 ? 1 : 0;
}

FLK_API void FLK_CALL flk_log_write(int32_t severity, const char* message, const char* function,
                                    const char* file, uint32_t line) {
    const SHandler* handler = g_handler.load(std::memory_order_acquire);
    if (handler == nullptr) return;
    handler->record(severity, message ? message : "", function ? function : "", file ? file : "",
                    line, handler->user);
}

FLK_API uint32_t FLK_CALL flk_api_version(void) {
    return FLK_API_VERSION;
}

FLK_API const char* FLK_CALL flk_status_text(flk_status status) {
    switch (status) {
        case FLK_OK:
            return "done";
        case FLK_FAILED:
            return "the operation failed";
        case FLK_INVALID_ARGUMENT:
            return "invalid argument";
        case FLK_BUFFER_TOO_SMALL:
            return "buffer too small";
        case FLK_TIMEOUT:
            return "timed out or aborted";
        case FLK_NO_MEMORY:
            return "out of memory";
        case FLK_NOT_FOUND:
            return "not found";
        default:
            return "unknown status";
    }
}

}  // extern "C"

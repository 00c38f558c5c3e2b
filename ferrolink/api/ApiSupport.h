// What every function of the C interface shares: the rule for text results in caller buffers and
// the guard that keeps exceptions on this side of the boundary. Compiled into the library only.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include <ferrolink/api/ferrolink.h>

namespace ferrolink::api {

inline flk_status CopyText(const std::string& text, char* out, int32_t capacity, int32_t* length) {
    if (length == nullptr || capacity < 0 || (out == nullptr && capacity > 0))
        return FLK_INVALID_ARGUMENT;
    if (text.size() >= static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
        return FLK_FAILED;
    *length = static_cast<int32_t>(text.size());
    if (out == nullptr || text.size() + 1 > static_cast<std::size_t>(capacity))
        return FLK_BUFFER_TOO_SMALL;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return FLK_OK;
}

inline flk_status Status(bool ok) {
    return ok ? FLK_OK : FLK_FAILED;
}

// Runs `f` (which answers a flk_status); an allocation failure or any other exception becomes a
// status instead of unwinding into a caller that may not be C++.
template <class F>
flk_status Guard(F&& f) noexcept {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return FLK_NO_MEMORY;
    } catch (...) {
        return FLK_FAILED;
    }
}

// The same for functions that answer a value: `fallback` on an exception.
template <class T, class F>
T GuardValue(T fallback, F&& f) noexcept {
    try {
        return f();
    } catch (...) {
        return fallback;
    }
}

}  // namespace ferrolink::api

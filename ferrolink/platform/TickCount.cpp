#include <ferrolink/platform/TickCount.h>

#include <atomic>

namespace ferrolink::platform {

namespace detail {
std::atomic<TickSource> g_tickSource{nullptr};
}

std::uint32_t GetTickCount() {
    if (TickSource source = detail::g_tickSource.load(std::memory_order_relaxed)) return source();
    return static_cast<std::uint32_t>(TickCountMs());
}

}  // namespace ferrolink::platform

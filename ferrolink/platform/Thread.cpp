// What both systems' threads share: the test seam that refuses creations.
#include <ferrolink/platform/Thread.h>

namespace ferrolink::platform {

namespace detail {
std::atomic<int> g_failCreations{0};
}

void* CThread::Start(Entry entry, void* parameter, std::uint32_t* id) {
    if (detail::g_failCreations.load() > 0 && detail::g_failCreations.fetch_sub(1) > 0)
        return nullptr;
    return StartOnSystem(entry, parameter, id);
}

}  // namespace ferrolink::platform

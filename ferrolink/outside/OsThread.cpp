#include <ferrolink/outside/OsThread.h>

#include <atomic>
#include <functional>
#include <system_error>
#include <thread>

namespace ferrolink::outside {

namespace detail {
std::atomic<int> g_failCreations{0};
}

namespace {

using detail::g_failCreations;
std::atomic<unsigned int> g_nextThreadId{1};

struct SThread {
    std::thread thread;
    std::thread::id id;
};

}  // namespace

void* CreateThread(ThreadProc proc, void* parameter, unsigned int* threadId) {
    if (g_failCreations.load() > 0 && g_failCreations.fetch_sub(1) > 0) return nullptr;
    auto* t = new SThread();
    try {
        t->thread = std::thread([proc, parameter] { proc(parameter); });
    } catch (const std::system_error&) {
        delete t;
        return nullptr;
    }
    t->id = t->thread.get_id();
    if (threadId) *threadId = g_nextThreadId.fetch_add(1);
    return t;
}

void JoinThread(void* handle) {
    auto* t = static_cast<SThread*>(handle);
    if (t == nullptr) return;
    if (t->thread.joinable()) t->thread.join();
    delete t;
}

bool IsCurrentThread(void* handle) {
    auto* t = static_cast<SThread*>(handle);
    return t != nullptr && t->id == std::this_thread::get_id();
}

}  // namespace ferrolink::outside

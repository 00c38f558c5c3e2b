// Threads on Linux: pthreads. The handle is a pthread_t of our own making, which Join frees.
// A thread has no number before it runs (the kernel's tid is known only inside it), so threads
// are numbered in the order this process made them.
#include <ferrolink/platform/Thread.h>

#include <pthread.h>

#include <new>

namespace ferrolink::platform {

namespace {

std::atomic<std::uint32_t> g_nextId{1};

struct SStart {
    CThread::Entry entry;
    void* parameter;
};

void* Run(void* start) {
    const SStart copy = *static_cast<SStart*>(start);
    delete static_cast<SStart*>(start);
    copy.entry(copy.parameter);
    return nullptr;
}

}  // namespace

void* CThread::StartOnSystem(Entry entry, void* parameter, std::uint32_t* id) {
    auto* thread = new (std::nothrow) pthread_t();
    auto* start = new (std::nothrow) SStart{entry, parameter};
    if (thread == nullptr || start == nullptr || ::pthread_create(thread, nullptr, &Run, start)) {
        delete thread;
        delete start;
        return nullptr;
    }
    if (id != nullptr) *id = g_nextId.fetch_add(1);
    return thread;
}

void CThread::Join(void* handle) {
    auto* thread = static_cast<pthread_t*>(handle);
    if (thread == nullptr) return;
    ::pthread_join(*thread, nullptr);
    delete thread;
}

bool CThread::IsCurrent(void* handle) {
    return handle != nullptr && ::pthread_equal(*static_cast<pthread_t*>(handle), ::pthread_self());
}

}  // namespace ferrolink::platform

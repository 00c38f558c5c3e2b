// Threads on Windows: _beginthreadex, so that the C runtime is set up for the thread; the handle
// is the thread's own HANDLE and its number the system's thread id.
#include <ferrolink/platform/Thread.h>

#include <windows.h>

#include <process.h>

#include <new>

namespace ferrolink::platform {

namespace {

struct SStart {
    CThread::Entry entry;
    void* parameter;
};

unsigned __stdcall Run(void* start) {
    const SStart copy = *static_cast<SStart*>(start);
    delete static_cast<SStart*>(start);
    return static_cast<unsigned>(copy.entry(copy.parameter));
}

}  // namespace

void* CThread::StartOnSystem(Entry entry, void* parameter, std::uint32_t* id) {
    auto* start = new (std::nothrow) SStart{entry, parameter};
    if (start == nullptr) return nullptr;
    unsigned number = 0;
    const std::uintptr_t thread = ::_beginthreadex(nullptr, 0, &Run, start, 0, &number);
    if (thread == 0) {
        delete start;
        return nullptr;
    }
    if (id != nullptr) *id = number;
    return reinterpret_cast<void*>(thread);
}

void CThread::Join(void* handle) {
    if (handle == nullptr) return;
    ::WaitForSingleObject(static_cast<HANDLE>(handle), INFINITE);
    ::CloseHandle(static_cast<HANDLE>(handle));
}

bool CThread::IsCurrent(void* handle) {
    return handle != nullptr &&
           ::GetThreadId(static_cast<HANDLE>(handle)) == ::GetCurrentThreadId();
}

}  // namespace ferrolink::platform

// A thread of the system: made running an entry function, joined, and asked whether it is the
// caller. The worker base (PellBaseThread, through CQuonBaseThread) and the C interface's threads
// are made here. A handle is the system's own: a Win32 thread HANDLE on Windows, a pthread on
// Linux.
#pragma once

#include <atomic>
#include <cstdint>

namespace ferrolink::platform {

class CThread {
public:
    using Entry = unsigned long (*)(void* parameter);

    // Starts `entry(parameter)` on a new thread at once; its handle, or null when no thread could
    // be made. The thread's number goes to *id when given.
    static void* Start(Entry entry, void* parameter, std::uint32_t* id);
    // Waits for the thread's end and frees the handle. Not from the thread itself.
    static void Join(void* handle);
    static bool IsCurrent(void* handle);

private:
    // The system's part of Start, once the test seam has let it through.
    static void* StartOnSystem(Entry entry, void* parameter, std::uint32_t* id);
};

// Makes the next `count` thread creations fail, so that callers' failure paths can be tested.
// Defined only in what the tests link (tests/support/TestSeams.cpp).
void FailThreadCreationForTesting(int count);

namespace detail {
extern std::atomic<int> g_failCreations;  // creations still to fail
}

}  // namespace ferrolink::platform

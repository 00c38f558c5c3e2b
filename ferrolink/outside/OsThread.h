// Operating-system threads for the worker base: create with an entry function and parameter,
// join, and ask whether the caller is that thread.
#pragma once

#include <atomic>

#include <ferrolink/FerrolinkExport.h>

namespace ferrolink::outside {

using ThreadProc = unsigned long (*)(void* parameter);

// Starts `proc(parameter)` on a new thread at once; null when no thread could be made. The
// thread's identifier goes to *threadId when given.
void* CreateThread(ThreadProc proc, void* parameter, unsigned int* threadId);
// Waits for the thread to end and frees the handle. Not from the thread itself.
void JoinThread(void* handle);
bool IsCurrentThread(void* handle);

// Makes the next `count` thread creations fail, so that callers' failure paths can be tested.
// Defined only in what the tests link (tests/support/TestSeams.cpp).
void FailThreadCreationForTesting(int count);

namespace detail {
extern std::atomic<int> g_failCreations;  // creations still to fail
}

}  // namespace ferrolink::outside

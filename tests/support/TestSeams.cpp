// The switches that let tests step time, fail thread creation and fake the adapters. They
// live here, in what the tests link, so that the shared library gives hosts no way to reach them.
#include <ferrolink/platform/Adapters.h>
#include <ferrolink/platform/MonotonicClock.h>
#include <ferrolink/platform/Thread.h>

namespace ferrolink::platform {

void SetClockForTesting(ClockSource source) {
    detail::g_clockSource.store(source);
}

void SetAdapterSourceForTesting(IAdapterSource* source) {
    detail::g_adapterSource.store(source, std::memory_order_release);
}

void FailThreadCreationForTesting(int count) {
    detail::g_failCreations.store(count);
}

}  // namespace ferrolink::platform

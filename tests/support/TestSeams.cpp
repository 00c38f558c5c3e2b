// The switches that let tests step time, fail thread creation and fake the adapters. They
// live here, in what the tests link, so that the shared library gives hosts no way to reach them.
#include <ferrolink/outside/OsThread.h>
#include <ferrolink/platform/Adapters.h>
#include <ferrolink/platform/TickCount.h>

namespace ferrolink::platform {

void SetTickSourceForTesting(TickSource source) {
    detail::g_tickSource.store(source);
}

void SetAdapterSourceForTesting(IAdapterSource* source) {
    detail::g_adapterSource.store(source, std::memory_order_release);
}

}  // namespace ferrolink::platform

namespace ferrolink::outside {

void FailThreadCreationForTesting(int count) {
    detail::g_failCreations.store(count);
}

}  // namespace ferrolink::outside

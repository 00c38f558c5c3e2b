// The switches that let tests step time, fail thread creation and fake the packet driver. They
// live here, in what the tests link, so that the shared library gives hosts no way to reach them.
#include <ferrolink/platform/MonotonicClock.h>
#include <ferrolink/platform/PacketDriverBackend.h>
#include <ferrolink/platform/Thread.h>

namespace ferrolink::platform {

void SetClockForTesting(ClockSource source) {
    detail::g_clockSource.store(source);
}

void SetPacketDriverBackendForTesting(IPacketDriverBackend* backend) {
    detail::g_packetDriverBackend.store(backend, std::memory_order_release);
}

void FailThreadCreationForTesting(int count) {
    detail::g_failCreations.store(count);
}

}  // namespace ferrolink::platform

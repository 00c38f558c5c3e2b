#include <ferrolink/platform/linux/PcapHandleRegistry.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <unordered_map>

namespace ferrolink::platform {

SPcapHandleState::SPcapHandleState(int readTimeoutMs)
    : m_readTimeoutMs(readTimeoutMs), m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

SPcapHandleState::~SPcapHandleState() {
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

namespace {

struct SRegistry {
    std::mutex mutex;
    std::unordered_map<pcap_t*, std::shared_ptr<SPcapHandleState>> states;
};

// Built on first use and never destroyed, so handles closed from static destructors still find it.
SRegistry& Registry() {
    static SRegistry* registry = new SRegistry;
    return *registry;
}

}  // namespace

void CPcapHandleRegistry::Register(pcap_t* handle, int readTimeoutMs) {
    if (!handle) return;
    auto state = std::make_shared<SPcapHandleState>(readTimeoutMs);
    SRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.states[handle] = std::move(state);
}

std::shared_ptr<SPcapHandleState> CPcapHandleRegistry::Obtain(pcap_t* handle) {
    SRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto& slot = registry.states[handle];
    if (!slot) slot = std::make_shared<SPcapHandleState>(DefaultReadTimeoutMs);
    return slot;
}

bool CPcapHandleRegistry::Forget(pcap_t* handle) {
    SRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.states.erase(handle) > 0;
}

}  // namespace ferrolink::platform

#include <ferrolink/platform/Adapters.h>

namespace ferrolink::platform {

namespace detail {
std::atomic<IAdapterSource*> g_adapterSource{nullptr};
}

SSystemError CAdapters::List(std::vector<SAdapter>& adapters) {
    adapters.clear();
    if (IAdapterSource* source = detail::g_adapterSource.load(std::memory_order_acquire))
        return source->List(adapters);
    return SystemList(adapters);
}

SSystemError CAdapters::Query(const std::string& name, SAdapter& adapter) {
    if (IAdapterSource* source = detail::g_adapterSource.load(std::memory_order_acquire))
        return source->Query(name, adapter);
    return SystemQuery(name, adapter);
}

}  // namespace ferrolink::platform

#include <ferrolink/adapter/FindAllDevice.h>

#include <ferrolink/adapter/FindAllDevice_Internal.h>

namespace ferrolink::core {

CFindAllDevice::CFindAllDevice() : m_internal(new CFindAllDevice_Internal) {}

CFindAllDevice::~CFindAllDevice() {
    delete m_internal;
    m_internal = nullptr;
}

void* CFindAllDevice::FindAllDevice() {
    return m_internal->FindAllDevice();
}

int CFindAllDevice::GetAdaptorInfo(unsigned char* buffer, int& size) {
    return m_internal->GetAdaptorInfo(buffer, size);
}

bool CFindAllDevice::GetSelectedDeviceName(std::string& name) {
    return m_internal->GetSelectedDeviceName(name);
}

}  // namespace ferrolink::core

#include <ferrolink/adapter/PCapOpen.h>

#include <ferrolink/platform/Link.h>

namespace ferrolink::core {

CPCapOpen::CPCapOpen() : m_deviceName(new std::string()) {}

CPCapOpen::~CPCapOpen() {
    ClosePCap();
    delete m_deviceName;
}

bool CPCapOpen::ClosePCap() {
    if (m_handle != nullptr) {
        ferrolink::platform::CLink::Close(m_handle);
        m_handle = nullptr;
    }
    return true;
}

bool CPCapOpen::OpenPCap() {
    return false;
}

}  // namespace ferrolink::core

#include <ferrolink/adapter/PCapOpen_Network.h>

#include <ferrolink/adapter/PCapOpen_Network_Internal.h>

namespace ferrolink::core {

CPCapOpen_Network::CPCapOpen_Network() : m_internal(new CPCapOpen_Network_Internal()) {}

CPCapOpen_Network::~CPCapOpen_Network() {
    delete m_internal;
    m_internal = nullptr;
}

void* CPCapOpen_Network::GetPCapHandle(unsigned int milliseconds, const bool* abortFlag) {
    return m_internal->GetPCapHandle(milliseconds, abortFlag);
}

bool CPCapOpen_Network::IsOpen(unsigned int milliseconds, const bool* abortFlag) {
    return m_internal->IsOpen(milliseconds, abortFlag);
}

bool CPCapOpen_Network::Open_ByAuto(unsigned int milliseconds, const bool* abortFlag) {
    return m_internal->Open_ByAuto(milliseconds, abortFlag);
}

bool CPCapOpen_Network::Open_ByConsoleInput(unsigned int milliseconds, const bool* abortFlag) {
    return m_internal->Open_ByConsoleInput(milliseconds, abortFlag);
}

bool CPCapOpen_Network::Open_ByDeviceName(const char* deviceName) {
    return m_internal->Open_ByDeviceName(deviceName);
}

bool CPCapOpen_Network::Close(unsigned int milliseconds, const bool* abortFlag) {
    return m_internal->Close(milliseconds, abortFlag);
}

void* CPCapOpen_Network::Handle_Lock(unsigned int milliseconds, const bool* abortFlag) {
    return m_internal->Handle_Lock(milliseconds, abortFlag);
}

void CPCapOpen_Network::Handle_UnLock() { m_internal->Handle_UnLock(); }

}  // namespace ferrolink::core

#include <ferrolink/outside/WaitReleaseMutex.h>

#include <ferrolink/outside/CustomMutex.h>

namespace ferrolink::core {

CWaitReleaseMutex::CWaitReleaseMutex(CCustomMutex& mutex, unsigned int milliseconds,
                                     const bool* abortFlag)
    : m_mutex(mutex), m_owned(mutex.WaitOne(milliseconds, abortFlag)) {}

CWaitReleaseMutex::~CWaitReleaseMutex() {
    if (m_owned) m_mutex.ReleaseOne();
}

}  // namespace ferrolink::core

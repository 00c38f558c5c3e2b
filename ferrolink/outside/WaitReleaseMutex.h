// Scoped ownership of a CCustomMutex: waits for it with the wait pair on construction and gives
// back what it obtained on destruction.
#pragma once

namespace ferrolink::core {

class CCustomMutex;

class CWaitReleaseMutex {
public:
    CWaitReleaseMutex(CCustomMutex& mutex, unsigned int milliseconds,
                      const bool* abortFlag = nullptr);
    ~CWaitReleaseMutex();
    CWaitReleaseMutex(const CWaitReleaseMutex&) = delete;
    CWaitReleaseMutex& operator=(const CWaitReleaseMutex&) = delete;

    bool IsOwnMutex() const { return m_owned; }

private:
    CCustomMutex& m_mutex;
    bool m_owned;
};

}  // namespace ferrolink::core

// The claim on Windows: a named mutex in the machine-wide kernel namespace. The name lives as long
// as one handle to it is open, and the system closes a dead process's handles, so a crashed
// holder frees it. A name that already exists, here or in another process, is held by someone
// else. The handle is kept in m_fd: Windows handles fit in 32 bits by design (they are shared
// with 32-bit processes that way).
#include <ferrolink/outside/NamedClaim.h>

#include <windows.h>

#include <cstdint>
#include <string>

namespace {

std::wstring KernelName(const std::string& name) {
    std::wstring out = L"Global\\ferrolink.";
    for (char c : name) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        out += safe ? static_cast<wchar_t>(c) : L'_';
    }
    return out;
}

HANDLE ToHandle(int value) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(value));
}

}  // namespace

CNamedClaim::~CNamedClaim() {
    Release();
}

std::string CNamedClaim::LockDirectory() {
    return "Global\\ferrolink.";
}

bool CNamedClaim::Acquire(const std::string& name) {
    Release();
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, KernelName(name).c_str());
    const DWORD error = ::GetLastError();
    // Access denied: the name exists, made by a holder running under another account.
    if (!mutex && error == ERROR_ACCESS_DENIED)
        return Refuse(name, "the board is held by a process of another user");
    if (!mutex)
        return Refuse(name, "the claim cannot be made: Windows error " + std::to_string(error));
    const auto value = reinterpret_cast<std::intptr_t>(mutex);
    if (error == ERROR_ALREADY_EXISTS || value < 0 || value > INT32_MAX) {
        ::CloseHandle(mutex);
        return Refuse(name, "the board is held by another process");
    }
    m_fd = static_cast<int>(value);
    Granted();
    return true;
}

void CNamedClaim::Release() {
    if (m_fd >= 0) {
        ::CloseHandle(ToHandle(m_fd));
        m_fd = -1;
    }
}

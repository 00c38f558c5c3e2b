// The claim on Windows: the named event itself, "Quon_PCap_" and the board's first-byte text, in
// the session's namespace, where another program that claims boards the same way makes and looks
// for it too. The name lives while one handle to it is open, and the system closes a dead
// process's handles, so a crashed holder frees it. Made by us, the event is open to this account
// alone: another account's process can neither signal it nor, by keeping a handle open, keep the
// name alive after we end; its attempt to make it fails with "access denied", which tells it the
// board is held. The handle is kept in m_fd: Windows handles fit in 32 bits by design (they are
// shared with 32-bit processes that way).
#include <ferrolink/platform/NamedClaim.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ferrolink::platform {

namespace {

std::wstring KernelName(const std::string& name) {
    std::wstring out;
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

// A security descriptor whose access list lets this process's account alone use the event.
class CAccountOnly {
public:
    CAccountOnly() {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        m_user.resize(size);
        const bool known =
            size > 0 && ::GetTokenInformation(token, TokenUser, m_user.data(), size, &size);
        ::CloseHandle(token);
        if (!known) return;
        PSID sid = reinterpret_cast<TOKEN_USER*>(m_user.data())->User.Sid;
        m_acl.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid));
        auto* acl = reinterpret_cast<ACL*>(m_acl.data());
        m_ready = ::InitializeAcl(acl, static_cast<DWORD>(m_acl.size()), ACL_REVISION) &&
                  ::AddAccessAllowedAce(acl, ACL_REVISION, EVENT_ALL_ACCESS, sid) &&
                  ::InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                  ::SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE);
        m_attributes = {sizeof m_attributes, &m_descriptor, FALSE};
    }
    CAccountOnly(const CAccountOnly&) = delete;
    CAccountOnly& operator=(const CAccountOnly&) = delete;
    SECURITY_ATTRIBUTES* Get() { return m_ready ? &m_attributes : nullptr; }

private:
    std::vector<unsigned char> m_user;
    std::vector<unsigned char> m_acl;
    SECURITY_DESCRIPTOR m_descriptor{};
    SECURITY_ATTRIBUTES m_attributes{};
    bool m_ready = false;
};

std::string HeldText(const std::string& name, DWORD error) {
    return error == ERROR_ACCESS_DENIED ? "the board is held by a process of another user: " + name
                                        : "the board is held by another process: " + name;
}

std::string NotAnEvent(const std::string& name) {
    return "stop the program that made " + name +
           ": it is another kind of object than an event, not a claim";
}

}  // namespace

CNamedClaim::~CNamedClaim() {
    Release();
}

bool CNamedClaim::Acquire(const std::string& name) {
    Release();
    CAccountOnly security;
    if (!security.Get())
        return Refuse(ClaimResult_Failed, "the claim " + name +
                                              " cannot be made: this account cannot be named "
                                              "(Windows error " +
                                              std::to_string(::GetLastError()) + ")");
    const HANDLE event = ::CreateEventW(security.Get(), FALSE, FALSE, KernelName(name).c_str());
    const DWORD error = ::GetLastError();
    if (!event && error == ERROR_ACCESS_DENIED)
        return Refuse(ClaimResult_Held, HeldText(name, error));
    if (!event && error == ERROR_INVALID_HANDLE)
        return Refuse(ClaimResult_NotAClaim, NotAnEvent(name));
    if (!event)
        return Refuse(
            error == ERROR_NO_SYSTEM_RESOURCES || error == ERROR_NOT_ENOUGH_MEMORY
                ? ClaimResult_NoSpace
                : ClaimResult_Failed,
            "the claim " + name + " cannot be made: Windows error " + std::to_string(error));
    const auto value = reinterpret_cast<std::intptr_t>(event);
    if (error == ERROR_ALREADY_EXISTS || value < 0 || value > INT32_MAX) {
        ::CloseHandle(event);
        return Refuse(ClaimResult_Held, HeldText(name, error));
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

std::vector<SClaimState> CNamedClaim::Survey(const std::vector<std::string>& names) {
    std::vector<SClaimState> states;
    for (const std::string& name : names) {
        // Opened for waiting only, and closed at once: looked at, not held.
        const HANDLE event = ::OpenEventW(SYNCHRONIZE, FALSE, KernelName(name).c_str());
        const DWORD error = ::GetLastError();
        if (event) {
            ::CloseHandle(event);
            states.push_back({name, ClaimResult_Held, HeldText(name, ERROR_SUCCESS)});
        } else if (error == ERROR_ACCESS_DENIED) {
            states.push_back({name, ClaimResult_Held, HeldText(name, error)});
        } else if (error == ERROR_INVALID_HANDLE) {
            states.push_back({name, ClaimResult_NotAClaim, NotAnEvent(name)});
        } else if (error != ERROR_FILE_NOT_FOUND) {
            states.push_back({name, ClaimResult_Failed,
                              "the claim " + name + " cannot be looked at: Windows error " +
                                  std::to_string(error)});
        }
    }
    return states;
}

}  // namespace ferrolink::platform

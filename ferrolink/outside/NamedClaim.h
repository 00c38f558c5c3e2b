// An exclusive claim on a name across the processes of this machine, released when its holder
// ends, even when killed. On Linux: an exclusive flock on a file in the lock folder; the kernel
// drops the lock when the holding descriptor closes. The lock belongs to the open file, so a
// second claim in the same process fails too. On Windows: a named mutex, whose name lives while a
// handle to it is open.
//
// Any local user who can open the lock folder can hold a claim, as with a named object on other
// systems: the claim keeps processes from taking one board twice, it is no access control.
#pragma once

#include <string>

class CNamedClaim {
public:
    CNamedClaim() = default;
    ~CNamedClaim();
    CNamedClaim(const CNamedClaim&) = delete;
    CNamedClaim& operator=(const CNamedClaim&) = delete;

    // False when another holder has the name, or when the claim cannot be taken where every
    // process looks for it; Refusal() then says which.
    bool Acquire(const std::string& name);
    void Release();
    bool IsHeld() const { return m_fd >= 0; }
    // Why the last Acquire failed: the name is held by another process (which one, where that
    // can be told), or the lock folder cannot be used and why. Empty after a success.
    const std::string& Refusal() const { return m_refusal; }
    // The last refusal of any claim in this process, for tools that report why a search failed.
    static std::string LastRefusal();

    // Folder of the claims: $FERROLINK_LOCK_DIR, else /run/lock. There is no other:
    // a claim that cannot be taken there fails rather than being taken where others do not look.
    static std::string LockDirectory();

private:
    // Records and logs a refusal; false, for Acquire to return.
    bool Refuse(const std::string& name, const std::string& why);
    void Granted();

    int m_fd = -1;
    std::string m_refusal;
};

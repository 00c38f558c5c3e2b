// An exclusive claim on a name across the processes of this machine: an exclusive flock on a file
// in the lock directory. The kernel drops the lock when the holding descriptor closes, so a
// crashed or killed holder frees the name. The lock belongs to the open file, so a second claim
// in the same process fails too.
#pragma once

#include <string>

class CNamedClaim {
public:
    CNamedClaim() = default;
    ~CNamedClaim();
    CNamedClaim(const CNamedClaim&) = delete;
    CNamedClaim& operator=(const CNamedClaim&) = delete;

    // False when another holder has the name, or when no lock file could be made.
    bool Acquire(const std::string& name);
    void Release();
    bool IsHeld() const { return m_fd >= 0; }

    // Directory of the lock files: $FERROLINK_LOCK_DIR, else /run/lock/ferrolink, else a
    // per-user directory under /tmp when /run/lock is not writable.
    static std::string LockDirectory();

private:
    int m_fd = -1;
};

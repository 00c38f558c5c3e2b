// The board claim: an exclusive claim on a name across the processes of this machine, released
// when its holder ends, even when killed. Held by CCustomAutoResetEvent's named form, which logs
// what it is told; the tool asks it why a claim failed and which boards are held.
//
// Linux: an exclusive flock on a regular file made for it in the claim folder, /run/ferrolink
// (root's, mode 2770, group ferrolink: only those allowed to drive boards can make entries there).
// Without that folder (a build tree, a test machine) claims go to the shared sticky /run/lock,
// where any local user can block a board; this is logged once. $FERROLINK_LOCK_DIR names another
// folder, for the user's own rights only: a program started with rights granted by its file
// (setuid, file capabilities) ignores it. The lock belongs to the open file, so a second claim in
// the same process fails too. Windows: the named event "Quon_PCap_..." itself, open to its
// creator's account alone, which the system removes with its holder's last handle.
#pragma once

#include <string>
#include <vector>

namespace ferrolink::platform {

// What became of a claim, so that callers can tell apart what to say and do.
enum EClaimResult : int {
    ClaimResult_Granted = 0,
    ClaimResult_Held = 1,          // another process holds it: wait, or stop that process
    ClaimResult_NotAClaim = 2,     // something else stands under the claim's name, or the claim
                                   // folder is not fit for claims: someone must remove or repair it
    ClaimResult_NoSpace = 3,       // the claim folder's file system is full (or the quota reached)
    ClaimResult_NoPermission = 4,  // this user may not take claims there
    ClaimResult_Failed = 5,        // any other error of the system, named in the text
};

// One name that is not free, as Survey finds it; a record without a name is about the folder.
struct SClaimState {
    std::string m_name;
    EClaimResult m_result = ClaimResult_Granted;
    std::string m_why;
};

class CNamedClaim {
public:
    CNamedClaim() = default;
    ~CNamedClaim();
    CNamedClaim(const CNamedClaim&) = delete;
    CNamedClaim& operator=(const CNamedClaim&) = delete;

    // False when another holder has the name or the claim cannot be taken where every process
    // looks for it; Result() and Refusal() then say which.
    bool Acquire(const std::string& name);
    void Release();
    bool IsHeld() const { return m_fd >= 0; }
    EClaimResult Result() const { return m_result; }
    // Why the last Acquire failed, in words that name the holder (its pid as the kernel knows
    // it, when it can be told) or the entry to remove. Empty after a success.
    const std::string& Refusal() const { return m_refusal; }
    // The last refusal of any claim in this process and its kind, for tools that report why a
    // search failed.
    static std::string LastRefusal();
    static EClaimResult LastResult();
    // Whether the last refusal differs from the one before it in this process: a held board is
    // heard again and again while a search listens, and its refusal is worth one record.
    bool IsNewRefusal() const { return m_newRefusal; }
    // Notices about where claims are taken (each once per process), gathered since the last call,
    // for the caller to log.
    static std::vector<std::string> TakeNotices();

    // What stands under each of these names, looked at without making, changing or locking
    // anything: a record for each name that is not free, or one record without a name when the
    // claim folder itself cannot be used.
    static std::vector<SClaimState> Survey(const std::vector<std::string>& names);

private:
    // Records a refusal; false, for Acquire to return.
    bool Refuse(EClaimResult result, const std::string& why);
    void Granted();
    // Keeps a notice for TakeNotices.
    static void Notice(const std::string& text);

    int m_fd = -1;
    EClaimResult m_result = ClaimResult_Granted;
    std::string m_refusal;
    bool m_newRefusal = false;
};

}  // namespace ferrolink::platform

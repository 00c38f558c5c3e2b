#include <ferrolink/platform/NamedClaim.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/auxv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

namespace ferrolink::platform {

namespace {

// Made at boot by the package's systemd-tmpfiles entry: root's, group ferrolink, mode 2770.
constexpr const char* kInstalledFolder = "/run/ferrolink";
// Where claims go without it: every user may make entries here, so any of them can block a board.
constexpr const char* kSharedFolder = "/run/lock";

enum class EFolderKind { Chosen, Installed, Shared };

struct SFolder {
    std::string m_path;
    EFolderKind m_kind;
};

// Names become file names: keep them to a safe alphabet.
std::string FileNameFor(const std::string& name) {
    std::string out;
    for (char c : name) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        out += safe ? c : '_';
    }
    return out + ".lock";
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

std::string GroupName(gid_t gid) {
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->gr_name;
    return std::to_string(gid);
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

class CDescriptor {
public:
    explicit CDescriptor(int fd = -1) : m_fd(fd) {}
    ~CDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;
    int Get() const { return m_fd; }
    int Take() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// The folder of the claims, and in `notice` (once per process) why it is not the installed one.
SFolder ChooseFolder(std::string& notice) {
    const char* chosen = std::getenv("FERROLINK_LOCK_DIR");
    if (chosen && *chosen) {
        // A program that gained rights from its file would otherwise let any user who may start
        // it steer root's claims into a folder of that user's choosing.
        if (::getauxval(AT_SECURE) == 0) return {chosen, EFolderKind::Chosen};
        static std::once_flag told;
        std::call_once(told, [&] {
            notice =
                "FERROLINK_LOCK_DIR is ignored: this program runs with rights granted by its "
                "file (setuid or file capabilities)";
        });
    }
    struct stat status {};
    // Anything under that name, even something wrong, is the folder: its fault is then told.
    if (::lstat(kInstalledFolder, &status) == 0 || errno != ENOENT)
        return {kInstalledFolder, EFolderKind::Installed};
    static std::once_flag told;
    std::call_once(told, [&] {
        notice += std::string(notice.empty() ? "" : "; ") + "the claim folder " + kInstalledFolder +
                  " does not exist (the package makes it at boot): claims are taken in the "
                  "shared " +
                  kSharedFolder + ", where any local user can block a board";
    });
    return {kSharedFolder, EFolderKind::Shared};
}

// Whether an opened claim folder is fit for claims: nobody but root, this user and (where its
// owner allows) a group can make or remove entries in it.
EClaimResult CheckFolder(const SFolder& folder, const struct stat& status, std::string& why) {
    const std::string& dir = folder.m_path;
    const bool sticky = status.st_mode & S_ISVTX, everyone = status.st_mode & S_IWOTH;
    if (folder.m_kind == EFolderKind::Installed && (status.st_uid != 0 || everyone)) {
        why = "the claim folder " + dir +
              (status.st_uid != 0
                   ? " belongs to user " + std::to_string(status.st_uid) + ", not root"
                   : " is writable by every user (mode " + ModeText(status.st_mode) + ")") +
              ": run `systemd-tmpfiles --create` as root to set it right";
        return ClaimResult_NotAClaim;
    }
    if (status.st_uid != 0 && status.st_uid != ::geteuid()) {
        why = "the claim folder " + dir + " belongs to user " + std::to_string(status.st_uid) +
              ", neither root nor this user";
        return ClaimResult_NotAClaim;
    }
    if (everyone && !sticky) {
        why = "the claim folder " + dir + " is writable by every user without the sticky bit";
        return ClaimResult_NotAClaim;
    }
    return ClaimResult_Granted;
}

// A refusal to open or make the claim folder, by its cause.
EClaimResult FolderError(const SFolder& folder, int error, const std::string& doing,
                         std::string& why) {
    const std::string& dir = folder.m_path;
    if (error == ELOOP || error == ENOTDIR) {
        why = "the claim folder " + dir + " is a symbolic link or not a folder: remove it";
        return ClaimResult_NotAClaim;
    }
    if (error == EACCES || error == EPERM) {
        struct stat status {};
        if (folder.m_kind == EFolderKind::Installed && ::stat(dir.c_str(), &status) == 0) {
            const std::string group = GroupName(status.st_gid);
            why = "this user may not take claims in " + dir +
                  ": it is open to root and the group " + group + " only (add the user to " +
                  group + " and log in again)";
        } else {
            why =
                "this user may not " + doing + " the claim folder " + dir + ": " + ErrorText(error);
        }
        return ClaimResult_NoPermission;
    }
    why = "the claim folder " + dir + " cannot be " + doing + ": " + ErrorText(error);
    return error == ENOSPC || error == EDQUOT ? ClaimResult_NoSpace : ClaimResult_Failed;
}

// Opens the claim folder without following a link; a chosen folder that is missing is made
// (when `make`), shared by all users only when root makes it inside a sticky folder.
int OpenFolder(const SFolder& folder, bool make, struct stat& status, EClaimResult& result,
               std::string& why) {
    const std::string& dir = folder.m_path;
    bool made = false;
    if (make && folder.m_kind == EFolderKind::Chosen) {
        made = ::mkdir(dir.c_str(), 0755) == 0;
        if (!made && errno != EEXIST) {
            result = FolderError(folder, errno, "made", why);
            return -1;
        }
    }
    CDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Get() < 0) {
        result = FolderError(folder, errno, "opened", why);
        return -1;
    }
    if (::fstat(fd.Get(), &status) != 0) {
        result = FolderError(folder, errno, "examined", why);
        return -1;
    }
    if (made && status.st_uid == ::geteuid()) {
        std::filesystem::path parent = std::filesystem::path(dir).lexically_normal();
        parent = parent.has_filename() ? parent.parent_path() : parent.parent_path().parent_path();
        struct stat parentStatus {};
        const bool sharedParent =
            ::stat(parent.empty() ? "." : parent.c_str(), &parentStatus) == 0 &&
            (parentStatus.st_mode & S_ISVTX) && (parentStatus.st_mode & S_IWOTH);
        const mode_t mode = sharedParent && ::geteuid() == 0 ? 01777 : 0755;
        if (::fchmod(fd.Get(), mode) == 0) status.st_mode = (status.st_mode & ~07777) | mode;
    }
    result = CheckFolder(folder, status, why);
    return result == ClaimResult_Granted ? fd.Take() : -1;
}

// Whether an entry under a claim's name can be a claim: a regular file with one name, in a
// folder shared by all users of anyone, elsewhere of root, this user or the folder's group.
// Anything else was put there by someone and is never taken for a held claim.
EClaimResult CheckEntry(const struct stat& folder, const struct stat& entry,
                        const std::string& path, std::string& why) {
    std::string what;
    if (S_ISLNK(entry.st_mode))
        what = "a symbolic link";
    else if (S_ISDIR(entry.st_mode))
        what = "a folder";
    else if (S_ISFIFO(entry.st_mode))
        what = "a FIFO";
    else if (S_ISSOCK(entry.st_mode))
        what = "a socket";
    else if (S_ISCHR(entry.st_mode) || S_ISBLK(entry.st_mode))
        what = "a device";
    else if (!S_ISREG(entry.st_mode))
        what = "not a regular file";
    else if (entry.st_nlink != 1)
        what = "a file with " + std::to_string(entry.st_nlink) + " names (hard links)";
    else if (!((folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH)) && entry.st_uid != 0 &&
             entry.st_uid != ::geteuid() && entry.st_gid != folder.st_gid)
        what = "a file of user " + std::to_string(entry.st_uid) + " and group " +
               GroupName(entry.st_gid) + ", outside the folder's group " + GroupName(folder.st_gid);
    if (what.empty()) return ClaimResult_Granted;
    why = "remove " + path + ": it is " + what + ", not a claim";
    return ClaimResult_NotAClaim;
}

std::string Unreadable(const std::string& path, const struct stat& entry) {
    return "remove " + path + ": it is a file this user may not read (user " +
           std::to_string(entry.st_uid) + ", mode " + ModeText(entry.st_mode) + "), not a claim";
}

// The kernel's table of flock holders: the holder's pid by file ("major:minor:inode" as
// /proc/locks writes it). A pid of 0 is a holder the kernel does not show from here (another pid
// namespace, or its taker has exited while a child keeps the file open).
std::map<std::string, long> FlockHolders() {
    std::map<std::string, long> holders;
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, advisory, access, where;
        long pid = 0;
        // A waiter's line has "->" for a kind, and is skipped.
        if (fields >> number >> kind >> advisory >> access >> pid >> where && kind == "FLOCK")
            holders.emplace(where, pid);
    }
    return holders;
}

std::string FileKey(const struct stat& file) {
    char key[64];
    std::snprintf(key, sizeof key, "%02x:%02x:%llu", major(file.st_dev), minor(file.st_dev),
                  static_cast<unsigned long long>(file.st_ino));
    return key;
}

// The refusal for a claim another process holds; its pid only as the kernel's table gives it.
std::string HeldText(const std::string& path, const struct stat& file,
                     const std::map<std::string, long>& holders) {
    const auto holder = holders.find(FileKey(file));
    const long pid = holder == holders.end() ? 0 : holder->second;
    return "the board is held by another process" +
           (pid > 0 ? " (pid " + std::to_string(pid) + ")" : std::string()) + ": " + path;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

CNamedClaim::~CNamedClaim() {
    Release();
}

bool CNamedClaim::Acquire(const std::string& name) {
    Release();
    std::string notice;
    const SFolder folder = ChooseFolder(notice);
    if (!notice.empty()) Notice(notice);
    const std::string file = FileNameFor(name);
    const std::string path = folder.m_path + "/" + file;
    EClaimResult result = ClaimResult_Granted;
    std::string why;
    struct stat folderStatus {};
    CDescriptor dirFd(OpenFolder(folder, true, folderStatus, result, why));
    if (dirFd.Get() < 0) return Refuse(result, why);

    // An entry that is there is looked at before it is opened (a FIFO or a device is never
    // opened); a missing one is made exclusively, so nothing planted meanwhile is taken over.
    // The name may change under us (a holder's file removed by hand): then it is looked at again.
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    for (int attempt = 0; attempt < 4; ++attempt) {
        struct stat entry {};
        CDescriptor fd;
        if (::fstatat(dirFd.Get(), file.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0) {
            if ((result = CheckEntry(folderStatus, entry, path, why)) != ClaimResult_Granted)
                return Refuse(result, why);
            fd.Reset(::openat(dirFd.Get(), file.c_str(), flags));
            if (fd.Get() < 0 && errno == EACCES)
                return Refuse(ClaimResult_NotAClaim, Unreadable(path, entry));
            if (fd.Get() < 0 && (errno == ENOENT || errno == ELOOP)) continue;
        } else if (errno == ENOENT) {
            fd.Reset(::openat(dirFd.Get(), file.c_str(), flags | O_CREAT | O_EXCL, 0644));
            if (fd.Get() < 0 && errno == EEXIST) continue;
            // Readable by every user who may claim, whatever the umask: a lock needs no more.
            if (fd.Get() >= 0) ::fchmod(fd.Get(), 0644);
        } else {
            return Refuse(FolderError(folder, errno, "searched", why), why);
        }
        if (fd.Get() < 0) {
            const int error = errno;
            const EClaimResult kind = error == ENOSPC || error == EDQUOT  ? ClaimResult_NoSpace
                                      : error == EACCES || error == EPERM ? ClaimResult_NoPermission
                                                                          : ClaimResult_Failed;
            return Refuse(kind,
                          (kind == ClaimResult_NoSpace ? "no room for the claim " + path + ": "
                           : kind == ClaimResult_NoPermission
                               ? "this user may not make claims in " + folder.m_path + ": "
                               : "the claim " + path + " cannot be made: ") +
                              ErrorText(error));
        }
        if (::fstat(fd.Get(), &entry) != 0)
            return Refuse(ClaimResult_Failed,
                          "the claim " + path + " cannot be examined: " + ErrorText(errno));
        if ((result = CheckEntry(folderStatus, entry, path, why)) != ClaimResult_Granted)
            return Refuse(result, why);
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK)
                return Refuse(ClaimResult_Held, HeldText(path, entry, FlockHolders()));
            return Refuse(ClaimResult_Failed,
                          "the claim " + path + " cannot be locked: " + ErrorText(errno));
        }
        // Locked, but a file no longer under the name would be a claim nobody else sees.
        struct stat now {};
        if (::fstatat(dirFd.Get(), file.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
            !SameFile(now, entry))
            continue;
        m_fd = fd.Take();
        Granted();
        return true;
    }
    return Refuse(ClaimResult_Failed, "the claim " + path + " keeps changing; try again");
}

void CNamedClaim::Release() {
    if (m_fd >= 0) {
        ::close(m_fd);  // closing the descriptor drops the lock
        m_fd = -1;
    }
}

std::vector<SClaimState> CNamedClaim::Survey(const std::vector<std::string>& names) {
    std::vector<SClaimState> states;
    std::string notice;
    const SFolder folder = ChooseFolder(notice);
    if (!notice.empty()) Notice(notice);
    SClaimState state;
    struct stat folderStatus {};
    CDescriptor dirFd(OpenFolder(folder, false, folderStatus, state.m_result, state.m_why));
    if (dirFd.Get() < 0) {
        // A chosen folder not made yet holds no claims.
        struct stat status {};
        if (folder.m_kind != EFolderKind::Chosen || ::lstat(folder.m_path.c_str(), &status) == 0)
            states.push_back(state);
        return states;
    }
    const auto holders = FlockHolders();
    for (const std::string& name : names) {
        const std::string file = FileNameFor(name), path = folder.m_path + "/" + file;
        state = SClaimState{name, ClaimResult_Granted, ""};
        struct stat entry {};
        if (::fstatat(dirFd.Get(), file.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;
            // The folder cannot be searched: that is the one thing to tell.
            state.m_result = FolderError(folder, errno, "searched", state.m_why);
            return {SClaimState{"", state.m_result, state.m_why}};
        }
        if ((state.m_result = CheckEntry(folderStatus, entry, path, state.m_why)) !=
            ClaimResult_Granted) {
        } else if (::faccessat(dirFd.Get(), file.c_str(), R_OK, AT_EACCESS) != 0) {
            state.m_result = ClaimResult_NotAClaim;
            state.m_why = Unreadable(path, entry);
        } else if (holders.count(FileKey(entry))) {
            state.m_result = ClaimResult_Held;
            state.m_why = HeldText(path, entry, holders);
        } else {
            continue;  // a claim file left behind: free
        }
        states.push_back(state);
    }
    return states;
}

}  // namespace ferrolink::platform

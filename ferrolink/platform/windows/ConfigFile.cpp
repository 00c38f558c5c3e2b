// The configuration file on Windows: %APPDATA%\ferrolink\network.ini. Writers of all processes of
// the session are serialised by a named mutex; a write goes to a temporary file that
// MoveFileEx puts in place of the old one in one step.
#include <ferrolink/platform/ConfigFile.h>

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace ferrolink::platform {

namespace {

namespace fs = std::filesystem;

HANDLE ToHandle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

// The system's text for an error, with its number: "Access is denied (error 5)".
std::string SystemMessage(DWORD error) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length && text ? std::string(text, length) : std::string();
    if (text) ::LocalFree(text);
    while (!message.empty() &&
           (message.back() == '\r' || message.back() == '\n' || message.back() == '.'))
        message.pop_back();
    const std::string number = "error " + std::to_string(error);
    return message.empty() ? number : message + " (" + number + ")";
}

// Closes the handle when it goes out of scope.
class CHandleCloser {
public:
    explicit CHandleCloser(HANDLE handle) : m_handle(handle) {}
    ~CHandleCloser() {
        if (m_handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_handle);
    }
    CHandleCloser(const CHandleCloser&) = delete;
    CHandleCloser& operator=(const CHandleCloser&) = delete;

private:
    HANDLE m_handle;
};

// An antivirus scanner or an indexer may hold the file for a moment without sharing it: the
// replacement is tried again for about a second before it counts as failed.
constexpr int ReplaceAttempts = 10;
constexpr DWORD ReplaceRetryMilliseconds = 100;

bool MayPassSoon(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

bool WriteAll(HANDLE file, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1 << 20));
        if (!::WriteFile(file, text.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

}  // namespace

// The mutex's name is per session, like the user's %APPDATA%; an abandoned mutex is owned too.
CConfigFile::CConfigFile(const std::string&) {
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, L"Local\\ferrolink.config");
    if (!mutex) return;
    const DWORD waited = ::WaitForSingleObject(mutex, INFINITE);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        m_lock = reinterpret_cast<std::intptr_t>(mutex);
    else
        ::CloseHandle(mutex);
}

CConfigFile::~CConfigFile() {
    if (m_lock == -1) return;
    ::ReleaseMutex(ToHandle(m_lock));
    ::CloseHandle(ToHandle(m_lock));
}

// UTF-8 throughout: a narrow getenv or path would pass through the code page, which cannot hold
// every user's name (and which mingw's library does not even use for paths).
std::filesystem::path CConfigFile::PathOf(const std::string& text) {
    return fs::u8path(text);
}

std::string CConfigFile::TextOf(const std::filesystem::path& path) {
    return path.u8string();
}

std::string CConfigFile::Environment(const char* name) {
    const std::wstring wide = fs::u8path(name).wstring();
    const wchar_t* value = ::_wgetenv(wide.c_str());
    return value && *value ? fs::path(value).u8string() : std::string();
}

// A process started without APPDATA (a service, a scheduled task, a parent that cleared the
// environment) asks the shell for the same folder.
std::string CConfigFile::DefaultPath() {
    std::string appData = Environment("APPDATA");
    if (appData.empty()) {
        PWSTR folder = nullptr;
        if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DONT_VERIFY, nullptr,
                                             &folder)) &&
            folder != nullptr)
            appData = fs::path(folder).u8string();
        ::CoTaskMemFree(folder);
    }
    if (appData.empty()) return {};
    return appData + "\\ferrolink\\network.ini";
}

const char* CConfigFile::DefaultPathSources() {
    return "neither FERROLINK_CONFIG nor APPDATA nor the shell's Roaming AppData folder";
}

bool CConfigFile::ReadText(const std::string& path, std::string& text, std::string& why) {
    text.clear();
    // Backup semantics open a folder too, so that one in the file's place is named as such;
    // a link is opened itself, not followed.
    HANDLE file = ::CreateFileW(
        PathOf(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
        why = "cannot be opened: " + SystemMessage(error);
        return false;
    }
    const CHandleCloser closer(file);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(file, &information) ||
        ::GetFileType(file) != FILE_TYPE_DISK ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        why = "is not a regular file";
        return false;
    }
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        why = "is a symbolic link, which is not followed";
        return false;
    }
    char chunk[4096];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file, chunk, sizeof chunk, &n, nullptr)) {
            why = "cannot be read: " + SystemMessage(::GetLastError());
            return false;
        }
        if (n == 0) break;
        text.append(chunk, n);
        if (text.size() > MaximumFileSize) {
            why = "is larger than " + std::to_string(MaximumFileSize) + " bytes";
            return false;
        }
    }
    return true;
}

bool CConfigFile::MakeFolder(const std::string& folder, std::string& why) {
    std::error_code error;
    fs::create_directories(PathOf(folder), error);
    if (!error) return true;
    why = error.message();
    return false;
}

// Access rights on Windows are not told by a call like access(): a file is made and at once
// deleted, which is what storing the settings needs.
bool CConfigFile::FolderWritable(const std::string& folder, std::string& why) {
    const fs::path probe =
        PathOf(folder) / (".ferrolink-probe-" + std::to_string(::GetCurrentProcessId()));
    HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = SystemMessage(::GetLastError());
        return false;
    }
    ::CloseHandle(file);
    return true;
}

bool CConfigFile::Replace(const std::string& path, const std::string& text, std::string& why) {
    const fs::path target = PathOf(path);
    fs::path temporary = target;
    temporary += ".tmp" + std::to_string(::GetCurrentProcessId());
    // One left by a process that died with this number goes; a new one is made, never reused.
    ::DeleteFileW(temporary.c_str());
    HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = "temporary file cannot be made: " + temporary.u8string() + ": " +
              SystemMessage(::GetLastError());
        return false;
    }
    const bool written = WriteAll(file, text) && ::FlushFileBuffers(file);
    const DWORD writeError = ::GetLastError();
    if (!::CloseHandle(file) || !written) {
        why = "temporary file cannot be written: " + temporary.u8string() + ": " +
              SystemMessage(written ? ::GetLastError() : writeError);
        ::DeleteFileW(temporary.c_str());
        return false;
    }
    for (int attempt = 1;; ++attempt) {
        if (::MoveFileExW(temporary.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = ::GetLastError();
        if (attempt < ReplaceAttempts && MayPassSoon(error)) {
            ::Sleep(ReplaceRetryMilliseconds);
            continue;
        }
        why = "file cannot be replaced: " + path + ": " + SystemMessage(error) +
              (attempt > 1 ? " (tried " + std::to_string(attempt) + " times)" : "");
        ::DeleteFileW(temporary.c_str());
        return false;
    }
}

}  // namespace ferrolink::platform

#include "platform/OutputFile.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace ferrolink::tools {

namespace {

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::string SystemText(DWORD code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message =
        n && text ? std::string(text, n) : "Windows error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' '))
        message.pop_back();
    return message;
}

// The command line arrives in the system's ANSI code page; the wide name reaches every file.
std::wstring Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(n > 0 ? static_cast<std::size_t>(n) : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
    return wide.data();
}

}  // namespace

COutputFile::~COutputFile() {
    std::string ignored;
    Close(ignored);
}

bool COutputFile::Open(const std::string& path, bool regularOnly, std::string& error) {
    std::string ignored;
    Close(ignored);
    const std::wstring name = Wide(path);
    const DWORD before = GetFileAttributesW(name.c_str());
    if (before != INVALID_FILE_ATTRIBUTES && (before & FILE_ATTRIBUTE_REPARSE_POINT)) {
        error = "it is a symbolic link, not followed";
        return false;
    }
    if (before != INVALID_FILE_ATTRIBUTES && (before & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "it is a directory, not a regular file";
        return false;
    }
    // The link itself if one was planted since: then seen below and refused.
    const HANDLE file =
        CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemText(GetLastError());
        return false;
    }
    const DWORD type = GetFileType(file);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool disk = type == FILE_TYPE_DISK;
    if (disk &&
        (!GetFileInformationByHandle(file, &info) ||
         (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))) {
        CloseHandle(file);
        error = info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT
                    ? "it is a symbolic link, not followed"
                    : "not a regular file";
        return false;
    }
    if (regularOnly && !disk) {
        CloseHandle(file);
        error = "not a regular file";
        return false;
    }
    m_handle = reinterpret_cast<std::intptr_t>(file);
    m_regular = disk;
    return true;
}

bool COutputFile::OpenStandardOutput(std::string& error) {
    std::string ignored;
    Close(ignored);
    std::fflush(stdout);
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!output || output == INVALID_HANDLE_VALUE) {
        error = "there is no standard output";
        return false;
    }
    m_handle = reinterpret_cast<std::intptr_t>(output);
    m_standardOutput = true;
    return true;
}

bool COutputFile::IsOpen() const {
    return m_handle != -1;
}

bool COutputFile::Write(const void* data, std::size_t size, std::string& error) {
    const auto* at = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(AsHandle(m_handle), at, chunk, &written, nullptr) || written == 0) {
            error = SystemText(GetLastError());
            return false;
        }
        at += written;
        size -= written;
    }
    return true;
}

bool COutputFile::Truncate(std::uint64_t size, std::string& error) {
    if (!m_regular) {
        error = "not a regular file";
        return false;
    }
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    if (SetFilePointerEx(AsHandle(m_handle), at, nullptr, FILE_BEGIN) &&
        SetEndOfFile(AsHandle(m_handle)))
        return true;
    error = SystemText(GetLastError());
    return false;
}

bool COutputFile::Sync(std::string& error) {
    if (!m_regular || FlushFileBuffers(AsHandle(m_handle))) return true;
    error = SystemText(GetLastError());
    return false;
}

bool COutputFile::Close(std::string& error) {
    if (!IsOpen()) return true;
    const HANDLE file = AsHandle(m_handle);
    const bool standardOutput = m_standardOutput;
    m_handle = -1;
    m_standardOutput = false;
    m_regular = false;
    if (standardOutput || CloseHandle(file)) return true;
    error = SystemText(GetLastError());
    return false;
}

}  // namespace ferrolink::tools

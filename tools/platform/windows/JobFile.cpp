#include "platform/JobFile.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

HANDLE Handle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

std::string SystemText(DWORD code) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length ? std::string(text, length) : "error " + std::to_string(code);
    if (text) ::LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.'))
        result.pop_back();
    return result;
}

std::wstring Wide(const std::string& utf8) {
    const int count =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(count > 0 ? count : 0), L'\0');
    if (count > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0],
                              count);
    return wide;
}

}  // namespace

CJobFile::~CJobFile() {
    Close();
}

void CJobFile::Close() {
    if (m_mapping) ::CloseHandle(Handle(m_mapping));
    if (m_file != -1) ::CloseHandle(Handle(m_file));
    m_mapping = 0;
    m_file = -1;
}

bool CJobFile::Open(const std::string& path, std::string& error) {
    Close();
    // Others may go on reading it; a writer would change the job under the sender.
    const HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot read " + path + ": " + SystemText(::GetLastError());
        return false;
    }
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size) ||
        size.QuadPart <= 0) {
        ::CloseHandle(file);
        error = "cannot read " + path + ": not a non-empty regular file";
        return false;
    }
    // Without a mapping (a file system that cannot map files) bands are read at their offsets.
    const HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    m_file = reinterpret_cast<std::intptr_t>(file);
    m_mapping = reinterpret_cast<std::intptr_t>(mapping);
    m_size = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

bool CJobFile::View(std::uint64_t offset, std::size_t length, SJobView& view,
                    std::string& error) const {
    if (offset + length > m_size) {
        error = "the file shrank while it was sent";
        return false;
    }
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    const std::uint64_t granularity = system.dwAllocationGranularity;
    const std::uint64_t start = offset / granularity * granularity;
    const auto mapped = static_cast<std::size_t>(offset - start) + length;
    void* base = m_mapping ? ::MapViewOfFile(Handle(m_mapping), FILE_MAP_READ,
                                             static_cast<DWORD>(start >> 32),
                                             static_cast<DWORD>(start & 0xFFFFFFFFu), mapped)
                           : nullptr;
    if (!base) return ReadInto(offset, length, view, error);
    // Read in here, ahead of the sender: one read of each page brings it from the disk.
    const volatile unsigned char* bytes = static_cast<const unsigned char*>(base);
    for (std::size_t at = 0; at < mapped; at += system.dwPageSize) (void)bytes[at];
    view.m_base = base;
    view.m_mapped = mapped;
    view.m_data = static_cast<const unsigned char*>(base) + (offset - start);
    view.m_length = length;
    return true;
}

bool CJobFile::ReadAt(std::uint64_t offset, unsigned char* into, std::size_t length,
                      std::size_t& got, std::string& error) const {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD want = length < 0x40000000u ? static_cast<DWORD>(length) : 0x40000000u;
    DWORD read = 0;
    got = 0;
    if (::ReadFile(Handle(m_file), into, want, &read, &where)) {
        got = read;
        return true;
    }
    const DWORD code = ::GetLastError();
    if (code == ERROR_HANDLE_EOF) return true;  // the end of the file: nothing read
    error = SystemText(code);
    return false;
}

void CJobFile::Release(SJobView& view) const {
    if (view.m_base && view.m_mapped) ::UnmapViewOfFile(view.m_base);
    if (view.m_base && !view.m_mapped) std::free(view.m_base);
    view = SJobView{};
}

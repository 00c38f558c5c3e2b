#include <ferrolink/platform/HostEncoding.h>

#include <windows.h>

#include <vector>

namespace ferrolink::platform {

namespace {

constexpr UINT CodePageGbk = 936;

}  // namespace

std::string CHostEncoding::FromUtf8(const char* text) {
    if (!text || !*text) return "";
    const int wide = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (wide <= 0) return text;
    std::vector<wchar_t> utf16(static_cast<std::size_t>(wide));
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, utf16.data(), wide);
    const int size =
        ::WideCharToMultiByte(CodePageGbk, 0, utf16.data(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return text;
    std::string gbk(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CodePageGbk, 0, utf16.data(), -1, gbk.data(), size, nullptr, nullptr);
    gbk.resize(static_cast<std::size_t>(size - 1));
    return gbk;
}

}  // namespace ferrolink::platform

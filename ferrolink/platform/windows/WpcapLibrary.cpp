#include <ferrolink/platform/windows/WpcapLibrary.h>

#include <windows.h>

#include <cstring>

namespace ferrolink::platform {

namespace {

struct SLoaded {
    HMODULE module = nullptr;
    std::string error;
};

std::wstring NpcapPath() {
    wchar_t system[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(system, length) + L"\\Npcap\\wpcap.dll";
}

SLoaded LoadOnce() {
    SLoaded loaded;
    // The altered search path lets wpcap.dll find Packet.dll beside it without changing the
    // host's DLL directory.
    const std::wstring npcap = NpcapPath();
    if (!npcap.empty())
        loaded.module = ::LoadLibraryExW(npcap.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    // Otherwise only beside the program (a WinPcap-compatible library shipped with it) or in
    // System32 (WinPcap): never from the current folder or PATH, where anyone could plant one.
    if (!loaded.module)
        loaded.module =
            ::LoadLibraryExW(L"wpcap.dll", nullptr,
                             LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!loaded.module) {
        const DWORD code = ::GetLastError();
        loaded.error =
            "Npcap is not installed: wpcap.dll is neither in System32\\Npcap nor beside the "
            "program nor in System32 (Windows error " +
            std::to_string(code) + "); install Npcap to capture and send frames";
    }
    return loaded;
}

const SLoaded& Loaded() {
    static const SLoaded loaded = LoadOnce();
    return loaded;
}

}  // namespace

void* CWpcapLibrary::Symbol(const char* name) {
    const HMODULE module = Loaded().module;
    if (!module) return nullptr;
    const FARPROC proc = ::GetProcAddress(module, name);
    void* address = nullptr;
    static_assert(sizeof address == sizeof proc, "a code address fits an object pointer");
    std::memcpy(&address, &proc, sizeof address);
    return address;
}

bool CWpcapLibrary::IsLoaded() {
    return Loaded().module != nullptr;
}

const std::string& CWpcapLibrary::LoadError() {
    return Loaded().error;
}

}  // namespace ferrolink::platform

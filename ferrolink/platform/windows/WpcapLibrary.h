// The capture library of Windows, wpcap.dll (Npcap, or WinPcap), loaded when first needed rather
// than linked: a host on a PC without Npcap must still load ferrolink.dll and hear why capture is
// not possible, instead of failing to start. Npcap's own folder (System32\Npcap) is tried first,
// so that its DLL wins over an old WinPcap one, then the normal DLL search.
#pragma once

#include <cstring>
#include <string>

namespace ferrolink::platform {

class CWpcapLibrary {
public:
    // The address of an export of wpcap.dll; null when the library cannot be loaded (then
    // LoadError says why) or lacks that export. The first call loads the library.
    static void* Symbol(const char* name);
    // The same, as a function of the type the capture library's header gives it.
    template <typename Fn>
    static Fn Function(const char* name) {
        Fn fn = nullptr;
        void* address = Symbol(name);
        static_assert(sizeof fn == sizeof address, "a code address fits an object pointer");
        std::memcpy(&fn, &address, sizeof fn);
        return fn;
    }
    static bool IsLoaded();
    // Empty while loaded; otherwise a text that begins "Npcap is not installed".
    static const std::string& LoadError();
};

}  // namespace ferrolink::platform

// What the configuration file needs from the operating system, and nothing else: where the file
// lives by default, reading it without following a link or swallowing a huge file, making its
// folder, a lock that serialises the writers of all processes, and replacing the file in one
// step. The settings logic (CSerialize_NetworkCommon) is the same on every system and calls only
// this, and logs what it is told. Internal to the library: not installed.
//
// An object holds the writers' lock on a configuration folder from its construction to its
// destruction; the rest are static functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace ferrolink::platform {

class CConfigFile {
public:
    // Waits for the writers' lock of `folder` (which exists). When the lock cannot be had the
    // writer goes on without it, as the replacement alone keeps the file whole.
    explicit CConfigFile(const std::string& folder);
    ~CConfigFile();
    CConfigFile(const CConfigFile&) = delete;
    CConfigFile& operator=(const CConfigFile&) = delete;

    // Paths travel as text: UTF-8 on Windows (whatever the code page of the user's name), the
    // system's own bytes on Linux. These turn such text into the system's path and back, and
    // read an environment variable in the same form (empty when unset).
    static std::filesystem::path PathOf(const std::string& text);
    static std::string TextOf(const std::filesystem::path& path);
    static std::string Environment(const char* name);

    // The file's place when FERROLINK_CONFIG is not set; empty when there is none.
    static std::string DefaultPath();
    // What DefaultPath looked at, for the message when neither it nor FERROLINK_CONFIG gave a
    // place: "neither FERROLINK_CONFIG, ... nor ...".
    static const char* DefaultPathSources();

    // A settings file is far smaller; a bigger one is not read into memory.
    static constexpr std::size_t MaximumFileSize = 1 << 20;

    // The whole file into `text`. A missing file is an empty text; a file that exists but cannot
    // be used (a link, not a regular file, too large, unreadable) is false with the reason in
    // `why`, worded to follow the file's name ("is not a regular file").
    static bool ReadText(const std::string& path, std::string& text, std::string& why);

    // Makes `folder` and the missing ones above it, writable by the user alone. False with the
    // system's reason in `why`.
    static bool MakeFolder(const std::string& folder, std::string& why);
    // Whether a new file can be made in the existing `folder`; false with the reason in `why`.
    static bool FolderWritable(const std::string& folder, std::string& why);

    // Writes `text` to a temporary file beside `path` and puts it in place of `path` in one step,
    // so that a reader sees the old file or the new one, never a part. When it fails it leaves no
    // temporary file behind, and `why` names the file and the cause ("file cannot be replaced:
    // ...").
    static bool Replace(const std::string& path, const std::string& text, std::string& why);

private:
    // The lock's descriptor or handle, as the system's side defines; -1 when none is held.
    std::intptr_t m_lock = -1;
};

}  // namespace ferrolink::platform

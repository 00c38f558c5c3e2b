// The configuration library's network settings: the capture device on which the board was last
// found, and the software MAC mode with the board address's first byte. The adapter selection,
// the board detection and the shared capture handle reach them through the global object
// OC_NetworkCommon.
//
// Stored in an INI file: $FERROLINK_CONFIG if set, else on Linux
// $XDG_CONFIG_HOME/ferrolink/network.ini or ~/.config/ferrolink/network.ini, on Windows
// %APPDATA%\ferrolink\network.ini:
//     [Network]
//     PreviousPCapDeviceName=rpcap://eth1
//     [SoftwareMac]
//     Mode=1
//     Address=0x12
// Nothing is cached: every Get reads the file, so a value stored by another process is seen at
// once. Every Set rewrites the file through a temporary one renamed over it, under a lock that
// serialises writers across processes, so a crash never leaves half a file and concurrent writers
// of different values do not undo each other. A missing file or value gives the default; an
// unreadable or malformed file, or a link, gives the defaults and a log record, and is never
// overwritten: every Set fails until the operator repairs or removes it.
#pragma once

#include <mutex>
#include <string>

namespace ferrolink::core {

// How the board detection judges a board's source address; values other than these two accept
// no board.
enum ESoftwareMacMode : int {
    SoftwareMacMode_AnyFirstByte = 1,    // any first byte
    SoftwareMacMode_FixedFirstByte = 2,  // only the configured first byte
};

// The first byte of a board's MAC address. Every byte value is a valid EMacAddress, so that any
// board can be named; the board's factory value has a name of its own.
enum EMacAddress : unsigned char {
    MacAddress_Default = 0x12,
};

class CSerialize_NetworkCommon {
public:
    // Holds nothing but its lock. Not constexpr: mingw's std::mutex cannot be constant-built.
    CSerialize_NetworkCommon() = default;
    CSerialize_NetworkCommon(const CSerialize_NetworkCommon&) = delete;
    CSerialize_NetworkCommon& operator=(const CSerialize_NetworkCommon&) = delete;

    // The capture device name ("rpcap://..."), empty when none was stored.
    std::string Previous_PCapDeviceName_Get() const;
    // True when the name was stored.
    bool Previous_PCapDeviceName_Set(std::string name);

    // SoftwareMacMode_AnyFirstByte by default.
    ESoftwareMacMode SoftwareMac_Mode_Get() const;
    bool SoftwareMac_Mode_Set(ESoftwareMacMode mode);

    // MacAddress_Default by default.
    EMacAddress SoftwareMac_Address_Get() const;
    bool SoftwareMac_Address_Set(EMacAddress address);

    static unsigned char Address_Enum_2_Value(EMacAddress address);
    static EMacAddress Address_Value_2_Enum(unsigned char value);
    // Two upper-case hexadecimal digits ("12", "9A"): fit for a file or event name.
    static std::string Address_Enum_2_String(EMacAddress address);

    // The file the settings live in, from the environment at the time of the call; empty when
    // there is no home directory to put it in.
    static std::string ConfigPath_Get();
    // Whether the settings can be read and stored where ConfigPath_Get says; otherwise false with
    // the reason in `why`, so that a caller reports it instead of the failure it would cause.
    static bool ConfigPath_Check(std::string& why);

private:
    mutable std::mutex m_mutex;
};

// The configuration object of the process.
extern CSerialize_NetworkCommon OC_NetworkCommon;

}  // namespace ferrolink::core

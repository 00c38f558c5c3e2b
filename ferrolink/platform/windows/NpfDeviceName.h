// Npcap names an adapter after its interface GUID: "\Device\NPF_{GUID}", while the IP Helper API
// knows it by the bare "{GUID}". The packet-driver queries translate between the two.
#pragma once

#include <string>

namespace ferrolink::platform {

class CNpfDeviceName {
public:
    // "\Device\NPF_{GUID}" for a well-formed "{GUID}", spelt as given (Npcap's device names
    // carry the registry's spelling, which the name search matches byte for byte), else empty.
    static std::string FromGuid(const std::string& guid);
    // The "{GUID}" of "\Device\NPF_{GUID}", also after a leading "rpcap://"; hex digits in upper
    // case, the prefix in any case. False, with guid untouched, for any other name.
    static bool ToGuid(const std::string& deviceName, std::string& guid);
    // "{" 8 "-" 4 "-" 4 "-" 4 "-" 12 "}" hex digits, nothing else.
    static bool IsGuid(const std::string& text);
};

}  // namespace ferrolink::platform

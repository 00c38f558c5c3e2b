// Why an interface cannot be opened for capture, in the capture library's own words: an
// administratively down interface, a missing one, or a permission. Asked only after an open
// failed, so that the message names the real cause rather than a guess.
#pragma once

#include <string>

class CInterfaceCheck {
public:
    // False when the interface exists and is administratively down (`ip link set IF down`).
    static bool IsAdministrativelyUp(const std::string& interfaceName);
    // "the interface IF is down: bring it up with `ip link set IF up`", or "cannot open
    // rpcap://IF: <libpcap's text>" (with the capability needed when permission is the cause).
    static std::string OpenFailure(const std::string& interfaceName);
};

// Why an interface cannot be opened for capture, in the capture library's own words: an
// interface switched off by its administrator, a missing one, or a permission. Asked only after
// an open failed, so that the message names the real cause rather than a guess.
#pragma once

#include <string>

class CInterfaceCheck {
public:
    // "the interface IF is down: bring it up with `ip link set IF up`", or "cannot open
    // rpcap://IF: <the capture library's text>" (with the right needed when permission is the
    // cause).
    static std::string OpenFailure(const std::string& interfaceName);
};

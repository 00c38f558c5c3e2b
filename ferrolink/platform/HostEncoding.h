// The board's error descriptions are written in UTF-8 here; hosts read them in their system's
// customary encoding: GBK on Windows (the Chinese code page the board's hosts run with), UTF-8 on
// Linux.
#pragma once

#include <string>

namespace ferrolink::platform {

class CHostEncoding {
public:
    // The UTF-8 text in the host's encoding; a text that cannot be converted stays as it is.
    static std::string FromUtf8(const char* text);
};

}  // namespace ferrolink::platform

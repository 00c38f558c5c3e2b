#include "common/Sha256.h"

std::string CSha256::Hex(const unsigned char* data, std::size_t length) {
    CSha256 sha;
    sha.Update(data, length);
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (unsigned char byte : sha.Final()) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

// Big-endian stores and loads of the frame's header fields and checksum, for the frame builder
// and the bulk send's record writer. Internal: not installed.
#pragma once

#include <cstdint>

namespace ferrolink::protocol {

inline void StoreBigEndian16(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}

inline void StoreBigEndian32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

inline std::uint32_t LoadBigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

}  // namespace ferrolink::protocol

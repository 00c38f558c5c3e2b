// A view of bytes that cross the wire (a frame, a reply's data area, a command's words): the one
// place where the library, its tools, the board emulator and host programs turn big-endian fields
// into numbers and back (C hosts: flk_wire_store32). Every load and store checks that the whole
// field lies inside the view, so a length field or a short capture never leads to a read or a
// write past the end. Header-only and installed; field offsets are named in BoardFrame.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace ferrolink::protocol {

// `Byte` is `const unsigned char` for a view that only reads, `unsigned char` for one that writes.
template <class Byte>
class CWireBytes {
    static_assert(std::is_same_v<std::remove_const_t<Byte>, unsigned char>, "a view of bytes");

public:
    // A null block or a negative length gives an empty view, in which nothing fits.
    template <class Length, std::enable_if_t<std::is_integral_v<Length>, int> = 0>
    CWireBytes(Byte* data, Length length) : m_data(data), m_length(0) {
        if constexpr (std::is_signed_v<Length>) {
            if (length < 0) return;
        }
        if (data != nullptr) m_length = static_cast<std::size_t>(length);
    }

    // Offsets are unsigned: a negative offset converted to one is far past any end.
    bool Fits(std::size_t offset, std::size_t width) const {
        return offset <= m_length && width <= m_length - offset;
    }

    // A field that does not fit leaves `value` as it was.
    bool Load16(std::size_t offset, std::uint16_t& value) const {
        if (!Fits(offset, 2)) return false;
        value = static_cast<std::uint16_t>((m_data[offset] << 8) | m_data[offset + 1]);
        return true;
    }
    bool Load32(std::size_t offset, std::uint32_t& value) const {
        if (!Fits(offset, 4)) return false;
        value = Word(m_data + offset);
        return true;
    }

    // A field that does not fit is not written at all.
    bool Store16(std::size_t offset, std::uint16_t value) const {
        static_assert(!std::is_const_v<Byte>, "a read-only view");
        if (!Fits(offset, 2)) return false;
        m_data[offset] = static_cast<unsigned char>(value >> 8);
        m_data[offset + 1] = static_cast<unsigned char>(value);
        return true;
    }
    bool Store32(std::size_t offset, std::uint32_t value) const {
        static_assert(!std::is_const_v<Byte>, "a read-only view");
        if (!Fits(offset, 4)) return false;
        for (int i = 0; i < 4; ++i)
            m_data[offset + i] = static_cast<unsigned char>(value >> (24 - 8 * i));
        return true;
    }

private:
    static std::uint32_t Word(const unsigned char* p) {
        return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
               (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
    }

    Byte* m_data;
    std::size_t m_length;
};

using CWireReader = CWireBytes<const unsigned char>;
using CWireWriter = CWireBytes<unsigned char>;

}  // namespace ferrolink::protocol

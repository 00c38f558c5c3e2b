// SHA-256, so the tool and the board emulator can show that a band arrived byte for byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class CSha256 {
public:
    CSha256();
    void Update(const unsigned char* data, std::size_t length);
    std::array<unsigned char, 32> Final();

    // Lower-case hexadecimal digest of one block.
    static std::string Hex(const unsigned char* data, std::size_t length);

private:
    void Block(const unsigned char* block);

    std::array<std::uint32_t, 8> m_state;
    std::array<unsigned char, 64> m_buffer{};
    std::size_t m_buffered = 0;
    std::uint64_t m_length = 0;
};

// SHA-256, so the tool and the board emulator can show that a band arrived byte for byte. A thin
// owner of one digest context of the system's cryptography: libcrypto's EVP on Linux (SHA
// instructions where the CPU offers them), CNG on Windows (platform/linux/ and platform/windows/).
#pragma once

#include <array>
#include <cstddef>
#include <string>

class CSha256 {
public:
    CSha256();
    ~CSha256();
    // Copies carry on from the same state, as a plain value would.
    CSha256(const CSha256& other);
    CSha256& operator=(const CSha256& other);

    void Update(const unsigned char* data, std::size_t length);
    // The digest of everything given so far; the object then starts a new digest.
    std::array<unsigned char, 32> Final();

    // Lower-case hexadecimal digest of one block.
    static std::string Hex(const unsigned char* data, std::size_t length);

private:
    void* m_context;  // the system's digest state, kept out of the header
};

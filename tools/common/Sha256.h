// SHA-256, so the tool and the board emulator can show that a band arrived byte for byte. A thin
// owner of one libcrypto digest context (EVP, hardware-accelerated where the CPU offers it).
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
    void* m_context;  // EVP_MD_CTX, kept out of the header
};

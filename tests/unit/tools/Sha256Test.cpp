// SHA-256 against the FIPS 180-2 vectors, and fed in pieces that straddle the 64-byte blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Sha256.h"

namespace {

std::string Hex(const std::string& text) {
    return CSha256::Hex(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

TEST(Sha256Test, FipsVectors) {
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Hex("abc"));
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", Hex(""));
    // 56 bytes: the length no longer fits the first block, padding takes a second one.
    EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
              Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
    EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
              Hex(std::string(1000000, 'a')));
}

TEST(Sha256Test, PiecesGiveTheDigestOfTheWhole) {
    std::vector<unsigned char> data(1000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + 3);
    const std::string whole = CSha256::Hex(data.data(), data.size());
    for (std::size_t piece : {1u, 3u, 63u, 64u, 65u, 200u}) {
        CSha256 sha;
        for (std::size_t at = 0; at < data.size(); at += piece)
            sha.Update(data.data() + at, std::min(piece, data.size() - at));
        std::string hex;
        for (unsigned char b : sha.Final()) {
            static const char* digits = "0123456789abcdef";
            hex += digits[b >> 4];
            hex += digits[b & 15];
        }
        EXPECT_EQ(whole, hex) << "pieces of " << piece;
    }
}

}  // namespace

#include "common/Sha256.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>

namespace {

EVP_MD_CTX* Context(void* context) {
    return static_cast<EVP_MD_CTX*>(context);
}

// Only a failed allocation or a broken libcrypto makes these fail; a wrong digest would be worse
// than stopping, since the digest is the proof that a band arrived intact.
void Require(int ok, const char* call) {
    if (ok == 1) return;
    std::fprintf(stderr, "SHA-256: %s failed\n", call);
    std::abort();
}

}  // namespace

CSha256::CSha256() : m_context(EVP_MD_CTX_new()) {
    if (!m_context) Require(0, "EVP_MD_CTX_new");
    Require(EVP_DigestInit_ex(Context(m_context), EVP_sha256(), nullptr), "EVP_DigestInit_ex");
}

CSha256::CSha256(const CSha256& other) : m_context(EVP_MD_CTX_new()) {
    if (!m_context) Require(0, "EVP_MD_CTX_new");
    Require(EVP_MD_CTX_copy_ex(Context(m_context), Context(other.m_context)), "EVP_MD_CTX_copy_ex");
}

CSha256& CSha256::operator=(const CSha256& other) {
    if (this != &other)
        Require(EVP_MD_CTX_copy_ex(Context(m_context), Context(other.m_context)),
                "EVP_MD_CTX_copy_ex");
    return *this;
}

CSha256::~CSha256() {
    EVP_MD_CTX_free(Context(m_context));
}

void CSha256::Update(const unsigned char* data, std::size_t length) {
    if (length == 0) return;
    Require(EVP_DigestUpdate(Context(m_context), data, length), "EVP_DigestUpdate");
}

std::array<unsigned char, 32> CSha256::Final() {
    std::array<unsigned char, 32> digest{};
    unsigned int written = 0;
    Require(EVP_DigestFinal_ex(Context(m_context), digest.data(), &written), "EVP_DigestFinal_ex");
    if (written != digest.size()) Require(0, "EVP_DigestFinal_ex length");
    Require(EVP_DigestInit_ex(Context(m_context), EVP_sha256(), nullptr), "EVP_DigestInit_ex");
    return digest;
}

#include "common/Sha256.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

// As on Linux: a digest that cannot be made stops the program rather than prove something false.
void Require(NTSTATUS status, const char* call) {
    if (BCRYPT_SUCCESS(status)) return;
    std::fprintf(stderr, "SHA-256: %s failed (0x%08lx)\n", call,
                 static_cast<unsigned long>(status));
    std::abort();
}

// Opened once for the process; CNG's providers are shared between threads.
BCRYPT_ALG_HANDLE Algorithm() {
    static const BCRYPT_ALG_HANDLE algorithm = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        Require(::BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
                "BCryptOpenAlgorithmProvider");
        return opened;
    }();
    return algorithm;
}

BCRYPT_HASH_HANDLE NewHash() {
    BCRYPT_HASH_HANDLE hash = nullptr;
    // The hash object's memory is CNG's own.
    Require(::BCryptCreateHash(Algorithm(), &hash, nullptr, 0, nullptr, 0, 0), "BCryptCreateHash");
    return hash;
}

BCRYPT_HASH_HANDLE Copy(void* context) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    Require(::BCryptDuplicateHash(static_cast<BCRYPT_HASH_HANDLE>(context), &hash, nullptr, 0, 0),
            "BCryptDuplicateHash");
    return hash;
}

}  // namespace

CSha256::CSha256() : m_context(NewHash()) {}

CSha256::CSha256(const CSha256& other) : m_context(Copy(other.m_context)) {}

CSha256& CSha256::operator=(const CSha256& other) {
    if (this != &other) {
        BCRYPT_HASH_HANDLE copy = Copy(other.m_context);
        ::BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(m_context));
        m_context = copy;
    }
    return *this;
}

CSha256::~CSha256() {
    ::BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(m_context));
}

void CSha256::Update(const unsigned char* data, std::size_t length) {
    // CNG takes at most a ULONG of bytes per call.
    while (length > 0) {
        const auto chunk = static_cast<ULONG>(length < std::numeric_limits<ULONG>::max()
                                                  ? length
                                                  : std::numeric_limits<ULONG>::max());
        Require(::BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(m_context),
                                 const_cast<PUCHAR>(data), chunk, 0),
                "BCryptHashData");
        data += chunk;
        length -= chunk;
    }
}

std::array<unsigned char, 32> CSha256::Final() {
    std::array<unsigned char, 32> digest{};
    Require(::BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(m_context), digest.data(),
                               static_cast<ULONG>(digest.size()), 0),
            "BCryptFinishHash");
    // A finished hash object cannot take more data: a fresh one starts the next digest.
    ::BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(m_context));
    m_context = NewHash();
    return digest;
}

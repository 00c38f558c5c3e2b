// The frame checksum's word sum. A sum of big-endian 32-bit words is
// sum(b0) << 24 + sum(b1) << 16 + sum(b2) << 8 + sum(b3), where bk are the bytes at position k of
// each word, so sums of the bytes at each position modulo 4 give it without byte swapping; whole
// 16-byte blocks are summed so on SSE2, which every x86-64 processor has. Shared by the frame
// builder and the bulk send. Internal: not installed.
#pragma once

#include <cstddef>
#include <cstdint>

#include <ferrolink/protocol/WireBytes.h>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>

#include <algorithm>

#define FERROLINK_BYTE_LANES_SSE2 1

namespace ferrolink::protocol {

// Loads `blocks` 16-byte blocks from `bytes`, hands each to visit(index, block) and stores in
// byPosition[k] the sum of the bytes at block positions k, k + 4, k + 8 and k + 12.
template <class Visit>
inline void SumBytesByPosition(const unsigned char* bytes, std::size_t blocks,
                               std::uint32_t byPosition[4], Visit&& visit) {
    const __m128i lowBytes = _mm_set1_epi16(0x00FF);
    const __m128i zero = _mm_setzero_si128();
    __m128i even32lo = zero, even32hi = zero, odd32lo = zero, odd32hi = zero;
    const auto* in = reinterpret_cast<const __m128i*>(bytes);
    std::size_t b = 0;
    while (b < blocks) {
        // A 16-bit lane takes at most 255 per block: 256 blocks cannot overflow it.
        const std::size_t end = b + std::min<std::size_t>(blocks - b, 256);
        __m128i even16 = zero, odd16 = zero;
        for (; b + 4 <= end; b += 4) {
            const __m128i v0 = _mm_loadu_si128(in + b);
            const __m128i v1 = _mm_loadu_si128(in + b + 1);
            const __m128i v2 = _mm_loadu_si128(in + b + 2);
            const __m128i v3 = _mm_loadu_si128(in + b + 3);
            visit(b, v0);
            visit(b + 1, v1);
            visit(b + 2, v2);
            visit(b + 3, v3);
            even16 = _mm_add_epi16(
                even16, _mm_add_epi16(_mm_and_si128(v0, lowBytes), _mm_and_si128(v1, lowBytes)));
            odd16 =
                _mm_add_epi16(odd16, _mm_add_epi16(_mm_srli_epi16(v0, 8), _mm_srli_epi16(v1, 8)));
            even16 = _mm_add_epi16(
                even16, _mm_add_epi16(_mm_and_si128(v2, lowBytes), _mm_and_si128(v3, lowBytes)));
            odd16 =
                _mm_add_epi16(odd16, _mm_add_epi16(_mm_srli_epi16(v2, 8), _mm_srli_epi16(v3, 8)));
        }
        for (; b < end; ++b) {
            const __m128i v = _mm_loadu_si128(in + b);
            visit(b, v);
            even16 = _mm_add_epi16(even16, _mm_and_si128(v, lowBytes));
            odd16 = _mm_add_epi16(odd16, _mm_srli_epi16(v, 8));
        }
        even32lo = _mm_add_epi32(even32lo, _mm_unpacklo_epi16(even16, zero));
        even32hi = _mm_add_epi32(even32hi, _mm_unpackhi_epi16(even16, zero));
        odd32lo = _mm_add_epi32(odd32lo, _mm_unpacklo_epi16(odd16, zero));
        odd32hi = _mm_add_epi32(odd32hi, _mm_unpackhi_epi16(odd16, zero));
    }
    // 32-bit lane k holds the bytes at block positions 2k (even) or 2k + 1 (odd).
    alignas(16) std::uint32_t e[8], o[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(e), even32lo);
    _mm_store_si128(reinterpret_cast<__m128i*>(e + 4), even32hi);
    _mm_store_si128(reinterpret_cast<__m128i*>(o), odd32lo);
    _mm_store_si128(reinterpret_cast<__m128i*>(o + 4), odd32hi);
    byPosition[0] = e[0] + e[2] + e[4] + e[6];
    byPosition[1] = o[0] + o[2] + o[4] + o[6];
    byPosition[2] = e[1] + e[3] + e[5] + e[7];
    byPosition[3] = o[1] + o[3] + o[5] + o[7];
}

}  // namespace ferrolink::protocol

#endif

namespace ferrolink::protocol {

// Sum modulo 2^32 of the big-endian words that `count` bytes form from the first one, a last
// partial word counted as if zero-filled. Bulk arithmetic over a span whose length the caller has
// established: whole 16-byte blocks without any check, the few words after them through the
// reader.
inline std::uint32_t SumBigEndianWords(const unsigned char* bytes, std::size_t count) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
#ifdef FERROLINK_BYTE_LANES_SSE2
    if (count >= 16) {
        std::uint32_t byPosition[4];
        SumBytesByPosition(bytes, count / 16, byPosition, [](std::size_t, __m128i) {});
        // Lanes that wrapped still give the right sum: the shifts are products modulo 2^32.
        sum = (byPosition[0] << 24) + (byPosition[1] << 16) + (byPosition[2] << 8) + byPosition[3];
        i = count & ~std::size_t{15};
    }
#endif
    const CWireReader rest(bytes, count);
    std::uint32_t word = 0;
    for (; rest.Load32(i, word); i += 4) sum += word;
    if (i < count) {  // the last partial word
        unsigned char last[4] = {0, 0, 0, 0};
        for (std::size_t k = 0; i + k < count; ++k) last[k] = bytes[i + k];
        CWireReader(last, 4).Load32(0, word);
        sum += word;
    }
    return sum;
}

}  // namespace ferrolink::protocol

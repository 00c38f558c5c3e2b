#include <ferrolink/protocol/NetworkHelper.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define FERROLINK_CHECKSUM_SSE2 1
#endif

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/protocol/ConstValue.h>

namespace {

namespace frame = ferrolink::protocol::frame;

// The sequence padding counter: one 8-bit value for the process, carried from frame to frame.
std::uint8_t g_paddingSequenceCounter = 0;

inline void StoreBigEndian16(unsigned char* p, std::uint16_t v) {
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

}  // namespace

CNetworkHelper::~CNetworkHelper() = default;

// The sum of big-endian words equals sum(b0)<<24 + sum(b1)<<16 + sum(b2)<<8 + sum(b3) modulo 2^32,
// where bk are the bytes at position k of each word. Summing bytes per position needs no byte
// swapping and vectorises with plain SSE2, which every x86-64 processor has.
std::uint32_t CNetworkHelper::SumBigEndianWords(const unsigned char* data, std::size_t wordCount) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
#ifdef FERROLINK_CHECKSUM_SSE2
    const std::size_t blocks = wordCount / 4;  // 16 bytes each
    if (blocks > 0) {
        const __m128i lowBytes = _mm_set1_epi16(0x00FF);
        const __m128i zero = _mm_setzero_si128();
        __m128i even32lo = zero, even32hi = zero, odd32lo = zero, odd32hi = zero;
        std::size_t b = 0;
        while (b < blocks) {
            // 16-bit lanes hold at most 255 per add: 256 adds cannot overflow them.
            const std::size_t end = b + std::min<std::size_t>(blocks - b, 256);
            __m128i even16 = zero, odd16 = zero;
            for (; b + 1 < end; b += 2) {
                const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + b * 16));
                const __m128i v1 =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + b * 16 + 16));
                even16 = _mm_add_epi16(even16, _mm_and_si128(v0, lowBytes));
                odd16 = _mm_add_epi16(odd16, _mm_srli_epi16(v0, 8));
                even16 = _mm_add_epi16(even16, _mm_and_si128(v1, lowBytes));
                odd16 = _mm_add_epi16(odd16, _mm_srli_epi16(v1, 8));
            }
            if (b < end) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + b * 16));
                even16 = _mm_add_epi16(even16, _mm_and_si128(v, lowBytes));
                odd16 = _mm_add_epi16(odd16, _mm_srli_epi16(v, 8));
                ++b;
            }
            even32lo = _mm_add_epi32(even32lo, _mm_unpacklo_epi16(even16, zero));
            even32hi = _mm_add_epi32(even32hi, _mm_unpackhi_epi16(even16, zero));
            odd32lo = _mm_add_epi32(odd32lo, _mm_unpacklo_epi16(odd16, zero));
            odd32hi = _mm_add_epi32(odd32hi, _mm_unpackhi_epi16(odd16, zero));
        }
        // 32-bit lanes alternate between byte positions 0 and 2 (even) or 1 and 3 (odd).
        alignas(16) std::uint32_t e[8], o[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(e), even32lo);
        _mm_store_si128(reinterpret_cast<__m128i*>(e + 4), even32hi);
        _mm_store_si128(reinterpret_cast<__m128i*>(o), odd32lo);
        _mm_store_si128(reinterpret_cast<__m128i*>(o + 4), odd32hi);
        const std::uint32_t s0 = e[0] + e[2] + e[4] + e[6];
        const std::uint32_t s2 = e[1] + e[3] + e[5] + e[7];
        const std::uint32_t s1 = o[0] + o[2] + o[4] + o[6];
        const std::uint32_t s3 = o[1] + o[3] + o[5] + o[7];
        sum = (s0 << 24) + (s1 << 16) + (s2 << 8) + s3;
        i = blocks * 4;
    }
#endif
    std::uint32_t a = 0, c = 0;
    for (; i + 1 < wordCount; i += 2) {
        a += LoadBigEndian32(data + i * 4);
        c += LoadBigEndian32(data + i * 4 + 4);
    }
    if (i < wordCount) a += LoadBigEndian32(data + i * 4);
    return sum + a + c;
}

std::uint32_t CNetworkHelper::CheckSum_Get(const unsigned char* data, int length) {
    if (length < 4) return 0;
    if (data == nullptr) {
        FLK_LOG(2) << "failure";
        return 0;
    }
    return 0u - SumBigEndianWords(data, static_cast<std::size_t>(length) / 4);
}

bool CNetworkHelper::IsValidCheckSum(const unsigned char* data, int length) {
    if (length < 4) return true;
    if (data == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return SumBigEndianWords(data, static_cast<std::size_t>(length) / 4) == 0;
}

unsigned char* CNetworkHelper::GrowBuffer(SBufferData<unsigned char>& buffer, int extra) {
    const int oldCount = buffer.m_count;
    if (oldCount > std::numeric_limits<int>::max() - extra) {
        FLK_LOG(2) << "failure";
        return nullptr;
    }
    unsigned char* block = SBufferData<unsigned char>::New_ElementBuffer(oldCount + extra);
    if (block == nullptr) return nullptr;
    if (oldCount > 0) std::memcpy(block, buffer.m_pBuffer, static_cast<std::size_t>(oldCount));
    std::memset(block + oldCount, 0, static_cast<std::size_t>(extra));
    buffer.Install(block, oldCount + extra);
    return block + oldCount;
}

void CNetworkHelper::CheckSum_Add(SBufferData<unsigned char>& buffer) {
    const std::uint32_t checksum = CheckSum_Get(buffer.m_pBuffer, buffer.m_count);
    if (unsigned char* tail = GrowBuffer(buffer, 4)) StoreBigEndian32(tail, checksum);
}

bool CNetworkHelper::AddPcMac(SBufferData<unsigned char>& buffer) {
    unsigned char* tail = GrowBuffer(buffer, CConstValue::MacByteLen_Get());
    if (tail == nullptr) return false;
    std::memcpy(tail, CConstValue::GetPcMac(), 6);
    return true;
}

bool CNetworkHelper::AddBoardMac(SBufferData<unsigned char>& buffer) {
    unsigned char* tail = GrowBuffer(buffer, CConstValue::MacByteLen_Get());
    if (tail == nullptr) return false;
    std::memcpy(tail, CConstValue::BoardMac_Get(), 6);
    return true;
}

bool CNetworkHelper::IsBoardMac(const unsigned char* mac) {
    return mac != nullptr && std::memcmp(mac, CConstValue::BoardMac_Get(), 6) == 0;
}

int CNetworkHelper::GetActualPrintDataCapacity(int actualDataLen) {
    // Beyond this the frame length (data + 28, rounded up by at most 11) would overflow an int.
    constexpr int kLargest = std::numeric_limits<int>::max() - 40;
    if (actualDataLen > kLargest) {
        FLK_LOG(2) << "actualDataLen too large: actualDataLen = " << actualDataLen;
        return -1;
    }
    const int minimumData =
        CConstValue::GetFrameMinimumSize() - CConstValue::GetFrameHeaderAndCheckSumSize();
    // Short (and negative) lengths get the minimum frame.
    int frameLength = std::max(actualDataLen, minimumData) + CConstValue::GetFrameHeaderAndCheckSumSize();
    frameLength = (frameLength + 3) & ~3;
    if (frameLength % 8 != 0) frameLength += 4;
    return frameLength - CConstValue::GetFrameHeaderAndCheckSumSize();
}

void CNetworkHelper::FillPadding(unsigned char* padding, int count, PaddingValueType paddingType) {
    switch (paddingType) {
        case PaddingValue_Random:
            for (int i = 0; i < count; ++i) padding[i] = static_cast<unsigned char>(std::rand());
            break;
        case PaddingValue_Sequence: {
            std::uint8_t value = g_paddingSequenceCounter;
            for (int i = 0; i < count; ++i) padding[i] = value++;
            g_paddingSequenceCounter = value;
            for (int i = 0; i + 4 <= count; i += 4) {
                std::swap(padding[i], padding[i + 3]);
                std::swap(padding[i + 1], padding[i + 2]);
            }
            break;
        }
        default:  // zero, and any unknown kind: the bytes are already zero
            break;
    }
}

bool CNetworkHelper::PreparePacket(std::uint16_t dataSymbol, std::uint32_t frameIndex,
                                   std::uint32_t packetIndex, const unsigned char* actualData,
                                   int actualDataLen, std::uint16_t actualDataCapacity,
                                   PaddingValueType paddingType,
                                   SBufferData<unsigned char>& frame) {
    // A capacity above this would wrap the 16-bit frame length and the data would overrun it.
    if (actualDataCapacity > frame::kMaximumActualDataCapacity) {
        FLK_LOG(2) << "actualDataCapacity too large: actualDataCapacity = " << actualDataCapacity;
        return false;
    }
    if (actualDataLen < 0 || (actualData == nullptr && actualDataLen > 0)) {
        FLK_LOG(2) << "invalid actual data: actualDataLen = " << actualDataLen;
        return false;
    }
    const auto frameLength = static_cast<std::uint16_t>(
        actualDataCapacity + CConstValue::GetFrameHeaderAndCheckSumSize());
    if (!frame.AllocateBuffer(frameLength)) return false;

    unsigned char* p = frame.m_pBuffer;
    std::memcpy(p + frame::kDestinationMacOffset, CConstValue::BoardMac_Get(), 6);
    std::memcpy(p + frame::kSourceMacOffset, CConstValue::GetPcMac(), 6);
    StoreBigEndian16(p + frame::kFrameLengthOffset, frameLength);
    StoreBigEndian16(p + frame::kDataSymbolOffset, dataSymbol);
    StoreBigEndian32(p + frame::kFrameIndexOffset, frameIndex);
    StoreBigEndian32(p + frame::kPacketIndexOffset, packetIndex);

    if (actualDataLen > static_cast<int>(actualDataCapacity)) {
        FLK_LOG(2) << "actualDataLen = " << actualDataLen
                   << ",actualDataCapacity = " << actualDataCapacity;
        return false;
    }
    if (actualDataLen > 0)
        std::memcpy(p + frame::kActualDataOffset, actualData, static_cast<std::size_t>(actualDataLen));
    const int paddingCount = actualDataCapacity - actualDataLen;
    if (paddingCount > 0)
        FillPadding(p + frame::kActualDataOffset + actualDataLen, paddingCount, paddingType);

    const std::uint32_t checksum =
        0u - SumBigEndianWords(p, static_cast<std::size_t>(frameLength - 4) / 4);
    StoreBigEndian32(p + frame::kActualDataOffset + actualDataCapacity, checksum);
    return true;
}

bool CNetworkHelper::PreparePacket(std::uint16_t dataSymbol, std::uint32_t frameIndex,
                                   std::uint32_t packetIndex,
                                   SBufferData<unsigned char> actualData,
                                   std::uint16_t actualDataCapacity, PaddingValueType paddingType,
                                   SBufferData<unsigned char>& frame) {
    // `actualData` is a copy owned by this call; its destructor releases it on every way out.
    return PreparePacket(dataSymbol, frameIndex, packetIndex, actualData.m_pBuffer,
                         actualData.m_count, actualDataCapacity, paddingType, frame);
}

bool CNetworkHelper::PreparePacket_Print(int frameIndex, std::uint32_t packetIndex,
                                         PaddingValueType paddingType, int capacityBasis,
                                         const unsigned char* actualData, int actualDataLen,
                                         SBufferData<unsigned char>& frame) {
    const int capacity = GetActualPrintDataCapacity(capacityBasis);
    if (capacity < 0 || capacity > frame::kMaximumActualDataCapacity) {
        FLK_LOG(2) << "capacity basis too large: capacityBasis = " << capacityBasis;
        return false;
    }
    return PreparePacket(MacDataSymbol_PrintData, static_cast<std::uint32_t>(frameIndex),
                         packetIndex, actualData, actualDataLen,
                         static_cast<std::uint16_t>(capacity), paddingType, frame);
}

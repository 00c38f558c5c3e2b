#include <ferrolink/protocol/NetworkHelper.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/protocol/ByteLaneSums.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/WireBytes.h>

namespace ferrolink::core {

namespace {

using ferrolink::protocol::CWireWriter;
using ferrolink::protocol::SumBigEndianWords;

namespace frame = ferrolink::protocol::frame;

// The sequence padding counter: one 8-bit value for the process, carried from frame to frame.
std::uint8_t g_paddingSequenceCounter = 0;

}  // namespace

CNetworkHelper::~CNetworkHelper() = default;

std::uint32_t CNetworkHelper::CheckSum_Get(const unsigned char* data, int length) {
    if (length < 4) return 0;
    if (data == nullptr) {
        FLK_LOG(2) << "failure";
        return 0;
    }
    return 0u - SumBigEndianWords(data, static_cast<std::size_t>(length & ~3));  // whole words
}

bool CNetworkHelper::IsValidCheckSum(const unsigned char* data, int length) {
    if (length < 4) return true;
    if (data == nullptr) {
        FLK_LOG(2) << "failure";
        return false;
    }
    return SumBigEndianWords(data, static_cast<std::size_t>(length & ~3)) == 0;
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
    if (unsigned char* tail = GrowBuffer(buffer, 4)) CWireWriter(tail, 4).Store32(0, checksum);
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
    int frameLength =
        std::max(actualDataLen, minimumData) + CConstValue::GetFrameHeaderAndCheckSumSize();
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
    const CWireWriter out(p, frameLength);
    out.Store16(frame::kFrameLengthOffset, frameLength);
    out.Store16(frame::kDataSymbolOffset, dataSymbol);
    out.Store32(frame::kFrameIndexOffset, frameIndex);
    out.Store32(frame::kPacketIndexOffset, packetIndex);

    if (actualDataLen > static_cast<int>(actualDataCapacity)) {
        FLK_LOG(2) << "actualDataLen = " << actualDataLen
                   << ",actualDataCapacity = " << actualDataCapacity;
        return false;
    }
    if (actualDataLen > 0)
        std::memcpy(p + frame::kActualDataOffset, actualData,
                    static_cast<std::size_t>(actualDataLen));
    const int paddingCount = actualDataCapacity - actualDataLen;
    if (paddingCount > 0)
        FillPadding(p + frame::kActualDataOffset + actualDataLen, paddingCount, paddingType);

    const int checkSumAt = frame::kActualDataOffset + actualDataCapacity;
    out.Store32(checkSumAt, 0u - SumBigEndianWords(p, static_cast<std::size_t>(checkSumAt & ~3)));
    return true;
}

bool CNetworkHelper::PreparePacket(std::uint16_t dataSymbol, std::uint32_t frameIndex,
                                   std::uint32_t packetIndex, SBufferData<unsigned char> actualData,
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

}  // namespace ferrolink::core

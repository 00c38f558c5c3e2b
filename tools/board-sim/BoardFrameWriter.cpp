#include "board-sim/BoardFrameWriter.h"

#include <cstring>

#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace ferrolink::tools {

namespace {

void Put16(unsigned char* at, std::uint32_t value) {
    at[0] = static_cast<unsigned char>(value >> 8);
    at[1] = static_cast<unsigned char>(value);
}

void Put32(unsigned char* at, std::uint32_t value) {
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
}

}  // namespace

CBoardFrameWriter::CBoardFrameWriter(unsigned char boardMacFirstByte)
    : m_boardMac{boardMacFirstByte, 0x34, 0x56, 0x78, 0x9A, 0xBC} {}

bool CBoardFrameWriter::Build(std::uint16_t dataSymbol, std::uint32_t frameIndex,
                              std::uint32_t packetIndex, const unsigned char* data, int dataLength,
                              int dataCapacity, std::vector<unsigned char>& frame) const {
    namespace f = ferrolink::protocol::frame;
    if (dataLength < 0 || dataLength > dataCapacity || dataCapacity > f::kMaximumActualDataCapacity)
        return false;
    const int length = dataCapacity + CConstValue::GetFrameHeaderAndCheckSumSize();
    frame.assign(static_cast<std::size_t>(length), 0);
    unsigned char* p = frame.data();
    std::memcpy(p + f::kDestinationMacOffset, CConstValue::GetPcMac(), 6);
    std::memcpy(p + f::kSourceMacOffset, m_boardMac, 6);
    Put16(p + f::kFrameLengthOffset, static_cast<std::uint32_t>(length));
    Put16(p + f::kDataSymbolOffset, dataSymbol);
    Put32(p + f::kFrameIndexOffset, frameIndex);
    Put32(p + f::kPacketIndexOffset, packetIndex);
    if (dataLength > 0)
        std::memcpy(p + f::kActualDataOffset, data, static_cast<std::size_t>(dataLength));
    const int checksumAt = length - CConstValue::GetFrameCheckSumSize();
    Put32(p + checksumAt, CNetworkHelper::CheckSum_Get(p, checksumAt));
    return true;
}

void CBoardFrameWriter::Report(std::uint16_t dataSymbol, std::uint32_t frameIndex,
                               std::uint32_t packetIndex, const SBoardStatus& status,
                               std::vector<unsigned char>& frame) const {
    unsigned char words[kStatusWords * 4];
    const std::uint32_t values[kStatusWords] = {status.m_error,
                                                static_cast<std::uint32_t>(status.m_resendIndex),
                                                static_cast<std::uint32_t>(status.m_currentMaximum),
                                                status.m_version,
                                                status.m_band[0],
                                                status.m_band[1],
                                                status.m_band[2],
                                                status.m_band[3]};
    for (int i = 0; i < kStatusWords; ++i) Put32(words + 4 * i, values[i]);
    Build(dataSymbol, frameIndex, packetIndex, words, sizeof(words), kReportDataCapacity, frame);
}

}  // namespace ferrolink::tools

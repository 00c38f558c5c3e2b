#include "board-sim/BoardFrameWriter.h"

#include <cstring>

#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/WireBytes.h>

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace ferrolink::tools {

using ferrolink::protocol::CWireWriter;

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
    const CWireWriter out(p, length);
    out.Store16(f::kFrameLengthOffset, static_cast<std::uint16_t>(length));
    out.Store16(f::kDataSymbolOffset, dataSymbol);
    out.Store32(f::kFrameIndexOffset, frameIndex);
    out.Store32(f::kPacketIndexOffset, packetIndex);
    if (dataLength > 0)
        std::memcpy(p + f::kActualDataOffset, data, static_cast<std::size_t>(dataLength));
    const int checksumAt = length - CConstValue::GetFrameCheckSumSize();
    out.Store32(checksumAt, CNetworkHelper::CheckSum_Get(p, checksumAt));
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
    const CWireWriter out(words, sizeof words);
    for (int i = 0; i < kStatusWords; ++i) out.Store32(4 * static_cast<std::size_t>(i), values[i]);
    Build(dataSymbol, frameIndex, packetIndex, words, sizeof(words), kReportDataCapacity, frame);
}

}  // namespace ferrolink::tools

#include <ferrolink/transmit/PrintFrameBatch.h>

#include <cstdlib>
#include <cstring>

#include <ferrolink/platform/PcapSendQueue.h>
#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/ByteLaneSums.h>
#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/WireBytes.h>

namespace platform = ferrolink::platform;
namespace frame = ferrolink::protocol::frame;

namespace {

using ferrolink::protocol::CWireWriter;
using ferrolink::protocol::SumBigEndianWords;

// Room for the tails of a batch; the longest single tail (padding of a whole data area and the
// checksum) always fits.
constexpr std::size_t kTailRoom = 64u << 10;
static_assert(frame::kMaximumActualDataCapacity + 4 <= kTailRoom, "one tail must always fit");

}  // namespace

CPrintFrameBatch::CPrintFrameBatch(std::uint32_t frameIndex, int capacity)
    : m_capacity(capacity),
      m_header{},
      m_headerSum(0),
      m_headers{},
      m_frames{},
      m_tails(kTailRoom) {
    const auto frameLength =
        static_cast<std::uint32_t>(capacity + CConstValue::GetFrameHeaderAndCheckSumSize());
    std::memcpy(m_header + frame::kDestinationMacOffset, CConstValue::BoardMac_Get(), 6);
    std::memcpy(m_header + frame::kSourceMacOffset, CConstValue::GetPcMac(), 6);
    const CWireWriter header(m_header, kHeaderSize);
    header.Store16(frame::kFrameLengthOffset, static_cast<std::uint16_t>(frameLength));
    header.Store16(frame::kDataSymbolOffset, MacDataSymbol_PrintData);
    header.Store32(frame::kFrameIndexOffset, frameIndex);
    m_headerSum = SumBigEndianWords(m_header, kHeaderSize);
}

void CPrintFrameBatch::Clear() {
    m_count = 0;
    m_tailsUsed = 0;
}

bool CPrintFrameBatch::Add(std::uint32_t packetIndex, const unsigned char* data, int dataLength) {
    const auto padding = static_cast<std::size_t>(m_capacity - dataLength);
    if (m_count == platform::kFrameBatchSize || m_tails.size() - m_tailsUsed < padding + 4)
        return false;
    unsigned char* header = m_headers[m_count];
    std::memcpy(header, m_header, kHeaderSize);
    CWireWriter(header, kHeaderSize).Store32(frame::kPacketIndexOffset, packetIndex);
    std::uint32_t sum = m_headerSum + packetIndex;

    platform::SOutgoingFrame& out = m_frames[m_count];
    out.pieces[0] = {header, kHeaderSize};
    out.pieceCount = 1;
    if (dataLength > 0) {
        out.pieces[out.pieceCount++] = {data, static_cast<std::size_t>(dataLength)};
        sum += SumBigEndianWords(data, static_cast<std::size_t>(dataLength));
    }
    unsigned char* tail = m_tails.data() + m_tailsUsed;
    // The data area starts a word, so the padding starts at the data's length within its word.
    for (std::size_t i = 0; i < padding; ++i) {
        tail[i] = static_cast<unsigned char>(std::rand());
        sum += static_cast<std::uint32_t>(tail[i]) << (24 - 8 * ((dataLength + i) & 3u));
    }
    CWireWriter(tail + padding, 4).Store32(0, 0u - sum);
    out.pieces[out.pieceCount++] = {tail, padding + 4};
    m_tailsUsed += padding + 4;
    ++m_count;
    return true;
}

bool CPrintFrameBatch::AppendRecord(const platform::SOutgoingFrame& frame, char* buffer,
                                    std::uint32_t maxlen, std::uint32_t& len) {
    std::uint64_t frameLength = 0;
    for (unsigned i = 0; i < frame.pieceCount; ++i) frameLength += frame.pieces[i].length;
    if (len > maxlen || platform::SENDQUEUE_RECORD_HEADER_SIZE + frameLength > maxlen - len)
        return false;
    const platform::SSendQueueRecordHeader record{0, 0, static_cast<std::uint32_t>(frameLength),
                                                  static_cast<std::uint32_t>(frameLength)};
    char* at = buffer + len;
    std::memcpy(at, &record, sizeof record);
    at += sizeof record;
    for (unsigned i = 0; i < frame.pieceCount; ++i) {
        std::memcpy(at, frame.pieces[i].data, frame.pieces[i].length);
        at += frame.pieces[i].length;
    }
    len += static_cast<std::uint32_t>(sizeof record + frameLength);
    return true;
}

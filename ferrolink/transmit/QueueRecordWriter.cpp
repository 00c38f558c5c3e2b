#include <ferrolink/transmit/QueueRecordWriter.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <ferrolink/protocol/BigEndian.h>
#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/ByteLaneSums.h>
#include <ferrolink/protocol/ConstValue.h>

namespace platform = ferrolink::platform;
namespace frame = ferrolink::protocol::frame;

namespace {

using ferrolink::protocol::LoadBigEndian32;
using ferrolink::protocol::StoreBigEndian16;
using ferrolink::protocol::StoreBigEndian32;

// A queue of this size or more outgrows the caches before the transmission reads it back: its
// records are stored past the caches, which spares reading each line in before it is written.
// A smaller queue is still cached when the transmission starts, and is faster written there.
constexpr std::size_t kStreamingMinimum = 16u << 20;

// Padding is drawn in pieces of this size before it joins the record.
constexpr int kPaddingPiece = 256;

}  // namespace

// The queue may start anywhere: the 16-byte block that holds its first free byte is assembled
// in m_pending, and the bytes of it that belong to earlier records are never written.
CQueueRecordWriter::CQueueRecordWriter(platform::pcap_send_queue* queue)
    : m_queue(queue),
      m_block(nullptr),
      m_pending{},
      m_pendingCount(0),
      m_foreign(0),
      m_sum(0),
      m_phase(0),
      m_streaming(false) {
    if (queue->buffer == nullptr) return;
    unsigned char* at = reinterpret_cast<unsigned char*>(queue->buffer) + queue->len;
    m_foreign = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(at) & 15u);
    m_pendingCount = m_foreign;
    m_block = at;
    m_streaming = queue->maxlen - std::min(queue->len, queue->maxlen) >= kStreamingMinimum;
}

CQueueRecordWriter::~CQueueRecordWriter() {
    if (m_pendingCount > m_foreign)
        std::memcpy(m_block, m_pending + m_foreign, m_pendingCount - m_foreign);
#ifdef FERROLINK_BYTE_LANES_SSE2
    _mm_sfence();
#endif
}

bool CQueueRecordWriter::AddPrintFrame(std::uint32_t frameIndex, std::uint32_t packetIndex,
                                       const unsigned char* data, int dataLength, int capacity) {
    const auto frameLength =
        static_cast<std::uint32_t>(capacity + CConstValue::GetFrameHeaderAndCheckSumSize());
    const std::uint64_t recordSize =
        std::uint64_t{platform::SENDQUEUE_RECORD_HEADER_SIZE} + frameLength;
    if (m_queue->buffer == nullptr || m_queue->len > m_queue->maxlen ||
        recordSize > m_queue->maxlen - m_queue->len)
        return false;

    unsigned char head[platform::SENDQUEUE_RECORD_HEADER_SIZE + frame::kActualDataOffset];
    const platform::SSendQueueRecordHeader record{0, 0, frameLength, frameLength};
    std::memcpy(head, &record, sizeof record);
    unsigned char* f = head + sizeof record;
    std::memcpy(f + frame::kDestinationMacOffset, CConstValue::BoardMac_Get(), 6);
    std::memcpy(f + frame::kSourceMacOffset, CConstValue::GetPcMac(), 6);
    StoreBigEndian16(f + frame::kFrameLengthOffset, frameLength);
    StoreBigEndian16(f + frame::kDataSymbolOffset, MacDataSymbol_PrintData);
    StoreBigEndian32(f + frame::kFrameIndexOffset, frameIndex);
    StoreBigEndian32(f + frame::kPacketIndexOffset, packetIndex);

    // The header's words are at hand: their sum needs no pass over its bytes.
    m_sum = frameIndex + packetIndex;
    for (int word = 0; word < frame::kFrameIndexOffset; word += 4)
        m_sum += LoadBigEndian32(f + word);
    m_phase = 0;
    Put(head, sizeof head, false);
    if (dataLength > 0) Put(data, static_cast<std::size_t>(dataLength), true);
    unsigned char padding[kPaddingPiece];
    for (int left = capacity - dataLength; left > 0;) {
        const int piece = std::min(left, kPaddingPiece);
        // One rand() per byte, in frame order, as the frame builder draws them.
        for (int i = 0; i < piece; ++i) padding[i] = static_cast<unsigned char>(std::rand());
        Put(padding, static_cast<std::size_t>(piece), true);
        left -= piece;
    }
    unsigned char checksum[4];
    StoreBigEndian32(checksum, 0u - m_sum);
    Put(checksum, sizeof checksum, false);
    m_queue->len += static_cast<u_int>(recordSize);
    return true;
}

void CQueueRecordWriter::Put(const unsigned char* bytes, std::size_t count, bool summed) {
    if (m_pendingCount > 0) {
        const std::size_t take = std::min<std::size_t>(count, 16 - m_pendingCount);
        std::memcpy(m_pending + m_pendingCount, bytes, take);
        if (summed) SumBytes(bytes, take);
        m_pendingCount += static_cast<unsigned>(take);
        bytes += take;
        count -= take;
        if (m_pendingCount < 16) return;
        EmitPending();
    }
    const std::size_t whole = count & ~std::size_t{15};
    if (whole > 0) {
        StreamBlocks(bytes, whole, summed);
        bytes += whole;
        count -= whole;
    }
    if (count > 0) {
        std::memcpy(m_pending, bytes, count);
        if (summed) SumBytes(bytes, count);
        m_pendingCount = static_cast<unsigned>(count);
    }
}

void CQueueRecordWriter::SumBytes(const unsigned char* bytes, std::size_t count) {
    // In locals: stores through a byte pointer could otherwise alias the members.
    std::uint32_t sum = m_sum;
    unsigned phase = m_phase;
    for (std::size_t i = 0; i < count; ++i) {
        sum += static_cast<std::uint32_t>(bytes[i]) << (24 - 8 * phase);
        phase = (phase + 1) & 3u;
    }
    m_sum = sum;
    m_phase = phase;
}

void CQueueRecordWriter::EmitPending() {
    if (m_foreign > 0) {
        std::memcpy(m_block, m_pending + m_foreign, 16 - m_foreign);
        m_block += 16 - m_foreign;
        m_foreign = 0;
        m_pendingCount = 0;
        return;
    }
#ifdef FERROLINK_BYTE_LANES_SSE2
    const __m128i pending = _mm_load_si128(reinterpret_cast<const __m128i*>(m_pending));
    if (m_streaming)
        _mm_stream_si128(reinterpret_cast<__m128i*>(m_block), pending);
    else
        _mm_store_si128(reinterpret_cast<__m128i*>(m_block), pending);
#else
    std::memcpy(m_block, m_pending, 16);
#endif
    m_block += 16;
    m_pendingCount = 0;
}

#ifdef FERROLINK_BYTE_LANES_SSE2
namespace {

template <bool kStream>
inline void Store(__m128i* at, __m128i v) {
    if constexpr (kStream)
        _mm_stream_si128(at, v);
    else
        _mm_store_si128(at, v);
}

// Copies `blocks` 16-byte blocks to the aligned `out` and returns the sums of the bytes at each
// block position modulo 4.
template <bool kStream>
void CopyAndSumBlocks(__m128i* out, const unsigned char* bytes, std::size_t blocks,
                      std::uint32_t byPosition[4]) {
    ferrolink::protocol::SumBytesByPosition(
        bytes, blocks, byPosition, [out](std::size_t b, __m128i v) { Store<kStream>(out + b, v); });
}

template <bool kStream>
void CopyBlocks(__m128i* out, const unsigned char* bytes, std::size_t blocks) {
    for (std::size_t b = 0; b < blocks; ++b)
        Store<kStream>(out + b, _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + b * 16)));
}

}  // namespace
#endif

// The checksum is summed per byte position (a sum of big-endian words is the sum of each
// position's bytes, shifted), which needs no byte swapping and rides on the copy's loads.
void CQueueRecordWriter::StreamBlocks(const unsigned char* bytes, std::size_t count, bool summed) {
#ifdef FERROLINK_BYTE_LANES_SSE2
    auto* out = reinterpret_cast<__m128i*>(m_block);
    const std::size_t blocks = count / 16;
    m_block += count;
    if (!summed) {
        if (m_streaming)
            CopyBlocks<true>(out, bytes, blocks);
        else
            CopyBlocks<false>(out, bytes, blocks);
        return;
    }
    std::uint32_t byPosition[4];
    if (m_streaming)
        CopyAndSumBlocks<true>(out, bytes, blocks, byPosition);
    else
        CopyAndSumBlocks<false>(out, bytes, blocks, byPosition);
    // Block position j holds the byte at position (m_phase + j) mod 4 of its word; whole blocks
    // leave m_phase as it was.
    for (unsigned j = 0; j < 4; ++j) m_sum += byPosition[j] << (24 - 8 * ((m_phase + j) & 3u));
#else
    std::memcpy(m_block, bytes, count);
    if (summed) SumBytes(bytes, count);
    m_block += count;
#endif
}

// Writes print-frame records straight into a send queue's buffer, touching each byte once: the
// payload is copied, summed for the frame checksum and stored (past the caches for a queue larger
// than they are) in one pass. Used
// by the bulk send for the whole fill of one queue; the records are those that building each
// frame and queueing it would give. Internal to the library.
#pragma once

#include <cstddef>
#include <cstdint>

#include <ferrolink/platform/PcapSendQueue.h>

class CQueueRecordWriter {
public:
    // Writes from queue->buffer + queue->len on; queue must not be null.
    explicit CQueueRecordWriter(ferrolink::platform::pcap_send_queue* queue);
    // Writes out the last partial block and orders the streaming stores before any later use.
    ~CQueueRecordWriter();
    CQueueRecordWriter(const CQueueRecordWriter&) = delete;
    CQueueRecordWriter& operator=(const CQueueRecordWriter&) = delete;

    // Appends one record: header (zero time stamp, caplen = len = frame length), then the print
    // frame with `dataLength` bytes of `data`, random padding up to `capacity` and its checksum.
    // The caller has checked data, dataLength <= capacity and capacity + 28 <= 65535. False when
    // the queue has no room for the record; nothing is written then.
    bool AddPrintFrame(std::uint32_t frameIndex, std::uint32_t packetIndex,
                       const unsigned char* data, int dataLength, int capacity);

private:
    // Appends bytes; `summed` adds them to the frame checksum at their positions in the frame.
    void Put(const unsigned char* bytes, std::size_t count, bool summed);
    void SumBytes(const unsigned char* bytes, std::size_t count);
    // Copies whole 16-byte blocks to m_block (aligned) and sums them when asked.
    void StreamBlocks(const unsigned char* bytes, std::size_t count, bool summed);
    void EmitPending();

    ferrolink::platform::pcap_send_queue* m_queue;
    unsigned char* m_block;  // where m_pending's own bytes go; 16-byte aligned but at the start
    alignas(16) unsigned char m_pending[16];
    unsigned m_pendingCount;  // bytes of m_pending in use, m_foreign of them not ours
    unsigned m_foreign;       // leading bytes of the first block that precede our records
    std::uint32_t m_sum;      // sum of the frame's big-endian words so far
    unsigned m_phase;         // position of the next summed byte within its word
    bool m_streaming;         // stores bypass the caches (large queues)
};

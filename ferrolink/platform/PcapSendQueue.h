// Npcap's send queue, through which Windows sends a bulk job: a byte block of records, each a
// 16-byte header (two 32-bit time stamp halves, caplen, len, in host byte order) followed by
// caplen frame bytes. Linux sends the same frames without a queue (FrameSender.h), and counts what
// it sent in the same record bytes, so sizes and short-send counts read the same on both.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>

namespace ferrolink::platform {

// The record header as it lies in the queue. Not pcap_pkthdr: that one is 24 bytes on Linux.
struct SSendQueueRecordHeader {
    std::uint32_t ts_sec;
    std::uint32_t ts_usec;
    std::uint32_t caplen;
    std::uint32_t len;
};

// What each record costs in the queue besides its frame bytes; size queues with this.
constexpr u_int SENDQUEUE_RECORD_HEADER_SIZE = 16;
static_assert(sizeof(SSendQueueRecordHeader) == SENDQUEUE_RECORD_HEADER_SIZE,
              "the record header must keep the Windows layout");

#ifdef _WIN32
// The capture library's own queue: wpcap.dll allocates and transmits it; callers fill buffer
// directly (maxlen, len and buffer are the whole structure).
using pcap_send_queue = ::pcap_send_queue;

// A queue with memsize bytes of room (0 gives a valid empty queue), or null when out of memory.
pcap_send_queue* pcap_sendqueue_alloc(u_int memsize);
// Releases the queue and its buffer; null is allowed.
void pcap_sendqueue_destroy(pcap_send_queue* queue);
// Sends every record, in order and back to back, and returns the bytes of the queue sent (record
// headers included), so a complete transmission returns queue->len. A short result means a record
// could not be sent: the reason is then in pcap_geterr(p).
u_int pcap_sendqueue_transmit(pcap_t* p, pcap_send_queue* queue, int sync);
#endif

}  // namespace ferrolink::platform

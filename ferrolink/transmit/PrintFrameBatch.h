// Makes the print frames of one bulk send a batch at a time, as pieces: each frame's header and
// its tail (padding and checksum) are held here, the host's data stays where it is. The checksum
// is summed from the host's bytes as the frame is added, just before its batch is sent, so that
// the send finds them still in the caches. The frames are those that the frame builder makes for
// the same packets, random padding included (one rand() per byte, in frame order). Used by
// CInternalProcessor; internal to the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <ferrolink/platform/FrameSender.h>

class CPrintFrameBatch {
public:
    // Every frame gets `capacity` bytes of data area; the caller has checked
    // 0 <= capacity <= frame::kMaximumActualDataCapacity.
    CPrintFrameBatch(std::uint32_t frameIndex, int capacity);
    CPrintFrameBatch(const CPrintFrameBatch&) = delete;
    CPrintFrameBatch& operator=(const CPrintFrameBatch&) = delete;

    // Adds the frame of one packet. The caller has checked 0 <= dataLength <= capacity and data
    // for dataLength > 0; the bytes must stay unchanged until the batch is sent. False when the
    // batch is full: nothing is added then, and the caller sends the batch and clears it.
    bool Add(std::uint32_t packetIndex, const unsigned char* data, int dataLength);
    void Clear();
    const ferrolink::platform::SOutgoingFrame* Frames() const { return m_frames; }
    std::size_t Count() const { return m_count; }

    // Appends `frame` to a send queue's buffer as one record (zero time stamp, caplen and len
    // the frame length) at buffer + len. False when it does not fit in maxlen; nothing is
    // written then.
    static bool AppendRecord(const ferrolink::platform::SOutgoingFrame& frame, char* buffer,
                             std::uint32_t maxlen, std::uint32_t& len);

private:
    static constexpr int kHeaderSize = 24;

    int m_capacity;
    unsigned char m_header[kHeaderSize];  // the frames' common header, packetIndex 0
    std::uint32_t m_headerSum;            // sum of its big-endian words
    unsigned char m_headers[ferrolink::platform::kFrameBatchSize][kHeaderSize];
    ferrolink::platform::SOutgoingFrame m_frames[ferrolink::platform::kFrameBatchSize];
    std::size_t m_count = 0;
    // Tails of the batch's frames, back to back: 4 bytes for a full frame, up to the capacity +
    // 4 for a short one.
    std::vector<unsigned char> m_tails;
    std::size_t m_tailsUsed = 0;
};

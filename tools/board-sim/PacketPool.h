// Fixed-size slots for the data areas of received print frames, carved from large chunks and
// recycled when a band is finished or forgotten. Fresh memory is what the per-frame path cannot
// afford at line rate (a page fault costs microseconds on a VM), so slots are reused, chunks are
// never returned, ask for huge pages and are touched whole when made. Owned by the band store;
// one thread uses it.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace ferrolink::tools {

class CPacketPool {
public:
    // Holds the data area of any frame that fits the emulator's capture length of 2048 bytes.
    static constexpr int kSlotBytes = 2048;

    // `maximumSlots` is the board's memory; it is rounded down to whole chunks of 2 MiB (1024
    // slots), at least one.
    explicit CPacketPool(std::size_t maximumSlots);
    ~CPacketPool();
    CPacketPool(const CPacketPool&) = delete;
    CPacketPool& operator=(const CPacketPool&) = delete;

    // Makes one more chunk ahead of need, so that a burst finds its memory already touched.
    // False when the limit is reached or no memory is left.
    bool Grow();
    // A slot of kSlotBytes, or null when the limit is reached.
    unsigned char* Acquire();
    void Release(unsigned char* slot);

    std::size_t SlotsInUse() const { return m_slotsMade - m_free.size(); }
    std::size_t FreeSlots() const { return m_free.size(); }

private:
    struct SChunkFree {
        void operator()(unsigned char* chunk) const;
    };

    std::size_t m_maximumSlots;
    std::size_t m_slotsMade = 0;
    std::vector<std::unique_ptr<unsigned char, SChunkFree>> m_chunks;
    std::vector<unsigned char*> m_free;
};

}  // namespace ferrolink::tools

// The board's print-data memory: the data areas of print frames per band (frameIndex) in
// packetIndex order, and the judgement of a band at its EndOfBand: complete (and then digested
// and released, as the board would print it) or missing packets, with the index to resend from.
// Owned by the emulator and used by its receive thread only; no I/O, so tests drive it directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "board-sim/PacketPool.h"

namespace ferrolink::tools {

// What the board says about one band. Only the resend bits of the error word are set here; the
// emulator adds the requested ones.
struct SBandResult {
    std::uint32_t m_band = 0;
    std::uint32_t m_error = 0;
    std::int32_t m_resendIndex = 0;
    std::int32_t m_currentMaximum = -1;
    std::uint32_t m_packetsHeld = 0;
    bool m_complete = false;
    // This EndOfBand completed the band (a repeated EndOfBand of a complete band does not).
    bool m_completedNow = false;
    std::uint32_t m_packets = 0;    // of a complete band
    std::uint64_t m_bandBytes = 0;  // of a complete band: bytes digested
    std::string m_sha256;           // of a complete band, lower-case hex
};

enum class EStoreResult { Stored, Refused, MemoryFull };

class CBandStore {
public:
    // Packet indices from here on are refused: nothing the host sends needs more, and the vector
    // indexed by packetIndex must not grow to a corrupt index.
    static constexpr std::uint32_t kMaximumPacketIndex = 1u << 20;

    // `memorySlots`: packets the board can hold at once (its memory, see CPacketPool).
    explicit CBandStore(std::size_t memorySlots);
    ~CBandStore();
    CBandStore(const CBandStore&) = delete;
    CBandStore& operator=(const CBandStore&) = delete;

    // A print frame's data area; a later frame with the same indices replaces the earlier one. A
    // frame for a band already complete starts that band afresh. Refused: an index or data size
    // beyond the limits; MemoryFull: the board's memory is used up by unfinished bands.
    EStoreResult StorePacket(std::uint32_t band, std::uint32_t packetIndex,
                             const unsigned char* dataArea, int length);
    // A frame addressed to the board failed its checksum: the next band short of packets
    // reports bit 0 as well.
    void NoteChecksumError() { ++m_checksumErrors; }
    // Judges packets 0..packets-1 of the band. Complete: the band's data is the first
    // `packetSize` bytes of each packet's data area, in order, cut at `bandBytes`.
    SBandResult EndOfBand(std::uint32_t band, std::uint32_t packets, std::uint64_t bandBytes,
                          std::uint32_t packetSize);
    // The latest band (of the last print frame or EndOfBand) as it stands; changes nothing.
    SBandResult Query() const;
    // Forgets every band and every checksum error seen so far.
    void Reset();

    std::uint32_t BandsCompleted() const { return m_bandsCompleted; }
    std::size_t PacketsHeld() const { return m_pool.SlotsInUse(); }
    // Readies one more part of the memory ahead of need (a few milliseconds of work); false
    // when all of it is ready.
    bool WarmUp() { return m_pool.Grow(); }

private:
    struct SSlot {
        unsigned char* m_data = nullptr;  // null: not received
        std::uint32_t m_length = 0;
    };
    struct SBand {
        std::vector<SSlot> m_packets;  // by packetIndex
        std::uint32_t m_held = 0;
        // Checksum errors counted when the band last had an EndOfBand (or was started).
        std::uint64_t m_checksumMark = 0;
        bool m_declared = false;  // an EndOfBand said how many packets
        std::uint32_t m_declaredPackets = 0;
        bool m_complete = false;
        std::uint32_t m_completePackets = 0;
        std::uint64_t m_completeBytes = 0;
        std::string m_sha256;
    };

    SBand& Obtain(std::uint32_t band);
    void ReleasePackets(SBand& band);
    static std::uint32_t FirstMissing(const SBand& band, std::uint32_t packets);
    SBandResult Judge(std::uint32_t bandIndex, const SBand& band, std::uint32_t packets) const;

    CPacketPool m_pool;
    // Packet tables of printed bands, kept for new bands: fresh memory is slow to touch.
    static constexpr std::size_t kSpareTables = 16;
    std::vector<std::vector<SSlot>> m_spareTables;
    // Node-based, so a pointer to a band survives the map growing.
    std::unordered_map<std::uint32_t, SBand> m_bands;
    SBand* m_cached = nullptr;  // the band of the previous frame: consecutive frames share one
    std::uint32_t m_cachedIndex = 0;
    bool m_hasLatest = false;
    std::uint32_t m_latest = 0;
    std::uint64_t m_checksumErrors = 0;
    // Checksum errors counted at the last EndOfBand of any band: a band started after it owns
    // only the errors that follow.
    std::uint64_t m_endOfBandMark = 0;
    std::uint32_t m_bandsCompleted = 0;
};

}  // namespace ferrolink::tools

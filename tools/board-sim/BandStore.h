// The board's print-data memory: the data areas of print frames per band (frameIndex) in
// packetIndex order, and the judgement of a band at its EndOfBand: complete (and then, once the
// emulator has answered, digested on the digest thread and released, as the board would print
// it) or missing packets, with the index to resend from. Several bands may be in progress at
// once (a host keeps a window of bands in flight); nothing here assumes one band at a time.
//
// Everything a frame can make grow is bounded: packet data and the packet tables are slots of the
// board memory (CPacketPool), so a frame with a high packetIndex costs a few table slots, not a
// table as long as the index; the band records themselves are at most kMaximumBands.
// Owned by the emulator and used by its receive thread only (the digest thread only reads bands
// handed to it); no I/O, so tests drive it directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "board-sim/BandDigester.h"
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
    // This EndOfBand completed the band (a repeated EndOfBand of a complete band does not); the
    // caller answers, then calls Digest.
    bool m_completedNow = false;
    std::uint32_t m_packets = 0;    // of a complete band
    std::uint64_t m_bandBytes = 0;  // of a complete band: bytes digested
    std::string m_sha256;           // of a complete and digested band, lower-case hex
};

// A band that has been digested (printed): what the emulator reports of it.
struct SDigestedBand {
    std::uint32_t m_band = 0;
    std::uint32_t m_packets = 0;
    std::uint64_t m_bytes = 0;
    std::string m_sha256;
};

enum class EStoreResult { Stored, Refused, MemoryFull };

class CBandStore {
public:
    // Packet indices from here on are refused: nothing the host sends needs more.
    static constexpr std::uint32_t kMaximumPacketIndex = 1u << 20;
    // Bands known at once: in progress, or complete and remembered for a repeated EndOfBand.
    // When a new band would exceed it, the least recently used band that holds no packets is
    // forgotten; when all hold packets, the new band's frames are refused.
    static constexpr std::size_t kMaximumBands = 1024;

    // `memorySlots`: slots of 2 KiB the board's memory holds (see CPacketPool); packet data and
    // packet tables both take them.
    explicit CBandStore(std::size_t memorySlots);
    ~CBandStore();
    CBandStore(const CBandStore&) = delete;
    CBandStore& operator=(const CBandStore&) = delete;

    // A print frame's data area; a later frame with the same indices replaces the earlier one. A
    // frame for a band already complete starts that band afresh. Refused: an index or data size
    // beyond the limits, or no band record left; MemoryFull: the board's memory is used up, also
    // after waiting for the bands being digested to give theirs back.
    EStoreResult StorePacket(std::uint32_t band, std::uint32_t packetIndex,
                             const unsigned char* dataArea, int length);
    // A frame addressed to the board failed its checksum. Its header cannot be trusted, so it
    // counts for every band that was open when it came (and for the band started next).
    void NoteChecksumError() { ++m_checksumErrors; }
    // Judges packets 0..packets-1 of the band. Complete: the band's data is the first
    // `packetSize` bytes of each packet's data area, in order, cut at `bandBytes`; it stays held
    // until Digest, so that the answer need not wait for the digest.
    SBandResult EndOfBand(std::uint32_t band, std::uint32_t packets, std::uint64_t bandBytes,
                          std::uint32_t packetSize);
    // Hands a band that EndOfBand has just completed to the digest thread (waiting while its
    // queue is full); the band's memory comes back once Digested has taken the digest. False for
    // an unknown band or one already handed over.
    bool Digest(std::uint32_t band);
    // The bands digested since the last call, in order of completion, with their memory given
    // back. `wait`: first waits until every band handed over is digested.
    std::vector<SDigestedBand> Digested(bool wait = false);
    // The latest band (of the last print frame or EndOfBand) as it stands; changes nothing.
    SBandResult Query() const;
    // The named band as it stands when the board knows it, else the latest band.
    SBandResult Query(std::uint32_t band) const;
    // Forgets every band and every checksum error seen so far.
    void Reset();

    std::uint32_t BandsCompleted() const { return m_bandsCompleted; }
    // Slots in use, packet data and tables, also of bands being digested.
    std::size_t SlotsInUse() const { return m_pool.SlotsInUse(); }
    std::size_t BandsKnown() const { return m_bands.size(); }
    // Memory readied ahead of need: enough for the bands a host keeps in flight (the tool keeps
    // at most a quarter of the default board memory) and those being digested. Touching all of
    // a large board memory would cost time for pages that are never used.
    static constexpr std::size_t kReadySlots = 32768;  // 64 MiB
    // Readies one more part of the memory (a few milliseconds of work) while fewer than
    // kReadySlots are free and the board memory allows; false when nothing was to be done.
    bool WarmUp() { return m_pool.FreeSlots() < kReadySlots && m_pool.Grow(); }

private:
    struct SSlot {
        unsigned char* m_data = nullptr;  // null: not received
        std::uint32_t m_length = 0;
    };
    // Two levels of pool slots: a directory slot of table slots, a table slot of packet slots.
    static constexpr std::uint32_t kSlotsPerTable = CPacketPool::kSlotBytes / sizeof(SSlot);
    static constexpr std::uint32_t kTablesPerDirectory = CPacketPool::kSlotBytes / sizeof(SSlot*);
    static constexpr std::uint32_t kPacketsPerDirectory = kSlotsPerTable * kTablesPerDirectory;
    static constexpr std::uint32_t kDirectories =
        (kMaximumPacketIndex + kPacketsPerDirectory - 1) / kPacketsPerDirectory;

    struct SBand {
        std::array<SSlot**, kDirectories> m_directories{};
        std::uint32_t m_extent = 0;  // highest packetIndex received + 1
        std::uint32_t m_prefix = 0;  // packets 0..m_prefix-1 are all held
        std::uint32_t m_held = 0;
        std::uint32_t m_slots = 0;  // pool slots, data and tables
        std::uint64_t m_used = 0;   // for choosing a band record to forget
        // Checksum errors counted when the band last had an EndOfBand (or was started).
        std::uint64_t m_checksumMark = 0;
        bool m_declared = false;  // an EndOfBand said how many packets
        std::uint32_t m_declaredPackets = 0;
        bool m_complete = false;
        bool m_handedOver = false;   // to the digest thread, with its memory
        std::uint64_t m_ticket = 0;  // of that hand-over
        std::uint32_t m_completePackets = 0;
        std::uint64_t m_completeBytes = 0;
        std::uint32_t m_packetSize = 0;
        std::string m_sha256;
    };

    // Null when no record is left for a new band.
    SBand* Obtain(std::uint32_t band);
    bool ForgetOneRecord();
    const SSlot* Find(const SBand& band, std::uint32_t packetIndex) const;
    SSlot* Place(SBand& band, std::uint32_t packetIndex, EStoreResult& why);
    // A free slot; when the memory is used up, waits for digested bands to give theirs back.
    unsigned char* Acquire();
    // Takes what the digest thread has finished (waiting as Take does) and frees its memory.
    void Collect(bool wait, bool all);
    // Moves the band's slots (data and tables) to `slots`; the band holds nothing after it.
    void Detach(SBand& band, std::vector<unsigned char*>& slots);
    void ReleasePackets(SBand& band);
    SBandResult Judge(std::uint32_t bandIndex, const SBand& band, std::uint32_t packets) const;
    void Touch(std::uint32_t bandIndex, SBand& band);

    CPacketPool m_pool;
    std::vector<SDigestedBand> m_digested;  // collected, not yet given to the caller
    std::vector<SDigestJob> m_taken;        // reused between collections
    std::uint64_t m_tickets = 0;
    // Node-based, so a pointer to a band survives the map growing.
    std::unordered_map<std::uint32_t, SBand> m_bands;
    SBand* m_cached = nullptr;  // the band of the previous frame: consecutive frames share one
    std::uint32_t m_cachedIndex = 0;
    bool m_hasLatest = false;
    std::uint32_t m_latest = 0;
    std::uint64_t m_uses = 0;
    std::uint64_t m_checksumErrors = 0;
    // Checksum errors counted at the last EndOfBand of any band, and when the newest band was
    // started: a band started later owns only the errors after the later of the two.
    std::uint64_t m_endOfBandMark = 0;
    std::uint64_t m_startMark = 0;
    std::uint32_t m_bandsCompleted = 0;
    // Last: stopped (and joined) before the pool whose memory it reads goes away.
    CBandDigester m_digester;
};

}  // namespace ferrolink::tools

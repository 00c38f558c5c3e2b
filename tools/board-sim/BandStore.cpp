#include "board-sim/BandStore.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/BoardProtocol.h"

namespace ferrolink::tools {

CBandStore::CBandStore(std::size_t memorySlots) : m_pool(memorySlots) {}

CBandStore::~CBandStore() = default;

void CBandStore::Touch(std::uint32_t bandIndex, SBand& band) {
    band.m_used = ++m_uses;
    m_hasLatest = true;
    m_latest = bandIndex;
}

bool CBandStore::ForgetOneRecord() {
    auto oldest = m_bands.end();
    for (auto at = m_bands.begin(); at != m_bands.end(); ++at) {
        if (at->second.m_slots == 0 &&
            (oldest == m_bands.end() || at->second.m_used < oldest->second.m_used))
            oldest = at;
    }
    if (oldest == m_bands.end()) return false;
    if (m_cached == &oldest->second) m_cached = nullptr;
    if (m_hasLatest && m_latest == oldest->first) m_hasLatest = false;
    m_bands.erase(oldest);
    return true;
}

CBandStore::SBand* CBandStore::Obtain(std::uint32_t bandIndex) {
    if (m_cached && m_cachedIndex == bandIndex) return m_cached;
    auto at = m_bands.find(bandIndex);
    if (at == m_bands.end()) {
        if (m_bands.size() >= kMaximumBands && !ForgetOneRecord()) return nullptr;
        at = m_bands.try_emplace(bandIndex).first;
        at->second.m_checksumMark = std::max(m_endOfBandMark, m_startMark);
        m_startMark = m_checksumErrors;
    }
    m_cached = &at->second;
    m_cachedIndex = bandIndex;
    return m_cached;
}

const CBandStore::SSlot* CBandStore::Find(const SBand& band, std::uint32_t packetIndex) const {
    if (packetIndex >= band.m_extent) return nullptr;
    SSlot** directory = band.m_directories[packetIndex / kPacketsPerDirectory];
    if (!directory) return nullptr;
    const SSlot* table = directory[packetIndex % kPacketsPerDirectory / kSlotsPerTable];
    if (!table) return nullptr;
    const SSlot& slot = table[packetIndex % kSlotsPerTable];
    return slot.m_data ? &slot : nullptr;
}

CBandStore::SSlot* CBandStore::Place(SBand& band, std::uint32_t packetIndex, EStoreResult& why) {
    why = EStoreResult::MemoryFull;
    SSlot**& directory = band.m_directories[packetIndex / kPacketsPerDirectory];
    if (!directory) {
        unsigned char* raw = Acquire();
        if (!raw) return nullptr;
        ++band.m_slots;
        directory = reinterpret_cast<SSlot**>(raw);
        std::uninitialized_value_construct_n(directory, kTablesPerDirectory);
    }
    SSlot*& table = directory[packetIndex % kPacketsPerDirectory / kSlotsPerTable];
    if (!table) {
        unsigned char* raw = Acquire();
        if (!raw) return nullptr;
        ++band.m_slots;
        table = reinterpret_cast<SSlot*>(raw);
        std::uninitialized_value_construct_n(table, kSlotsPerTable);
    }
    SSlot& slot = table[packetIndex % kSlotsPerTable];
    if (!slot.m_data) {
        slot.m_data = Acquire();
        if (!slot.m_data) return nullptr;
        ++band.m_slots;
        ++band.m_held;
    }
    return &slot;
}

unsigned char* CBandStore::Acquire() {
    for (;;) {
        if (unsigned char* slot = m_pool.Acquire()) return slot;
        if (m_digester.Outstanding() == 0) return nullptr;
        // Bands being digested hold memory that is as good as free: wait for the next one.
        Collect(true, false);
    }
}

void CBandStore::Detach(SBand& band, std::vector<unsigned char*>& slots) {
    for (SSlot**& directory : band.m_directories) {
        if (!directory) continue;
        for (std::uint32_t t = 0; t < kTablesPerDirectory; ++t) {
            SSlot* table = directory[t];
            if (!table) continue;
            for (std::uint32_t s = 0; s < kSlotsPerTable; ++s)
                if (table[s].m_data) slots.push_back(table[s].m_data);
            slots.push_back(reinterpret_cast<unsigned char*>(table));
        }
        slots.push_back(reinterpret_cast<unsigned char*>(directory));
        directory = nullptr;
    }
    band.m_extent = band.m_prefix = band.m_held = band.m_slots = 0;
}

void CBandStore::ReleasePackets(SBand& band) {
    std::vector<unsigned char*> slots;
    Detach(band, slots);
    for (unsigned char* slot : slots) m_pool.Release(slot);
}

EStoreResult CBandStore::StorePacket(std::uint32_t bandIndex, std::uint32_t packetIndex,
                                     const unsigned char* dataArea, int length) {
    if (packetIndex >= kMaximumPacketIndex || length < 0 || length > CPacketPool::kSlotBytes)
        return EStoreResult::Refused;
    SBand* band = Obtain(bandIndex);
    if (!band) return EStoreResult::Refused;
    Touch(bandIndex, *band);
    if (band->m_complete) {
        // Printed before, or still to be digested: either way that content is done with.
        ReleasePackets(*band);
        band->m_complete = band->m_handedOver = band->m_declared = false;
        band->m_sha256.clear();
        band->m_checksumMark = m_endOfBandMark;
    }
    EStoreResult why = EStoreResult::Stored;
    SSlot* slot = Place(*band, packetIndex, why);
    if (!slot) return why;
    if (length > 0) std::memcpy(slot->m_data, dataArea, static_cast<std::size_t>(length));
    slot->m_length = static_cast<std::uint32_t>(length);
    band->m_extent = std::max(band->m_extent, packetIndex + 1);
    while (band->m_prefix < band->m_extent && Find(*band, band->m_prefix)) ++band->m_prefix;
    return EStoreResult::Stored;
}

SBandResult CBandStore::Judge(std::uint32_t bandIndex, const SBand& band,
                              std::uint32_t packets) const {
    SBandResult result;
    result.m_band = bandIndex;
    if (band.m_complete) {
        result.m_complete = true;
        result.m_packets = band.m_completePackets;
        result.m_packetsHeld = band.m_completePackets;
        result.m_bandBytes = band.m_completeBytes;
        result.m_sha256 = band.m_sha256;
        result.m_resendIndex = static_cast<std::int32_t>(band.m_completePackets);
        result.m_currentMaximum = static_cast<std::int32_t>(band.m_completePackets) - 1;
        return result;
    }
    result.m_packetsHeld = band.m_held;
    const std::uint32_t firstMissing = std::min(band.m_prefix, packets);
    result.m_resendIndex = static_cast<std::int32_t>(firstMissing);
    result.m_currentMaximum = static_cast<std::int32_t>(firstMissing) - 1;
    if (firstMissing < packets) {
        result.m_error = kErrorLost;
        if (m_checksumErrors > band.m_checksumMark) result.m_error |= kErrorChecksum;
    }
    return result;
}

SBandResult CBandStore::EndOfBand(std::uint32_t bandIndex, std::uint32_t packets,
                                  std::uint64_t bandBytes, std::uint32_t packetSize) {
    SBand* band = Obtain(bandIndex);
    if (!band) {
        // No record left: judge it as a band of which nothing arrived, remembering nothing.
        SBand nothing;
        nothing.m_checksumMark = m_endOfBandMark;
        return Judge(bandIndex, nothing, packets);
    }
    Touch(bandIndex, *band);
    if (!band->m_complete) {
        band->m_declared = true;
        band->m_declaredPackets = packets;
    }
    SBandResult result = Judge(bandIndex, *band, packets);
    // A band of no packets completes nothing: otherwise a flood of such commands alone would
    // make a completion (a line of output and a statistics entry) each.
    if (!band->m_complete && result.m_error == 0 && packets > 0) {
        band->m_complete = true;
        band->m_completePackets = packets;
        band->m_packetSize = packetSize;
        // The bytes the digest will take, counted now (cheap) so the answer carries them.
        std::uint64_t left = bandBytes;
        for (std::uint32_t i = 0; i < packets && left > 0; ++i)
            left -= std::min<std::uint64_t>({packetSize, Find(*band, i)->m_length, left});
        band->m_completeBytes = bandBytes - left;
        ++m_bandsCompleted;
        result = Judge(bandIndex, *band, packets);
        result.m_completedNow = true;
    }
    band->m_checksumMark = m_checksumErrors;
    m_endOfBandMark = m_checksumErrors;
    return result;
}

bool CBandStore::Digest(std::uint32_t bandIndex) {
    const auto at = m_bands.find(bandIndex);
    if (at == m_bands.end() || !at->second.m_complete || at->second.m_handedOver) return false;
    SBand& band = at->second;
    SDigestJob job;
    job.m_band = bandIndex;
    job.m_ticket = band.m_ticket = ++m_tickets;
    job.m_packets = band.m_completePackets;
    job.m_bytes = band.m_completeBytes;
    job.m_pieces.reserve(band.m_completePackets);
    std::uint64_t left = band.m_completeBytes;
    for (std::uint32_t i = 0; i < band.m_completePackets && left > 0; ++i) {
        const SSlot* slot = Find(band, i);
        const std::uint64_t take =
            std::min<std::uint64_t>({band.m_packetSize, slot->m_length, left});
        job.m_pieces.push_back({slot->m_data, static_cast<std::uint32_t>(take)});
        left -= take;
    }
    // The board has printed it: the memory goes to the digest thread, and back from there.
    job.m_slots.reserve(band.m_slots);
    Detach(band, job.m_slots);
    band.m_handedOver = true;
    m_digester.Submit(std::move(job));
    return true;
}

void CBandStore::Collect(bool wait, bool all) {
    m_taken.clear();
    m_digester.Take(m_taken, wait, all);
    for (SDigestJob& job : m_taken) {
        for (unsigned char* slot : job.m_slots) m_pool.Release(slot);
        // The record may have been started afresh, forgotten or reset meanwhile.
        const auto at = m_bands.find(job.m_band);
        if (at != m_bands.end() && at->second.m_complete && at->second.m_ticket == job.m_ticket)
            at->second.m_sha256 = job.m_sha256;
        m_digested.push_back({job.m_band, job.m_packets, job.m_bytes, std::move(job.m_sha256)});
    }
    m_taken.clear();
}

std::vector<SDigestedBand> CBandStore::Digested(bool wait) {
    Collect(false, wait);
    std::vector<SDigestedBand> digested;
    digested.swap(m_digested);
    return digested;
}

SBandResult CBandStore::Query() const {
    if (!m_hasLatest) return SBandResult{};
    return Query(m_latest);
}

SBandResult CBandStore::Query(std::uint32_t bandIndex) const {
    auto at = m_bands.find(bandIndex);
    if (at == m_bands.end()) {
        if (!m_hasLatest) return SBandResult{};
        at = m_bands.find(m_latest);
        if (at == m_bands.end()) return SBandResult{};
    }
    const SBand& band = at->second;
    // Before its EndOfBand the board knows only the highest packet seen so far.
    const std::uint32_t packets = band.m_declared ? band.m_declaredPackets : band.m_extent;
    return Judge(at->first, band, packets);
}

void CBandStore::Reset() {
    for (auto& entry : m_bands) ReleasePackets(entry.second);
    m_bands.clear();
    m_cached = nullptr;
    m_hasLatest = false;
    m_bandsCompleted = 0;
    m_endOfBandMark = m_startMark = m_checksumErrors;
}

}  // namespace ferrolink::tools

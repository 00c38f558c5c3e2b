#include "board-sim/BandStore.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/BoardProtocol.h"
#include "common/Sha256.h"

namespace ferrolink::tools {

namespace {
std::string Hex(const std::array<unsigned char, 32>& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}
}  // namespace

CBandStore::CBandStore(std::size_t memorySlots) : m_pool(memorySlots) {}

CBandStore::~CBandStore() {
    Reset();
}

CBandStore::SBand& CBandStore::Obtain(std::uint32_t band) {
    if (m_cached && m_cachedIndex == band) return *m_cached;
    auto [at, made] = m_bands.try_emplace(band);
    if (made) {
        at->second.m_checksumMark = m_endOfBandMark;
        if (!m_spareTables.empty()) {
            at->second.m_packets = std::move(m_spareTables.back());
            m_spareTables.pop_back();
        }
    }
    m_cached = &at->second;
    m_cachedIndex = band;
    return at->second;
}

void CBandStore::ReleasePackets(SBand& band) {
    for (SSlot& slot : band.m_packets) m_pool.Release(slot.m_data);
    band.m_packets.clear();
    band.m_held = 0;
}

EStoreResult CBandStore::StorePacket(std::uint32_t bandIndex, std::uint32_t packetIndex,
                                     const unsigned char* dataArea, int length) {
    if (packetIndex >= kMaximumPacketIndex || length < 0 || length > CPacketPool::kSlotBytes)
        return EStoreResult::Refused;
    SBand& band = Obtain(bandIndex);
    m_hasLatest = true;
    m_latest = bandIndex;
    if (band.m_complete) {
        band.m_complete = false;
        band.m_declared = false;
        band.m_sha256.clear();
        band.m_checksumMark = m_endOfBandMark;
    }
    if (packetIndex >= band.m_packets.size()) band.m_packets.resize(packetIndex + std::size_t{1});
    SSlot& slot = band.m_packets[packetIndex];
    if (!slot.m_data) {
        slot.m_data = m_pool.Acquire();
        if (!slot.m_data) return EStoreResult::MemoryFull;
        ++band.m_held;
    }
    if (length > 0) std::memcpy(slot.m_data, dataArea, static_cast<std::size_t>(length));
    slot.m_length = static_cast<std::uint32_t>(length);
    return EStoreResult::Stored;
}

std::uint32_t CBandStore::FirstMissing(const SBand& band, std::uint32_t packets) {
    const std::uint32_t present =
        static_cast<std::uint32_t>(std::min<std::size_t>(packets, band.m_packets.size()));
    for (std::uint32_t i = 0; i < present; ++i) {
        if (!band.m_packets[i].m_data) return i;
    }
    return present;
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
    const std::uint32_t firstMissing = FirstMissing(band, packets);
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
    SBand& band = Obtain(bandIndex);
    m_hasLatest = true;
    m_latest = bandIndex;
    if (!band.m_complete) {
        band.m_declared = true;
        band.m_declaredPackets = packets;
    }
    SBandResult result = Judge(bandIndex, band, packets);
    if (!band.m_complete && result.m_error == 0) {
        CSha256 sha;
        std::uint64_t left = bandBytes;
        for (std::uint32_t i = 0; i < packets && left > 0; ++i) {
            const SSlot& slot = band.m_packets[i];
            const std::uint64_t take = std::min<std::uint64_t>({packetSize, slot.m_length, left});
            sha.Update(slot.m_data, static_cast<std::size_t>(take));
            left -= take;
        }
        band.m_complete = true;
        band.m_completePackets = packets;
        band.m_completeBytes = bandBytes - left;
        band.m_sha256 = Hex(sha.Final());
        // The board has printed it: the memory goes back for the next band.
        ReleasePackets(band);
        if (m_spareTables.size() < kSpareTables) m_spareTables.push_back(std::move(band.m_packets));
        band.m_packets = {};
        ++m_bandsCompleted;
        result = Judge(bandIndex, band, packets);
        result.m_completedNow = true;
    }
    band.m_checksumMark = m_checksumErrors;
    m_endOfBandMark = m_checksumErrors;
    return result;
}

SBandResult CBandStore::Query() const {
    if (!m_hasLatest) return SBandResult{};
    const auto at = m_bands.find(m_latest);
    if (at == m_bands.end()) return SBandResult{};
    const SBand& band = at->second;
    // Before its EndOfBand the board knows only the highest packet seen so far.
    const std::uint32_t packets = band.m_declared
                                      ? band.m_declaredPackets
                                      : static_cast<std::uint32_t>(band.m_packets.size());
    return Judge(m_latest, band, packets);
}

void CBandStore::Reset() {
    for (auto& entry : m_bands) {
        ReleasePackets(entry.second);
        if (m_spareTables.size() < kSpareTables)
            m_spareTables.push_back(std::move(entry.second.m_packets));
    }
    m_bands.clear();
    m_cached = nullptr;
    m_hasLatest = false;
    m_bandsCompleted = 0;
    m_endOfBandMark = m_checksumErrors;
}

}  // namespace ferrolink::tools

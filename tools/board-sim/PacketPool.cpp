#include "board-sim/PacketPool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace ferrolink::tools {

namespace {
// One transparent huge page on x86-64 and arm64.
constexpr std::size_t kChunkBytes = std::size_t{2} << 20;
constexpr std::size_t kSlotsPerChunk = kChunkBytes / CPacketPool::kSlotBytes;
}  // namespace

void CPacketPool::SChunkFree::operator()(unsigned char* chunk) const {
    std::free(chunk);
}

CPacketPool::CPacketPool(std::size_t maximumSlots)
    : m_maximumSlots(std::max<std::size_t>(maximumSlots / kSlotsPerChunk, 1) * kSlotsPerChunk) {}

CPacketPool::~CPacketPool() = default;

bool CPacketPool::Grow() {
    if (m_slotsMade + kSlotsPerChunk > m_maximumSlots) return false;
    auto* chunk = static_cast<unsigned char*>(std::aligned_alloc(kChunkBytes, kChunkBytes));
    if (!chunk) return false;
#if defined(__linux__)
    // Advice only: without huge pages the slots still work, just with more page faults.
    ::madvise(chunk, kChunkBytes, MADV_HUGEPAGE);
#endif
    std::memset(chunk, 0, kChunkBytes);
    m_chunks.emplace_back(chunk);
    m_free.reserve(m_free.size() + kSlotsPerChunk);
    // Handed out from the chunk's start, so a band's packets lie in address order.
    for (std::size_t i = kSlotsPerChunk; i-- > 0;) m_free.push_back(chunk + i * kSlotBytes);
    m_slotsMade += kSlotsPerChunk;
    return true;
}

unsigned char* CPacketPool::Acquire() {
    if (m_free.empty() && !Grow()) return nullptr;
    unsigned char* slot = m_free.back();
    m_free.pop_back();
    return slot;
}

void CPacketPool::Release(unsigned char* slot) {
    if (slot) m_free.push_back(slot);
}

}  // namespace ferrolink::tools

#include "board-sim/BandDigester.h"

#include <utility>

#include "common/Sha256.h"

namespace ferrolink::tools {

CBandDigester::CBandDigester() : m_thread([this] { Work(); }) {}

CBandDigester::~CBandDigester() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void CBandDigester::Submit(SDigestJob job) {
    std::unique_lock<std::mutex> lock(m_mutex);
    // One band is always taken, however large.
    m_changed.wait(lock, [this, &job] {
        const std::size_t pending = m_queued.size() + (m_busy ? 1 : 0);
        return pending == 0 ||
               (pending < kQueueBands && m_pendingBytes + job.m_bytes <= kQueueBytes);
    });
    m_pendingBytes += job.m_bytes;
    m_queued.push_back(std::move(job));
    lock.unlock();
    m_changed.notify_all();
}

void CBandDigester::Take(std::vector<SDigestJob>& done, bool wait, bool all) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (all) {
        m_changed.wait(lock, [this] { return m_queued.empty() && !m_busy; });
    } else if (wait) {
        m_changed.wait(lock, [this] { return !m_ready.empty() || (m_queued.empty() && !m_busy); });
    }
    for (SDigestJob& job : m_ready) done.push_back(std::move(job));
    m_ready.clear();
}

std::size_t CBandDigester::Outstanding() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queued.size() + (m_busy ? 1 : 0) + m_ready.size();
}

void CBandDigester::Work() {
    static const char kDigits[] = "0123456789abcdef";
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || !m_queued.empty(); });
        if (m_stop) return;
        SDigestJob job = std::move(m_queued.front());
        m_queued.pop_front();
        m_busy = true;
        lock.unlock();

        CSha256 sha;
        for (const SDigestJob::SPiece& piece : job.m_pieces)
            sha.Update(piece.m_data, piece.m_length);
        job.m_sha256.reserve(64);
        for (unsigned char byte : sha.Final()) {
            job.m_sha256 += kDigits[byte >> 4];
            job.m_sha256 += kDigits[byte & 15];
        }

        lock.lock();
        m_pendingBytes -= job.m_bytes;
        m_ready.push_back(std::move(job));
        m_busy = false;
        m_changed.notify_all();
    }
}

}  // namespace ferrolink::tools

#include "Timeline.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t kFlushBytes = 64 * 1024;

}  // namespace

CTimeline::~CTimeline() {
    std::string ignored;
    Close(ignored);
}

bool CTimeline::Open(const std::string& path, std::string& error) {
    m_path = path;
    m_csv = path.size() >= 4 && path.compare(path.size() - 4, 4, ".csv") == 0;
    // Never through a symbolic link, never into a FIFO or device, never writable by others.
    std::string cause;
    if (!m_file.Open(path, true, cause)) {
        error = "cannot write the timeline " + path + ": " + cause;
        return false;
    }
    if (!m_file.Truncate(0, cause)) {
        error = "cannot write the timeline " + path + ": " + cause;
        std::string ignored;
        m_file.Close(ignored);
        return false;
    }
    if (m_csv) m_pending = "seconds,bytes_acked,band,frames_resent,reply_ms,link_up,event\n";
    return true;
}

void CTimeline::Add(const STimelinePoint& p) {
    if (!m_file.IsOpen() || !m_writeError.empty()) return;
    char reply[32] = "";
    if (p.replyMs >= 0) std::snprintf(reply, sizeof reply, "%.3f", p.replyMs);
    char line[512];
    const int n =
        m_csv ? std::snprintf(line, sizeof line, "%.6f,%llu,%llu,%llu,%s,%d,%s\n", p.seconds,
                              static_cast<unsigned long long>(p.bytesAcked),
                              static_cast<unsigned long long>(p.band),
                              static_cast<unsigned long long>(p.framesResent), reply,
                              p.linkUp ? 1 : 0, p.event)
              : std::snprintf(line, sizeof line,
                              "{\"seconds\":%.6f,\"bytes_acked\":%llu,\"band\":%llu,"
                              "\"frames_resent\":%llu,\"reply_ms\":%s,\"link_up\":%s,"
                              "\"event\":\"%s\"}\n",
                              p.seconds, static_cast<unsigned long long>(p.bytesAcked),
                              static_cast<unsigned long long>(p.band),
                              static_cast<unsigned long long>(p.framesResent),
                              *reply ? reply : "null", p.linkUp ? "true" : "false", p.event);
    if (n > 0) m_pending.append(line, std::min(static_cast<std::size_t>(n), sizeof line - 1));
    if (m_pending.size() >= kFlushBytes) Flush();
}

void CTimeline::Flush() {
    if (m_pending.empty() || !m_writeError.empty()) return;
    std::string cause;
    if (!m_file.Write(m_pending.data(), m_pending.size(), cause)) m_writeError = cause;
    m_pending.clear();
}

bool CTimeline::Close(std::string& error) {
    if (!m_file.IsOpen()) return m_writeError.empty();
    Flush();
    std::string cause;
    if (!m_file.Sync(cause) && m_writeError.empty()) m_writeError = cause;
    if (!m_file.Close(cause) && m_writeError.empty()) m_writeError = cause;
    if (m_writeError.empty()) return true;
    error = "the timeline " + m_path + " is incomplete: " + m_writeError;
    return false;
}

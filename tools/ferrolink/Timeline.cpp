#include "Timeline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CTimeline::~CTimeline() {
    std::string ignored;
    Close(ignored);
}

bool CTimeline::Open(const std::string& path, std::string& error) {
    m_path = path;
    m_csv = path.size() >= 4 && path.compare(path.size() - 4, 4, ".csv") == 0;
    // Never through a symbolic link, never into a FIFO or device, never writable by others.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = "cannot write the timeline " + path + ": " +
                (errno == ELOOP ? std::string("it is a symbolic link") : std::strerror(errno));
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = "cannot write the timeline " + path + ": not a regular file";
        return false;
    }
    if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0) {
        error = "cannot write the timeline " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_file = ::fdopen(fd, "w");
    if (!m_file) {
        error = "cannot write the timeline " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (m_csv &&
        std::fputs("seconds,bytes_acked,band,frames_resent,reply_ms,link_up,event\n", m_file) < 0)
        m_writeError = errno;
    return true;
}

void CTimeline::Add(const STimelinePoint& p) {
    if (!m_file || m_writeError) return;
    char reply[32] = "";
    if (p.replyMs >= 0) std::snprintf(reply, sizeof reply, "%.3f", p.replyMs);
    const int written =
        m_csv ? std::fprintf(m_file, "%.6f,%llu,%llu,%llu,%s,%d,%s\n", p.seconds,
                             static_cast<unsigned long long>(p.bytesAcked),
                             static_cast<unsigned long long>(p.band),
                             static_cast<unsigned long long>(p.framesResent), reply,
                             p.linkUp ? 1 : 0, p.event)
              : std::fprintf(m_file,
                             "{\"seconds\":%.6f,\"bytes_acked\":%llu,\"band\":%llu,"
                             "\"frames_resent\":%llu,\"reply_ms\":%s,\"link_up\":%s,"
                             "\"event\":\"%s\"}\n",
                             p.seconds, static_cast<unsigned long long>(p.bytesAcked),
                             static_cast<unsigned long long>(p.band),
                             static_cast<unsigned long long>(p.framesResent),
                             *reply ? reply : "null", p.linkUp ? "true" : "false", p.event);
    if (written < 0) m_writeError = errno ? errno : EIO;
}

bool CTimeline::Close(std::string& error) {
    if (!m_file) return m_writeError == 0;
    if (std::fflush(m_file) != 0 && !m_writeError) m_writeError = errno ? errno : EIO;
    if (::fsync(::fileno(m_file)) != 0 && errno != EINVAL && !m_writeError) m_writeError = errno;
    if (std::fclose(m_file) != 0 && !m_writeError) m_writeError = errno ? errno : EIO;
    m_file = nullptr;
    if (!m_writeError) return true;
    error = "the timeline " + m_path + " is incomplete: " + std::strerror(m_writeError);
    return false;
}

#include "platform/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ferrolink::tools {

COutputFile::~COutputFile() {
    std::string ignored;
    Close(ignored);
}

bool COutputFile::Open(const std::string& path, bool regularOnly, std::string& error) {
    std::string ignored;
    Close(ignored);
    // A FIFO refused anyway is not waited for: non-blocking until it is known to be a file.
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (regularOnly ? O_NONBLOCK : 0);
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        error = errno == ELOOP ? "it is a symbolic link, not followed" : std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_regular = S_ISREG(info.st_mode);
    if (regularOnly && !m_regular) {
        ::close(fd);
        error = "not a regular file";
        return false;
    }
    if (regularOnly && ::fcntl(fd, F_SETFL, 0) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_handle = fd;
    return true;
}

bool COutputFile::OpenStandardOutput(std::string& error) {
    std::string ignored;
    Close(ignored);
    if (std::fflush(stdout) != 0) {
        error = std::strerror(errno);
        return false;
    }
    m_handle = STDOUT_FILENO;
    m_standardOutput = true;
    return true;
}

bool COutputFile::IsOpen() const {
    return m_handle >= 0;
}

bool COutputFile::Write(const void* data, std::size_t size, std::string& error) {
    const auto* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(static_cast<int>(m_handle), at, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool COutputFile::Truncate(std::uint64_t size, std::string& error) {
    if (!m_regular) {
        error = "not a regular file";
        return false;
    }
    if (::ftruncate(static_cast<int>(m_handle), static_cast<off_t>(size)) == 0) return true;
    error = std::strerror(errno);
    return false;
}

bool COutputFile::Sync(std::string& error) {
    // Devices, pipes and read-only mounts have nothing to make durable.
    if (m_standardOutput || !IsOpen() || ::fsync(static_cast<int>(m_handle)) == 0 ||
        errno == EINVAL || errno == EROFS)
        return true;
    error = std::strerror(errno);
    return false;
}

bool COutputFile::Close(std::string& error) {
    if (!IsOpen()) return true;
    const int fd = static_cast<int>(m_handle);
    const bool standardOutput = m_standardOutput;
    m_handle = -1;
    m_standardOutput = false;
    m_regular = false;
    if (standardOutput || ::close(fd) == 0) return true;
    error = std::strerror(errno);
    return false;
}

}  // namespace ferrolink::tools

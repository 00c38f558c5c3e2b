#include "platform/JobFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CJobFile::~CJobFile() {
    Close();
}

void CJobFile::Close() {
    if (m_file >= 0) ::close(static_cast<int>(m_file));
    m_file = -1;
}

bool CJobFile::Open(const std::string& path, std::string& error) {
    Close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        error = "cannot read " + path + ": " +
                (fd < 0 ? std::strerror(errno) : "not a non-empty regular file");
        if (fd >= 0) ::close(fd);
        return false;
    }
    m_file = fd;
    m_size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool CJobFile::View(std::uint64_t offset, std::size_t length, SJobView& view,
                    std::string& error) const {
    static const std::uint64_t kPage = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t start = offset / kPage * kPage;
    const auto mapped = static_cast<std::size_t>(offset - start) + length;
    // Populated now, on the reader's thread: the pages are read from the disk (or found in the
    // page cache) and entered at once rather than faulted in one by one where they are used.
    void* base = ::mmap(nullptr, mapped, PROT_READ, MAP_SHARED | MAP_POPULATE,
                        static_cast<int>(m_file), static_cast<off_t>(start));
    if (base == MAP_FAILED) {
        error = std::string("cannot map the job: ") + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(static_cast<int>(m_file), &info) != 0 ||
        static_cast<std::uint64_t>(info.st_size) < offset + length) {
        ::munmap(base, mapped);
        error = "the file shrank while it was sent";
        return false;
    }
    view.m_base = base;
    view.m_mapped = mapped;
    view.m_data = static_cast<const unsigned char*>(base) + (offset - start);
    view.m_length = length;
    return true;
}

void CJobFile::Release(SJobView& view) const {
    if (view.m_base) ::munmap(view.m_base, view.m_mapped);
    view = SJobView{};
}

#include "BandSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "../common/Sha256.h"

CBandSource::~CBandSource() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
    if (m_fd >= 0) ::close(m_fd);
}

bool CBandSource::Check(const std::string& path, std::uint64_t bandSize, std::uint64_t firstBand,
                        std::string& error) {
    namespace fs = std::filesystem;
    std::error_code code;
    const fs::file_status status = fs::status(path, code);
    if (!fs::exists(status)) {
        error = "cannot read " + path + ": no such file";
        return false;
    }
    if (fs::is_directory(status)) {
        error = "cannot send " + path + ": it is a folder, not a print job file";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        error = "cannot send " + path + ": not a regular file";
        return false;
    }
    const std::uint64_t size = fs::file_size(path, code);
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (code || !probe) {
        error = "cannot read " + path + ": permission denied or unreadable";
        return false;
    }
    std::fclose(probe);
    if (size == 0) {
        error = path + " is empty: nothing to send";
        return false;
    }
    const std::uint64_t bands = (size + bandSize - 1) / bandSize;
    // The band number travels in 32 bits: a later band would take an earlier one's number.
    if (bands - 1 > 0xFFFFFFFFu) {
        error = path + " needs " + std::to_string(bands) + " bands of " + std::to_string(bandSize) +
                " bytes, more than the board numbers (2^32): use a "
                "larger --band-size";
        return false;
    }
    if (firstBand >= bands) {
        error = "--from-band " + std::to_string(firstBand) + " is past the end of " + path + " (" +
                std::to_string(bands) + " bands of " + std::to_string(bandSize) + " bytes)";
        return false;
    }
    return true;
}

bool CBandSource::Start(const std::string& path, std::uint64_t bandSize, std::size_t buffers,
                        std::uint64_t firstBand, bool digest, std::string& error) {
    if (!Check(path, bandSize, firstBand, error)) return false;
    // What is read is what was checked: the size comes from the open file, not the name.
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        error = "cannot read " + path + ": " +
                (m_fd < 0 ? std::strerror(errno) : "not a non-empty regular file");
        return false;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    const std::uint64_t bands = (size + bandSize - 1) / bandSize;
    if (firstBand >= bands) {
        error = "--from-band " + std::to_string(firstBand) + " is past the end of " + path;
        return false;
    }
    m_path = path;
    m_digest = digest;
    m_bandSize = bandSize;
    m_firstBand = firstBand;
    m_bytes = size - firstBand * bandSize;
    m_bands = bands - firstBand;
    const std::size_t count = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::max<std::size_t>(buffers, 1), m_bands));
    const auto bufferBytes = static_cast<std::size_t>(std::min<std::uint64_t>(bandSize, m_bytes));
    for (std::size_t i = 0; i < count; ++i) {
        m_all.push_back(std::make_unique<SJobBand>());
        // Not value-initialised: every byte sent is read from the file first.
        m_all.back()->m_data.reset(new unsigned char[bufferBytes]);
        m_free.push_back(m_all.back().get());
    }
    m_thread = std::thread([this] { Run(); });
    return true;
}

namespace {

// Reads `length` bytes at `offset`, through short reads and interruptions.
bool ReadAt(int fd, unsigned char* to, std::size_t length, std::uint64_t offset) {
    while (length > 0) {
        const ssize_t got = ::pread(fd, to, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        to += got;
        length -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

}  // namespace

void CBandSource::Run() {
    auto fail = [&](const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_error = text;
        m_finished = true;
        m_changed.notify_all();
    };
    for (std::uint64_t n = 0; n < m_bands; ++n) {
        SJobBand* band = nullptr;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return m_quit || !m_free.empty(); });
            if (m_quit) break;
            band = m_free.front();
            m_free.pop_front();
        }
        const std::uint64_t want = std::min<std::uint64_t>(m_bandSize, m_bytes - n * m_bandSize);
        if (!ReadAt(m_fd, band->m_data.get(), static_cast<std::size_t>(want),
                    (m_firstBand + n) * m_bandSize))
            return fail("reading " + m_path + " failed at band " + std::to_string(m_firstBand + n) +
                        " (the file shrank or the disk failed)");
        band->m_index = m_firstBand + n;
        band->m_bytes = static_cast<std::size_t>(want);
        band->m_sha256.clear();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            band->m_hashed = !m_digest;
            m_ready.push_back(band);
        }
        m_changed.notify_all();
        if (!m_digest) continue;
        // The sender has the band now; the digest is made while its frames are on the wire.
        std::string digest = CSha256::Hex(band->m_data.get(), band->m_bytes);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            band->m_sha256 = std::move(digest);
            band->m_hashed = true;
        }
        m_changed.notify_all();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
    m_changed.notify_all();
}

SJobBand* CBandSource::Next(const std::atomic<bool>& stop) {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_ready.empty() && !m_finished && !stop.load())
        m_changed.wait_for(lock, std::chrono::milliseconds(50));
    if (m_ready.empty() || stop.load()) return nullptr;
    SJobBand* band = m_ready.front();
    m_ready.pop_front();
    return band;
}

std::string CBandSource::Digest(SJobBand* band) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return band->m_hashed; });
    return band->m_sha256;
}

void CBandSource::Release(SJobBand* band) {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        // The reader may still be digesting it.
        m_changed.wait(lock, [&] { return band->m_hashed; });
        m_free.push_back(band);
    }
    m_changed.notify_all();
}

std::string CBandSource::Error() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

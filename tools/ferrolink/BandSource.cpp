#include "BandSource.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "common/Sha256.h"

CBandSource::~CBandSource() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
    for (const auto& band : m_all) m_file.Release(band->m_view);
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
    if (!m_file.Open(path, error)) return false;
    const std::uint64_t size = m_file.Size();
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
    for (std::size_t i = 0; i < count; ++i) {
        m_all.push_back(std::make_unique<SJobBand>());
        m_free.push_back(m_all.back().get());
    }
    m_thread = std::thread([this] { Run(); });
    return true;
}

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
        // The previous band in this place is done with: its view goes before the next is made.
        m_file.Release(band->m_view);
        std::string why;
        if (!m_file.View((m_firstBand + n) * m_bandSize, static_cast<std::size_t>(want),
                         band->m_view, why))
            return fail("reading " + m_path + " failed at band " + std::to_string(m_firstBand + n) +
                        ": " + why);
        band->m_data = band->m_view.m_data;
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
        std::string digest = CSha256::Hex(band->m_data, band->m_bytes);
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

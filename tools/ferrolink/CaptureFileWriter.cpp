#include "CaptureFileWriter.h"

#include <filesystem>
#include <system_error>

namespace {

constexpr std::uint32_t kMagicMicroseconds = 0xA1B2C3D4;  // timestamps in microseconds

}  // namespace

CCaptureFileWriter::~CCaptureFileWriter() {
    std::string ignored;
    m_file.Close(ignored);
    std::error_code code;
    if (m_created && !m_started) std::filesystem::remove(m_path, code);
}

bool CCaptureFileWriter::Open(const std::string& path, std::string& error) {
    m_path = path;
    std::error_code code;
    m_created =
        path != "-" && !std::filesystem::exists(std::filesystem::symlink_status(path, code));
    std::string cause;
    if (!(path == "-" ? m_file.OpenStandardOutput(cause) : m_file.Open(path, false, cause))) {
        error = "cannot write " + path + ": " + cause;
        return false;
    }
    return true;
}

bool CCaptureFileWriter::Start(int linkType, int snapshotLength, std::string& error) {
    m_started = true;
    std::string cause;
    if (m_file.IsRegular() && !m_file.Truncate(0, cause)) {
        error = "cannot write " + m_path + ": " + cause;
        return false;
    }
    // The file header, in little-endian order as the magic number tells a reader: version 2.4,
    // no zone correction, no accuracy figure, the snapshot length and the link type.
    Put32(kMagicMicroseconds);
    Put16(2);
    Put16(4);
    Put32(0);
    Put32(0);
    Put32(static_cast<std::uint32_t>(snapshotLength));
    Put32(static_cast<std::uint32_t>(linkType));
    return Flush(error);
}

void CCaptureFileWriter::Add(std::int64_t seconds, std::int64_t microseconds,
                             std::uint32_t capturedLength, std::uint32_t length,
                             const unsigned char* frame) {
    Put32(static_cast<std::uint32_t>(seconds));
    Put32(static_cast<std::uint32_t>(microseconds));
    Put32(capturedLength);
    Put32(length);
    m_pending.insert(m_pending.end(), frame, frame + capturedLength);
    ++m_pendingFrames;
}

bool CCaptureFileWriter::Flush(std::string& error) {
    if (m_pending.empty()) return true;
    std::string cause;
    if (!m_file.Write(m_pending.data(), m_pending.size(), cause)) {
        // A part of the batch may have landed: the file ends at the last whole frame again.
        std::string ignored;  // the write's failure is the one to tell
        if (m_written > 0 && m_file.IsRegular()) m_file.Truncate(m_written, ignored);
        m_pending.clear();
        m_pendingFrames = 0;
        error = "cannot write " + m_path + ": " + cause + " (" + std::to_string(m_frames) +
                " frames written before it; the file ends at the last whole frame)";
        return false;
    }
    m_written += m_pending.size();
    m_frames += m_pendingFrames;
    m_pending.clear();
    m_pendingFrames = 0;
    return true;
}

bool CCaptureFileWriter::Finish(std::string& error) {
    if (!m_file.IsOpen()) return true;
    bool ok = Flush(error);
    std::string cause;
    if (ok && !m_file.Sync(cause)) {
        error = "cannot write " + m_path + ": " + cause;
        ok = false;
    }
    if (!m_file.Close(cause) && ok) {
        error = "cannot write " + m_path + ": " + cause;
        ok = false;
    }
    return ok;
}

void CCaptureFileWriter::Put32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i) m_pending.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void CCaptureFileWriter::Put16(std::uint16_t value) {
    m_pending.push_back(static_cast<unsigned char>(value));
    m_pending.push_back(static_cast<unsigned char>(value >> 8));
}

// The capture file that `ferrolink dump -w` writes, in the classic pcap format that tcpdump
// writes and every capture tool reads: a 24-byte file header, then per frame a 16-byte record
// header and the bytes kept. Written by the tool itself, the same on every system. Frames are
// gathered in memory and leave at Flush, where a failed write is seen; after one, a regular file
// is cut back to its last whole frame, so that what was written stays readable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/OutputFile.h"

class CCaptureFileWriter {
public:
    CCaptureFileWriter() = default;
    // A file that Open made and that never got its header is removed again.
    ~CCaptureFileWriter();
    CCaptureFileWriter(const CCaptureFileWriter&) = delete;
    CCaptureFileWriter& operator=(const CCaptureFileWriter&) = delete;

    // `path` "-" is standard output. Links are never followed; devices and pipes are taken (a
    // capture read live by another program). A file's old content stays until Start, so that a
    // capture that cannot begin destroys nothing. False with `error` ("cannot write PATH: ...").
    bool Open(const std::string& path, std::string& error);
    // Empties a regular file and writes the file header.
    bool Start(int linkType, int snapshotLength, std::string& error);
    void Add(std::int64_t seconds, std::int64_t microseconds, std::uint32_t capturedLength,
             std::uint32_t length, const unsigned char* frame);
    // Writes what was added; on failure cuts the file back to the last whole frame.
    bool Flush(std::string& error);
    // Flushes, makes the file durable where the file system can, and closes.
    bool Finish(std::string& error);
    long Frames() const { return m_frames; }

private:
    void Put32(std::uint32_t value);
    void Put16(std::uint16_t value);

    ferrolink::tools::COutputFile m_file;
    std::string m_path;
    std::vector<unsigned char> m_pending;  // added since the last flush
    long m_frames = 0;                     // whole frames known to be written
    long m_pendingFrames = 0;
    std::uint64_t m_written = 0;  // bytes known to be written
    bool m_created = false;       // Open made the file
    bool m_started = false;
};

// `ferrolink send --timeline FILE`: what happened during a job over time, for a plot
// (scripts/plot-timeline). One record per board answer, band completion and link change: the
// time since the job began, bytes the board has confirmed, the band, print frames resent so far,
// the answer's round trip and whether the link is up. CSV when FILE ends in ".csv", else one
// JSON object per line. The file is created anew (never through a symbolic link, not writable
// by others); a write that fails is remembered and reported at the end of the job.
#pragma once

#include <cstdint>
#include <string>

#include "platform/OutputFile.h"

struct STimelinePoint {
    double seconds = 0;
    std::uint64_t bytesAcked = 0;
    std::uint64_t band = 0;
    std::uint64_t framesResent = 0;
    double replyMs = -1;  // negative: no answer in this record
    bool linkUp = true;
    const char* event = "reply";  // reply, band, link
};

class CTimeline {
public:
    CTimeline() = default;
    ~CTimeline();
    CTimeline(const CTimeline&) = delete;
    CTimeline& operator=(const CTimeline&) = delete;

    // Creates `path` (replacing a regular file of the user's); false with `error` filled.
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return m_file.IsOpen(); }
    void Add(const STimelinePoint& point);
    // Flushes and closes; false (with `error`) when a write failed on the way.
    bool Close(std::string& error);

private:
    // Writes what was gathered; the first failure is kept and later records are dropped.
    void Flush();

    ferrolink::tools::COutputFile m_file;
    std::string m_path;
    std::string m_pending;  // records not yet written
    bool m_csv = false;
    std::string m_writeError;
};

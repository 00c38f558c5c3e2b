// Sends a print job to the board band by band, with up to a window of bands outstanding so that
// the board's answer to one band travels while the next band is on the wire. The job drives one
// CBandTransfer per band in flight (the band's own state machine), asks CBandWindow whether the
// next band may start, and hands a refused send or a silent board to CLinkWatch; completed bands
// are reported in band order.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "ExitStatus.h"
#include "SendOptions.h"

class CJobLink;
class CTimeline;

struct SPrintJobResult {
    bool ok = false;
    EExitStatus status = ExitStatus_JobFailed;
    std::string error;
    std::uint64_t bytes = 0;  // bytes of the bands completed
    std::uint64_t totalBytes = 0;
    std::uint64_t bands = 0;  // bands completed
    std::uint64_t firstBand = 0;
    std::uint64_t packets = 0;       // packets of the bands started
    std::uint64_t framesSent = 0;    // print frames, first sends and resends
    std::uint64_t framesResent = 0;  // print frames sent again
    std::uint64_t resendRounds = 0;  // answers that sent packets again
    std::uint64_t checksumErrorsReported = 0;
    std::uint64_t linkOutages = 0;  // begun, also the one the job failed on
    int window = 0;
    double seconds = 0;
    // Print frames beyond one per packet, as a fraction of the packets.
    double Overhead() const {
        return packets ? static_cast<double>(framesResent) / static_cast<double>(packets) : 0.0;
    }
};

// One completed band, as reported to the caller in band order.
struct SBandReport {
    std::uint64_t index = 0;
    std::uint64_t bytes = 0;
    std::uint32_t packets = 0;
    std::uint64_t framesResent = 0;
    int rounds = 0;
    double milliseconds = 0;  // from its first frame to its completion
    std::string sha256;       // empty without digests
};

class CPrintJob {
public:
    using BandDone = std::function<void(const SBandReport&, const SPrintJobResult& soFar)>;
    // A message to show (a link outage and its end), between band reports.
    using Notice = std::function<void(const std::string&)>;

    CPrintJob(CJobLink& link, SPrintJobOptions options);
    // Whether the options make a job the board can number; `error` says why not. Asked before
    // anything touches the board.
    static bool CheckOptions(const SPrintJobOptions& options, std::string& error);
    // Records of the job go to `timeline` too (it stays the caller's).
    void SetTimeline(CTimeline* timeline) { m_timeline = timeline; }
    // Called just before the first print frame leaves.
    void SetFirstFrame(std::function<void()> first) { m_firstFrame = std::move(first); }
    SPrintJobResult Run(const std::string& path, const std::atomic<bool>& stop,
                        const BandDone& done, const Notice& notice);

private:
    CJobLink& m_link;
    SPrintJobOptions m_options;
    CTimeline* m_timeline = nullptr;
    std::function<void()> m_firstFrame;
};

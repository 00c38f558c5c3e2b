// Sends a print job to the board band by band, with up to a window of bands outstanding so that
// the board's answer to one band travels while the next band is on the wire. Each band goes out
// in one bulk send followed by EndOfBand; a band is done only when the board's answer to that
// EndOfBand says the whole band is there (resend index = packet count, current maximum one
// less, the band's own number). Missing packets are sent again from the index the board gives;
// a fatal bit, a board that stops answering or a link that stays down stop the job.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "ExitStatus.h"

class CBoardLink;
struct SJobBand;

struct SPrintJobOptions {
    std::uint64_t bandSize = 1 << 20;
    int packetSize = 1468;
    unsigned replyTimeoutMs = 1000;
    int commandTries = 5;
    int maxResendsPerBand = 50;
    std::uint64_t fromBand = 0;
    int window = 0;                      // bands outstanding at most; 0: from the band size
    std::uint64_t boardMemoryMiB = 256;  // the board's print memory, 2 KiB per packet held
    unsigned linkWaitMs = 5000;          // how long a link may stay down before the job fails
};

struct SPrintJobResult {
    bool ok = false;
    EExitStatus status = ExitStatus_JobFailed;
    std::string error;
    std::uint64_t bytes = 0;  // bytes of the bands completed
    std::uint64_t totalBytes = 0;
    std::uint64_t bands = 0;  // bands completed
    std::uint64_t firstBand = 0;
    std::uint64_t resends = 0;
    std::uint64_t checksumErrorsReported = 0;
    std::uint64_t linkOutages = 0;
    int window = 0;
    double seconds = 0;
};

// One completed band, as reported to the caller in band order.
struct SBandReport {
    std::uint64_t index = 0;
    std::uint64_t bytes = 0;
    std::uint32_t packets = 0;
    int resends = 0;
    double milliseconds = 0;  // from its first frame to its completion
    std::string sha256;
};

class CPrintJob {
public:
    using BandDone = std::function<void(const SBandReport&, const SPrintJobResult& soFar)>;
    // A message to show (a link outage and its end), between band reports.
    using Notice = std::function<void(const std::string&)>;

    CPrintJob(CBoardLink& link, SPrintJobOptions options);
    // Bands in flight for these options.
    static int WindowFor(const SPrintJobOptions& options);
    // Band buffers the sender holds at most.
    static std::size_t BuffersFor(const SPrintJobOptions& options);
    SPrintJobResult Run(const std::string& path, const std::atomic<bool>& stop,
                        const BandDone& done, const Notice& notice);

private:
    CBoardLink& m_link;
    SPrintJobOptions m_options;
};

// Sends a file to the board band by band: each band in one bulk send, then the end-of-band
// command; resends from the index the board's reply gives until the band is complete, and stops
// on a fatal error or a board that does not answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class CBoardLink;

struct SPrintJobOptions {
    std::int64_t bandSize = 1 << 20;
    int packetSize = 1468;
    unsigned replyTimeoutMs = 1000;
    int commandTries = 5;
    int maxResendsPerBand = 50;
    bool progress = false;  // a progress bar on a terminal, else one summary line
};

struct SPrintJobResult {
    bool ok = false;
    std::string error;
    std::uint64_t bytes = 0;
    std::uint64_t bands = 0;
    std::uint64_t resends = 0;
    std::uint64_t checksumErrorsReported = 0;
    double seconds = 0;
    std::vector<std::string> bandHashes;  // SHA-256 of each band, as sent
};

class CPrintJob {
public:
    CPrintJob(CBoardLink& link, SPrintJobOptions options);
    SPrintJobResult Run(const std::vector<unsigned char>& data, const std::atomic<bool>& stop);

private:
    void ShowProgress(const SPrintJobResult& r, std::uint64_t total, double seconds, bool last) const;

    CBoardLink& m_link;
    SPrintJobOptions m_options;
};

// The choices of one `ferrolink send`, shared by the classes of the send path.
#pragma once

#include <cstdint>
#include <string>

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
    bool digest = true;                  // SHA-256 of each band, for comparing with the board's
};

// Packets a band of these options is cut into.
inline std::uint64_t PacketsPerBand(const SPrintJobOptions& o) {
    return (o.bandSize + static_cast<std::uint64_t>(o.packetSize) - 1) /
           static_cast<std::uint64_t>(o.packetSize);
}

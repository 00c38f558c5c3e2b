// A snapshot of what the emulator has seen and done, printed on SIGUSR1 and at exit and written
// as JSON to the statistics file. Made by CBoardEmulator::Statistics.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace ferrolink::tools {

struct SImpairmentCounts {
    std::uint64_t m_dropped = 0;
    std::uint64_t m_corrupted = 0;
    std::uint64_t m_duplicated = 0;
    std::uint64_t m_reordered = 0;
    std::uint64_t m_delayed = 0;
};

struct SCompletedBand {
    std::uint32_t m_band = 0;
    std::uint32_t m_packets = 0;
    std::uint64_t m_bytes = 0;
    std::string m_sha256;
};

struct SEmulatorStatistics {
    std::uint64_t m_framesReceived = 0;  // addressed to the board MAC, before impairment
    std::uint64_t m_printFrames = 0;     // print frames stored
    std::uint64_t m_checksumErrors = 0;
    std::uint64_t m_lossesDetected = 0;  // EndOfBand answers with the lost bit
    std::uint64_t m_reportsSent = 0;     // periodic reports and replies put on the wire
    std::uint64_t m_commandsAnswered = 0;
    std::uint64_t m_refusedPackets = 0;  // packet index or memory limit exceeded
    std::uint64_t m_otherFrames = 0;     // valid frames of a kind the board does not know
    // From the capture library: frames the kernel delivered and dropped for lack of buffer.
    std::uint64_t m_captureReceived = 0;
    std::uint64_t m_captureDropped = 0;
    std::uint64_t m_captureInterfaceDropped = 0;
    std::uint64_t m_ignoredWhileSilent = 0;  // addressed to the board while it was silent
    std::uint64_t m_testFramesSent = 0;      // flood frames and the second board's reports
    std::uint64_t m_linkOutages = 0;         // times the interface lost its carrier or went down
    SImpairmentCounts m_receiveImpairment;
    SImpairmentCounts m_sendImpairment;
    std::uint64_t m_bandsCompleted = 0;   // all of them, listed or not
    std::vector<SCompletedBand> m_bands;  // the most recent, in order of completion

    void WriteText(std::ostream& out) const;
    void WriteJson(std::ostream& out) const;
};

}  // namespace ferrolink::tools

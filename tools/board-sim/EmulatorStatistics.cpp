#include "board-sim/EmulatorStatistics.h"

#include <ostream>

namespace ferrolink::tools {

namespace {

void WriteCounts(std::ostream& out, const char* title, const SImpairmentCounts& c) {
    out << "  " << title << ": dropped " << c.m_dropped << ", corrupted " << c.m_corrupted
        << ", duplicated " << c.m_duplicated << ", reordered " << c.m_reordered << ", delayed "
        << c.m_delayed << '\n';
}

void WriteCountsJson(std::ostream& out, const char* name, const SImpairmentCounts& c) {
    out << "  \"" << name << "\": {\"dropped\": " << c.m_dropped
        << ", \"corrupted\": " << c.m_corrupted << ", \"duplicated\": " << c.m_duplicated
        << ", \"reordered\": " << c.m_reordered << ", \"delayed\": " << c.m_delayed << "},\n";
}

}  // namespace

void SEmulatorStatistics::WriteText(std::ostream& out) const {
    out << "statistics:\n"
        << "  frames received: " << m_framesReceived << '\n'
        << "  print frames: " << m_printFrames << '\n'
        << "  checksum errors: " << m_checksumErrors << '\n'
        << "  losses detected: " << m_lossesDetected << '\n'
        << "  reports sent: " << m_reportsSent << '\n'
        << "  commands answered: " << m_commandsAnswered << '\n'
        << "  packets refused: " << m_refusedPackets << '\n'
        << "  other frames: " << m_otherFrames << '\n'
        << "  capture: received " << m_captureReceived << ", dropped " << m_captureDropped
        << ", dropped by the interface " << m_captureInterfaceDropped << '\n';
    WriteCounts(out, "impairment of received frames", m_receiveImpairment);
    WriteCounts(out, "impairment of sent reports", m_sendImpairment);
    out << "  bands completed: " << m_bands.size() << '\n';
    for (const SCompletedBand& band : m_bands) {
        out << "  band " << band.m_band << ": " << band.m_packets << " packets, " << band.m_bytes
            << " bytes, sha256 " << band.m_sha256 << '\n';
    }
    out.flush();
}

void SEmulatorStatistics::WriteJson(std::ostream& out) const {
    out << "{\n"
        << "  \"frames_received\": " << m_framesReceived << ",\n"
        << "  \"print_frames\": " << m_printFrames << ",\n"
        << "  \"checksum_errors\": " << m_checksumErrors << ",\n"
        << "  \"losses_detected\": " << m_lossesDetected << ",\n"
        << "  \"reports_sent\": " << m_reportsSent << ",\n"
        << "  \"commands_answered\": " << m_commandsAnswered << ",\n"
        << "  \"packets_refused\": " << m_refusedPackets << ",\n"
        << "  \"other_frames\": " << m_otherFrames << ",\n"
        << "  \"capture\": {\"received\": " << m_captureReceived
        << ", \"dropped\": " << m_captureDropped
        << ", \"interface_dropped\": " << m_captureInterfaceDropped << "},\n";
    WriteCountsJson(out, "impairment_received", m_receiveImpairment);
    WriteCountsJson(out, "impairment_sent", m_sendImpairment);
    out << "  \"bands\": [";
    for (std::size_t i = 0; i < m_bands.size(); ++i) {
        const SCompletedBand& band = m_bands[i];
        out << (i ? ",\n    " : "\n    ") << "{\"band\": " << band.m_band
            << ", \"packets\": " << band.m_packets << ", \"bytes\": " << band.m_bytes
            << ", \"sha256\": \"" << band.m_sha256 << "\"}";
    }
    out << (m_bands.empty() ? "]\n" : "\n  ]\n") << "}\n";
    out.flush();
}

}  // namespace ferrolink::tools

#include "board-sim/EmulatorStatistics.h"

#include <nlohmann/json.hpp>
#include <ostream>

namespace ferrolink::tools {

namespace {

void WriteCounts(std::ostream& out, const char* title, const SImpairmentCounts& c) {
    out << "  " << title << ": dropped " << c.m_dropped << ", corrupted " << c.m_corrupted
        << ", duplicated " << c.m_duplicated << ", reordered " << c.m_reordered << ", delayed "
        << c.m_delayed << '\n';
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
        << ", dropped by the interface " << m_captureInterfaceDropped << '\n'
        << "  ignored while silent: " << m_ignoredWhileSilent << '\n'
        << "  test frames sent: " << m_testFramesSent << '\n'
        << "  link outages: " << m_linkOutages << '\n';
    WriteCounts(out, "impairment of received frames", m_receiveImpairment);
    WriteCounts(out, "impairment of sent reports", m_sendImpairment);
    out << "  bands completed: " << m_bandsCompleted;
    if (m_bandsCompleted > m_bands.size()) out << " (the last " << m_bands.size() << " listed)";
    out << '\n';
    for (const SCompletedBand& band : m_bands) {
        out << "  band " << band.m_band << ": " << band.m_packets << " packets, " << band.m_bytes
            << " bytes, sha256 " << band.m_sha256 << '\n';
    }
    out.flush();
}

void SEmulatorStatistics::WriteJson(std::ostream& out) const {
    const auto counts = [](const SImpairmentCounts& c) {
        return nlohmann::ordered_json{{"dropped", c.m_dropped},
                                      {"corrupted", c.m_corrupted},
                                      {"duplicated", c.m_duplicated},
                                      {"reordered", c.m_reordered},
                                      {"delayed", c.m_delayed}};
    };
    nlohmann::ordered_json json{{"frames_received", m_framesReceived},
                                {"print_frames", m_printFrames},
                                {"checksum_errors", m_checksumErrors},
                                {"losses_detected", m_lossesDetected},
                                {"reports_sent", m_reportsSent},
                                {"commands_answered", m_commandsAnswered},
                                {"packets_refused", m_refusedPackets},
                                {"other_frames", m_otherFrames},
                                {"capture",
                                 {{"received", m_captureReceived},
                                  {"dropped", m_captureDropped},
                                  {"interface_dropped", m_captureInterfaceDropped}}},
                                {"ignored_while_silent", m_ignoredWhileSilent},
                                {"test_frames_sent", m_testFramesSent},
                                {"link_outages", m_linkOutages},
                                {"impairment_received", counts(m_receiveImpairment)},
                                {"impairment_sent", counts(m_sendImpairment)},
                                {"bands_completed", m_bandsCompleted},
                                {"bands", nlohmann::ordered_json::array()}};
    for (const SCompletedBand& band : m_bands) {
        json["bands"].push_back({{"band", band.m_band},
                                 {"packets", band.m_packets},
                                 {"bytes", band.m_bytes},
                                 {"sha256", band.m_sha256}});
    }
    out << json.dump(2) << '\n';
    out.flush();
}

}  // namespace ferrolink::tools

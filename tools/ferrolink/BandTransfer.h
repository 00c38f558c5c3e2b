// One band from its first frame to the board's word that it is whole: a small state machine
// driven by CPrintJob. The band goes out in one bulk send followed by EndOfBand; an answer that
// says packets are missing sends them again from the index the board names; a band is done only
// when an answer to its own EndOfBand says the whole band is there (resend index = packet count,
// current maximum one less, the band's own number). A fatal bit, an answer that vouches for
// nothing, too many rounds or a board that stops answering fail the band with the cause.
#pragma once

#include <cstdint>
#include <string>

#include "ExitStatus.h"
#include "ReplyTimer.h"
#include "SendOptions.h"

class CJobLink;
struct SCommandReply;

enum class EBandState {
    Awaiting,  // EndOfBand posted (or to be asked again), its answer awaited
    Done,      // the board holds the whole band
    Failed,    // the job stops: Error() and Status() say why
};

// What one look at the band brought.
enum class EBandStep {
    Nothing,      // still waiting
    Answered,     // an answer came; missing packets were sent again
    Completed,    // the band is whole at the board
    LinkTrouble,  // a send was refused or no answer came while the link is not up
    Failed,
};

class CBandTransfer {
public:
    CBandTransfer(CJobLink& link, const SPrintJobOptions& options, std::uint64_t index,
                  const unsigned char* data, std::size_t bytes);
    CBandTransfer(const CBandTransfer&) = delete;
    CBandTransfer& operator=(const CBandTransfer&) = delete;

    // Sends every packet and posts EndOfBand. False when the link refused (LinkTrouble).
    bool Start(SendClock::time_point now);
    // Takes the answer if it came, asks again when it is overdue.
    EBandStep Poll(SendClock::time_point now, CRoundTrip& roundTrip);
    // Asks afresh where the band stands (after an outage).
    void AskAgain(SendClock::time_point now);
    // Leaves the band: no answer is awaited any more (its data may go).
    void Abandon();

    EBandState State() const { return m_state; }
    std::uint64_t Index() const { return m_index; }
    std::size_t Bytes() const { return m_bytes; }
    std::uint32_t Packets() const { return m_packets; }
    std::uint64_t FramesSent() const { return m_framesSent; }
    std::uint64_t FramesResent() const {
        return m_framesSent > m_packets ? m_framesSent - m_packets : 0;
    }
    int Rounds() const { return m_rounds; }
    std::uint64_t ChecksumErrorsReported() const { return m_checksumErrors; }
    double LastReplyMs() const { return m_lastReplyMs; }
    double Milliseconds() const { return m_milliseconds; }
    const std::string& Error() const { return m_error; }
    EExitStatus Status() const { return m_status; }

private:
    bool SendPackets(std::uint32_t from, std::uint32_t end);
    bool Ask(SendClock::time_point now);
    EBandStep Judge(const SCommandReply& reply, SendClock::time_point now);
    EBandStep Fail(EExitStatus status, std::string text);
    EBandStep Trouble() const;

    CJobLink* m_link;
    SPrintJobOptions m_options;
    std::uint64_t m_index;
    const unsigned char* m_data;
    std::size_t m_bytes;
    std::uint32_t m_packets;
    EBandState m_state = EBandState::Awaiting;
    std::uint32_t m_sequence = 0;  // of the EndOfBand awaiting its answer; 0: none posted
    CReplyTimer m_timer;
    SendClock::time_point m_started;
    std::uint64_t m_framesSent = 0;
    int m_rounds = 0;  // answers that sent packets again
    std::uint64_t m_checksumErrors = 0;
    double m_lastReplyMs = 0;
    double m_milliseconds = 0;
    std::string m_error;
    EExitStatus m_status = ExitStatus_Ok;
};

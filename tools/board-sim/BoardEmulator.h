// The board on one Ethernet interface: stores print data by band, answers the host's commands
// with status replies, sends periodic reports (which adapter detection listens for), and can
// impair both directions deterministically. For the tools' tests it can also fall silent, flood
// the link and report from a second board address. One thread runs it (Run), with the band
// store's digest thread beside it; other threads and signal handlers may only call Stop,
// RequestStatistics and Statistics.
//
// Embedding, e.g. in a test: construct, Open in the network namespace of the interface, Run on a
// thread, Stop, join. Without a link, SetFrameSink, OfferFrame and Tick drive the same logic.
#pragma once

#include <pcap/pcap.h>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

#include "board-sim/BandStore.h"
#include "board-sim/BoardFrameWriter.h"
#include "board-sim/EmulatorStatistics.h"
#include "board-sim/Impairment.h"
#include "common/BoardProtocol.h"

namespace ferrolink::tools {

// Frames the board sends at a given rate for a while, to try the tools' log limits: AutoReports
// with a broken checksum, or copies of the latest AutoReport (duplicates).
enum class EFloodKind { None, BadChecksum, DuplicateReports };

struct SFloodOptions {
    EFloodKind m_kind = EFloodKind::None;
    int m_framesPerSecond = 100000;
    int m_afterMs = 0;  // from the start
    int m_forMs = 1000;
};

struct SBoardEmulatorOptions {
    std::string m_interface;  // "eth1" or "rpcap://eth1"
    unsigned char m_firstByte = 0x12;
    int m_reportIntervalMs = 500;  // 0: no periodic reports
    std::uint32_t m_seed = 1;
    SImpairmentRates m_impairment;        // applied to received frames and to sent reports alike
    std::uint32_t m_requestedErrors = 0;  // bits 2..13 raised in every report until a Reset
    int m_captureBufferBytes = 64 << 20;
    // The board's print-data memory, readied while the link is quiet. Packets that do not fit
    // raise bit 2 (overflow while writing the memory) until a Reset.
    std::size_t m_boardMemoryBytes = std::size_t{256} << 20;
    std::ostream* m_events = nullptr;  // band completions and requested statistics; null: none

    // Test aids. A second board MAC (first byte; -1: none) sends an AutoReport just before each
    // of the board's own and answers nothing: a forged board, or one that is heard first.
    int m_secondBoardFirstByte = -1;
    // The board falls silent (no answer, no report, frames ignored) this long after the start
    // (-1: never), for m_silentForMs (0: for good), while its link stays up.
    int m_silentAfterMs = -1;
    int m_silentForMs = 0;
    SFloodOptions m_flood;
};

class CBoardEmulator {
public:
    using Clock = std::chrono::steady_clock;
    using FrameSink = std::function<void(const unsigned char* frame, int length)>;

    static constexpr int kSnapLength = 2048;
    static constexpr int kReadTimeoutMs = 10;
    // Bits a host (or the command line) may raise: fatal 2..7 and informational 8..13. Bits 0
    // and 1 are the board's own judgement.
    static constexpr std::uint32_t kRequestableErrors = kFatalMask | 0x3F00u;
    // A reordered frame waits for the next frame of its direction, but never longer than this.
    static constexpr int kReorderHoldMs = 20;
    // Frames held back by the impairment (delayed or reordered, both directions) take at most
    // this much memory; a frame that would exceed it is dropped instead, and counted so.
    static constexpr std::size_t kHeldBytesLimit = std::size_t{16} << 20;
    // Completed bands listed in the statistics: the most recent ones; the count covers all.
    static constexpr std::size_t kBandsListed = 4096;
    // Log records a flood of frames can cause (bad commands, losses): at most this many per
    // second, then one record saying how many were left out.
    static constexpr int kLogRecordsPerSecond = 20;
    // Lines of completed bands on the event stream: at most this many per second (more than a
    // host completes at ten times gigabit with bands of 1 MiB), then one line saying how many
    // were left out. The statistics count and list them all the same.
    static constexpr int kBandLinesPerSecond = 2000;
    // Flood frames sent in one turn of the receive loop (a turn a millisecond while flooding) at
    // most, so that a flood never starves the receive path; what is due beyond it is left out.
    static constexpr int kFloodBatch = 1024;
    // The capture hands frames over in blocks of the kernel's ring (a wake-up per block rather
    // than per frame, and no per-frame ring bookkeeping in the sender's system call on a virtual
    // link); a block that is not full is handed over after this long, so a command waits at most
    // this for its answer.
    static constexpr int kBlockTimeoutMs = 1;
    // How often the link's state is asked for (one ioctl).
    static constexpr int kLinkCheckMs = 100;

    explicit CBoardEmulator(const SBoardEmulatorOptions& options);
    ~CBoardEmulator();
    CBoardEmulator(const CBoardEmulator&) = delete;
    CBoardEmulator& operator=(const CBoardEmulator&) = delete;

    // The device an interface option names ("eth1" or "rpcap://eth1"): false, with the reason,
    // for a name no Linux interface can have (empty, too long, a slash, blanks or controls).
    static bool InterfaceName(const std::string& given, std::string& device, std::string& why);
    // Opens the interface of the calling thread's network namespace. False with the reason.
    bool Open(std::string& why);
    // Receives, answers and reports until Stop, then waits for the bands still being digested.
    // False when the capture fails, the interface vanishes or nothing is open.
    bool Run();
    // Both only set a flag (async-signal-safe); Run sees it within its read time-out.
    void Stop() { m_stop.store(true); }
    void RequestStatistics() { m_statisticsRequested.store(true); }

    // Where frames go instead of the interface (tests without a link).
    void SetFrameSink(FrameSink sink) { m_sink = std::move(sink); }
    // One frame as captured: `wireLength` is its length on the wire, `capturedLength` what of it
    // is at `frame`. Frames for other destinations are ignored.
    void OfferFrame(const unsigned char* frame, int capturedLength, int wireLength,
                    Clock::time_point now);
    // Periodic work: held frames that are due, the periodic report, the bands digested since, the
    // flood, the capture counters. The first call is the start the test aids count from.
    void Tick(Clock::time_point now);

    // Waits for the bands still being digested and records them (Run does it when it stops).
    void FinishDigests() { CollectDigests(true); }

    SEmulatorStatistics Statistics() const;
    const unsigned char* BoardMac() const { return m_writer.BoardMac(); }

private:
    struct SHeldFrame {
        std::vector<unsigned char> m_bytes;
        int m_wireLength;
        Clock::time_point m_since;  // delayed: when due; reordered: when held
    };
    // Counters written by the running thread only, read by any: relaxed loads and stores.
    struct SCounters {
        std::atomic<std::uint64_t> m_framesReceived{0}, m_printFrames{0}, m_checksumErrors{0},
            m_lossesDetected{0}, m_reportsSent{0}, m_commandsAnswered{0}, m_refusedPackets{0},
            m_otherFrames{0}, m_captureReceived{0}, m_captureDropped{0},
            m_captureInterfaceDropped{0}, m_ignoredWhileSilent{0}, m_testFramesSent{0},
            m_linkOutages{0};
    };
    struct SImpairmentCounters {
        std::atomic<std::uint64_t> m_dropped{0}, m_corrupted{0}, m_duplicated{0}, m_reordered{0},
            m_delayed{0};
    };

    static void Bump(std::atomic<std::uint64_t>& counter) {
        counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    static void Captured(u_char* user, const pcap_pkthdr* header, const u_char* bytes);
    static SImpairmentCounts Snapshot(const SImpairmentCounters& counters);

    // A frame that survived the impairment of the receive direction.
    void Process(const unsigned char* frame, int capturedLength, int wireLength,
                 Clock::time_point now);
    void ChecksumError();
    void Command(std::uint16_t symbol, std::uint32_t frameIndex, std::uint32_t sequence,
                 const unsigned char* data, int dataLength, Clock::time_point now);
    // Bands the digest thread has finished: recorded and announced. `wait`: all of them.
    void CollectDigests(bool wait);
    void BandCompleted(const SDigestedBand& band);
    bool Silent(Clock::time_point now) const;
    void Flood(Clock::time_point now);
    // Sends `copies` of one frame (not a report of the board); how many went.
    int SendCopies(const std::vector<unsigned char>& frame, int copies);
    // The interface's carrier, checked every kLinkCheckMs: announces outages and their end.
    // False when the interface has gone.
    bool WatchLink(Clock::time_point now);
    // False when this second's share of log records is spent (the record is then left out).
    bool MayLog();
    SBoardStatus StatusOf(const SBandResult& result) const;
    // Decides the frame's fate in one direction: 0 when it is dropped or held back (in `delayed`
    // or `reordered`), else how many copies go on now.
    int Impair(CImpairment& impairment, SImpairmentCounters& counts, SHeldFrame& frame,
               std::deque<SHeldFrame>& delayed, std::deque<SHeldFrame>& reordered);
    // Through the impairment of the send direction.
    void SendReport(const std::vector<unsigned char>& frame, Clock::time_point now);
    // False when it could not be sent. `report`: counted among the board's reports.
    bool Transmit(const unsigned char* frame, int length, bool report = true);
    void ReleaseReceived(std::deque<SHeldFrame>& queue, Clock::time_point upTo,
                         Clock::time_point now);
    void ReleaseSent(std::deque<SHeldFrame>& queue, Clock::time_point upTo);
    void RefreshCaptureStatistics();

    SBoardEmulatorOptions m_options;
    CBoardFrameWriter m_writer;
    CBoardFrameWriter m_secondWriter;
    CBandStore m_store;
    CImpairment m_receiveImpairment;
    CImpairment m_sendImpairment;
    pcap_t* m_handle = nullptr;
    FrameSink m_sink;

    std::uint32_t m_requestedErrors;
    bool m_memoryOverflow = false;
    std::uint32_t m_lastSequence = 0;
    std::uint32_t m_autoReports = 0;
    std::vector<unsigned char> m_reportFrame;
    Clock::time_point m_nextReport{};
    Clock::time_point m_nextCaptureStatistics{};
    std::deque<SHeldFrame> m_receiveDelayed, m_receiveReordered;
    std::deque<SHeldFrame> m_sendDelayed, m_sendReordered;
    std::size_t m_heldBytes = 0;  // in the four queues above
    int m_logRecords = 0;         // in the current second
    std::uint64_t m_logRecordsLeftOut = 0;
    Clock::time_point m_nextLogWindow{};
    int m_bandLines = 0;  // in the current second
    std::uint64_t m_bandLinesLeftOut = 0;
    bool m_started = false;
    bool m_silent = false;
    Clock::time_point m_start{};  // of the first Tick
    std::uint64_t m_floodSent = 0;
    std::vector<unsigned char> m_floodFrame, m_secondFrame;
    std::uint32_t m_secondReports = 0;
    std::string m_device;
    bool m_linkDown = false;
    Clock::time_point m_linkDownSince{}, m_nextLinkCheck{};

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_statisticsRequested{false};
    SCounters m_counters;
    SImpairmentCounters m_receiveCounts, m_sendCounts;
    mutable std::mutex m_bandsMutex;
    std::deque<SCompletedBand> m_completedBands;  // guarded by m_bandsMutex
    std::uint64_t m_bandsCompletedTotal = 0;      // guarded by m_bandsMutex
};

}  // namespace ferrolink::tools

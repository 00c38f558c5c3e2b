// The send path against an in-process board: the emulator's own logic (CBoardEmulator) behind a
// link that hands it the frames the library builds and parses its answers as the tool does. No
// privileges, no network. What a fault would show: a band called done that the board does not
// hold byte for byte, rounds counted as frames, a latched fault that reaches the first print
// frame, a claim on a board that did not answer, an outage the summary forgets.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <ferrolink/protocol/ConstValue.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/PacketDataWrapper.h>

#include "BandWindow.h"
#include "JobLink.h"
#include "JobStart.h"
#include "PrintJob.h"
#include "Timeline.h"

#include "board-sim/BoardEmulator.h"
#include "common/BoardProtocol.h"
#include "common/Sha256.h"

using namespace ferrolink::core;  // the library's core classes, linked from its archive

namespace ferrolink::tools {
namespace {

using Frame = std::vector<unsigned char>;

std::uint32_t Word(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

// What happens on the way: print frames lost on their first send, answers lost, a link that
// goes down (for some polls of its state, or for good).
struct SWire {
    std::function<bool(std::uint32_t band, std::uint32_t packet, bool first)> dropPrint;
    int dropEveryNthReply = 0;  // 0: none
    int linkDownPolls = 0;      // after the first print frames; -1: down for good
    bool corruptFirstFrameOfEachBand = false;
    bool lie = false;  // "no error" to every EndOfBand, vouching for no packet
    unsigned char lateBoard = 0;  // this board's answers arrive lateMs after the others'
    int lateMs = 0;
};

// One or more emulated boards on one link, answered in-process.
class CFakeLink : public CJobLink {
public:
    explicit CFakeLink(SWire wire = {}) : m_wire(std::move(wire)) {}

    // A board with this first MAC byte; `reports` makes it heard before any command.
    CBoardEmulator& AddBoard(unsigned char firstByte, std::uint32_t fatalBits = 0,
                             bool heard = false) {
        SBoardEmulatorOptions o;
        o.m_firstByte = firstByte;
        o.m_reportIntervalMs = 0;
        o.m_requestedErrors = fatalBits;
        o.m_boardMemoryBytes = std::size_t{64} << 20;
        auto board = std::make_unique<CBoardEmulator>(o);
        board->SetFrameSink([this](const unsigned char* f, int n) { Arrived(f, n); });
        if (heard) m_heard.push_back(firstByte);
        m_boards[firstByte] = std::move(board);
        return *m_boards[firstByte];
    }

    std::uint32_t PostCommand(std::uint16_t symbol, std::uint32_t frameIndex,
                              const std::vector<std::uint32_t>& words) override {
        Frame data;
        for (std::uint32_t w : words)
            for (int s = 24; s >= 0; s -= 8) data.push_back(static_cast<unsigned char>(w >> s));
        data.resize(60, 0);
        const std::uint32_t sequence = ++m_sequence;
        m_pending[sequence] = Frame();
        m_symbols[sequence] = symbol;
        ++m_commands;
        Offer(symbol, frameIndex, sequence, data.data(), 60, 60);
        return sequence;
    }
    bool TakeReply(std::uint32_t sequence, SCommandReply& reply) override {
        const auto at = m_pending.find(sequence);
        if (at == m_pending.end() || at->second.empty() || !Due(sequence)) return false;
        const Frame frame = std::move(at->second);
        m_pending.erase(at);
        CPacketDataWrapper parsed;
        if (!parsed.InitializeByFrameData(frame.data(), static_cast<std::uint32_t>(frame.size())))
            return false;
        reply = SCommandReply{};
        reply.m_board = frame[6];
        reply.m_frameIndex = Word(frame.data() + 16);
        if (!reply.m_status.ParseInfo(parsed.PacketData())) return false;
        if (m_wire.lie && m_symbols[sequence] == kSymbolEndOfBand) {
            reply.m_status.m_b0_Re_Frame_Ver_Err = reply.m_status.m_b1_Re_Frame_Lose_Err = false;
            reply.m_status.m_frameIndexOfResend = 0;
            reply.m_status.m_frameIndexOfCurMax = -1;
        }
        return true;
    }
    void Forget(std::uint32_t sequence) override { m_pending.erase(sequence); }
    void WaitForReply(unsigned timeoutMs) override {
        for (const auto& entry : m_pending)
            if (!entry.second.empty() && Due(entry.first)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 2u)));
    }
    bool SendPackets(const unsigned char* data, std::size_t bytes, int packetSize,
                     std::uint32_t band, std::uint32_t from, std::uint32_t end) override {
        if (LinkState() != ELinkState::Up) return false;
        for (std::uint32_t p = from; p < end; ++p) {
            m_printFrames++;
            const bool first = m_sentOnce[band].insert(p).second;
            if (m_wire.dropPrint && m_wire.dropPrint(band, p, first)) continue;
            const std::size_t at = std::size_t{p} * static_cast<std::size_t>(packetSize);
            const int length = static_cast<int>(
                std::min<std::size_t>(static_cast<std::size_t>(packetSize), bytes - at));
            Offer(kSymbolPrintData, band, p, data + at, length, packetSize,
                  m_wire.corruptFirstFrameOfEachBand && first && p == 0);
        }
        if (m_wire.linkDownPolls != 0 && !m_wentDown) {
            m_wentDown = true;
            m_downPolls = m_wire.linkDownPolls;
        }
        return true;
    }
    ELinkState LinkState() const override {
        if (m_downPolls == 0) return ELinkState::Up;
        if (m_downPolls > 0) --m_downPolls;
        return ELinkState::Down;
    }
    std::string InterfaceName() const override { return "fake0"; }
    std::uint64_t RepliesIgnored() const override { return 0; }
    unsigned char BoardAddress() const override { return CConstValue::BoardMac_Get()[0]; }
    void UseBoardAddress(unsigned char b) override { CConstValue::BoardMac_FirstByte_Update(b); }
    std::vector<unsigned char> BoardsHeard() const override { return m_heard; }

    std::uint64_t PrintFrames() const { return m_printFrames; }
    std::uint64_t Commands() const { return m_commands; }
    CBoardEmulator& Board(unsigned char b) { return *m_boards.at(b); }

private:
    void Offer(std::uint16_t symbol, std::uint32_t frameIndex, std::uint32_t packetIndex,
               const unsigned char* data, int length, int capacity, bool corrupt = false) {
        SBufferData<unsigned char> f;
        ASSERT_TRUE(CNetworkHelper::PreparePacket(symbol, frameIndex, packetIndex, data, length,
                                                  capacity, PaddingValue_Zero, f));
        if (corrupt) f.m_pBuffer[30] ^= 0x01;
        const auto to = m_boards.find(f.m_pBuffer[0]);
        if (to != m_boards.end())
            to->second->OfferFrame(f.m_pBuffer, f.m_count, f.m_count, CBoardEmulator::Clock::now());
    }
    void Arrived(const unsigned char* f, int n) {
        if (n < 24 || (Word(f + 12) & 0xFFFF) != kSymbolStatusReply) return;
        if (m_wire.dropEveryNthReply > 0 && ++m_replies % m_wire.dropEveryNthReply == 0) return;
        const auto at = m_pending.find(Word(f + 20));
        if (at == m_pending.end()) return;
        at->second.assign(f, f + n);
        if (f[6] == m_wire.lateBoard)
            m_due[at->first] =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(m_wire.lateMs);
    }
    bool Due(std::uint32_t sequence) const {
        const auto due = m_due.find(sequence);
        return due == m_due.end() || std::chrono::steady_clock::now() >= due->second;
    }

    SWire m_wire;
    std::map<unsigned char, std::unique_ptr<CBoardEmulator>> m_boards;
    std::map<std::uint32_t, Frame> m_pending;
    std::map<std::uint32_t, std::chrono::steady_clock::time_point> m_due;
    std::map<std::uint32_t, std::uint16_t> m_symbols;
    std::map<std::uint32_t, std::set<std::uint32_t>> m_sentOnce;
    std::vector<unsigned char> m_heard;
    std::uint32_t m_sequence = 1000;
    std::uint64_t m_printFrames = 0;
    std::uint64_t m_commands = 0;
    int m_replies = 0;
    bool m_wentDown = false;
    mutable int m_downPolls = 0;
};

class PrintJobTest : public ::testing::Test {
protected:
    void SetUp() override { CConstValue::BoardMac_FirstByte_Update(0x12); }
    void TearDown() override { ::unlink(m_path.c_str()); }
    // A job of `bytes` random-looking bytes.
    void MakeJob(std::size_t bytes) {
        m_job.resize(bytes);
        std::uint32_t x = 12345;
        for (auto& b : m_job) b = static_cast<unsigned char>((x = x * 1103515245u + 12345u) >> 16);
        std::ofstream(m_path, std::ios::binary)
            .write(reinterpret_cast<const char*>(m_job.data()),
                   static_cast<std::streamsize>(m_job.size()));
    }
    SPrintJobResult Run(CJobLink& link, const SPrintJobOptions& o, CTimeline* timeline = nullptr) {
        CPrintJob job(link, o);
        job.SetTimeline(timeline);
        m_reports.clear();
        return job.Run(
            m_path, m_stop,
            [this](const SBandReport& r, const SPrintJobResult&) { m_reports.push_back(r); },
            nullptr);
    }
    std::string BandSha(std::uint64_t band, std::uint64_t bandSize) const {
        const std::size_t at = static_cast<std::size_t>(band * bandSize);
        return CSha256::Hex(
            m_job.data() + at,
            std::min<std::size_t>(static_cast<std::size_t>(bandSize), m_job.size() - at));
    }

    std::string m_path = ::testing::TempDir() + "printjob-" + std::to_string(::getpid()) + ".bin";
    std::vector<unsigned char> m_job;
    std::vector<SBandReport> m_reports;
    std::atomic<bool> m_stop{false};
};

// Every band of the job reaches the board byte for byte, reported in band order with the digest
// the board computed, and the frame counts add up: each resend is a frame, not a round.
TEST_F(PrintJobTest, BandsArriveWholeAndFramesResentAreCountedAsFrames) {
    struct SCase {
        const char* name;
        std::size_t jobBytes;
        std::uint64_t bandSize;
        int packetSize;
        SWire wire;
        std::uint64_t expectResent;  // print frames sent twice; ~0: any more than zero
        std::uint64_t expectRounds;
    };
    constexpr std::uint64_t kSome = ~std::uint64_t{0};
    const SCase cases[] = {
        {"clean, last band and packet short", 70000, 16384, 1000, {}, 0, 0},
        // One packet lost per band: exactly one frame resent in one round, per band.
        {"one loss per band",
         40000,
         10000,
         500,
         {[](std::uint32_t, std::uint32_t p, bool first) { return first && p == 7; }},
         4,
         4},
        // A burst of five at the start of one band: one round of five frames.
        {"a burst",
         20000,
         10000,
         1000,
         {[](std::uint32_t b, std::uint32_t p, bool first) { return first && b == 1 && p < 5; }},
         5,
         1},
        {"every third answer lost, a corrupt frame per band",
         30000,
         5000,
         700,
         {nullptr, 3, 0, true},
         kSome,
         kSome},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        MakeJob(c.jobBytes);
        CFakeLink link(c.wire);
        link.AddBoard(0x12);
        SPrintJobOptions o;
        o.bandSize = c.bandSize;
        o.packetSize = c.packetSize;
        o.replyTimeoutMs = 200;
        const SPrintJobResult r = Run(link, o);
        ASSERT_TRUE(r.ok) << r.error;
        const std::uint64_t bands = (c.jobBytes + c.bandSize - 1) / c.bandSize;
        ASSERT_EQ(bands, m_reports.size());
        link.Board(0x12).FinishDigests();  // the board digests bands on a thread of its own
        const auto board = link.Board(0x12).Statistics();
        std::map<std::uint32_t, std::string> atBoard;
        for (const auto& b : board.m_bands) atBoard[b.m_band] = b.m_sha256;
        for (std::uint64_t i = 0; i < bands; ++i) {
            EXPECT_EQ(i, m_reports[i].index);
            EXPECT_EQ(BandSha(i, c.bandSize), m_reports[i].sha256) << "band " << i;
            EXPECT_EQ(BandSha(i, c.bandSize), atBoard[static_cast<std::uint32_t>(i)])
                << "band " << i;
        }
        const std::uint64_t packets = (c.jobBytes / c.bandSize) * PacketsPerBand(o) +
                                      ((c.jobBytes % c.bandSize) + o.packetSize - 1) /
                                          static_cast<std::uint64_t>(o.packetSize);
        EXPECT_EQ(packets, r.packets);
        EXPECT_EQ(link.PrintFrames(), r.framesSent);
        EXPECT_EQ(r.framesSent, r.packets + r.framesResent);
        if (c.expectResent == kSome) {
            EXPECT_GT(r.framesResent, 0u);
            EXPECT_GT(r.resendRounds, 0u);
        } else {
            EXPECT_EQ(c.expectResent, r.framesResent);
            EXPECT_EQ(c.expectRounds, r.resendRounds);
        }
        EXPECT_EQ(c.jobBytes, r.bytes);
        EXPECT_EQ(0u, r.linkOutages);
    }
}

// Each way a job ends early: its exit status, the cause in words, and the counts so far.
TEST_F(PrintJobTest, AJobThatCannotFinishSaysWhyWithItsOwnStatus) {
    struct SCase {
        const char* name;
        SWire wire;
        std::uint32_t fatalBits;
        std::function<void(CFakeLink&)> meddle;
        EExitStatus status;
        const char* says;
        std::uint64_t outages;
    };
    const SCase cases[] = {
        {"fatal bit raised during the job",
         {},
         0,
         [](CFakeLink& l) {
             // SetErrors straight to the board: the next answer carries bit 2.
             l.PostCommand(kSymbolSetErrors, 0, {0x04});
         },
         ExitStatus_BoardFault,
         "fatal error in band 0: bit 2 \\(the board's memory overflowed",
         0},
        // Every band in flight waits alike: whichever is looked at first past its time names
        // itself (on a busy machine that need not be band 0).
        {"a board that never answers",
         {nullptr, 1},
         0,
         nullptr,
         ExitStatus_JobFailed,
         "did not answer the end of band [0-9]+ within 300 ms \\(--tries 3",
         0},
        {"packets lost on every send",
         {[](std::uint32_t, std::uint32_t p, bool) { return p == 2; }},
         0,
         nullptr,
         ExitStatus_JobFailed,
         "band 0 is still incomplete after 50 resend rounds",
         0},
        {"the link stays down",
         {nullptr, 0, -1},
         0,
         nullptr,
         ExitStatus_LinkFailed,
         "the link on fake0 stayed down for more than 100 ms",
         1},
    };
    MakeJob(30000);
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        CFakeLink link(c.wire);
        link.AddBoard(0x12, c.fatalBits);
        if (c.meddle) c.meddle(link);
        SPrintJobOptions o;
        o.bandSize = 10000;
        o.packetSize = 1000;
        o.replyTimeoutMs = 100;
        o.commandTries = 3;
        o.linkWaitMs = 100;
        const SPrintJobResult r = Run(link, o);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(c.status, r.status);
        EXPECT_TRUE(::testing::internal::RE::PartialMatch(r.error, c.says)) << r.error;
        EXPECT_EQ(c.outages, r.linkOutages);
        EXPECT_EQ(link.PrintFrames(), r.framesSent);
    }
}

// A short outage is waited out, counted once and written to the timeline; the job completes.
TEST_F(PrintJobTest, AShortOutageIsCountedAndTheTimelineTellsIt) {
    MakeJob(50000);
    CFakeLink link({nullptr, 0, 3});
    link.AddBoard(0x12);
    SPrintJobOptions o;
    o.bandSize = 10000;
    o.packetSize = 1000;
    o.linkWaitMs = 2000;
    const std::string path = m_path + ".timeline.csv";
    CTimeline timeline;
    std::string error;
    ASSERT_TRUE(timeline.Open(path, error)) << error;
    const SPrintJobResult r = Run(link, o, &timeline);
    ASSERT_TRUE(timeline.Close(error)) << error;
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(1u, r.linkOutages);
    std::ifstream in(path);
    std::string line, last;
    int down = 0, bands = 0;
    std::getline(in, line);
    EXPECT_EQ("seconds,bytes_acked,band,frames_resent,reply_ms,link_up,event", line);
    while (std::getline(in, line)) {
        if (line.find(",0,link") != std::string::npos) ++down;
        if (line.find(",band") != std::string::npos) ++bands;
        last = line;
    }
    EXPECT_EQ(1, down);
    EXPECT_EQ(5, bands);
    EXPECT_EQ(0u, last.find_first_of("0123456789"));
    EXPECT_NE(std::string::npos, last.find(",50000,4,")) << last;
    ::unlink(path.c_str());
    // Never written through a symbolic link.
    ASSERT_EQ(0, ::symlink("/dev/null", path.c_str()));
    CTimeline refused;
    EXPECT_FALSE(refused.Open(path, error));
    EXPECT_NE(std::string::npos, error.find("symbolic link")) << error;
    ::unlink(path.c_str());
}

// Before the first print frame: the board that answers the status query is the one claimed
// (not the first one heard, nor another that answers sooner than the configured one), a latched
// fault is refused with the way out, and the Reset's answer is where the job starts.
TEST_F(PrintJobTest, TheJobStartsOnTheBoardThatAnswersAndNeverOnALatchedFault) {
    struct SCase {
        const char* name;
        unsigned char configured;
        std::vector<std::pair<unsigned char, std::uint32_t>> boards;  // first byte, fatal bits
        bool heardFirst;  // the boards were heard before the query
        EExitStatus status;
        int claimed;  // -1: none
        const char* says;
        unsigned char late = 0;  // this board answers 10 ms after the others
    };
    const SCase cases[] = {
        {"configured board answers, another heard",
         0x12,
         {{0x06, 0}, {0x12, 0}},
         true,
         ExitStatus_Ok,
         0x12,
         "boards heard on fake0 \\(first MAC byte\\): 06, 12; this job goes "
         "to 12"},
        {"configured board answers after another",
         0x12,
         {{0x06, 0}, {0x12, 0}},
         true,
         ExitStatus_Ok,
         0x12,
         "this job goes to 12",
         0x12},
        {"configured address silent: the board heard is asked",
         0x12,
         {{0x06, 0}},
         true,
         ExitStatus_Ok,
         0x06,
         "^$"},
        {"latched fault",
         0x12,
         {{0x12, 0x20}},
         false,
         ExitStatus_BoardFault,
         -1,
         "already reports a fatal error: bit 5 .*nothing was sent.*ferrolink reset -i fake0"},
        {"nobody answers",
         0x12,
         {},
         false,
         ExitStatus_JobFailed,
         -1,
         "does not answer a status query \\(2 tries of 50 ms"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        CConstValue::BoardMac_FirstByte_Update(c.configured);
        SWire wire;
        wire.lateBoard = c.late;
        wire.lateMs = 10;
        CFakeLink link(wire);
        for (const auto& [byte, bits] : c.boards) link.AddBoard(byte, bits, c.heardFirst);
        int claimed = -1;
        CJobStart start(link, 50, 2);
        const SJobStartResult r = start.Run([&](unsigned char b, std::string&, EExitStatus&) {
            claimed = b;
            return true;
        });
        EXPECT_EQ(c.status, r.status) << r.error;
        EXPECT_EQ(c.claimed, claimed);
        const std::string said = r.ok ? r.notice : r.error;
        EXPECT_TRUE(::testing::internal::RE::PartialMatch(said, c.says)) << said;
        EXPECT_EQ(0u, link.PrintFrames());
        if (r.ok) {
            EXPECT_EQ(c.claimed, r.board);
            EXPECT_EQ(r.board, link.BoardAddress());
            EXPECT_FALSE(r.reset.m_status.ExistError()) << "the Reset's answer";
        }
    }
}

// Arguments the board cannot number are refused before anything is sent; the memory bound
// holds for large bands.
TEST_F(PrintJobTest, OptionsAreCheckedAndLargeBandsStayWithinTheMemoryBound) {
    SPrintJobOptions o;
    std::string error;
    EXPECT_TRUE(CPrintJob::CheckOptions(o, error));
    o.packetSize = 1;
    EXPECT_FALSE(CPrintJob::CheckOptions(o, error));
    EXPECT_NE(std::string::npos, error.find("more than the board numbers (1048575)")) << error;
    for (std::uint64_t band :
         {std::uint64_t{1} << 20, std::uint64_t{8} << 20, std::uint64_t{64} << 20}) {
        SPrintJobOptions b;
        b.bandSize = band;
        const CBandWindow window(b);
        // Buffers and the band on the wire within 16 MiB beyond three bands.
        EXPECT_LE(window.Buffers() * band, (std::uint64_t{16} << 20) + 2 * band) << band;
        EXPECT_GE(window.Size(), 1);
        EXPECT_LE(static_cast<std::size_t>(window.Size()), window.Buffers());
    }
}

}  // namespace
}  // namespace ferrolink::tools

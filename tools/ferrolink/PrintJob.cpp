#include "PrintJob.h"

#include <deque>
#include <memory>

#include "BandSource.h"
#include "BandTransfer.h"
#include "BandWindow.h"
#include "JobLink.h"
#include "LinkWatch.h"
#include "Timeline.h"

namespace {

// A band between its first frame and its report: the transfer and the buffer it is sent from.
struct SFlight {
    SFlight(CJobLink& link, const SPrintJobOptions& options, SJobBand* b)
        : band(b), transfer(link, options, b->m_index, b->m_data, b->m_bytes) {}
    SJobBand* band;  // back with the reader once the band is done
    CBandTransfer transfer;
    std::string sha256;
};

}  // namespace

CPrintJob::CPrintJob(CJobLink& link, SPrintJobOptions options) : m_link(link), m_options(options) {}

bool CPrintJob::CheckOptions(const SPrintJobOptions& o, std::string& error) {
    if (o.packetSize < 1 || o.bandSize < 1) {
        error = "--band-size and --packet-size must be at least 1";
        return false;
    }
    const std::uint64_t packets = PacketsPerBand(o);
    if (packets >= (1u << 20)) {
        error = "a band of " + std::to_string(o.bandSize) + " bytes needs " +
                std::to_string(packets) + " packets of " + std::to_string(o.packetSize) +
                " bytes, more than the board numbers (1048575): use a smaller --band-size or a "
                "larger --packet-size";
        return false;
    }
    return true;
}

SPrintJobResult CPrintJob::Run(const std::string& path, const std::atomic<bool>& stop,
                               const BandDone& bandDone, const Notice& notice) {
    SPrintJobResult result;
    result.firstBand = m_options.fromBand;
    const CBandWindow window(m_options);
    result.window = window.Size();
    if (!CheckOptions(m_options, result.error)) {
        result.status = ExitStatus_Usage;
        return result;
    }
    CBandSource source;
    if (!source.Start(path, m_options.bandSize, window.Buffers(), m_options.fromBand,
                      m_options.digest, result.error))
        return result;
    result.totalBytes = source.Bytes();

    const auto start = SendClock::now();
    bool linkUp = true;
    std::deque<std::unique_ptr<SFlight>> flight;
    std::size_t unfinished = 0;
    CRoundTrip roundTrip;
    auto record = [&](const char* event, std::uint64_t band, double replyMs) {
        if (!m_timeline) return;
        STimelinePoint p;
        p.seconds = Milliseconds(SendClock::now() - start) / 1000.0;
        p.bytesAcked = result.bytes;
        p.band = band;
        p.framesResent = result.framesResent;
        p.replyMs = replyMs;
        p.linkUp = linkUp;
        p.event = event;
        m_timeline->Add(p);
    };
    CLinkWatch watch(m_link, m_options.linkWaitMs, stop, notice, [&](bool up) {
        linkUp = up;
        record("link", flight.empty() ? m_options.fromBand : flight.front()->transfer.Index(), -1);
    });
    // Totals over the bands in flight are added as they change, so a failed job reports them too.
    struct SCounted {
        std::uint64_t sent = 0;
        std::uint64_t resent = 0;
    };
    auto count = [&](const CBandTransfer& t, SCounted& soFar) {
        result.framesSent += t.FramesSent() - soFar.sent;
        result.framesResent += t.FramesResent() - soFar.resent;
        soFar = {t.FramesSent(), t.FramesResent()};
    };
    std::deque<SCounted> counted;  // frames of each band in flight already in the totals

    auto fail = [&](EExitStatus status, std::string text) {
        result.status = status;
        result.error = std::move(text);
        for (auto& f : flight) {
            f->transfer.Abandon();
            if (f->band) source.Release(f->band);
        }
        flight.clear();
        result.linkOutages = watch.Outages();
        result.seconds = Milliseconds(SendClock::now() - start) / 1000.0;
        return result;
    };
    // The link refused a send or the board went silent while it is not up: wait for it, then
    // ask where every band stands.
    auto recover = [&](std::string& why, EExitStatus& status) {
        const std::uint64_t outages = watch.Outages();
        if (!watch.WaitUntilUp(why, status)) return false;
        // Up all along: the band that was refused asks again by itself.
        if (watch.Outages() == outages) return true;
        const auto now = SendClock::now();
        for (auto& f : flight) f->transfer.AskAgain(now);
        return true;
    };

    bool endOfJob = false;
    for (;;) {
        if (stop.load()) return fail(ExitStatus_Interrupted, "interrupted");
        // Keep the window full: the next band goes out while earlier ones await their answer.
        while (!endOfJob && window.Admits(unfinished, flight.size())) {
            SJobBand* band = source.Next(stop);
            if (!band) {
                if (stop.load()) return fail(ExitStatus_Interrupted, "interrupted");
                if (!source.Error().empty()) return fail(ExitStatus_JobFailed, source.Error());
                endOfJob = true;
                break;
            }
            flight.push_back(std::make_unique<SFlight>(m_link, m_options, band));
            counted.emplace_back();
            ++unfinished;
            CBandTransfer& t = flight.back()->transfer;
            result.packets += t.Packets();
            if (m_firstFrame) {
                m_firstFrame();
                m_firstFrame = nullptr;
            }
            const bool started = t.Start(SendClock::now());
            count(t, counted.back());
            std::string why;
            EExitStatus status = ExitStatus_JobFailed;
            if (!started && !recover(why, status)) return fail(status, why);
        }
        if (flight.empty()) break;

        m_link.WaitForReply(20);
        for (std::size_t i = 0; i < flight.size(); ++i) {
            SFlight& f = *flight[i];
            CBandTransfer& t = f.transfer;
            if (t.State() != EBandState::Awaiting) continue;
            const EBandStep step = t.Poll(SendClock::now(), roundTrip);
            count(t, counted[i]);
            std::string why;
            EExitStatus status = ExitStatus_JobFailed;
            switch (step) {
                case EBandStep::Nothing:
                    break;
                case EBandStep::Failed:
                    result.checksumErrorsReported += t.ChecksumErrorsReported();
                    return fail(t.Status(), t.Error());
                case EBandStep::LinkTrouble:
                    if (!recover(why, status)) return fail(status, why);
                    break;
                case EBandStep::Answered:
                    ++result.resendRounds;
                    record("reply", t.Index(), t.LastReplyMs());
                    break;
                case EBandStep::Completed:
                    --unfinished;
                    result.checksumErrorsReported += t.ChecksumErrorsReported();
                    // It may wait behind an unfinished band: its buffer goes back now.
                    f.sha256 = source.Digest(f.band);
                    source.Release(f.band);
                    f.band = nullptr;
                    record("reply", t.Index(), t.LastReplyMs());
                    break;
            }
        }
        // Completed bands leave in order, so their reports (and digests) come in band order.
        while (!flight.empty() && flight.front()->transfer.State() == EBandState::Done) {
            SFlight& f = *flight.front();
            const CBandTransfer& t = f.transfer;
            SBandReport report;
            report.index = t.Index();
            report.bytes = t.Bytes();
            report.packets = t.Packets();
            report.framesResent = t.FramesResent();
            report.rounds = t.Rounds();
            report.milliseconds = t.Milliseconds();
            report.sha256 = std::move(f.sha256);
            result.bytes += t.Bytes();
            ++result.bands;
            flight.pop_front();
            counted.pop_front();
            result.seconds = Milliseconds(SendClock::now() - start) / 1000.0;
            record("band", report.index, -1);
            if (bandDone) bandDone(report, result);
        }
    }
    result.linkOutages = watch.Outages();
    result.seconds = Milliseconds(SendClock::now() - start) / 1000.0;
    result.ok = true;
    result.status = ExitStatus_Ok;
    return result;
}

#include "PrintJob.h"

#include <chrono>
#include <cstdio>

#include <ferrolink/reply/SWaitCheckParam.h>
#include <ferrolink/transmit/ActualPrintData.h>

#include "../common/BoardProtocol.h"
#include "../common/Sha256.h"
#include "BoardLink.h"

namespace tools = ferrolink::tools;
using Clock = std::chrono::steady_clock;

CPrintJob::CPrintJob(CBoardLink& link, SPrintJobOptions options)
    : m_link(link), m_options(options) {}

SPrintJobResult CPrintJob::Run(const std::vector<unsigned char>& data,
                               const std::atomic<bool>& stop) {
    SPrintJobResult result;
    const auto start = Clock::now();
    const std::uint64_t total = data.size();
    auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };

    for (std::uint64_t offset = 0, bandIndex = 0; offset < total; ++bandIndex) {
        const std::uint64_t bandBytes =
            std::min<std::uint64_t>(static_cast<std::uint64_t>(m_options.bandSize), total - offset);
        CActualPrintData band;
        band.UseBuffer(const_cast<unsigned char*>(data.data()) + offset,
                       static_cast<std::int64_t>(bandBytes));
        band.CutIntoPackets(m_options.packetSize);
        const auto packets = static_cast<std::uint32_t>(band.m_packetList.size());
        const int frameIndex = static_cast<int>(bandIndex);

        for (int attempt = 0;; ++attempt) {
            if (stop.load()) {
                result.error = "interrupted";
                return result;
            }
            if (!m_link.SendBand(band, frameIndex)) {
                result.error = "sending band " + std::to_string(bandIndex) + " failed";
                return result;
            }
            SWaitCheckParam reply(true);
            if (!m_link.Command(tools::kSymbolEndOfBand, static_cast<std::uint32_t>(bandIndex),
                                {packets, static_cast<std::uint32_t>(bandBytes),
                                 static_cast<std::uint32_t>(m_options.packetSize)},
                                m_options.replyTimeoutMs, m_options.commandTries, reply)) {
                result.error = "the board did not answer the end of band " +
                               std::to_string(bandIndex) + " within " +
                               std::to_string(m_options.replyTimeoutMs * m_options.commandTries) +
                               " ms";
                return result;
            }
            if (reply.ExistError_Fatal()) {
                char word[16];
                std::snprintf(word, sizeof word, "0x%02X",
                              (reply.m_b2_L2_Wr_DDR2_over << 2) | (reply.m_b3_L2_Rd_DDR2_FIFO_Verr << 3) |
                                  (reply.m_b4_L2_Rd_DDR2_FIFO_ZhenTou << 4) |
                                  (reply.m_b5_L2_Rd_DDR2_FIFO_Lose << 5) |
                                  (reply.m_b6_L2_Rd_DDR2_FIFO_Epty << 6) |
                                  (reply.m_b7_Rd_DDR2_FIFO_FireOverrun << 7));
                result.error = std::string("the board reports a fatal error (bits ") + word +
                               ") in band " + std::to_string(bandIndex) + "; the job is stopped";
                return result;
            }
            if (!reply.ExistError_Resend()) break;  // the band is complete
            if (reply.m_b0_Re_Frame_Ver_Err) ++result.checksumErrorsReported;
            if (attempt >= m_options.maxResendsPerBand) {
                result.error = "band " + std::to_string(bandIndex) + " still incomplete after " +
                               std::to_string(attempt) + " resends";
                return result;
            }
            const int from = reply.GetFrameIndexOfResend();
            if (from < 0 || from >= static_cast<int>(packets)) {
                result.error = "the board asks to resend from packet " + std::to_string(from) +
                               ", outside band " + std::to_string(bandIndex);
                return result;
            }
            band.m_startPacketIndex = from;
            ++result.resends;
        }
        result.bandHashes.push_back(CSha256::Hex(data.data() + offset, bandBytes));
        offset += bandBytes;
        result.bytes = offset;
        ++result.bands;
        if (m_options.progress) ShowProgress(result, total, elapsed(), false);
    }
    result.seconds = elapsed();
    result.ok = true;
    if (m_options.progress) ShowProgress(result, total, result.seconds, true);
    return result;
}

void CPrintJob::ShowProgress(const SPrintJobResult& r, std::uint64_t total, double seconds,
                             bool last) const {
    constexpr int kWidth = 30;
    const double fraction = total ? static_cast<double>(r.bytes) / static_cast<double>(total) : 1.0;
    const int filled = static_cast<int>(fraction * kWidth);
    const double frames = static_cast<double>(m_link.FramesSent());
    std::fprintf(stdout, "\r[%.*s%*s] %5.1f%% %.1f/%.1f MiB %.0f frames/s resends %llu", filled,
                 "##############################", kWidth - filled, "", fraction * 100.0,
                 static_cast<double>(r.bytes) / 1048576.0, static_cast<double>(total) / 1048576.0,
                 seconds > 0 ? frames / seconds : 0.0, static_cast<unsigned long long>(r.resends));
    if (last) std::fputc('\n', stdout);
    std::fflush(stdout);
}

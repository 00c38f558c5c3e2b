// A complete host program: open the board's adapter, receive on a worker thread, send a print
// job band by band, wait for the board's reply to each band, resend what it asks for, close.
//
// What is the library's: the classes and FLK_SendPrintData. What is the board emulator's: the
// command it sends after each band (EndOfBand, dataSymbol 0x0010), the reply symbol (0x0101) and
// the sequence number in packetIndex (docs/board-protocol.md). A real board has its own command
// set; replace those parts with it.
//
// Build (the run path lets it find the library wherever the package was installed; the last
// line is for the Boost.Log bridge):
//   c++ -std=c++17 host_example.cpp $(pkg-config --cflags --libs ferrolink)
//       -Wl,-rpath,$(pkg-config --variable=libdir ferrolink)
//       -DBOOST_LOG_DYN_LINK -lboost_log -lboost_thread -lpthread
// A host without Boost.Log (or whose standard library differs from the one Boost.Log was built
// with, such as clang's libc++) defines HOST_EXAMPLE_WITHOUT_BOOST_LOG and drops that last line:
// it then takes the library's records through the C interface's log handler instead.
#ifndef HOST_EXAMPLE_WITHOUT_BOOST_LOG
#include <boost/core/null_deleter.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <boost/make_shared.hpp>
#endif
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <vector>

#include <ferrolink/adapter/PCapOpen_Network.h>
#ifndef HOST_EXAMPLE_WITHOUT_BOOST_LOG
#include <ferrolink/outside/CustomBoostLog.h>
#endif
#include <ferrolink/protocol/BoardFrame.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/protocol/WireBytes.h>
#include <ferrolink/receive/ReceiveWPCapPacket.h>
#include <ferrolink/reply/SWaitCheckParam.h>
#include <ferrolink/reply/WaitReceivePacket.h>
#include <ferrolink/transmit/Ferrolink.h>

namespace {

// The board emulator's command set (docs/board-protocol.md), not the library's.
constexpr std::uint16_t kEndOfBand = 0x0010;
constexpr std::uint16_t kStatusReply = 0x0101;

#ifndef HOST_EXAMPLE_WITHOUT_BOOST_LOG
// Without a sink of the host's own, Boost.Log prints every record to standard output. This sink
// writes the library's failures to standard error with their severity and scope (function, file
// and line). To silence the library instead, set
//     boost::log::core::get()->set_filter(!expr::has_attr<ESeverityLevel>("Severity"));
// (its records are the ones whose severity is an ESeverityLevel), or switch logging off with
// boost::log::core::get()->set_logging_enabled(false).
void LogLibraryFailuresToStderr() {
    namespace expr = boost::log::expressions;
    namespace sinks = boost::log::sinks;
    using Sink = sinks::synchronous_sink<sinks::text_ostream_backend>;
    auto sink = boost::make_shared<Sink>();
    sink->locked_backend()->add_stream(
        boost::shared_ptr<std::ostream>(&std::cerr, boost::null_deleter()));
    sink->locked_backend()->auto_flush(true);
    sink->set_filter(expr::attr<ESeverityLevel>("Severity") >= SeverityLevel_Failure);
    sink->set_formatter(expr::stream
                        << "ferrolink [" << expr::attr<ESeverityLevel>("Severity") << "] "
                        << expr::format_named_scope(CCustomBoostLog::ScopeAttributeName,
                                                    boost::log::keywords::format = "%n (%f:%l)")
                        << ": " << expr::smessage);
    boost::log::core::get()->add_sink(sink);
}
#else
// The library's failures to standard error, with the function, file and line that logged them.
void FLK_CALL LogFailure(std::int32_t severity, const char* message, const char* function,
                         const char* file, std::uint32_t line, void*) {
    if (severity >= FLK_SEVERITY_FAILURE)
        std::fprintf(stderr, "ferrolink [%d] %s (%s:%u): %s\n", static_cast<int>(severity),
                     function, file, static_cast<unsigned>(line), message);
}
void LogLibraryFailuresToStderr() {
    flk_log_set_handler(nullptr, &LogFailure, nullptr);
}
#endif

// What the receive thread hands to the waiting thread: the descriptor it waits on and the
// sequence number of the command whose reply it wants.
struct SReplies {
    std::mutex mutex;
    CWaitReceivePacket* awaited = nullptr;
    std::uint32_t sequence = 0;
};

// Runs on the library's receive thread for every valid frame from the board; the bytes are valid
// only during the call. A reply counts when it carries the sequence of our latest command: a late
// reply to an earlier one, or a periodic report, is passed over. The library ignores the result.
bool OnFrame(const unsigned char* frame, int length, void* user) {
    auto* replies = static_cast<SReplies*>(user);
    namespace layout = ferrolink::protocol::frame;
    const ferrolink::protocol::CWireReader in(frame, length);
    std::uint16_t field = 0;
    std::uint32_t sequence = 0;
    if (!in.Load16(layout::kDataSymbolOffset, field) ||
        !in.Load32(layout::kPacketIndexOffset, sequence))
        return true;
    const auto symbol = static_cast<MacDataSymbolType>(field);
    std::lock_guard<std::mutex> lock(replies->mutex);
    if (replies->awaited && replies->awaited->IsProperDataSymbol(symbol) &&
        sequence == replies->sequence) {
        SBufferData<unsigned char> copy;
        copy.AllocateBuffer(length);
        std::memcpy(copy.m_pBuffer, frame, static_cast<std::size_t>(length));
        replies->awaited->SetFrameData(symbol, copy);
    }
    return true;
}

// Sends the emulator's EndOfBand with a fresh sequence number and waits up to 2 s for its status.
bool EndOfBand(CPCapOpen_Network& network, SReplies& replies, int band, std::uint32_t packets,
               std::uint32_t bytes, std::uint32_t packetSize, SWaitCheckParam& status) {
    static std::uint32_t nextSequence = 1;
    CWaitReceivePacket awaited(static_cast<MacDataSymbolType>(kStatusReply), 1);
    const std::uint32_t sequence = nextSequence++;
    {
        std::lock_guard<std::mutex> lock(replies.mutex);
        replies.awaited = &awaited;
        replies.sequence = sequence;
    }
    unsigned char words[12];
    const std::uint32_t values[3] = {packets, bytes, packetSize};
    const ferrolink::protocol::CWireWriter out(words, sizeof words);
    for (int i = 0; i < 3; ++i) out.Store32(4 * i, values[i]);  // big-endian
    SBufferData<unsigned char> command;
    bool ok = CNetworkHelper::PreparePacket(kEndOfBand, static_cast<std::uint32_t>(band), sequence,
                                            words, 12, 60, PaddingValue_Zero, command);
    if (void* handle = network.Handle_Lock(1000, nullptr)) {  // null: not locked, nothing to unlock
        ok = ok && CNetworkHelper::SendOnePacket(handle, command, true);
        network.Handle_UnLock();
    } else {
        ok = false;
    }
    ok = ok && awaited.WaitOne(2000, nullptr);
    {
        std::lock_guard<std::mutex> lock(replies.mutex);
        replies.awaited = nullptr;
    }
    // A count of 1: nothing replaces the accepted frame while it is read.
    return ok && status.ParseInfo(awaited.m_packetData.PacketData());
}

}  // namespace

int main() {
    LogLibraryFailuresToStderr();
    CPCapOpen_Network network;
    bool abortSearch = false;  // another thread may set it to cut the search short
    // The first argument is not used by the library (pass 0); the search listens up to 1 s per
    // candidate adapter.
    if (!network.Open_ByAuto(0, &abortSearch)) {
        std::fprintf(stderr, "no board found\n");
        return 1;
    }
    SReplies replies;
    CReceiveWPCapPacket receiver;
    if (!receiver.Create(CaptureMode_BoardToPc, network.GetPCapHandle(0xFFFFFFFFu, nullptr),
                         &OnFrame, &replies))
        return 1;

    std::vector<unsigned char> job(4 << 20, 0x5A);  // the print data of one job
    const int bandSize = 1 << 20, packetSize = 1468;
    int exitCode = 0;
    for (int band = 0; band * bandSize < static_cast<int>(job.size()); ++band) {
        // The four members the bulk send reads: the block, its packets, their size, the start.
        CActualPrintData data;
        data.m_printDataBuffer = job.data() + band * bandSize;
        for (int at = 0; at < bandSize; at += packetSize)
            data.m_packetList.push_back(
                {at, bandSize - at < packetSize ? bandSize - at : packetSize});
        data.m_packetDataSize = packetSize;
        data.m_startPacketIndex = 0;
        for (;;) {
            bool sent = false;
            if (void* handle =
                    network.Handle_Lock(0xFFFFFFFFu, nullptr)) {  // no other frame between ours
                sent = FLK_SendPrintData(handle, &data, band);
                network.Handle_UnLock();
            }
            SWaitCheckParam status(true);
            if (!sent || !EndOfBand(network, replies, band,
                                    static_cast<std::uint32_t>(data.m_packetList.size()), bandSize,
                                    packetSize, status)) {
                exitCode = 1;
                break;
            }
            if (status.ExistError_Fatal()) {
                exitCode = 2;
                break;
            }
            if (!status.ExistError_Resend()) break;                    // band complete
            data.m_startPacketIndex = status.GetFrameIndexOfResend();  // resend the rest
        }
        if (exitCode) break;
    }
    receiver.Stop();  // stop the receive thread before the handle goes
    receiver.WaitExit(0xFFFFFFFFu);
    network.Close(0xFFFFFFFFu, nullptr);
    return exitCode;
}

// A host program written from the library's classes alone, built against the installed package:
// sends a print job filled through the four members the bulk send reads and reads a frame back
// through the capture-file source. (The awaited reply is the integration guide's example's, which
// is linked against the package too.) It needs no privileges and no network: the job goes to a
// capture handle that sends nowhere.
#include <pcap/pcap.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef CONSUMER_WITH_BOOST_LOG
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <boost/make_shared.hpp>
#include <sstream>

#include <ferrolink/outside/CustomBoostLog.h>
#endif
#include <ferrolink/adapter/PCapOpen_CapFile.h>
#include <ferrolink/protocol/NetworkHelper.h>
#include <ferrolink/transmit/Ferrolink.h>

int Fail(int code, const char* what) {
    std::fprintf(stderr, "consumer: %s\n", what);
    return code;
}

#ifdef CONSUMER_WITH_BOOST_LOG
// The bridge puts the library's records into this program's Boost.Log core: severity, message and
// the named scope of the function that logged (signature, file, line).
int CheckLogBridge() {
    namespace expr = boost::log::expressions;
    using Sink = boost::log::sinks::synchronous_sink<boost::log::sinks::text_ostream_backend>;
    auto text = boost::make_shared<std::ostringstream>();
    auto sink = boost::make_shared<Sink>();
    sink->locked_backend()->add_stream(text);
    sink->set_formatter(expr::stream
                        << "[" << expr::attr<ESeverityLevel>("Severity") << "] "
                        << expr::format_named_scope(CCustomBoostLog::ScopeAttributeName,
                                                    boost::log::keywords::format = "%n (%f:%l)")
                        << ": " << expr::smessage);
    boost::log::core::get()->add_sink(sink);
    CActualPrintData nothing;
    FLK_SendPrintData(nullptr, &nothing, 0);  // refused, with a failure record
    boost::log::core::get()->remove_sink(sink);
    sink->flush();
    const std::string got = text->str();
    if (got.find("[2] ") != 0 || got.find("FLK_SendPrintData(") == std::string::npos ||
        got.find("Ferrolink.cpp:") == std::string::npos ||
        got.find("): failure") == std::string::npos)
        return Fail(12, ("the bridge gave: " + got).c_str());
    // A disabled core: nothing reaches a sink.
    boost::log::core::get()->set_logging_enabled(false);
    sink = boost::make_shared<Sink>();
    auto quiet = boost::make_shared<std::ostringstream>();
    sink->locked_backend()->add_stream(quiet);
    boost::log::core::get()->add_sink(sink);
    FLK_SendPrintData(nullptr, &nothing, 0);
    boost::log::core::get()->remove_sink(sink);
    boost::log::core::get()->set_logging_enabled(true);
    if (!quiet->str().empty()) return Fail(13, "a record passed a disabled core");
    return 0;
}
#endif

int main(int argc, char** argv) {
#ifdef CONSUMER_WITH_BOOST_LOG
    if (int failed = CheckLogBridge()) return failed;
#endif
    // Bulk send: a job of three packets, the first one already sent, filled through its four
    // members alone (buffer, slices, packet size, start). The handle sends nowhere, so the
    // transmission is short, which the library logs and does not count as a failure.
    std::vector<unsigned char> print(2000, 0x5A);
    CActualPrintData job;
    job.m_printDataBuffer = print.data();
    job.m_packetList = {{0, 1000}, {1000, 900}, {1900, 100}};
    job.m_packetDataSize = 1000;
    job.m_startPacketIndex = 1;
    pcap_t* nowhere = pcap_open_dead(DLT_EN10MB, 65535);
    const bool sent = FLK_SendPrintData(nowhere, &job, 7);
    pcap_close(nowhere);
    if (!sent) return Fail(4, "a job filled through its four members was refused");

    // The capture-file source reads back a frame that a capture file holds.
    SBufferData<unsigned char> frame;
    const unsigned char abc[] = {'a', 'b', 'c'};
    if (!CNetworkHelper::PreparePacket_Print(1, 0, PaddingValue_Zero, 3, abc, 3, frame))
        return Fail(1, "frame not built");
    const std::string path = std::string(argc > 1 ? argv[1] : ".") + "/consumer-frame.pcap";
    pcap_t* writer = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dump = pcap_dump_open(writer, path.c_str());
    if (!dump) return Fail(9, "capture file not written");
    pcap_pkthdr header{};
    header.caplen = header.len = static_cast<bpf_u_int32>(frame.m_count);
    pcap_dump(reinterpret_cast<u_char*>(dump), &header, frame.m_pBuffer);
    pcap_dump_close(dump);
    pcap_close(writer);
    CPCapOpen_CapFile file;
    if (!file.Initialize_DeviceName(path.c_str()) || !file.OpenPCap())
        return Fail(10, "capture file not opened");
    pcap_pkthdr* read = nullptr;
    const u_char* bytes = nullptr;
    if (pcap_next_ex(file.GetPCapHandle(), &read, &bytes) != 1 || read->caplen != 88 ||
        std::memcmp(bytes, frame.m_pBuffer, 88) != 0)
        return Fail(11, "capture file read back wrongly");
    file.ClosePCap();
    std::remove(path.c_str());

    std::printf("consumer: bulk send and capture file\n");
    return 0;
}

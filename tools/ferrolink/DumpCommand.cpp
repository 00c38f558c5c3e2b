#include "DumpCommand.h"

#include <fcntl.h>
#include <unistd.h>

#include <pcap/pcap.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "CommandSupport.h"
#include "FrameText.h"
#include "common/ConsoleLog.h"

using json = nlohmann::json;

namespace {

constexpr int kMaxSnapshot = 262144;  // libpcap's largest, and tcpdump's default

// The capture file being written: every write checked, and on a failure the file cut back to its
// last whole frame, so that what was written stays readable.
class CCaptureFile {
public:
    ~CCaptureFile() { Close(); }

    bool Open(const std::string& path, pcap_t* source, int snapshot, std::string& error) {
        m_path = path;
        m_dead = pcap_open_dead(pcap_datalink(source), snapshot);
        if (!m_dead) {
            error = "cannot write " + path + ": out of memory";
            return false;
        }
        if (path == "-") {
            m_dumper = pcap_dump_fopen(m_dead, stdout);
        } else {
            // Never through a link somebody planted, and never writable by others.
            const int fd =
                ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (fd < 0) {
                error = "cannot write " + path + ": " +
                        (errno == ELOOP ? std::string("it is a symbolic link, not followed")
                                        : std::strerror(errno));
                return false;
            }
            FILE* file = ::fdopen(fd, "wb");
            if (!file) {
                error = "cannot write " + path + ": " + std::strerror(errno);
                ::close(fd);
                return false;
            }
            m_dumper = pcap_dump_fopen(m_dead, file);
            if (!m_dumper) std::fclose(file);
        }
        if (!m_dumper) {
            error = "cannot write " + path + ": " + pcap_geterr(m_dead);
            return false;
        }
        return Flush(error);
    }

    void Write(const pcap_pkthdr* header, const u_char* frame) {
        pcap_dump(reinterpret_cast<u_char*>(m_dumper), header, frame);
        ++m_pending;
    }

    // Pushes what was written to the system; on failure cuts the file at the last whole frame.
    bool Flush(std::string& error) {
        if (pcap_dump_flush(m_dumper) != 0 || std::ferror(pcap_dump_file(m_dumper))) {
            const int cause = errno;
            const int fd = fileno(pcap_dump_file(m_dumper));
            if (m_path != "-" && m_good > 0 && ::ftruncate(fd, m_good) == 0) {
                // What stdio still holds would land past the cut at close: send it nowhere.
                const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
                if (null >= 0) {
                    ::dup2(null, fd);
                    ::close(null);
                }
            }
            error = "cannot write " + m_path + ": " + std::strerror(cause ? cause : EIO) + " (" +
                    std::to_string(m_frames) +
                    " frames written before it; the file ends at the last whole frame)";
            return false;
        }
        m_frames += m_pending;
        m_pending = 0;
        const std::int64_t at = pcap_dump_ftell64(m_dumper);
        if (at > 0) m_good = at;
        return true;
    }

    // Flushes, makes it durable where the file system can, and closes; false with the cause.
    bool Finish(std::string& error) {
        if (!m_dumper) return true;
        bool ok = Flush(error);
        FILE* file = pcap_dump_file(m_dumper);
        if (ok && m_path != "-" && ::fsync(fileno(file)) != 0 && errno != EINVAL &&
            errno != EROFS) {
            error = "cannot write " + m_path + ": " + std::strerror(errno);
            ok = false;
        }
        const int fd = ok && m_path != "-" ? ::dup(fileno(file)) : -1;
        pcap_dump_close(m_dumper);
        m_dumper = nullptr;
        if (fd >= 0 && ::close(fd) != 0) {
            error = "cannot write " + m_path + ": " + std::strerror(errno);
            ok = false;
        }
        return ok;
    }

    long Frames() const { return m_frames; }

private:
    void Close() {
        if (m_dumper) pcap_dump_close(m_dumper);
        if (m_dead) pcap_close(m_dead);
        m_dumper = nullptr;
        m_dead = nullptr;
    }

    std::string m_path;
    pcap_t* m_dead = nullptr;
    pcap_dumper_t* m_dumper = nullptr;
    long m_frames = 0;   // whole frames known to be written
    long m_pending = 0;  // written since the last flush
    std::int64_t m_good = 0;
};

struct SDumpState {
    const SDumpOptions* options = nullptr;
    CCaptureFile* file = nullptr;
    long captured = 0;
    long badChecksum = 0;
};

const char* DirectionWord(const unsigned char* frame, int length) {
    const std::string text = CFrameText::Direction(frame, length);
    return text == "board > PC" ? "in" : text == "PC > board" ? "out" : "unknown";
}

void DumpOne(u_char* user, const pcap_pkthdr* header, const u_char* frame) {
    auto* state = reinterpret_cast<SDumpState*>(user);
    const SDumpOptions& o = *state->options;
    if (o.count > 0 && state->captured >= o.count) return;
    pcap_pkthdr kept = *header;
    if (o.snapshotLength > 0 && kept.caplen > static_cast<bpf_u_int32>(o.snapshotLength))
        kept.caplen = static_cast<bpf_u_int32>(o.snapshotLength);
    const int length = static_cast<int>(kept.caplen);
    ++state->captured;
    // Frames cut by -s are not counted as bad: their checksum cannot be checked.
    const bool cut = CFrameText::IsCut(frame, length);
    const bool checksumOk = CFrameText::ChecksumValid(frame, length);
    if (!checksumOk && !cut) ++state->badChecksum;
    if (state->file) {
        state->file->Write(&kept, frame);
    } else if (o.json) {
        json out = {{"event", "frame"},
                    {"time", CFrameText::Rfc3339(kept.ts.tv_sec, kept.ts.tv_usec)},
                    {"direction", DirectionWord(frame, length)},
                    {"length", kept.len},
                    {"captured_length", kept.caplen},
                    {"checksum_ok", cut ? json(nullptr) : json(checksumOk)},
                    {"summary", CFrameText::Summary(frame, length)}};
        PrintJsonLine(out.dump());
    } else {
        std::string line = CFrameText::Timestamp(kept.ts.tv_sec, kept.ts.tv_usec) + " " +
                           CFrameText::Summary(frame, length) + "\n";
        if (o.hex > 0) line += CFrameText::Hex(frame, length, o.hex > 1);
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    if (o.count > 0 && state->captured >= o.count) g_stop.store(true);
}

}  // namespace

CDumpCommand::CDumpCommand(CLI::App& app)
    : m_command(app.add_subcommand("dump", "show board frames of both directions, or save them")) {
    SDumpOptions& o = m_options;
    AddDeviceOption(m_command, m_device,
                    "capture on this interface instead of searching (watches without claiming)");
    m_command->add_option("-w,--write", o.write,
                          "write a pcap capture file (- for standard output)");
    m_command->add_option("-r,--read", o.read, "read a pcap capture file (- for standard input)");
    m_command->add_option("-c,--count", o.count, "stop after this many frames; 0: no limit")
        ->check(kNotNegative);
    m_command->add_option("--seconds", o.seconds, "stop after this long; 0: at Ctrl-C")
        ->check(kNotNegative);
    m_command
        ->add_option("-s,--snapshot-length", o.snapshotLength,
                     "bytes kept of each frame; 0: the whole frame")
        ->check(CLI::Range(0, kMaxSnapshot));
    m_command
        ->add_option("-Q,--direction", o.direction, "in (board > PC), out (PC > board) or inout")
        ->check(CLI::IsMember({"in", "out", "inout"}));
    m_command->add_flag("-x", m_hex, "each frame's bytes in hexadecimal too");
    m_command->add_flag("-X", m_hexText, "each frame's bytes in hexadecimal and as text");
    m_command->add_flag("--json", o.json,
                        "one JSON object per frame and a summary line, for scripts");
    m_command->add_flag("-v,--verbose", "also the library's log records (--log-level failure)");
    m_command->add_option("filter", m_filterWords,
                          "capture filter expression (pcap-filter syntax), e.g. \"len > 100\"");
}

int CDumpCommand::Run() {
    for (const auto& w : m_filterWords)
        m_options.filter += (m_options.filter.empty() ? "" : " ") + w;
    m_options.hex = m_hexText ? 2 : m_hex ? 1 : 0;
    const SDumpOptions& o = m_options;
    if (o.json && o.write == "-")
        return Fail(ExitStatus_Usage, "--json and -w - both want standard output");
    CBoardLink link;
    pcap_t* source = nullptr;
    char errors[PCAP_ERRBUF_SIZE] = "";
    const bool live = o.read.empty();
    if (!live) {
        source = pcap_open_offline(o.read.c_str(), errors);
        if (!source) return Fail(ExitStatus_JobFailed, "cannot read " + o.read + ": " + errors);
    } else {
        std::string error;
        EExitStatus status = ExitStatus_JobFailed;
        if (!link.Open(m_device, &g_abort, error, status)) return Fail(status, error);
        source = static_cast<pcap_t*>(link.Handle());
    }
    struct SCloser {
        pcap_t* file;
        ~SCloser() {
            if (file) pcap_close(file);
        }
    } closer{live ? nullptr : source};
    // Frames to the PC, and frames to any board (bytes 1..5 of its address).
    const std::string toPc = "ether dst 7b:23:fc:98:10:99";
    const std::string toBoard = "(ether[1:4] = 0x3456789a and ether[5] = 0xbc)";
    std::string expression = o.direction == "in"    ? toPc
                             : o.direction == "out" ? toBoard
                                                    : "(" + toPc + " or " + toBoard + ")";
    if (!o.filter.empty()) expression += " and (" + o.filter + ")";
    bpf_program program{};
    if (pcap_compile(source, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0)
        return Fail(ExitStatus_Usage,
                    "bad capture filter \"" + o.filter + "\": " + pcap_geterr(source));
    const bool filtered = pcap_setfilter(source, &program) == 0;
    pcap_freecode(&program);
    if (!filtered)
        return Fail(ExitStatus_LinkFailed,
                    std::string("cannot install the capture filter: ") + pcap_geterr(source));
    CCaptureFile file;
    SDumpState state;
    state.options = &o;
    std::string writeError;
    if (!o.write.empty()) {
        const int snapshot = o.snapshotLength > 0 ? o.snapshotLength : kMaxSnapshot;
        if (!file.Open(o.write, source, snapshot, writeError))
            return Fail(ExitStatus_JobFailed, writeError);
        state.file = &file;
    }
    if (live)
        std::fprintf(stderr, "ferrolink: capturing on %s (%s), Ctrl-C to stop\n",
                     link.DeviceName().c_str(), expression.c_str());
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(o.seconds);
    int status = ExitStatus_Ok;
    std::string failure;
    while (!g_stop.load() && (o.seconds <= 0 || std::chrono::steady_clock::now() < end)) {
        const int n = pcap_dispatch(source, 64, &DumpOne, reinterpret_cast<u_char*>(&state));
        if (state.file && n > 0 && !file.Flush(writeError)) {
            failure = writeError;
            status = ExitStatus_JobFailed;
            break;
        }
        ferrolink::tools::CConsoleLog::Flush();
        if (n == PCAP_ERROR_BREAK || (n == 0 && !live)) break;  // the end of the file
        if (n < 0) {
            failure = std::string("capture failed: ") + pcap_geterr(source);
            status = ExitStatus_LinkFailed;
            break;
        }
    }
    pcap_stat stats{};
    const bool counted = live && pcap_stats(source, &stats) == 0;
    // Finished also after a failed capture, so that its frames reach the file; a write error is
    // told unless an earlier failure already was.
    if (state.file && !file.Finish(writeError) && failure.empty()) {
        failure = writeError;
        status = ExitStatus_JobFailed;
    }
    std::fflush(stdout);
    if (!failure.empty()) std::fprintf(stderr, "ferrolink: %s\n", failure.c_str());
    const unsigned long long dropped = counted ? stats.ps_drop + stats.ps_ifdrop : 0;
    if (o.json) {
        json out = {{"event", "summary"},
                    {"time", CFrameText::NowRfc3339()},
                    {"frames_captured", state.captured},
                    {"frames_dropped", counted ? json(dropped) : json(nullptr)},
                    {"frames_failed_checksum", state.badChecksum},
                    {"exit_status", status}};
        if (!failure.empty()) out["error"] = failure;
        PrintJsonLine(out.dump());
    }
    std::fprintf(stderr, "%ld frames captured\n", state.captured);
    if (counted) std::fprintf(stderr, "%llu frames dropped by kernel\n", dropped);
    std::fprintf(stderr, "%ld frames failed checksum\n", state.badChecksum);
    // Ctrl-C is how a capture ends: a success, as for tcpdump and tshark.
    return status;
}

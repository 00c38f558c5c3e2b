#include "common/ConsoleLog.h"

#include <boost/log/attributes/named_scope.hpp>
#include <boost/log/core/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>

#include <ferrolink/host/outside/CustomBoostLog.h>

#include "platform/LocalTime.h"

namespace logging = boost::log;
namespace sinks = boost::log::sinks;

namespace ferrolink::tools {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kWindow = std::chrono::seconds(1);
// Kinds tracked at once; records of further kinds share one bucket, so a sender of ever new
// texts cannot grow the table.
constexpr std::size_t kMaxKinds = 64;

std::string LocalTime() {
    const auto now = std::chrono::system_clock::now();
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
    std::tm local{};
    long offset = 0;
    CLocalTime::Split(static_cast<std::time_t>(us / 1000000), local, offset);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%06lld", static_cast<long long>(us % 1000000));
    return text;
}

// "bool CReceiveWPCapPacket::Run(int)" -> "CReceiveWPCapPacket::Run": the signature and the
// build's absolute path say nothing to the reader of a console.
std::string ShortFunction(const std::string& signature) {
    const std::size_t open = signature.find('(');
    const std::string head = signature.substr(0, open);
    const std::size_t space = head.rfind(' ');
    return space == std::string::npos ? head : head.substr(space + 1);
}

std::string BaseName(const char* path) {
    const std::string text = path ? path : "";
    const std::size_t slash = text.find_last_of("/\\");
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

// The kind of a record: where it was logged and its text with every run of digits alike.
std::string KindOf(const std::string& place, const std::string& message) {
    std::string kind = place + '\n';
    bool inDigits = false;
    for (const char c : message) {
        const bool digit = c >= '0' && c <= '9';
        if (!digit) kind += c;
        if (digit && !inDigits) kind += '#';
        inDigits = digit;
    }
    return kind;
}

std::string Grouped(unsigned long long n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), ",");
    return digits;
}

void WriteLine(const std::string& line) {
    // One write per line, so that lines of two threads never interleave.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

class CRateLimitedBackend : public sinks::basic_sink_backend<sinks::synchronized_feeding> {
public:
    void consume(const logging::record_view& record) {
        const auto severity = logging::extract<ESeverityLevel>("Severity", record);
        const char* name = severity && *severity >= SeverityLevel_Failure ? "failure" : "notice";
        const auto message = logging::extract<std::string>("Message", record);
        const std::string text = message ? *message : std::string();
        std::string place;
        const auto scope = logging::extract<logging::attributes::named_scope::value_type>(
            CCustomBoostLog::ScopeAttributeName, record);
        if (scope && !scope->empty())
            place = ShortFunction(scope->back().scope_name.c_str()) + ", " +
                    BaseName(scope->back().file_name.c_str()) + ":" +
                    std::to_string(scope->back().line);
        const auto now = Clock::now();
        Flush(now, false);
        std::string kind = KindOf(place, text);
        if (m_kinds.size() >= kMaxKinds && m_kinds.find(kind) == m_kinds.end()) kind.clear();
        SKind& k = m_kinds[kind];
        if (k.shown == 0 && k.more == 0) k.windowStart = now;
        if (k.shown < CConsoleLog::kBurst) {
            ++k.shown;
            WriteLine(LocalTime() + " [" + name + "] " + text +
                      (place.empty() ? "" : " (" + place + ")") + "\n");
            return;
        }
        if (k.more++ == 0) {
            k.severity = name;
            k.example = kind.empty() ? "various records" : text;
        }
        k.lastMore = now;
    }

    // Summaries of the kinds whose window has passed (all of them when `all`).
    void Flush(Clock::time_point now, bool all) {
        for (auto it = m_kinds.begin(); it != m_kinds.end();) {
            SKind& k = it->second;
            if (!all && now - k.windowStart < kWindow) {
                ++it;
                continue;
            }
            if (k.more > 0) {
                const double seconds =
                    std::chrono::duration<double>(k.lastMore - k.windowStart).count();
                char span[32];
                std::snprintf(span, sizeof span, "%.1f", seconds < 0.1 ? 0.1 : seconds);
                std::string spanText = span;
                if (spanText.size() > 2 && spanText.compare(spanText.size() - 2, 2, ".0") == 0)
                    spanText.resize(spanText.size() - 2);
                WriteLine(LocalTime() + " [" + k.severity + "] and " + Grouped(k.more) +
                          " more like it in " + spanText + " s (" + k.example + ")\n");
            }
            it = m_kinds.erase(it);
        }
    }

private:
    struct SKind {
        Clock::time_point windowStart;
        Clock::time_point lastMore;
        int shown = 0;
        unsigned long long more = 0;
        std::string severity;
        std::string example;
    };
    std::map<std::string, SKind> m_kinds;
};

using Sink = sinks::synchronous_sink<CRateLimitedBackend>;
boost::shared_ptr<Sink> g_sink;

void FlushAllAtExit() {
    CConsoleLog::Flush(true);
}

}  // namespace

bool CConsoleLog::IsLevel(const std::string& level) {
    return level == "off" || level == "failure" || level == "notice";
}

bool CConsoleLog::Install(const std::string& level) {
    if (!IsLevel(level)) return false;
    auto core = logging::core::get();
    if (level == "off") {
        core->set_logging_enabled(false);
        return true;
    }
    core->set_logging_enabled(true);
    if (g_sink) return true;
    const ESeverityLevel lowest = level == "notice" ? SeverityLevel_Notice : SeverityLevel_Failure;
    g_sink = boost::make_shared<Sink>();
    g_sink->set_filter([lowest](const logging::attribute_value_set& values) {
        const auto severity = logging::extract<ESeverityLevel>("Severity", values);
        return severity && *severity >= lowest;
    });
    core->add_sink(g_sink);
    std::atexit(&FlushAllAtExit);
    return true;
}

void CConsoleLog::Flush(bool all) {
    if (g_sink) g_sink->locked_backend()->Flush(Clock::now(), all);
}

}  // namespace ferrolink::tools

#include "support/LogCapture.h"

#include <boost/log/attributes/named_scope.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions/message.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>

// The Boost.Log bridge a host compiles: by its source path where the tests see the library's tree
// (white-box tests), by its installed path where they see only what a host sees.
#if __has_include(<ferrolink/host/outside/CustomBoostLog.h>)
#include <ferrolink/host/outside/CustomBoostLog.h>
#else
#include <ferrolink/outside/CustomBoostLog.h>
#endif

namespace logging = boost::log;

struct CLogCapture::SState {
    mutable std::mutex mutex;
    std::vector<SCapturedRecord> records;
};

namespace {

class CaptureBackend
    : public logging::sinks::basic_sink_backend<logging::sinks::synchronized_feeding> {
public:
    explicit CaptureBackend(std::shared_ptr<CLogCapture::SState> state)
        : m_state(std::move(state)) {}

    void consume(const logging::record_view& rec) {
        SCapturedRecord r;
        if (auto msg = logging::extract<std::string>(
                logging::aux::default_attribute_names::message(), rec))
            r.message = *msg;
        if (auto sev = logging::extract<ESeverityLevel>("Severity", rec)) r.severity = *sev;
        if (auto scopes = logging::extract<logging::attributes::named_scope_list>(
                CCustomBoostLog::ScopeAttributeName, rec)) {
            if (!scopes->empty()) {
                const auto& top = scopes->back();
                r.scope = top.scope_name.c_str();
                r.file = top.file_name.c_str();
                r.line = top.line;
            }
        }
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->records.push_back(std::move(r));
    }

private:
    std::shared_ptr<CLogCapture::SState> m_state;
};

using CaptureSink = logging::sinks::synchronous_sink<CaptureBackend>;

// Without any sink Boost.Log prints every record to the console; tests read records through
// CLogCapture instead, so a sink that drops them keeps the test output readable.
class DropBackend : public logging::sinks::basic_sink_backend<logging::sinks::concurrent_feeding> {
public:
    void consume(const logging::record_view&) {}
};

const bool g_quietConsole = [] {
    logging::core::get()->add_sink(
        boost::make_shared<logging::sinks::synchronous_sink<DropBackend>>());
    return true;
}();

}  // namespace

struct CLogCapture::SSinkHolder {
    boost::shared_ptr<CaptureSink> sink;
};

CLogCapture::CLogCapture() : m_state(std::make_shared<SState>()), m_sink(new SSinkHolder) {
    m_sink->sink = boost::make_shared<CaptureSink>(boost::make_shared<CaptureBackend>(m_state));
    logging::core::get()->add_sink(m_sink->sink);
}

CLogCapture::~CLogCapture() {
    logging::core::get()->remove_sink(m_sink->sink);
    m_sink->sink->flush();
}

std::vector<SCapturedRecord> CLogCapture::Records() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->records;
}

std::vector<std::string> CLogCapture::Messages() const {
    std::vector<std::string> out;
    for (const auto& r : Records()) out.push_back(r.message);
    return out;
}

int CLogCapture::Count(const std::string& message, int severity) const {
    int n = 0;
    for (const auto& r : Records())
        if (r.message == message && (severity == 0 || r.severity == severity)) ++n;
    return n;
}

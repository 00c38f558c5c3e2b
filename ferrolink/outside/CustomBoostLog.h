// The process's one logger. Every record of the library goes through BoostLog_Get(); where records
// end up is for the host to decide by adding Boost.Log sinks: the library adds none.
#pragma once

#include <boost/log/attributes/named_scope.hpp>
#include <boost/log/core/core.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_logger.hpp>
#include <boost/current_function.hpp>
#include <boost/log/utility/string_literal.hpp>
#include <cstddef>
#include <optional>

#include <ferrolink/FerrolinkExport.h>

// Two levels are used: notices that do not fail an operation, and failures.
enum ESeverityLevel {
    SeverityLevel_Notice = 1,
    SeverityLevel_Failure = 2,
};

class FERROLINK_API CCustomBoostLog {
public:
    using LoggerType = boost::log::sources::severity_logger_mt<ESeverityLevel>;

    // Name of the named-scope attribute every record of ours carries.
    static constexpr const char* ScopeAttributeName = "Scope";

    // The logger is created on first use, with the scope attribute attached to it, so that records
    // carry their scope whatever the host configured.
    static LoggerType& BoostLog_Get();
};

namespace ferrolink::outside {

// Holds the named scope ("function" kind: signature, file, line) for the duration of one record.
// While logging is disabled nothing is pushed and the record's stream is never evaluated.
class LogScope {
public:
    // Arrays, not pointers: the scope keeps the literals without copying them.
    template <std::size_t N, std::size_t M>
    LogScope(const char (&function)[N], const char (&file)[M], unsigned line)
        : m_pending(boost::log::core::get()->get_logging_enabled()) {
        if (m_pending)
            m_sentry.emplace(boost::log::string_literal(function), boost::log::string_literal(file),
                             line, boost::log::attributes::named_scope_entry::function);
    }
    bool Pending() const { return m_pending; }
    void Done() { m_pending = false; }

private:
    bool m_pending;
    std::optional<boost::log::attributes::named_scope::sentry> m_sentry;
};

}  // namespace ferrolink::outside

// FLK_LOG(1) << "text" << value;   severity 1 = notice, 2 = failure.
// The stream is evaluated only when the core would accept the record, so nothing is formatted
// while logging is disabled. Safe as the sole statement of an unbraced if.
#define FLK_LOG(severity)                                                                     \
    for (::ferrolink::outside::LogScope flk_log_scope_(BOOST_CURRENT_FUNCTION, __FILE__, __LINE__); \
         flk_log_scope_.Pending(); flk_log_scope_.Done())                                     \
    BOOST_LOG_SEV(::CCustomBoostLog::BoostLog_Get(), static_cast<ESeverityLevel>(severity))

// The process's one logger, reached through CCustomBoostLog::BoostLog_Get(), and the bridge that
// puts the library's records into it. The library itself links no logging library: it hands each
// record (severity, message, the logging function's signature, file, line) across the C interface,
// and this header, compiled by the host against the host's own Boost.Log, installs the handler
// that logs it here with that severity under a named scope of kind "function". Including this
// header in any translation unit of a host program installs the bridge at start-up; link
// Ferrolink::boostlog. Where records end up is the host's choice of sinks: the library adds none.
// Nothing is formatted while the host's logging core is disabled.
#pragma once

#include <boost/log/attributes/named_scope.hpp>
#include <boost/log/core/core.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_logger.hpp>
#include <boost/log/utility/string_literal.hpp>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include <ferrolink/api/ferrolink.h>

// Two levels are used: notices that do not fail an operation, and failures.
enum ESeverityLevel {
    SeverityLevel_Notice = FLK_SEVERITY_NOTICE,
    SeverityLevel_Failure = FLK_SEVERITY_FAILURE,
};

class CCustomBoostLog {
public:
    using LoggerType = boost::log::sources::severity_logger_mt<ESeverityLevel>;

    // Name of the named-scope attribute every record of ours carries.
    static constexpr const char* ScopeAttributeName = "Scope";

    // The logger is created on first use, with the scope attribute attached to it, so that records
    // carry their scope whatever the host configured. Leaked on purpose: records may still be
    // written from other static destructors at exit.
    static LoggerType& BoostLog_Get() {
        static LoggerType* logger = [] {
            auto* l = new LoggerType();
            l->add_attribute(ScopeAttributeName, boost::log::attributes::named_scope());
            return l;
        }();
        return *logger;
    }
};

namespace ferrolink::boostlog {

// The scope texts arrive as pointers to literals (valid while the library is loaded), but
// Boost.Log makes its literal type only from arrays. The type holds exactly a start and a length;
// the result is checked, and a mismatch gives an empty text rather than a wrong one.
inline boost::log::string_literal Literal(const char* text) {
    struct SShape {
        const char* start;
        std::size_t length;
    };
    static_assert(sizeof(boost::log::string_literal) == sizeof(SShape),
                  "string_literal is a start and a length");
    const SShape shape{text, std::strlen(text)};
    boost::log::string_literal literal;
    std::memcpy(static_cast<void*>(&literal), &shape, sizeof shape);
    if (literal.c_str() != text || literal.size() != shape.length)
        return boost::log::string_literal();
    return literal;
}

inline std::int32_t FLK_CALL Enabled(std::int32_t, void*) {
    return boost::log::core::get()->get_logging_enabled() ? 1 : 0;
}

inline void FLK_CALL Forward(std::int32_t severity, const char* message, const char* function,
                             const char* file, std::uint32_t line, void*) {
    // Nothing may unwind into the library.
    try {
        boost::log::attributes::named_scope::sentry scope(
            Literal(function), Literal(file), line,
            boost::log::attributes::named_scope_entry::function);
        BOOST_LOG_SEV(CCustomBoostLog::BoostLog_Get(), static_cast<ESeverityLevel>(severity))
            << message;
    } catch (...) {
    }
}

inline const bool g_bridgeInstalled = (flk_log_set_handler(&Enabled, &Forward, nullptr), true);

}  // namespace ferrolink::boostlog

#include "ConsoleLog.h"

#include <boost/log/attributes/named_scope.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/utility/setup/console.hpp>

#include <ferrolink/host/outside/CustomBoostLog.h>

#include "FrameText.h"

namespace logging = boost::log;
namespace expr = boost::log::expressions;

namespace {

// Records read like the tool's other lines: local time, the severity's name, the message.
void Format(const logging::record_view& record, logging::formatting_ostream& out) {
    const auto severity = logging::extract<ESeverityLevel>("Severity", record);
    const char* name = "notice";
    if (severity && *severity == SeverityLevel_Failure) name = "failure";
    out << CFrameText::Now() << " [" << name << "] " << record[expr::smessage];
    // Where it was logged: a bare "failure" means little without it.
    const auto scope = logging::extract<logging::attributes::named_scope::value_type>(
        CCustomBoostLog::ScopeAttributeName, record);
    if (scope && !scope->empty())
        out << " (" << scope->back().scope_name.c_str() << ", " << scope->back().file_name.c_str()
            << ":" << scope->back().line << ")";
}

}  // namespace

bool CConsoleLog::Install(const std::string& level) {
    int minimum = 0;
    if (level == "notice")
        minimum = 1;
    else if (level == "failure")
        minimum = 2;
    else if (level != "off")
        return false;
    if (minimum == 0) {
        logging::core::get()->set_logging_enabled(false);
        return true;
    }
    auto sink = logging::add_console_log(std::clog);
    sink->set_formatter(&Format);
    sink->set_filter(expr::attr<ESeverityLevel>("Severity") >=
                     static_cast<ESeverityLevel>(minimum));
    return true;
}

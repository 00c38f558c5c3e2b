#include "ConsoleLog.h"

#include <boost/log/attributes/named_scope.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/utility/setup/console.hpp>

#include <ferrolink/outside/CustomBoostLog.h>

namespace logging = boost::log;
namespace expr = boost::log::expressions;

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
    auto sink = logging::add_console_log(
        std::clog, logging::keywords::format =
                       (expr::stream << "[" << expr::attr<ESeverityLevel>("Severity") << "] "
                                     << expr::smessage));
    sink->set_filter(expr::attr<ESeverityLevel>("Severity") >= static_cast<ESeverityLevel>(minimum));
    return true;
}

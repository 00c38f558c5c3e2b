#include "board-sim/ConsoleLog.h"

#include <boost/log/core/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/utility/setup/console.hpp>
#include <iostream>

#include <ferrolink/host/outside/CustomBoostLog.h>

namespace ferrolink::tools {

namespace {

void Format(const boost::log::record_view& record, boost::log::formatting_ostream& out) {
    const auto severity = boost::log::extract<ESeverityLevel>("Severity", record);
    out << "ferrolink-board-sim: "
        << (severity && *severity >= SeverityLevel_Failure ? "failure: " : "notice: ")
        << record[boost::log::expressions::smessage];
}

}  // namespace

bool CConsoleLog::IsLevel(const std::string& level) {
    return level == "off" || level == "failure" || level == "notice";
}

bool CConsoleLog::Install(const std::string& level) {
    if (!IsLevel(level)) return false;
    auto core = boost::log::core::get();
    if (level == "off") {
        core->set_logging_enabled(false);
        return true;
    }
    const ESeverityLevel lowest = level == "notice" ? SeverityLevel_Notice : SeverityLevel_Failure;
    auto sink = boost::log::add_console_log(std::clog);
    sink->set_formatter(&Format);
    sink->set_filter([lowest](const boost::log::attribute_value_set& values) {
        const auto severity = boost::log::extract<ESeverityLevel>("Severity", values);
        return severity && *severity >= lowest;
    });
    return true;
}

}  // namespace ferrolink::tools

#include <ferrolink/outside/CustomBoostLog.h>

#include <boost/log/attributes/named_scope.hpp>

CCustomBoostLog::LoggerType& CCustomBoostLog::BoostLog_Get() {
    // Leaked on purpose: records may still be written from other static destructors at exit.
    static LoggerType* logger = [] {
        auto* l = new LoggerType();
        l->add_attribute(ScopeAttributeName, boost::log::attributes::named_scope());
        return l;
    }();
    return *logger;
}

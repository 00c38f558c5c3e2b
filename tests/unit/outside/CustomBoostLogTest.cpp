#include <gtest/gtest.h>

#include <string>

#include <boost/log/core.hpp>

#include <ferrolink/outside/CustomBoostLog.h>
#include "support/LogCapture.h"

namespace {

int g_evaluations = 0;
int Evaluated() {
    ++g_evaluations;
    return 42;
}

void LogFromHere() { FLK_LOG(1) << "value 0x" << std::hex << 255 << std::dec << " n=" << 7; }

TEST(CustomBoostLogTest, RecordCarriesSeverityMessageAndFunctionScope) {
    CLogCapture log;
    LogFromHere();
    const auto records = log.Records();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("value 0xff n=7", records[0].message);
    EXPECT_EQ(1, records[0].severity);
    EXPECT_NE(std::string::npos, records[0].scope.find("LogFromHere")) << records[0].scope;
    EXPECT_NE(std::string::npos, records[0].scope.find("void")) << "full signature expected";
    EXPECT_NE(std::string::npos, records[0].file.find("CustomBoostLogTest.cpp"));
    EXPECT_GT(records[0].line, 0u);
}

TEST(CustomBoostLogTest, NothingIsFormattedWhenLoggingIsDisabled) {
    CLogCapture log;
    g_evaluations = 0;
    boost::log::core::get()->set_logging_enabled(false);
    FLK_LOG(2) << "never " << Evaluated();
    boost::log::core::get()->set_logging_enabled(true);
    EXPECT_EQ(0, g_evaluations);
    EXPECT_TRUE(log.Records().empty());
    FLK_LOG(2) << "now " << Evaluated();
    EXPECT_EQ(1, g_evaluations);
    EXPECT_TRUE(log.Contains("now 42", 2));
}

TEST(CustomBoostLogTest, ScopeIsClosedAfterTheRecord) {
    CLogCapture log;
    FLK_LOG(1) << "first";
    FLK_LOG(1) << "second";
    const auto records = log.Records();
    ASSERT_EQ(2u, records.size());
    EXPECT_NE(records[0].line, records[1].line);
    EXPECT_EQ(records[0].scope, records[1].scope);
}

}  // namespace

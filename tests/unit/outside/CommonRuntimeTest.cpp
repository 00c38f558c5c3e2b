// The maker's common runtime: wait handles, the named claim, logging, splitting, adapter table.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <boost/log/core.hpp>

#include <ferrolink/outside/AdapterInfo.h>
#include <ferrolink/outside/CustomAutoResetEvent.h>
#include <ferrolink/outside/CustomBoostLog.h>
#include <ferrolink/outside/CustomManualResetEvent.h>
#include <ferrolink/outside/CustomMutex.h>
#include <ferrolink/outside/NamedClaim.h>
#include <ferrolink/outside/StringUtils.h>
#include <ferrolink/outside/WaitReleaseMutex.h>
#include "support/LogCapture.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Whether another thread obtains the mutex within `ms` (and gives it back).
bool OtherThreadGets(CCustomMutex& mutex, unsigned int ms) {
    return std::async(std::launch::async, [&] { return CWaitReleaseMutex(mutex, ms).IsOwnMutex(); })
        .get();
}

TEST(WaitHandlesTest, MutexIsReentrantAndExcludesOtherThreadsUntilFullyReleased) {
    CCustomMutex mutex;
    ASSERT_TRUE(mutex.WaitOne(0));
    ASSERT_TRUE(mutex.WaitOne(0));  // the owner nests
    EXPECT_FALSE(OtherThreadGets(mutex, 20));
    EXPECT_TRUE(mutex.ReleaseOne());
    EXPECT_FALSE(OtherThreadGets(mutex, 20)) << "one release of two leaves it owned";
    EXPECT_TRUE(mutex.ReleaseOne());
    EXPECT_TRUE(OtherThreadGets(mutex, 100));
    EXPECT_FALSE(mutex.ReleaseOne()) << "a thread that does not own it cannot release it";
    {
        CWaitReleaseMutex first(mutex, 100);
        ASSERT_TRUE(first.IsOwnMutex());
        EXPECT_FALSE(OtherThreadGets(mutex, 10));  // its failed scope releases nothing
        EXPECT_TRUE(mutex.IsOwnedByCurrentThread());
    }
    EXPECT_TRUE(OtherThreadGets(mutex, 100)) << "the scope gave its level back";
}

TEST(WaitHandlesTest, AbortFlagEndsAnUnlimitedWaitWithinMilliseconds) {
    CCustomMutex mutex;
    ASSERT_TRUE(mutex.WaitOne());
    bool abort = false;
    auto waiter = std::async(std::launch::async, [&] {
        return CWaitReleaseMutex(mutex, 0xFFFFFFFFu, &abort).IsOwnMutex();
    });
    EXPECT_EQ(std::future_status::timeout, waiter.wait_for(std::chrono::milliseconds(50)));
    const auto setAt = Clock::now();
    __atomic_store_n(&abort, true, __ATOMIC_RELEASE);
    EXPECT_FALSE(waiter.get());
    EXPECT_LT(MillisecondsSince(setAt), 50);
}

TEST(WaitHandlesTest, ManualEventStaysSetAutoEventPassesOneWaiter) {
    CCustomManualResetEvent manual(true);
    EXPECT_TRUE(manual.WaitOne(0));
    EXPECT_TRUE(manual.WaitOne(0));
    manual.Reset();
    const auto start = Clock::now();
    EXPECT_FALSE(manual.WaitOne(30));
    EXPECT_GE(MillisecondsSince(start), 25);

    CCustomAutoResetEvent automatic(false);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        automatic.Set();
    });
    EXPECT_TRUE(automatic.WaitOne(2000));
    setter.join();
    EXPECT_FALSE(automatic.WaitOne(0)) << "the wait consumed the signal";
}

TEST(WaitHandlesTest, NamedClaimIsExclusiveAcrossProcessesAndFreedWithItsHolder) {
    const std::string dir = ::testing::TempDir() + "ferrolink-claims-" + std::to_string(::getpid());
    ::setenv("FERROLINK_LOCK_DIR", dir.c_str(), 1);
    {
        CCustomAutoResetEvent first("Quon_PCap_12", false);
        EXPECT_TRUE(first.IsCreated());
        EXPECT_FALSE(CCustomAutoResetEvent("Quon_PCap_12", false).IsCreated());
        EXPECT_TRUE(CCustomAutoResetEvent("Quon_PCap_56", false).IsCreated());
        const pid_t child = ::fork();
        if (child == 0) ::_exit(CNamedClaim().Acquire("Quon_PCap_12") ? 1 : 0);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(0, WEXITSTATUS(status)) << "another process cannot claim it either";
    }
    EXPECT_TRUE(CCustomAutoResetEvent("Quon_PCap_12", false).IsCreated());

    // A killed holder frees it too.
    const pid_t holder = ::fork();
    if (holder == 0) {
        CNamedClaim claim;
        if (claim.Acquire("Quon_PCap_77")) ::raise(SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(holder, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the holder had its claim when it was killed";
    EXPECT_TRUE(CNamedClaim().Acquire("Quon_PCap_77"));
    ::unsetenv("FERROLINK_LOCK_DIR");
}

int g_evaluations = 0;
int Evaluated() {
    return ++g_evaluations;
}

void LogFromHere() {
    FLK_LOG(1) << "value 0x" << std::hex << 255 << std::dec << " n=" << 7;
    FLK_LOG(2) << "second";
}

TEST(CustomBoostLogTest, EachRecordCarriesItsSeverityAndAScopeClosedAfterIt) {
    CLogCapture log;
    LogFromHere();
    BOOST_LOG_SEV(CCustomBoostLog::BoostLog_Get(), SeverityLevel_Notice) << "bare";
    const auto records = log.Records();
    ASSERT_EQ(3u, records.size());
    EXPECT_EQ("value 0xff n=7", records[0].message);
    EXPECT_EQ(1, records[0].severity);
    EXPECT_EQ(2, records[1].severity);
    EXPECT_EQ(0u, records[0].scope.find("void ")) << "the full signature: " << records[0].scope;
    EXPECT_NE(std::string::npos, records[0].scope.find("LogFromHere()")) << records[0].scope;
    EXPECT_NE(std::string::npos, records[0].file.find("CommonRuntimeTest.cpp"));
    EXPECT_EQ(records[0].scope, records[1].scope);
    EXPECT_EQ(records[0].line + 1, records[1].line);
    EXPECT_EQ("", records[2].scope) << "no scope outlives its record";

    // Nothing is formatted while logging is disabled.
    boost::log::core::get()->set_logging_enabled(false);
    FLK_LOG(2) << "never " << Evaluated();
    boost::log::core::get()->set_logging_enabled(true);
    EXPECT_EQ(0, g_evaluations);
    EXPECT_EQ(3u, log.Records().size());
}

// Splitting the driver's name block is covered with the adapter list; these are the other modes.
TEST(StringUtilsTest, KeepsEmptyPiecesWhenAskedAndAppendsWithoutClearing) {
    std::vector<std::string> pieces = {"stale"};
    StringUtils::Split("a,,b,", ",", pieces, true, true);
    EXPECT_EQ((std::vector<std::string>{"a", "", "b", ""}), pieces);
    StringUtils::Split("c", ",", pieces, false, false);
    EXPECT_EQ((std::vector<std::string>{"a", "", "b", "", "c"}), pieces);
}

TEST(AdapterInfoTest, ConnectionIsLookedUpByHardwareAddress) {
    std::vector<SAdapterInfo> table(2);
    for (unsigned char i = 0; i < 2; ++i) {
        table[i].address[0] = 0x02;
        table[i].address[5] = i;
        table[i].addressLength = 6;
    }
    table[1].status = CAdapterInfo::Status_Connected;
    EXPECT_TRUE(CAdapterInfo::IsAdapterConnected({0x02, 0, 0, 0, 0, 1}, table));
    EXPECT_FALSE(CAdapterInfo::IsAdapterConnected({0x02, 0, 0, 0, 0, 0}, table)) << "link down";
    EXPECT_FALSE(CAdapterInfo::IsAdapterConnected({0x02, 0, 0, 0, 0, 3}, table)) << "not listed";
    EXPECT_FALSE(CAdapterInfo::IsAdapterConnected({}, table)) << "failed MAC query";

    std::vector<SAdapterInfo> system;
    ASSERT_TRUE(CAdapterInfo::AllAdpaterInfo_Get(system));
    bool loopback = false;
    for (const auto& a : system) loopback = loopback || a.name == "lo";
    EXPECT_TRUE(loopback) << "every system has a loopback interface";
}

}  // namespace

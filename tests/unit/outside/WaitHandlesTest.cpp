#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <ferrolink/outside/CustomAutoResetEvent.h>
#include <ferrolink/outside/CustomManualResetEvent.h>
#include <ferrolink/outside/CustomMutex.h>
#include <ferrolink/outside/NamedClaim.h>
#include <ferrolink/outside/WaitReleaseMutex.h>

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(WaitHandlesTest, MutexIsReentrantAndExcludesOtherThreads) {
    CCustomMutex mutex;
    ASSERT_TRUE(mutex.WaitOne(0));
    ASSERT_TRUE(mutex.WaitOne(0));  // the owner nests

    std::atomic<int> otherResult{-1};
    std::thread other([&] { otherResult = mutex.WaitOne(30) ? 1 : 0; });
    other.join();
    EXPECT_EQ(0, otherResult) << "owned twice, so another thread times out";

    EXPECT_TRUE(mutex.ReleaseOne());
    std::thread stillOwned([&] { otherResult = mutex.WaitOne(20) ? 1 : 0; });
    stillOwned.join();
    EXPECT_EQ(0, otherResult) << "one release of two leaves it owned";

    EXPECT_TRUE(mutex.ReleaseOne());
    std::thread now([&] {
        otherResult = mutex.WaitOne(100) ? 1 : 0;
        mutex.ReleaseOne();
    });
    now.join();
    EXPECT_EQ(1, otherResult);
    EXPECT_FALSE(mutex.ReleaseOne()) << "a thread that does not own it cannot release it";
}

TEST(WaitHandlesTest, AbortFlagEndsAnUnlimitedWaitWithinMilliseconds) {
    CCustomMutex mutex;
    ASSERT_TRUE(mutex.WaitOne());
    bool abort = false;
    std::atomic<bool> result{true};
    std::atomic<long long> waited{0};
    std::thread waiter([&] {
        const auto start = Clock::now();
        CWaitReleaseMutex lock(mutex, 0xFFFFFFFFu, &abort);
        result = lock.IsOwnMutex();
        waited = MillisecondsSince(start);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto setAt = Clock::now();
    __atomic_store_n(&abort, true, __ATOMIC_RELEASE);
    waiter.join();
    EXPECT_FALSE(result);
    EXPECT_LT(MillisecondsSince(setAt), 50);
    EXPECT_GE(waited, 45);
    mutex.ReleaseOne();
}

TEST(WaitHandlesTest, ScopedOwnershipReleasesOnlyWhatItObtained) {
    CCustomMutex mutex;
    {
        CWaitReleaseMutex first(mutex, 100);
        ASSERT_TRUE(first.IsOwnMutex());
        std::thread other([&] {
            CWaitReleaseMutex second(mutex, 10);
            EXPECT_FALSE(second.IsOwnMutex());
        });  // its destructor must not release the first owner's level
        other.join();
        EXPECT_TRUE(mutex.IsOwnedByCurrentThread());
    }
    EXPECT_FALSE(mutex.IsOwnedByCurrentThread());
    std::thread after([&] {
        CWaitReleaseMutex third(mutex, 100);
        EXPECT_TRUE(third.IsOwnMutex());
    });
    after.join();
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

TEST(WaitHandlesTest, NamedClaimIsExclusiveAndFreedWithItsHolder) {
    const std::string dir = ::testing::TempDir() + "ferrolink-claims-" + std::to_string(::getpid());
    ::setenv("FERROLINK_LOCK_DIR", dir.c_str(), 1);
    {
        CCustomAutoResetEvent first("Quon_PCap_12", false);
        EXPECT_TRUE(first.IsCreated());
        CCustomAutoResetEvent second("Quon_PCap_12", false);
        EXPECT_FALSE(second.IsCreated()) << "same process, second holder";
        CCustomAutoResetEvent other("Quon_PCap_56", false);
        EXPECT_TRUE(other.IsCreated());

        // Another process cannot claim it either.
        const pid_t child = ::fork();
        if (child == 0) {
            CNamedClaim claim;
            ::_exit(claim.Acquire("Quon_PCap_12") ? 1 : 0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(0, WEXITSTATUS(status));
    }
    CCustomAutoResetEvent again("Quon_PCap_12", false);
    EXPECT_TRUE(again.IsCreated()) << "destroying the holder frees the name";

    // A killed holder frees it too.
    CNamedClaim mine;
    mine.Acquire("Quon_PCap_77");
    ASSERT_TRUE(mine.IsHeld());
    mine.Release();
    int ready[2];
    ASSERT_EQ(0, ::pipe(ready));
    const pid_t holder = ::fork();
    if (holder == 0) {
        CNamedClaim claim;
        const char ok = claim.Acquire("Quon_PCap_77") ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char got = 0;
    ASSERT_EQ(1, ::read(ready[0], &got, 1));
    EXPECT_EQ('y', got);
    EXPECT_FALSE(CNamedClaim().Acquire("Quon_PCap_77"));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_TRUE(CNamedClaim().Acquire("Quon_PCap_77"));
    ::close(ready[0]);
    ::close(ready[1]);
    ::unsetenv("FERROLINK_LOCK_DIR");
}

}  // namespace

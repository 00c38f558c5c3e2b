#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include <ferrolink/outside/OsThread.h>
#include <ferrolink/receive/QuonBaseThread.h>
#include "support/LogCapture.h"

namespace {

class CCountingWorker : public CQuonBaseThread<CCountingWorker> {
public:
    std::atomic<int> loops{0};
    std::atomic<int> finallies{0};
    int throwIn = 0;  // 1 Prepare, 2 OneLoop, 3 Finally
    int stopAfter = -1;
    bool prepareResult = true;

protected:
    bool Prepare() override {
        if (throwIn == 1) throw std::runtime_error("prepare");
        return prepareResult;
    }
    bool OneLoop() override {
        if (throwIn == 2) throw 42;
        if (++loops == stopAfter) Stop();  // the worker stops itself
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }
    void Finally() override {
        ++finallies;
        if (throwIn == 3) throw std::logic_error("finally");
    }
};

TEST(WorkerThreadTest, RunsPrepareLoopFinallyAndStopsFromEitherSide) {
    CCountingWorker w;
    ASSERT_TRUE(w.Start("Counting"));
    w.WaitReady();
    EXPECT_TRUE(w.IsThreadSuccess());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(w.WaitExit(0));
    w.Stop();
    EXPECT_TRUE(w.WaitExit(1000));
    EXPECT_GT(w.loops.load(), 0);
    EXPECT_EQ(1, w.finallies.load());

    CCountingWorker self;
    self.stopAfter = 3;
    ASSERT_TRUE(self.Start("Self"));
    EXPECT_TRUE(self.WaitExit(1000));
    EXPECT_EQ(3, self.loops.load());

    CCountingWorker refused;
    refused.prepareResult = false;
    ASSERT_TRUE(refused.Start("Refused"));
    EXPECT_TRUE(refused.WaitExit(1000));
    EXPECT_FALSE(refused.IsThreadSuccess());
    EXPECT_EQ(0, refused.loops.load());
    EXPECT_EQ(1, refused.finallies.load());
}

TEST(WorkerThreadTest, PauseHoldsTheLoopUntilResume) {
    CCountingWorker w;
    ASSERT_TRUE(w.Start("Pausing"));
    w.Pause();
    ASSERT_TRUE(w.WaitPaused(1000));
    const int atPause = w.loops.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(atPause, w.loops.load());
    w.Resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_GT(w.loops.load(), atPause);
    w.Pause();
    ASSERT_TRUE(w.WaitPaused(1000));
    w.Stop();  // a paused worker still stops
    EXPECT_TRUE(w.WaitExit(1000));
}

TEST(WorkerThreadTest, ExceptionsEndTheThreadWithOneRecord) {
    for (int where : {1, 2, 3}) {
        CLogCapture log;
        CCountingWorker w;
        w.throwIn = where;
        ASSERT_TRUE(w.Start("Thrower"));
        if (where == 3) w.Stop();  // Finally runs once the loop ends
        EXPECT_TRUE(w.WaitExit(1000)) << where;
        EXPECT_EQ(1, log.Count("Thread terminated with an exception. name = Thrower", 2)) << where;
        EXPECT_EQ(1u, log.Records().size()) << where;
    }
}

TEST(WorkerThreadTest, FailedCreationAndWaitsWithoutAThread) {
    CLogCapture log;
    CCountingWorker w;
    EXPECT_TRUE(w.WaitExit(0)) << "never started: nothing to wait for";
    w.WaitReady();
    w.Stop();
    ferrolink::outside::FailThreadCreationForTesting(1);
    EXPECT_FALSE(w.Start("CReceiveWPCapPacket"));
    EXPECT_EQ(1, log.Count("Start thread error. name = CReceiveWPCapPacket", 2));
    EXPECT_TRUE(w.WaitExit(0));
    ASSERT_TRUE(w.Start("Again"));  // and the object is usable afterwards
    w.Stop();
    EXPECT_TRUE(w.WaitExit(1000));
}

TEST(WorkerThreadTest, ManyStartStopCycles) {
    for (int i = 0; i < 200; ++i) {
        CCountingWorker w;
        ASSERT_TRUE(w.Start("Cycle"));
        w.Stop();
        ASSERT_TRUE(w.WaitExit(2000)) << i;
    }
}

}  // namespace

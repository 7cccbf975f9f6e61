#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/VirtualClock.h"

TEST(VirtualClock, WaitEndsAtDeadlineOrWhenEventIsSet)
{
    CVirtualClock clock;
    CEvent event;
    std::atomic<int> nResult{-1};
    std::thread waiter([&] { nResult = clock.WaitFor(event, 5000) ? 1 : 0; });
    ASSERT_TRUE(clock.WaitForWaiters(1));
    clock.Advance(4999);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(nResult.load(), -1) << "woke before its deadline";
    clock.Advance(1);
    waiter.join();
    EXPECT_EQ(nResult.load(), 0);
    EXPECT_EQ(clock.NowMs(), 5000);

    std::thread waiter2([&] { nResult = clock.WaitFor(event, 60000) ? 1 : 0; });
    ASSERT_TRUE(clock.WaitForWaiters(1));
    event.Set();
    waiter2.join();
    EXPECT_EQ(nResult.load(), 1);
    EXPECT_EQ(clock.NowMs(), 5000) << "setting the event must not move time";
}

TEST(VirtualClock, AutoResetEventWakesOneWaitAndAutoAdvanceSkipsPauses)
{
    CVirtualClock clock;
    CEvent autoEvent(false, true);
    EXPECT_TRUE(clock.WaitFor(autoEvent, 0));
    EXPECT_FALSE(autoEvent.IsSet()) << "an auto-reset event is consumed by the wait that sees it";

    clock.SetAutoAdvance(true);
    clock.Sleep(20000);
    EXPECT_EQ(clock.NowMs(), 20000);
    EXPECT_FALSE(clock.WaitFor(autoEvent, 300));
    EXPECT_EQ(clock.NowMs(), 20300);
}

TEST(VirtualClock, LocalTimeFollowsVirtualTime)
{
    CVirtualClock clock(QDateTime(QDate(2014, 3, 7), QTime(9, 5, 2)));
    clock.Advance(61000);
    EXPECT_EQ(clock.LocalTime(), QDateTime(QDate(2014, 3, 7), QTime(9, 6, 3)));
}

TEST(RealClock, WaitReturnsWhenSetFromAnotherThread)
{
    CRealClock clock;
    CEvent event;
    std::thread setter([&] { event.Set(); });
    EXPECT_TRUE(clock.WaitFor(event, 10000));
    setter.join();
    CEvent never;
    EXPECT_FALSE(clock.WaitFor(never, 1));
}

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

#include "desktop/TimerService.h"
#include "support/TestHome.h"
#include "support/desktop/VirtualTimerService.h"

namespace {

const int kOwnerA = 0;
const int kOwnerB = 1;
constexpr unsigned kTimerAnimation = 200;
constexpr unsigned kTimerDots = 300;

TEST(TimerService, RealTimersTickUntilKilledAndRestartWithTheNewPeriod)
{
    CTimerService service;
    int nTicks = 0;
    service.SetTimer(&kOwnerA, kTimerAnimation, 5, [&] { ++nTicks; });
    EXPECT_TRUE(service.IsTimerRunning(&kOwnerA, kTimerAnimation));
    EXPECT_FALSE(service.IsTimerRunning(&kOwnerB, kTimerAnimation));
    ASSERT_TRUE(QTest::qWaitFor([&] { return nTicks >= 3; }, 5000));

    // Restarting replaces the callback and the period.
    int nNewTicks = 0;
    service.SetTimer(&kOwnerA, kTimerAnimation, 2, [&] { ++nNewTicks; });
    const int nOldTicks = nTicks;
    ASSERT_TRUE(QTest::qWaitFor([&] { return nNewTicks >= 2; }, 5000));
    EXPECT_EQ(nTicks, nOldTicks);

    service.KillTimer(&kOwnerA, kTimerAnimation);
    service.KillTimer(&kOwnerA, kTimerAnimation); // a second kill does nothing
    EXPECT_FALSE(service.IsTimerRunning(&kOwnerA, kTimerAnimation));
    EXPECT_EQ(service.RunningCount(), 0);
    const int nAfterKill = nNewTicks;
    QTest::qWait(30);
    EXPECT_EQ(nNewTicks, nAfterKill);
}

TEST(TimerService, RealTimerKilledOrRestartedFromItsOwnCallback)
{
    CTimerService service;
    int nOnce = 0;
    service.SetTimer(&kOwnerA, kTimerAnimation, 1, [&] {
        ++nOnce;
        service.KillTimer(&kOwnerA, kTimerAnimation);
    });
    std::vector<std::string> restarted;
    service.SetTimer(&kOwnerA, kTimerDots, 1, [&] {
        restarted.push_back("first");
        service.SetTimer(&kOwnerA, kTimerDots, 1, [&] {
            restarted.push_back("second");
            service.KillAllTimers(&kOwnerA);
        });
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.RunningCount() == 0; }, 5000));
    QTest::qWait(20);
    EXPECT_EQ(nOnce, 1);
    EXPECT_EQ(restarted, (std::vector<std::string>{"first", "second"}));
}

TEST(TimerService, KillAllStopsOnlyThatOwnersTimers)
{
    CTimerService service;
    service.SetTimer(&kOwnerA, kTimerAnimation, 1000, {});
    service.SetTimer(&kOwnerA, kTimerDots, 1000, {});
    service.SetTimer(&kOwnerB, kTimerDots, 1000, {});
    service.KillAllTimers(&kOwnerA);
    EXPECT_FALSE(service.IsTimerRunning(&kOwnerA, kTimerAnimation));
    EXPECT_FALSE(service.IsTimerRunning(&kOwnerA, kTimerDots));
    EXPECT_TRUE(service.IsTimerRunning(&kOwnerB, kTimerDots));

    // A killed timer leaves nothing behind that could wake the program.
    service.KillAllTimers(&kOwnerB);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(service.findChildren<QTimer*>().isEmpty());
}

class VirtualTimerServiceTest : public testing::Test
{
protected:
    CTestHome m_home;
    CVirtualTimerService m_timers{m_home.Clock()};
    std::vector<std::string> m_fired;

    CVirtualTimerService::Callback Record(const std::string& sName)
    {
        return [this, sName] { m_fired.push_back(sName + "@" + std::to_string(m_home.Clock().NowMs())); };
    }
};

TEST_F(VirtualTimerServiceTest, FiresInDeadlineOrderWithTheClockAtEachDeadline)
{
    m_timers.SetTimer(&kOwnerA, kTimerDots, 500, Record("dots"));
    m_timers.SetTimer(&kOwnerA, kTimerAnimation, 100, Record("anim"));
    m_timers.SetTimer(&kOwnerB, kTimerDots, 500, Record("b"));
    m_timers.Advance(499);
    EXPECT_EQ(m_fired, (std::vector<std::string>{"anim@100", "anim@200", "anim@300", "anim@400"}));
    EXPECT_EQ(m_home.Clock().NowMs(), 499);
    m_fired.clear();
    m_timers.Advance(101);
    // Equal deadlines fire in the order the timers were set.
    EXPECT_EQ(m_fired, (std::vector<std::string>{"dots@500", "b@500", "anim@500", "anim@600"}));
    EXPECT_EQ(m_home.Clock().NowMs(), 600);
}

TEST_F(VirtualTimerServiceTest, CallbacksKillRestartAndStartTimersWithinOneAdvance)
{
    int nFrames = 0;
    m_timers.SetTimer(&kOwnerA, kTimerAnimation, 100, [&] {
        m_fired.push_back("frame@" + std::to_string(m_home.Clock().NowMs()));
        if (++nFrames == 3)
            m_timers.KillTimer(&kOwnerA, kTimerAnimation);
    });
    m_timers.SetTimer(&kOwnerB, kTimerDots, 150, [&] {
        m_fired.push_back("dots@" + std::to_string(m_home.Clock().NowMs()));
        // Restart with a longer period, and start a one-shot timer that falls inside this step.
        m_timers.SetTimer(&kOwnerB, kTimerDots, 1000, Record("dots2"));
        m_timers.SetTimer(&kOwnerB, 900, 20, [&] {
            m_fired.push_back("once@" + std::to_string(m_home.Clock().NowMs()));
            m_timers.KillTimer(&kOwnerB, 900);
        });
    });
    m_timers.Advance(2000);
    EXPECT_EQ(m_fired,
              (std::vector<std::string>{"frame@100", "dots@150", "once@170", "frame@200", "frame@300", "dots2@1150"}));
    EXPECT_FALSE(m_timers.IsTimerRunning(&kOwnerA, kTimerAnimation));
    EXPECT_EQ(m_timers.Period(&kOwnerB, kTimerDots), 1000);
    EXPECT_EQ(m_timers.RunningCount(), 1);

    m_fired.clear();
    EXPECT_TRUE(m_timers.AdvanceToNextTick(&kOwnerB, kTimerDots));
    EXPECT_EQ(m_fired, (std::vector<std::string>{"dots2@2150"}));
    m_timers.KillAllTimers(&kOwnerB);
    EXPECT_FALSE(m_timers.AdvanceToNextTick(&kOwnerB, kTimerDots));
    EXPECT_EQ(m_home.Clock().NowMs(), 2150);
}

} // namespace

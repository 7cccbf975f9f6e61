#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QElapsedTimer>
#include <QTest>

#include "desktop/InputActivityMonitor.h"
#include "desktop/TimerService.h"
#include "desktop/X11InputSource.h"
#include "support/TestHome.h"
#include "support/desktop/FakeX11Desktop.h"
#include "support/desktop/SessionEnvironment.h"
#include "support/desktop/VirtualTimerService.h"

namespace {

const char* KindName(EInputKind eKind)
{
    switch (eKind) {
    case INPUT_KEYBOARD: return "key";
    case INPUT_POINTER_MOVED: return "moved";
    case INPUT_UNKNOWN: return "input";
    }
    return "?";
}

// A back end the test drives by hand.
class CHandSource final : public IIdleSource
{
public:
    CHandSource(IIdleSourceSink& sink, bool bThreshold) : m_sink(sink), m_bThreshold(bThreshold) {}
    const char* Name() const override { return "hand"; }
    bool IsThreshold() const override { return m_bThreshold; }
    void Start(std::int64_t nIdleMs) override
    {
        m_starts.push_back(nIdleMs);
        m_bRunning = true;
        if (m_bIdleAtStart) // a back end that cannot watch: the countdown alone decides
            m_sink.SourceIdled();
    }
    void Stop() override { m_bRunning = false; }

    IIdleSourceSink& m_sink;
    const bool m_bThreshold;
    std::vector<std::int64_t> m_starts;
    bool m_bRunning = false;
    bool m_bIdleAtStart = false;
};

// The countdown rules with a hand-driven back end, in virtual time.
class ActivityCountdownTest : public testing::Test
{
protected:
    void Make(bool bThreshold)
    {
        m_pMonitor = std::make_unique<CInputActivityMonitor>(m_timers, [&](IIdleSourceSink& sink) {
            auto pSource = std::make_unique<CHandSource>(sink, bThreshold);
            m_pSource = pSource.get();
            return pSource;
        });
        m_pMonitor->SetHandlers([this] { Record("idle"); }, [this](EInputKind eKind) { Record(KindName(eKind)); });
    }
    void Record(const std::string& sWhat) { m_events.push_back(sWhat + "@" + std::to_string(m_home.Clock().NowMs())); }

    CTestHome m_home;
    CVirtualTimerService m_timers{m_home.Clock()};
    std::unique_ptr<CInputActivityMonitor> m_pMonitor;
    CHandSource* m_pSource = nullptr;
    std::vector<std::string> m_events;
};

TEST_F(ActivityCountdownTest, EventBackEndIdleOncePerStretchAndEveryInputStartsTheCountdownOver)
{
    Make(false);
    m_pMonitor->Arm(300);
    m_timers.Advance(200);
    m_pSource->m_sink.SourceActivity(INPUT_KEYBOARD);
    m_timers.Advance(299);
    EXPECT_EQ(m_events, (std::vector<std::string>{"key@200"}));
    m_timers.Advance(1001); // one report per idle stretch, however long it lasts
    m_pSource->m_sink.SourceActivity(INPUT_POINTER_MOVED);
    m_timers.Advance(300);
    EXPECT_EQ(m_events, (std::vector<std::string>{"key@200", "idle@500", "moved@1500", "idle@1800"}));
    EXPECT_EQ(m_timers.RunningCount(), 0); // idle and waiting for input: nothing ticks

    // Arming again starts the period over; a new period restarts the back end.
    m_events.clear();
    m_pMonitor->Arm(300);
    m_pMonitor->Arm(100);
    m_timers.Advance(100);
    EXPECT_EQ(m_events, (std::vector<std::string>{"idle@1900"}));
    EXPECT_EQ(m_pSource->m_starts, (std::vector<std::int64_t>{300, 100}));

    // Disarmed: no report, no timer, the back end stopped.
    m_events.clear();
    m_pMonitor->Disarm();
    m_pSource->m_sink.SourceActivity(INPUT_KEYBOARD);
    m_timers.Advance(1000);
    EXPECT_TRUE(m_events.empty());
    EXPECT_FALSE(m_pSource->m_bRunning);
    EXPECT_EQ(m_timers.RunningCount(), 0);
}

TEST_F(ActivityCountdownTest, ThresholdBackEndNeedsTheCountdownAndTheDesktopIdle)
{
    Make(true);
    m_pMonitor->Arm(300);
    m_timers.Advance(400); // the countdown ran out, but the desktop has seen input lately
    EXPECT_TRUE(m_events.empty());
    m_pSource->m_sink.SourceIdled();
    EXPECT_EQ(m_events, (std::vector<std::string>{"idle@400"}));

    // Input again; the desktop says idle early (it counted from an earlier input), the idle
    // report still waits for the full period from the input.
    m_timers.Advance(100);
    m_pSource->m_sink.SourceActivity(INPUT_UNKNOWN);
    m_timers.Advance(100);
    m_pSource->m_sink.SourceIdled();
    m_timers.Advance(199);
    EXPECT_EQ(m_events, (std::vector<std::string>{"idle@400", "input@500"}));
    m_timers.Advance(1);
    EXPECT_EQ(m_events, (std::vector<std::string>{"idle@400", "input@500", "idle@800"}));

    // A back end that says idle as it starts (it cannot watch): the countdown alone decides, also
    // after an earlier stretch that ended idle.
    m_events.clear();
    m_pMonitor->Disarm();
    m_pSource->m_bIdleAtStart = true;
    m_pMonitor->Arm(300);
    m_timers.Advance(299);
    EXPECT_TRUE(m_events.empty());
    m_timers.Advance(1);
    EXPECT_EQ(m_events, (std::vector<std::string>{"idle@1100"}));

    // A handler may disarm from its report: nothing follows.
    m_pMonitor->SetHandlers([this] { m_pMonitor->Disarm(); }, {});
    m_pSource->m_sink.SourceActivity(INPUT_UNKNOWN);
    m_pSource->m_sink.SourceIdled();
    m_timers.Advance(300);
    EXPECT_FALSE(m_pMonitor->IsArmed());
    EXPECT_FALSE(m_pSource->m_bRunning);
}

TEST(ActivityMonitorChoice, WithoutAnyDesktopInterfaceTheCountdownAloneRunsOut)
{
    CSessionEnvironment session(CSessionEnvironment::SESSION_NONE);
    CTestHome home;
    home.EnableLog();
    CVirtualTimerService timers(home.Clock());
    auto pMonitor = CreateActivityMonitor(timers);
    EXPECT_STREQ(pMonitor->BackendName(), "none");
    int nIdle = 0;
    pMonitor->SetHandlers([&] { ++nIdle; }, {});
    pMonitor->Arm(300);
    timers.Advance(299);
    EXPECT_EQ(nIdle, 0);
    timers.Advance(1000);
    EXPECT_EQ(nIdle, 1);
    pMonitor->Arm(300);
    timers.Advance(300);
    EXPECT_EQ(nIdle, 2);
    EXPECT_EQ(home.ReadLog().count("input cannot postpone"), 1);
}

class X11ActivityMonitorTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || !m_input.IsOpen())
            GTEST_SKIP() << "needs an X server (run through run-on-desktop.sh)";
        m_pMonitor = CreateActivityMonitor(m_timers);
        ASSERT_STREQ(m_pMonitor->BackendName(), "XInput2");
        m_pMonitor->SetHandlers([this] { m_events.push_back("idle"); },
                                [this](EInputKind eKind) { m_events.push_back(KindName(eKind)); });
    }
    int Count(const std::string& sWhat) const
    {
        return static_cast<int>(std::count(m_events.begin(), m_events.end(), sWhat));
    }
    bool WaitFor(const std::string& sWhat, int nCount = 1)
    {
        return QTest::qWaitFor([&] { return Count(sWhat) >= nCount; }, 5000);
    }

    CSessionEnvironment m_session{CSessionEnvironment::SESSION_X11};
    CFakeInput m_input;
    CTimerService m_timers;
    std::unique_ptr<IInputActivityMonitor> m_pMonitor;
    std::vector<std::string> m_events;
};

TEST_F(X11ActivityMonitorTest, KeysAndRealMovesCountClicksAndWheelTurnsInPlaceDoNot)
{
    m_input.WarpTo(0, 0);
    m_pMonitor->Arm(60000);
    m_input.Move(-5, -5); // the mouse moves, the pointer stays in the corner: raw motion, no move
    m_input.Button(1);
    m_input.Button(4); // a wheel turn also arrives as raw motion, without moving the pointer
    m_input.Button(5);
    m_input.Key(); // last: once it is seen, the input before it has been read too
    ASSERT_TRUE(WaitFor("key"));
    EXPECT_EQ(m_events, (std::vector<std::string>{"key"}));

    m_input.Move(7, 3);
    ASSERT_TRUE(WaitFor("moved"));
    m_input.Move(-7, -3);
    ASSERT_TRUE(WaitFor("moved", 2));
    EXPECT_EQ(Count("idle"), 0);

    // Disarmed: input reaches nobody, and nothing is left ticking.
    m_pMonitor->Disarm();
    m_events.clear();
    m_input.Key();
    m_input.Move(5, 5);
    QTest::qWait(200);
    EXPECT_TRUE(m_events.empty());
    EXPECT_EQ(m_timers.RunningCount(), 0);
}

TEST_F(X11ActivityMonitorTest, MotionIsReportedAtMostOncePerIntervalAndItsEndIsNotLost)
{
    m_pMonitor->Arm(60000);
    // A move right after a report falls into that report's interval: it is looked at when the
    // interval ends, not dropped.
    m_input.Move(3, 2);
    ASSERT_TRUE(WaitFor("moved"));
    m_input.Move(3, 2);
    ASSERT_TRUE(WaitFor("moved", 2));

    // A stream of motion: at most one report per interval.
    m_events.clear();
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < 25; ++i) {
        m_input.Move(2, 1);
        QTest::qWait(4);
    }
    const qint64 nMovingMs = elapsed.elapsed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_timers.RunningCount() == 1; }, 5000)); // the countdown alone
    const int nReports = Count("moved");
    EXPECT_GE(nReports, 1);
    EXPECT_LE(nReports, nMovingMs / CX11InputSource::kMotionIntervalMs + 2);
}

TEST_F(X11ActivityMonitorTest, IdleComesAfterThePeriodWithoutInputCountedFromTheLastKey)
{
    QElapsedTimer sinceArm;
    sinceArm.start();
    m_pMonitor->Arm(250);
    ASSERT_TRUE(WaitFor("idle"));
    EXPECT_GE(sinceArm.elapsed(), 250);

    QElapsedTimer sinceKey;
    m_input.Key();
    sinceKey.start();
    ASSERT_TRUE(WaitFor("key"));
    ASSERT_TRUE(WaitFor("idle", 2));
    EXPECT_GE(sinceKey.elapsed(), 250);
    QTest::qWait(100);
    EXPECT_EQ(Count("idle"), 2);
}

TEST(X11IdleTime, CountsFromTheLastInput)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X server (run through run-on-desktop.sh)";
    CFakeInput input;
    CX11IdleTime idleTime;
    ASSERT_TRUE(idleTime.IsAvailable());
    QTest::qWait(150);
    EXPECT_GE(idleTime.IdleMs(), 100);
    input.Key();
    EXPECT_TRUE(QTest::qWaitFor([&] { return idleTime.IdleMs() < 100; }, 2000));
}

} // namespace

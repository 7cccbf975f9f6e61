#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <QTest>

#include "desktop/IInputActivityMonitor.h"
#include "support/TestHome.h"
#include "support/desktop/SessionEnvironment.h"
#include "support/desktop/TestCompositor.h"
#include "support/desktop/VirtualTimerService.h"

namespace {

// The Wayland back end against a compositor that offers the idle notification; the countdown
// runs in virtual time.
class WaylandActivityMonitorTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_compositor.IsRunning());
        m_pSession =
            std::make_unique<CSessionEnvironment>(CSessionEnvironment::SESSION_WAYLAND, m_compositor.SocketName());
        m_home.EnableLog();
        m_pMonitor = CreateActivityMonitor(m_timers);
        m_pMonitor->SetHandlers([this] { Record("idle"); },
                                [this](EInputKind eKind) { Record(eKind == INPUT_UNKNOWN ? "input" : "other"); });
    }
    void TearDown() override { m_pMonitor.reset(); }
    void Record(const std::string& sWhat) { m_events.push_back(sWhat + "@" + std::to_string(m_home.Clock().NowMs())); }
    bool WaitForEvents(std::size_t nCount) const
    {
        return QTest::qWaitFor([&] { return m_events.size() >= nCount; }, 5000);
    }
    bool WaitForNotifications(const std::vector<std::uint32_t>& expected)
    {
        return QTest::qWaitFor([&] { return m_compositor.Notifications() == expected; }, 5000);
    }

    CTestCompositor m_compositor;
    std::unique_ptr<CSessionEnvironment> m_pSession;
    CTestHome m_home;
    CVirtualTimerService m_timers{m_home.Clock()};
    std::unique_ptr<IInputActivityMonitor> m_pMonitor;
    std::vector<std::string> m_events;
};

TEST_F(WaylandActivityMonitorTest, IdledAndResumedDriveTheReportsAndTheNotificationLivesWhileArmed)
{
    ASSERT_STREQ(m_pMonitor->BackendName(), "ext-idle-notify");
    EXPECT_TRUE(m_compositor.Notifications().empty());
    m_pMonitor->Arm(500);
    ASSERT_TRUE(WaitForNotifications({500}));

    m_timers.Advance(500); // the countdown ran out; the compositor has not said idle
    m_compositor.SendIdled();
    ASSERT_TRUE(WaitForEvents(1));
    m_compositor.SendResumed();
    ASSERT_TRUE(WaitForEvents(2));
    // Idle again early in the compositor's count: the report waits for the full period.
    m_compositor.SendIdled();
    QTest::qWait(50);
    m_timers.Advance(499);
    EXPECT_EQ(m_events.size(), 2u);
    m_timers.Advance(1);
    ASSERT_TRUE(WaitForEvents(3));
    EXPECT_EQ(m_events, (std::vector<std::string>{"idle@500", "input@500", "idle@1000"}));

    // A new period makes a new notification; disarming removes it.
    m_pMonitor->Arm(2000);
    ASSERT_TRUE(WaitForNotifications({2000}));
    m_pMonitor->Disarm();
    ASSERT_TRUE(WaitForNotifications({}));
    m_compositor.SendResumed();
    QTest::qWait(50);
    EXPECT_EQ(m_events.size(), 3u);
}

TEST(WaylandSessionChoice, ACompositorWithoutTheIdleNotifierIsPassedOver)
{
    // The next back end in line is used (here none: the test's bus has no idle service).
    CTestCompositor compositor(false);
    ASSERT_TRUE(compositor.IsRunning());
    CSessionEnvironment session(CSessionEnvironment::SESSION_WAYLAND, compositor.SocketName());
    CTestHome home;
    CVirtualTimerService timers(home.Clock());
    EXPECT_STREQ(CreateActivityMonitor(timers)->BackendName(), "none");
    // Nor is a compositor that is not there.
    CSessionEnvironment gone(CSessionEnvironment::SESSION_WAYLAND, "tolva-no-such-compositor");
    EXPECT_STREQ(CreateActivityMonitor(timers)->BackendName(), "none");
}

} // namespace

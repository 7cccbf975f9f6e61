#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QTest>

#include "desktop/InputActivityMonitor.h"
#include "desktop/PolledIdleSource.h"
#include "support/TestHome.h"
#include "support/desktop/SessionEnvironment.h"
#include "support/desktop/VirtualTimerService.h"

// The desktop's idle services as fakes on the test's session bus, each on a connection of its
// own (the program's side talks to them through the bus, as to a real desktop); they answer
// while the test waits in the event loop.
namespace {

const QString kFakeConnection = QStringLiteral("tolva-fake-desktop");

QDBusConnection FakeBus()
{
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, kFakeConnection);
}

// The freedesktop screen saver: the idle time follows the test's virtual clock.
class CFakeScreenSaver : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    explicit CFakeScreenSaver(CVirtualClock& clock) : m_clock(clock) {}

    CVirtualClock& m_clock;
    std::int64_t m_nLastInputMs = 0;
    bool m_bRefuse = false;
    int m_nCalls = 0;

public slots:
    uint GetSessionIdleTime()
    {
        ++m_nCalls;
        if (m_bRefuse) {
            sendErrorReply(QDBusError::NotSupported, QStringLiteral("not supported"));
            return 0;
        }
        return static_cast<uint>(m_clock.NowMs() - m_nLastInputMs);
    }
};

// GNOME's idle monitor: watches the test fires by hand.
class CFakeMutterIdleMonitor : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.IdleMonitor")

public:
    std::map<uint, quint64> m_watches; // id → idle interval; 0: a user-active watch
    std::vector<uint> m_removed;
    int m_nActiveWatchesAdded = 0;
    int m_nCalls = 0;
    bool m_bRefuse = false;

    uint IdleWatch() const
    {
        for (const auto& [nId, nInterval] : m_watches)
            if (nInterval != 0)
                return nId;
        return 0;
    }
    uint ActiveWatch() const
    {
        for (const auto& [nId, nInterval] : m_watches)
            if (nInterval == 0)
                return nId;
        return 0;
    }
    void Fire(uint nId)
    {
        if (m_watches[nId] == 0)
            m_watches.erase(nId); // user-active watches fire once
        emit WatchFired(nId);
    }

public slots:
    uint AddIdleWatch(quint64 nInterval) { return Add(nInterval); }
    uint AddUserActiveWatch()
    {
        ++m_nActiveWatchesAdded;
        return Add(0);
    }
    void RemoveWatch(uint nId)
    {
        m_watches.erase(nId);
        m_removed.push_back(nId);
    }
    quint64 GetIdletime() { return 0; }

signals:
    void WatchFired(uint nId);

private:
    uint Add(quint64 nInterval)
    {
        ++m_nCalls;
        if (m_bRefuse) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("refused"));
            return 0;
        }
        m_watches[m_nNextId] = nInterval;
        return m_nNextId++;
    }
    uint m_nNextId = 1;
};

class IdleServicesTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "needs a session bus (run through run-on-desktop.sh)";
        m_home.EnableLog();
    }
    void TearDown() override
    {
        m_pMonitor.reset();
        QDBusConnection bus = FakeBus();
        for (const auto& sService : m_services)
            bus.unregisterService(sService);
        bus.unregisterObject(QStringLiteral("/org/freedesktop/ScreenSaver"));
        bus.unregisterObject(QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"));
        QDBusConnection::disconnectFromBus(kFakeConnection);
    }
    void Publish(QObject* pObject, const QString& sService, const QString& sPath)
    {
        QDBusConnection bus = FakeBus();
        ASSERT_TRUE(
            bus.registerObject(sPath, pObject, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(bus.registerService(sService));
        m_services.push_back(sService);
    }
    void Handle(IInputActivityMonitor& monitor)
    {
        monitor.SetHandlers([this] { Record("idle"); },
                            [this](EInputKind eKind) { Record(eKind == INPUT_UNKNOWN ? "input" : "other"); });
    }
    void Record(const std::string& sWhat) { m_events.push_back(sWhat + "@" + std::to_string(m_home.Clock().NowMs())); }
    bool WaitForEvents(std::size_t nCount) const
    {
        return QTest::qWaitFor([&] { return m_events.size() >= nCount; }, 5000);
    }

    CSessionEnvironment m_session{CSessionEnvironment::SESSION_NONE};
    CTestHome m_home;
    CVirtualTimerService m_timers{m_home.Clock()};
    std::unique_ptr<IInputActivityMonitor> m_pMonitor;
    std::vector<std::string> m_events;
    std::vector<QString> m_services;
};

TEST_F(IdleServicesTest, ScreenSaverIdleTimeIsReadEverySecondOnlyWhileArmed)
{
    CFakeScreenSaver screenSaver(m_home.Clock());
    Publish(&screenSaver, QStringLiteral("org.freedesktop.ScreenSaver"),
            QStringLiteral("/org/freedesktop/ScreenSaver"));
    EXPECT_STREQ(CreateActivityMonitor(m_timers)->BackendName(), "org.freedesktop.ScreenSaver");

    // The same back end, with its answers counted so that each one is in before time moves on.
    int nAnswers = 0;
    m_pMonitor = std::make_unique<CInputActivityMonitor>(m_timers, [&](IIdleSourceSink& sink) {
        auto reader = [&](const CPolledIdleSource::Answer& answer) {
            CPolledIdleSource::ScreenSaverReader()([&nAnswers, answer](std::int64_t nIdleMs, const QString& sError) {
                answer(nIdleMs, sError);
                ++nAnswers;
            });
        };
        return std::make_unique<CPolledIdleSource>("screen saver", reader, m_timers, sink);
    });
    Handle(*m_pMonitor);
    const auto Tick = [&] {
        const int nBefore = nAnswers;
        m_timers.Advance(CPolledIdleSource::kPollMs);
        return QTest::qWaitFor([&] { return nAnswers > nBefore; }, 5000);
    };

    m_pMonitor->Arm(3000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return nAnswers == 1; }, 5000));
    ASSERT_TRUE(Tick());
    ASSERT_TRUE(Tick());
    EXPECT_TRUE(m_events.empty());
    screenSaver.m_nLastInputMs = 2700; // the user touches something
    ASSERT_TRUE(Tick());               // 3000: the input is seen
    EXPECT_EQ(m_events, (std::vector<std::string>{"input@3000"}));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(Tick()); // idle since 2700, but the period counts from the report at 3000
    EXPECT_EQ(m_events, (std::vector<std::string>{"input@3000", "idle@6000"}));

    m_pMonitor->Disarm();
    const int nCalls = screenSaver.m_nCalls;
    m_timers.Advance(5000);
    QTest::qWait(50);
    EXPECT_EQ(screenSaver.m_nCalls, nCalls);
    EXPECT_EQ(m_timers.RunningCount(), 0);
}

TEST_F(IdleServicesTest, ScreenSaverWithoutIdleTimeLeavesTheCountdownAloneAndIsAskedNoMore)
{
    CFakeScreenSaver screenSaver(m_home.Clock());
    screenSaver.m_bRefuse = true;
    Publish(&screenSaver, QStringLiteral("org.freedesktop.ScreenSaver"),
            QStringLiteral("/org/freedesktop/ScreenSaver"));
    m_pMonitor = CreateActivityMonitor(m_timers);
    Handle(*m_pMonitor);
    m_pMonitor->Arm(2000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_timers.RunningCount() == 1; }, 5000)); // polling has stopped
    m_timers.Advance(2000);
    ASSERT_TRUE(WaitForEvents(1));
    EXPECT_EQ(m_events, (std::vector<std::string>{"idle@2000"}));
    m_pMonitor->Arm(2000);
    m_timers.Advance(2000);
    EXPECT_EQ(m_events, (std::vector<std::string>{"idle@2000", "idle@4000"}));
    EXPECT_EQ(screenSaver.m_nCalls, 1);
    EXPECT_EQ(m_home.ReadLog().count("gives no idle time"), 1);
}

TEST_F(IdleServicesTest, MutterWatchesGiveIdleAndInputAndAreRemovedWhenDisarmed)
{
    CFakeScreenSaver screenSaver(m_home.Clock()); // GNOME's idle monitor comes first
    Publish(&screenSaver, QStringLiteral("org.freedesktop.ScreenSaver"),
            QStringLiteral("/org/freedesktop/ScreenSaver"));
    CFakeMutterIdleMonitor mutter;
    Publish(&mutter, QStringLiteral("org.gnome.Mutter.IdleMonitor"),
            QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"));
    m_pMonitor = CreateActivityMonitor(m_timers);
    ASSERT_STREQ(m_pMonitor->BackendName(), "Mutter IdleMonitor");
    Handle(*m_pMonitor);

    m_pMonitor->Arm(500);
    ASSERT_TRUE(QTest::qWaitFor([&] { return mutter.IdleWatch() != 0 && mutter.ActiveWatch() != 0; }, 5000));
    EXPECT_EQ(mutter.m_watches[mutter.IdleWatch()], 500u);
    m_timers.Advance(500);
    EXPECT_TRUE(m_events.empty()); // the countdown ran out, GNOME has not said idle
    mutter.Fire(mutter.IdleWatch());
    ASSERT_TRUE(WaitForEvents(1));

    // Input: reported, and a new user-active watch replaces the one that fired.
    mutter.Fire(mutter.ActiveWatch());
    ASSERT_TRUE(WaitForEvents(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return mutter.m_nActiveWatchesAdded == 2 && mutter.ActiveWatch() != 0; }, 5000));
    mutter.Fire(mutter.IdleWatch());
    QTest::qWait(50);
    m_timers.Advance(499);
    EXPECT_EQ(m_events.size(), 2u);
    m_timers.Advance(1);
    ASSERT_TRUE(WaitForEvents(3));
    EXPECT_EQ(m_events, (std::vector<std::string>{"idle@500", "input@500", "idle@1000"}));

    const uint nIdleWatch = mutter.IdleWatch();
    const uint nActiveWatch = mutter.ActiveWatch();
    m_pMonitor->Disarm();
    ASSERT_TRUE(QTest::qWaitFor([&] { return mutter.m_watches.empty(); }, 5000));
    EXPECT_EQ(mutter.m_removed, (std::vector<uint>{nIdleWatch, nActiveWatch}));
    mutter.Fire(nActiveWatch);
    QTest::qWait(50);
    EXPECT_EQ(m_events.size(), 3u);
}

TEST_F(IdleServicesTest, MutterRefusingWatchesLeavesTheCountdownAlone)
{
    CFakeMutterIdleMonitor mutter;
    mutter.m_bRefuse = true;
    Publish(&mutter, QStringLiteral("org.gnome.Mutter.IdleMonitor"),
            QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"));
    m_pMonitor = CreateActivityMonitor(m_timers);
    Handle(*m_pMonitor);
    m_pMonitor->Arm(500);
    ASSERT_TRUE(QTest::qWaitFor([&] { return mutter.m_nCalls == 2; }, 5000));
    m_timers.Advance(500);
    ASSERT_TRUE(WaitForEvents(1));
    EXPECT_EQ(m_events, (std::vector<std::string>{"idle@500"}));
}

} // namespace

#include "IdleMonitorServicesTest.moc"

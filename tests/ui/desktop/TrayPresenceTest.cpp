#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QStringList>
#include <QTest>

#include "desktop/TimerService.h"
#include "desktop/TrayPresence.h"
#include "support/desktop/FakeX11Desktop.h"

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

// The panel's side of the StatusNotifier protocol, on the test's session bus.
class CFakeStatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)

public:
    explicit CFakeStatusNotifierWatcher(bool bHost) : m_bHost(bHost) {}
    ~CFakeStatusNotifierWatcher() override { Withdraw(); }

    bool Publish()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        m_bPublished = bus.registerObject(kWatcherPath, this,
                                          QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSlots |
                                              QDBusConnection::ExportAllSignals) &&
                       bus.registerService(kWatcherService);
        return m_bPublished;
    }
    void Withdraw()
    {
        if (!m_bPublished)
            return;
        QDBusConnection::sessionBus().unregisterService(kWatcherService);
        QDBusConnection::sessionBus().unregisterObject(kWatcherPath);
        m_bPublished = false;
    }
    void HostArrives()
    {
        m_bHost = true;
        emit StatusNotifierHostRegistered();
    }

    bool IsStatusNotifierHostRegistered() const { return m_bHost; }
    int ProtocolVersion() const { return 0; }
    QStringList RegisteredStatusNotifierItems() const { return m_items; }

public slots:
    void RegisterStatusNotifierItem(const QString& sService)
    {
        m_items.push_back(sService);
        emit StatusNotifierItemRegistered(sService);
    }
    void RegisterStatusNotifierHost(const QString&) { HostArrives(); }

signals:
    void StatusNotifierItemRegistered(const QString& sService);
    void StatusNotifierItemUnregistered(const QString& sService);
    void StatusNotifierHostRegistered();

private:
    bool m_bHost;
    bool m_bPublished = false;
    QStringList m_items;
};

class TrayPresenceTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "needs a session bus (run through run-on-desktop.sh)";
    }
    ITrayPresence::Callback Record()
    {
        return [this](bool bAvailable) { m_answers.push_back(bAvailable); };
    }
    bool WaitForAnswer(int nMs = 5000)
    {
        return QTest::qWaitFor([&] { return !m_answers.empty(); }, nMs);
    }

    CTimerService m_timers;
    CTrayPresence m_presence{m_timers};
    std::vector<bool> m_answers;
};

TEST_F(TrayPresenceTest, WithoutAHostTheCallerHearsFalseAtTheTimeOutOnce)
{
    QElapsedTimer elapsed;
    elapsed.start();
    m_presence.WhenAvailable(Record(), 300);
    QTest::qWait(100);
    EXPECT_TRUE(m_answers.empty());
    ASSERT_TRUE(WaitForAnswer());
    EXPECT_GE(elapsed.elapsed(), 300);
    QTest::qWait(50);
    EXPECT_EQ(m_answers, std::vector<bool>{false});
    EXPECT_EQ(m_timers.RunningCount(), 0);
}

TEST_F(TrayPresenceTest, AWatcherThatAppearsAfterTheStartIsWaitedFor)
{
    m_presence.WhenAvailable(Record(), 10000);
    QTest::qWait(150);
    EXPECT_TRUE(m_answers.empty());
    CFakeStatusNotifierWatcher watcher(true);
    ASSERT_TRUE(watcher.Publish());
    ASSERT_TRUE(WaitForAnswer());
    QTest::qWait(50);
    EXPECT_EQ(m_answers, std::vector<bool>{true});
    EXPECT_EQ(m_timers.RunningCount(), 0);

    // With the host there, the next caller hears true at once, but never inside its own call.
    m_answers.clear();
    m_presence.WhenAvailable(Record(), 10000);
    EXPECT_TRUE(m_answers.empty());
    ASSERT_TRUE(WaitForAnswer());
    EXPECT_EQ(m_answers, std::vector<bool>{true});
}

TEST_F(TrayPresenceTest, AWatcherWithoutAHostCountsOnlyOnceAHostRegisters)
{
    CFakeStatusNotifierWatcher watcher(false);
    ASSERT_TRUE(watcher.Publish());
    m_presence.WhenAvailable(Record(), 10000);
    QTest::qWait(150);
    EXPECT_TRUE(m_answers.empty());
    watcher.HostArrives();
    ASSERT_TRUE(WaitForAnswer());
    EXPECT_EQ(m_answers, std::vector<bool>{true});
}

TEST_F(TrayPresenceTest, AnXEmbedTrayCountsOnX11)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "Qt uses the XEmbed tray only on X11";
    m_presence.WhenAvailable(Record(), 10000);
    QTest::qWait(100);
    EXPECT_TRUE(m_answers.empty());
    CFakeXEmbedTray tray;
    ASSERT_TRUE(tray.Start());
    ASSERT_TRUE(WaitForAnswer());
    EXPECT_EQ(m_answers, std::vector<bool>{true});

    // Already there when asked.
    m_answers.clear();
    m_presence.WhenAvailable(Record(), 10000);
    ASSERT_TRUE(WaitForAnswer());
    EXPECT_EQ(m_answers, std::vector<bool>{true});
}

} // namespace

#include "TrayPresenceTest.moc"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include <QAction>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMenu>
#include <QMutex>
#include <QPixmap>
#include <QScopeGuard>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTest>
#include <QThread>

#include "app/ResourceIds.h"
#include "app/Tray.h"
#include "desktop/TimerService.h"
#include "desktop/TrayPresence.h"
#include "foundation/StringTable.h"
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
    QStringList RegisteredStatusNotifierItems() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_items;
    }

public slots:
    void RegisterStatusNotifierItem(const QString& sService)
    {
        // The test reads the list; no StatusNotifierItemRegistered, as QtDBus may run this slot
        // outside the watcher's thread, where it cannot relay signals.
        const QMutexLocker lock(&m_mutex);
        m_items.push_back(sService);
    }
    void RegisterStatusNotifierHost(const QString&) { HostArrives(); }

signals:
    void StatusNotifierItemRegistered(const QString& sService);
    void StatusNotifierItemUnregistered(const QString& sService);
    void StatusNotifierHostRegistered();

private:
    std::atomic<bool> m_bHost;
    bool m_bPublished = false;
    mutable QMutex m_mutex; // the watcher may answer on a thread of its own
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

// What a panel reads from a tray icon over the StatusNotifier protocol. Calls block with the event
// loop running: the icon answers from this thread, on a bus connection of Qt's.
class CStatusNotifierItemReader
{
public:
    struct SMenuItem
    {
        int nId;
        QString sLabel;
        bool bEnabled;
    };

    explicit CStatusNotifierItemReader(QString sService) : m_sService(std::move(sService)) {}

    QVariant Property(const QString& sName) const
    {
        QDBusMessage call =
            QDBusMessage::createMethodCall(m_sService, QStringLiteral("/StatusNotifierItem"),
                                           QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        call << QStringLiteral("org.kde.StatusNotifierItem") << sName;
        const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::BlockWithGui, 5000);
        return reply.arguments().isEmpty() ? QVariant() : reply.arguments().at(0).value<QDBusVariant>().variant();
    }
    // The title of the tooltip (icon name, pictures, title, text).
    QString ToolTipTitle() const
    {
        const QDBusArgument arg = Property(QStringLiteral("ToolTip")).value<QDBusArgument>();
        QString sIconName, sTitle, sText;
        arg.beginStructure();
        arg >> sIconName;
        arg.beginArray();
        while (!arg.atEnd()) {
            int nWidth = 0, nHeight = 0;
            QByteArray pixels;
            arg.beginStructure();
            arg >> nWidth >> nHeight >> pixels;
            arg.endStructure();
        }
        arg.endArray();
        arg >> sTitle >> sText;
        arg.endStructure();
        return sTitle;
    }
    std::vector<SMenuItem> Menu() const
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            m_sService, MenuPath(), QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
        call << 0 << -1 << QStringList();
        const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::BlockWithGui, 5000);
        std::vector<SMenuItem> items;
        if (reply.arguments().size() == 2)
            ReadLayout(reply.arguments().at(1).value<QDBusArgument>(), items);
        return items;
    }
    void Click(int nId) const
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            m_sService, MenuPath(), QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"));
        call << nId << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
        QDBusConnection::sessionBus().call(call, QDBus::BlockWithGui, 5000);
    }

private:
    QString MenuPath() const { return Property(QStringLiteral("Menu")).value<QDBusObjectPath>().path(); }
    static void ReadLayout(const QDBusArgument& arg, std::vector<SMenuItem>& items)
    {
        int nId = 0;
        QVariantMap properties;
        arg.beginStructure();
        arg >> nId >> properties;
        if (properties.contains(QStringLiteral("label")))
            items.push_back({nId, properties.value(QStringLiteral("label")).toString(),
                             properties.value(QStringLiteral("enabled"), true).toBool()});
        arg.beginArray();
        while (!arg.atEnd()) {
            QDBusVariant child;
            arg >> child;
            ReadLayout(child.variant().value<QDBusArgument>(), items);
        }
        arg.endArray();
        arg.endStructure();
    }

    QString m_sService;
};

// A panel in another process: its watcher must answer while this thread waits for a reply (Qt
// asks it with blocking calls from a bus connection of its own), so it runs on a thread of its
// own, where QtDBus makes its helper objects.
class CPanel
{
public:
    CPanel()
    {
        m_watcher.moveToThread(&m_thread);
        m_thread.start();
    }
    ~CPanel()
    {
        QMetaObject::invokeMethod(
            &m_watcher, [&] { m_watcher.Withdraw(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    bool Publish()
    {
        bool bPublished = false;
        QMetaObject::invokeMethod(
            &m_watcher, [&] { bPublished = m_watcher.Publish(); }, Qt::BlockingQueuedConnection);
        return bPublished;
    }
    bool WaitForItem()
    {
        return QTest::qWaitFor([&] { return !m_watcher.RegisteredStatusNotifierItems().isEmpty(); }, 5000);
    }
    QString Item() const { return m_watcher.RegisteredStatusNotifierItems().front(); }

private:
    QThread m_thread;
    CFakeStatusNotifierWatcher m_watcher{true};
};

// The whole road at logon: the panel comes after the program, the icon is made once it is there,
// and the panel sees the icon's tooltip and menu and can click an item.
TEST_F(TrayPresenceTest, TheIconMadeAfterTheAnswerRegistersWithALateWatcher)
{
    m_presence.WhenAvailable(Record(), 10000);
    QTest::qWait(100);
    CPanel panel;
    ASSERT_TRUE(panel.Publish());
    ASSERT_TRUE(WaitForAnswer());
    ASSERT_EQ(m_answers, std::vector<bool>{true});

    QPixmap picture(22, 22);
    picture.fill(Qt::darkGreen);
    QMenu menu;
    QAction* pManual = menu.addAction(QStringLiteral("Manual Transfer"));
    pManual->setEnabled(false);
    int nSetupClicks = 0;
    QObject::connect(menu.addAction(QStringLiteral("Setup Console")), &QAction::triggered, [&] { ++nSetupClicks; });
    QSystemTrayIcon icon{QIcon(picture)};
    icon.setToolTip(QStringLiteral("Tolva Music Transfer"));
    icon.setContextMenu(&menu);
    icon.show();
    ASSERT_TRUE(panel.WaitForItem());

    const CStatusNotifierItemReader item(panel.Item());
    EXPECT_EQ(item.ToolTipTitle(), QStringLiteral("Tolva Music Transfer"));
    const auto items = item.Menu();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].sLabel, QStringLiteral("Manual Transfer"));
    EXPECT_FALSE(items[0].bEnabled);
    EXPECT_EQ(items[1].sLabel, QStringLiteral("Setup Console"));
    EXPECT_TRUE(items[1].bEnabled);
    item.Click(items[1].nId);
    EXPECT_TRUE(QTest::qWaitFor([&] { return nSetupClicks == 1; }, 5000));
}

// The program's tray as the panel sees it: tooltip, the menu's texts and greyed items following
// the state, and a click on the first item reaching the window's command.
TEST_F(TrayPresenceTest, TheProgramsTrayShowsItsStateInTheMenuAndTakesClicks)
{
    CPanel panel;
    ASSERT_TRUE(panel.Publish());
    std::vector<unsigned> commands;
    CTray tray([&](unsigned nId) { commands.push_back(nId); }, {});
    tray.SetIcon(IDI_TRAY_AUTO_ON);
    tray.Refresh(false, false, false);
    tray.Attach();
    ASSERT_TRUE(panel.WaitForItem());
    const CStatusNotifierItemReader item(panel.Item());
    EXPECT_EQ(item.ToolTipTitle(), LoadStringText(101));
    auto items = item.Menu();
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[0].sLabel, LoadStringText(130));
    EXPECT_EQ(items[1].sLabel, LoadStringText(131));
    EXPECT_EQ(items[2].sLabel, LoadStringText(132));
    for (const auto& menuItem : items)
        EXPECT_TRUE(menuItem.bEnabled) << menuItem.sLabel.toStdString();

    // A transfer runs while a dialog of the program is open.
    tray.Refresh(true, true, true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return item.Menu().front().sLabel == LoadStringText(176); }, 5000));
    items = item.Menu();
    EXPECT_FALSE(items[0].bEnabled);
    EXPECT_TRUE(items[1].bEnabled);
    EXPECT_FALSE(items[4].bEnabled) << "About";
    EXPECT_FALSE(items[5].bEnabled) << "Exit";

    tray.Refresh(true, false, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return item.Menu().front().bEnabled; }, 5000));
    item.Click(item.Menu().front().nId);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !commands.empty(); }, 5000));
    EXPECT_EQ(commands, std::vector<unsigned>{ID_MANUAL_TRANSFER});
}

} // namespace

#include "TrayPresenceTest.moc"

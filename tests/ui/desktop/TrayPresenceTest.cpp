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
#include "support/desktop/FakeStatusNotifierHost.h"
#include "support/desktop/FakeX11Desktop.h"

namespace {

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


// A transfer as a user of the notification area starts it: "Manual Transfer" clicked in the tray
// menu that a panel (a fake StatusNotifier host on the test's private session bus) shows, into a
// reference player's Samba share inside the test's private network namespace. The files must
// arrive byte for byte, the icon must run through its animation while the files are copied and
// come back afterwards, and the outcome must be told.

#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>

#include "app/Tray.h"
#include "desktop/TrayPresence.h"
#include "device/UPnPDeviceFinder.h"
#include "sync/DeviceLists.h"
#include "support/ReferencePlayer.h"
#include "support/SambaServer.h"
#include "support/desktop/FakeStatusNotifierHost.h"
#include "ui/shell/ShellFixture.h"

namespace {

const char* const kPlayerIp = "127.0.0.2";

QByteArray Bytes(qint64 nSize, int nSeed)
{
    QByteArray data(nSize, Qt::Uninitialized);
    quint32 x = 2463534242u + static_cast<quint32>(nSeed);
    for (qint64 i = 0; i < nSize; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] = static_cast<char>(x);
    }
    return data;
}

// Loopback at the speed of a home network, so that the copy lasts through several animation
// cycles. Traffic control of the test's own namespace.
bool LimitLoopback(bool bLimit)
{
    const QStringList args = bLimit ? QStringList{"qdisc", "replace", "dev",   "lo",  "root",    "tbf",
                                                  "rate",  "64mbit",  "burst", "1mb", "latency", "500ms"}
                                    : QStringList{"qdisc", "del", "dev", "lo", "root"};
    QProcess tc;
    tc.setProcessChannelMode(QProcess::MergedChannels);
    tc.start("tc", args);
    return tc.waitForFinished() && tc.exitStatus() == QProcess::NormalExit && tc.exitCode() == 0;
}

class CTrayTransferTest : public CShellTest
{
protected:
    void SetUp() override
    {
        if (qgetenv("TOLVA_IN_NETNS") != "1")
            GTEST_SKIP() << "run through ctest (inside a private network namespace)";
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "needs a session bus (run through run-on-desktop.sh)";
        CSambaServer::ExitIfUnavailable(); // the player serves its shares with an smbd of its own
        qputenv("TOLVA_SSDP_INTERFACES", "127.0.0.1");
        m_home.EnableLog();
    }
    void TearDown() override { LimitLoopback(false); }

    // Runs the program's pauses and timers on the virtual clock (100 ms a round: one animation
    // frame) and the window's events until done() holds; false after nRealMs of real time.
    bool RunUntil(const std::function<bool()>& done, int nRealMs = 60000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nRealMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            m_timers.Advance(100); // the clock, and the window's timers due on the way
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // The file's copy on the share (below "<computer>/<source path>"); empty when there is none.
    QString OnShare(const QString& sSourcePath) const
    {
        QDirIterator it(m_sShareDir, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString sPath = it.next();
            if (sPath.endsWith(sSourcePath))
                return sPath;
        }
        return {};
    }

    QString m_sShareDir;
};

TEST_F(CTrayTransferTest, ManualTransferFromTheTrayMenuCopiesTheFilesAnimatesTheIconAndTellsTheOutcome)
{
    m_sShareDir = m_home.Path("player/internal");
    CReferencePlayer player(kPlayerIp, {"--name", "Den Player", "--internal-dir", m_sShareDir.toStdString(),
                                        "--external-dir", m_home.Path("player/external").toStdString(), "--samba",
                                        m_home.Path("player/samba").toStdString()});
    ASSERT_TRUE(player.Start(30000)) << player.LastError();
    const QString sUuid = QString::fromStdString(player.Udn());

    // Four songs of 3 MB in a watched folder, and the player chosen before.
    std::vector<std::pair<QString, QByteArray>> songs;
    for (int i = 1; i <= 4; ++i) {
        const QString sPath = m_home.Path(QString("Music/Album/0%1 Song.mp3").arg(i));
        songs.emplace_back(sPath, Bytes(3 * 1024 * 1024 + i, i));
        WriteTestFile(sPath, songs.back().second);
    }
    WriteSettingDword(kSettingFirstRun, 0);
    WriteSettingDword(kSettingAutoTransfer, 1);
    WriteSettingDword(kSettingAutoTransferTime, 5);
    ASSERT_TRUE(SetCurrentDevId(sUuid));
    ASSERT_TRUE(SaveListFile(sUuid, kSyncFolderListName, {m_home.Path("Music") + "/|1"}));
    ASSERT_TRUE(SaveListFile(sUuid, kCapabilityListName, {"mp3|1"}));

    // The panel is there before the program, as after a logon.
    CPanel panel;
    ASSERT_TRUE(panel.Publish());
    CTrayPresence presence(m_timers);
    m_pTrayPresence = &presence;
    m_pWnd = std::make_unique<CTolvaMusicTransferDlg>(
        SMainWindowServices{m_presenter, m_timers, m_shell, &m_folders, nullptr, &presence});
    CTolvaMusicTransferDlg& wnd = *m_pWnd;
    wnd.ConnectionPage().SetNetworkWatchEnabled(false);
    wnd.ConnectionPage().SetAdapterSource([] { return std::vector<SLocalAdapter>{{"127.0.0.1", "255.0.0.0"}}; });
    wnd.Start();
    wnd.show();
    SSsdpSearchOptions pass;
    pass.nMxSeconds = 1;
    pass.nPassMs = 300;
    ASSERT_TRUE(wnd.CommonManager().StartDeviceSearch(
        std::make_unique<CUPnPDeviceFinder>(std::vector<std::string>{"127.0.0.1"}, pass)));
    ASSERT_TRUE(RunUntil([&] { return !wnd.IsWaitDialogOpen() && wnd.Mode() == DM_CONSOLE; }));
    ASSERT_EQ(wnd.SelectedDeviceUuid(), sUuid);

    ASSERT_TRUE(panel.WaitForItem());
    CStatusNotifierItemReader item(panel.Item());
    ASSERT_TRUE(wnd.Tray());
    std::vector<unsigned> icons;
    QObject::connect(wnd.Tray(), &CTray::IconChanged, [&](unsigned nId) { icons.push_back(nId); });
    ASSERT_TRUE(RunUntil([&] { return item.MenuItem(LoadStringText(130)).bEnabled; }, 10000));
    const QByteArray idlePixels = item.IconPixels();
    ASSERT_FALSE(idlePixels.isEmpty());
    EXPECT_EQ(wnd.TrayIconId(), unsigned(IDI_TRAY_AUTO_ON));

    ASSERT_TRUE(LimitLoopback(true)) << "tc cannot limit loopback in this namespace";
    m_presenter.SetNextAnswer(IDOK);
    item.Click(item.MenuItem(LoadStringText(130)).nId);
    ASSERT_TRUE(RunUntil([&] { return wnd.IsTransferring(); }, 10000));
    // While the files go, the panel's menu offers the stop.
    EXPECT_TRUE(RunUntil([&] { return item.Menu().front().sLabel == LoadStringText(176); }, 10000));
    ASSERT_TRUE(RunUntil([&] { return !wnd.IsTransferring(); }, 120000));
    LimitLoopback(false);

    // The outcome: told over the open window, once.
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{156});
    EXPECT_FALSE(wnd.HoldsTransferLock());
    for (const auto& [sSource, data] : songs) {
        const QString sCopy = OnShare(sSource);
        ASSERT_FALSE(sCopy.isEmpty()) << sSource.toStdString();
        EXPECT_TRUE(ReadTestFile(sCopy) == data) << sCopy.toStdString();
    }
    // The icon ran through all eight frames while the files were copied, and came back.
    const std::set<unsigned> seen(icons.begin(), icons.end());
    for (unsigned nFrame = IDI_TRAY_FRAME_FIRST; nFrame < IDI_TRAY_FRAME_FIRST + 8; ++nFrame)
        EXPECT_TRUE(seen.count(nFrame)) << "frame " << nFrame << " never shown";
    ASSERT_FALSE(icons.empty());
    EXPECT_EQ(icons.back(), unsigned(IDI_TRAY_AUTO_ON));
    // The panel saw the pictures change and shows the idle icon again, with the menu as before.
    EXPECT_GE(item.NewIconCount(), 8);
    EXPECT_TRUE(RunUntil([&] { return item.IconPixels() == idlePixels; }, 10000));
    EXPECT_TRUE(RunUntil([&] { return item.Menu().front().sLabel == LoadStringText(130); }, 10000));
    m_pWnd.reset();
}

} // namespace

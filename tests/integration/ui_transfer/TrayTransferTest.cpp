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
#include "support/NetworkTestAids.h"
#include "support/ReferencePlayer.h"
#include "support/SambaServer.h"
#include "support/desktop/FakeStatusNotifierHost.h"
#include "sync/DeviceLists.h"
#include "sync/TransferHistory.h"
#include "ui/shell/ShellFixture.h"

namespace {

const char* const kPlayerIp = "127.0.0.2";

class CTrayTransferTest : public CShellTest
{
protected:
    // The window goes before the panel and the tray presence it uses.
    ~CTrayTransferTest() override { m_pWnd.reset(); }

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

    // A reference player chosen before, nFiles songs of nBytes in a watched folder, the panel
    // there before the program (as after a logon), and the program's window once it has found
    // the player again, with the panel's reader of its icon.
    void StartWithPlayer(int nFiles, qint64 nBytes, const std::vector<std::string>& playerArgs = {})
    {
        m_sShareDir = m_home.Path("player/internal");
        std::vector<std::string> args{"--name",         "Den Player",
                                      "--internal-dir", m_sShareDir.toStdString(),
                                      "--external-dir", m_home.Path("player/external").toStdString(),
                                      "--samba",        m_home.Path("player/samba").toStdString()};
        args.insert(args.end(), playerArgs.begin(), playerArgs.end());
        m_pPlayer = std::make_unique<CReferencePlayer>(kPlayerIp, args);
        ASSERT_TRUE(m_pPlayer->Start(30000)) << m_pPlayer->LastError();
        m_sUuid = QString::fromStdString(m_pPlayer->Udn());
        for (int i = 1; i <= nFiles; ++i) {
            const QString sPath = m_home.Path(QString("Music/Album/0%1 Song.mp3").arg(i));
            m_songs.emplace_back(sPath, PseudoRandomBytes(nBytes + i, i));
            WriteTestFile(sPath, m_songs.back().second);
        }
        WriteSettingDword(kSettingFirstRun, 0);
        WriteSettingDword(kSettingAutoTransfer, 1);
        WriteSettingDword(kSettingAutoTransferTime, 5);
        ASSERT_TRUE(SetCurrentDevId(m_sUuid));
        ASSERT_TRUE(SaveListFile(m_sUuid, kSyncFolderListName, {m_home.Path("Music") + "/|1"}));
        ASSERT_TRUE(SaveListFile(m_sUuid, kCapabilityListName, {"mp3|1"}));

        ASSERT_TRUE(m_panel.Publish());
        m_pWnd = std::make_unique<CTolvaMusicTransferDlg>(
            SMainWindowServices{m_presenter, m_timers, m_shell, &m_folders, nullptr, &m_presence});
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
        ASSERT_EQ(wnd.SelectedDeviceUuid(), m_sUuid);

        ASSERT_TRUE(m_panel.WaitForItem());
        m_pItem = std::make_unique<CStatusNotifierItemReader>(m_panel.Item());
        ASSERT_TRUE(wnd.Tray());
        QObject::connect(wnd.Tray(), &CTray::IconChanged, [this](unsigned nId) { m_icons.push_back(nId); });
        ASSERT_TRUE(RunUntil([&] { return m_pItem->MenuItem(LoadStringText(130)).bEnabled; }, 10000));
    }
    // "Manual Transfer" in the panel's menu; returns when the run has ended.
    void TransferFromTheTrayMenu()
    {
        m_pItem->Click(m_pItem->MenuItem(LoadStringText(130)).nId);
        ASSERT_TRUE(RunUntil([&] { return m_pWnd->IsTransferring(); }, 10000));
        // While the files go, the panel's menu offers the stop.
        EXPECT_TRUE(RunUntil([&] { return m_pItem->Menu().front().sLabel == LoadStringText(176); }, 10000));
        ASSERT_TRUE(RunUntil([&] { return !m_pWnd->IsTransferring(); }, 120000));
    }

    // Runs the program's pauses and timers on the virtual clock (m_nStepMs a round; 100 ms is one
    // animation frame) and the window's events until done() holds; false after nRealMs of real time.
    bool RunUntil(const std::function<bool()>& done, int nRealMs = 60000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nRealMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            m_timers.Advance(m_nStepMs); // the clock, and the window's timers due on the way
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // The file's copy on the share (below "<computer>/<source path>"); empty when there is none.
    QString OnShare(const QString& sSourcePath) const { return CopyOnShare(m_sShareDir, sSourcePath); }

    CPanel m_panel;
    CTrayPresence m_presence{m_timers};
    std::unique_ptr<CReferencePlayer> m_pPlayer;
    std::unique_ptr<CStatusNotifierItemReader> m_pItem;
    QString m_sUuid;
    QString m_sShareDir;
    std::vector<std::pair<QString, QByteArray>> m_songs;
    std::vector<unsigned> m_icons; // every icon change of the tray
    std::int64_t m_nStepMs = 100;
};

TEST_F(CTrayTransferTest, ManualTransferFromTheTrayMenuCopiesTheFilesAnimatesTheIconAndTellsTheOutcome)
{
    StartWithPlayer(4, 3 * 1024 * 1024);
    CTolvaMusicTransferDlg& wnd = *m_pWnd;
    const QByteArray idlePixels = m_pItem->IconPixels();
    ASSERT_FALSE(idlePixels.isEmpty());
    EXPECT_EQ(wnd.TrayIconId(), unsigned(IDI_TRAY_AUTO_ON));

    // Slowed down, so that the copy lasts through several animation cycles.
    ASSERT_TRUE(LimitLoopback(true)) << "tc cannot limit loopback in this namespace";
    m_presenter.SetNextAnswer(IDOK);
    TransferFromTheTrayMenu();
    LimitLoopback(false);

    // The outcome: told over the open window, once.
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{156});
    EXPECT_FALSE(wnd.HoldsTransferLock());
    for (const auto& [sSource, data] : m_songs) {
        const QString sCopy = OnShare(sSource);
        ASSERT_FALSE(sCopy.isEmpty()) << sSource.toStdString();
        EXPECT_TRUE(ReadTestFile(sCopy) == data) << sCopy.toStdString();
    }
    // The icon ran through all eight frames while the files were copied, and came back.
    const std::set<unsigned> seen(m_icons.begin(), m_icons.end());
    for (unsigned nFrame = IDI_TRAY_FRAME_FIRST; nFrame < IDI_TRAY_FRAME_FIRST + 8; ++nFrame)
        EXPECT_TRUE(seen.count(nFrame)) << "frame " << nFrame << " never shown";
    ASSERT_FALSE(m_icons.empty());
    EXPECT_EQ(m_icons.back(), unsigned(IDI_TRAY_AUTO_ON));
    // The panel saw the pictures change and shows the idle icon again, with the menu as before.
    EXPECT_GE(m_pItem->NewIconCount(), 8);
    EXPECT_TRUE(RunUntil([&] { return m_pItem->IconPixels() == idlePixels; }, 10000));
    EXPECT_TRUE(RunUntil([&] { return m_pItem->Menu().front().sLabel == LoadStringText(130); }, 10000));
}

// A share that refuses writing ends the run after three files, and a history that cannot be
// written (a folder where its file belongs) would have every file copied again: one box says both.
TEST_F(CTrayTransferTest, AShareThatRefusesWritingAndAnUnwritableHistoryAreToldNotHidden)
{
    StartWithPlayer(4, 64 * 1024, {"--share-tmpfs-kib", "4096"}); // a share that can be made read-only
    ASSERT_TRUE(m_pPlayer->Do("share-readonly"));
    const QString sHistory = HistoryPathFor(m_sUuid);
    ASSERT_TRUE(QDir().mkpath(sHistory));
    // Each refused file waits between its attempts: in bigger steps of virtual time.
    m_nStepMs = 1000;
    m_presenter.SetNextAnswer(IDOK);
    TransferFromTheTrayMenu();
    ASSERT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{1150});
    const QString sText = m_presenter.Shown()[0].sText;
    // Samba answers a read-only share's writes either way: refused, or not taken.
    EXPECT_TRUE(sText.startsWith(LoadStringText(1160).arg(3).arg(LoadStringText(1157)) + "\n") ||
                sText.startsWith(LoadStringText(1160).arg(3).arg(LoadStringText(1158)) + "\n"))
        << sText.toStdString();
    EXPECT_TRUE(sText.contains(sHistory)) << sText.toStdString();
    EXPECT_EQ(m_presenter.Shown()[0].eIcon, MSG_ICON_ERROR);
    EXPECT_FALSE(m_pWnd->HoldsTransferLock());
}

} // namespace

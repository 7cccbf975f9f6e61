#include <atomic>
#include <thread>

#include <QDialog>
#include <QTest>
#include <QTimer>

#include "ShellFixture.h"
#include "foundation/Log.h"

namespace {

using CMessageTableTest = CShellTest;

TEST_F(CMessageTableTest, ASendFromAWorkerWaitsForTheHandlersResultAndAPostReturnsAtOnce)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    wnd.ContentsPage().SetFolderList({"/a/|1"}); // modified: the query answers 0
    std::atomic<bool> bDone{false};
    std::intptr_t nResult = -1;
    std::thread worker([&] {
        nResult = wnd.SendMessage(CWindowMessage(WM_QUERY_CONTENTS_UNMODIFIED));
        bDone = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return bDone.load(); }, 10000));
    worker.join();
    EXPECT_EQ(nResult, 0);

    // A posted notice is handled on the window's thread, later.
    ASSERT_TRUE(wnd.PostMessage(CWindowMessage(WM_DISK_FULL)));
    EXPECT_TRUE(m_presenter.Shown().empty());
    m_presenter.SetNextAnswer(IDOK);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_presenter.Shown().empty(); }, 10000));
    ASSERT_EQ(m_presenter.Shown().size(), 1u);
    EXPECT_EQ(m_presenter.Shown()[0].nTextId, 152u);
    EXPECT_EQ(m_presenter.Shown()[0].eIcon, MSG_ICON_ERROR);
}

TEST_F(CMessageTableTest, AWorkerBlockedInASendIsReleasedWhenTheWindowGoes)
{
    CTolvaMusicTransferDlg* pWnd = &StartConsole();
    std::intptr_t nResult = -1;
    std::thread worker([&] { nResult = pWnd->SendMessage(CWindowMessage(WM_QUERY_CONTENTS_UNMODIFIED)); });
    // Only once the worker waits for its answer is the window destroyed, without handling it.
    while (pWnd->WaitingSenders() == 0)
        std::this_thread::yield();
    m_pWnd.reset();
    worker.join();
    EXPECT_EQ(nResult, 0);
}

TEST_F(CMessageTableTest, DiskFullNoticeWithTheWindowHiddenShowsNothing)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    Click(IDC_OK);
    wnd.SendMessage(CWindowMessage(WM_DISK_FULL));
    EXPECT_TRUE(m_presenter.Shown().empty());
}

TEST_F(CMessageTableTest, ANewMessageClosesTheOpenBoxFirst)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    int nExitAnswer = 0;
    m_presenter.QueueWhileOpen([&] {
        EXPECT_EQ(wnd.SendMessage(CWindowMessage(WM_QUERY_MODAL_OPEN)), 1);
        // The disk-full notice arrives while the exit question is open.
        m_presenter.SetNextAnswer(IDOK);
        wnd.SendMessage(CWindowMessage(WM_DISK_FULL));
        nExitAnswer = IDYES; // what the user would have pressed; the box was closed already
        return nExitAnswer;
    });
    wnd.OnCommand(ID_EXIT);
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{160, 152}));
    EXPECT_FALSE(wnd.IsQuitRequested()) << "the closed question answers No";
    EXPECT_EQ(wnd.SendMessage(CWindowMessage(WM_QUERY_MODAL_OPEN)), 0);
}

TEST_F(CMessageTableTest, CardSelectionTakesKnownDevicesUnlessTheSelectedOneTransfers)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    const auto select = [&](const QString& sUuid) {
        return wnd.SendMessage(CWindowMessage::WithPayload(WM_SELECT_DEVICE_CARD, sUuid));
    };
    EXPECT_EQ(select("uuid:unknown"), 1);
    EXPECT_EQ(select(QString()), 1);
    EXPECT_TRUE(wnd.SelectedDeviceUuid().isEmpty());
    EXPECT_EQ(wnd.SendMessage(CWindowMessage(WM_QUERY_MANUAL_TRANSFER_GREY)), 1);

    AddDevice("uuid:1");
    AddDevice("uuid:2", "127.0.0.3", "Kitchen");
    EXPECT_EQ(select("uuid:1"), 0);
    EXPECT_EQ(wnd.SelectedDeviceUuid(), "uuid:1");
    EXPECT_EQ(wnd.SendMessage(CWindowMessage(WM_QUERY_MANUAL_TRANSFER_GREY)), 0);

    SDeviceSnapshot device;
    ASSERT_TRUE(wnd.CommonManager().DeviceManager().BeginTransfer(&device));
    EXPECT_EQ(select("uuid:2"), 1);
    EXPECT_EQ(wnd.SelectedDeviceUuid(), "uuid:1");
    wnd.CommonManager().DeviceManager().EndTransfer("uuid:1");
    EXPECT_EQ(select("uuid:2"), 0);
    EXPECT_EQ(wnd.SelectedDeviceUuid(), "uuid:2");
}

TEST_F(CMessageTableTest, WindowStateMessagesChangeWhatTheySay)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    wnd.SendMessage(CWindowMessage(WM_ENABLE_CANCEL, 0, 0));
    EXPECT_FALSE(Button(IDC_CANCEL)->isEnabled());
    wnd.SendMessage(CWindowMessage(WM_ENABLE_CANCEL, 0, 1));
    EXPECT_TRUE(Button(IDC_CANCEL)->isEnabled());

    wnd.SendMessage(CWindowMessage(WM_SET_TRAY_ICON, 0, IDI_TRAY_AUTO_ON));
    EXPECT_EQ(wnd.TrayIconId(), unsigned(IDI_TRAY_AUTO_ON));

    wnd.SendMessage(
        CWindowMessage::WithPayload(WM_SET_DEVICE_PICTURE_TEXT, std::pair<QString, QString>("HAP-Z1", "127.0.0.2")));
    EXPECT_EQ(wnd.DeviceModel(), "HAP-Z1");
    EXPECT_EQ(wnd.DeviceIpAddress(), "127.0.0.2");
    wnd.SendMessage(CWindowMessage(WM_SET_DEVICE_PICTURE_TEXT));
    EXPECT_TRUE(wnd.DeviceModel().isEmpty() && wnd.DeviceIpAddress().isEmpty());

    // Explore shows with a device; a missing picture file falls back to the default picture.
    wnd.SendMessage(CWindowMessage::WithPayload(WM_SHOW_EXPLORE, QString(m_home.Path("missing.png")), 0, 1));
    EXPECT_FALSE(Button(IDC_EXPLORE)->isHidden());
    wnd.SendMessage(CWindowMessage(WM_SHOW_EXPLORE, 0, 0));
    EXPECT_TRUE(Button(IDC_EXPLORE)->isHidden());

    wnd.SendMessage(CWindowMessage(WM_SET_OFFLINE_PROMPT_DONE, 0, 1));
    EXPECT_TRUE(wnd.OfflinePromptDone());
    wnd.SendMessage(CWindowMessage(WM_SET_CONTENTS_DIALOG_OPEN, 0, 1));
    EXPECT_TRUE(wnd.IsContentsDialogOpen());
    wnd.SendMessage(CWindowMessage(WM_SET_START_TRANSFER_OFFER, 0, 1));
    EXPECT_TRUE(wnd.StartTransferOffered());
    wnd.SendMessage(CWindowMessage::WithPayload(WM_SET_TRANSFER_DEVICE_NAME, QString("Living Room")));
    EXPECT_EQ(wnd.SyncPage().DeviceName(), "Living Room");

    // Contents unmodified: asked by the Connection view; always yes in the wizard.
    EXPECT_EQ(wnd.SendMessage(CWindowMessage(WM_QUERY_CONTENTS_UNMODIFIED)), 1);
    wnd.ContentsPage().SetExtensionList({"mp3|1"});
    EXPECT_EQ(wnd.SendMessage(CWindowMessage(WM_QUERY_CONTENTS_UNMODIFIED)), 0);
    wnd.SendMessage(CWindowMessage(WM_CHANGE_MODE, DM_WIZARD_CONTENTS, 0));
    EXPECT_EQ(wnd.SendMessage(CWindowMessage(WM_QUERY_CONTENTS_UNMODIFIED)), 1);

    wnd.SyncPage().SetMinutes(0);
    wnd.PostMessage(CWindowMessage(WM_CLAMP_MINUTES));
    EXPECT_TRUE(QTest::qWaitFor([&] { return wnd.SyncPage().Minutes() == 1; }, 10000));
}

TEST_F(CMessageTableTest, InTimerNoticeStopsThePanelTimer)
{
    WriteSettingDword(kSettingFirstRun, 0);
    WriteAutoStart(AutoStartCommandLine());
    CTolvaMusicTransferDlg& wnd = StartWindow();
    ASSERT_TRUE(m_timers.IsTimerRunning(&wnd, TIMER_ID_ON_SHOW_PANEL));
    wnd.SendMessage(CWindowMessage(WM_SET_IN_TIMER, 0, 0));
    EXPECT_FALSE(wnd.IsInTimer());
    EXPECT_FALSE(m_timers.IsTimerRunning(&wnd, TIMER_ID_ON_SHOW_PANEL));
}

TEST_F(CMessageTableTest, ActiveAppShowsTheHiddenConsoleAndEndsThePanelTimer)
{
    WriteSettingDword(kSettingFirstRun, 0);
    WriteAutoStart(AutoStartCommandLine());
    CTolvaMusicTransferDlg& wnd = StartWindow();
    AddDevice("uuid:1");
    wnd.SendMessage(CWindowMessage::WithPayload(WM_SELECT_DEVICE_CARD, QString("uuid:1")));
    ASSERT_FALSE(wnd.isVisible());

    wnd.OnActiveApp();
    EXPECT_TRUE(wnd.isVisible());
    EXPECT_TRUE(wnd.IsShowWindowAllowed());
    EXPECT_FALSE(wnd.IsInTimer());
    EXPECT_FALSE(m_timers.IsTimerRunning(&wnd, TIMER_ID_ON_SHOW_PANEL));
    EXPECT_TRUE(wnd.SelectedDeviceUuid().isEmpty());
}

TEST_F(CMessageTableTest, DeviceReportsFromTheSearchThreadReachTheWindowsThread)
{
    m_home.EnableLog();
    WriteSettingDword(kSettingFirstRun, 0);
    CTolvaMusicTransferDlg& wnd = StartWindow();
    std::thread search([&] {
        SDeviceChange change;
        change.sUuid = "uuid:1";
        wnd.UpdateDeviceInfo(change);
        wnd.SelectDeviceManual("uuid:1", "127.0.0.2");
    });
    search.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_home.ReadLog().contains("SelectDeviceManual"); }, 10000));
    EXPECT_TRUE(m_home.ReadLog().contains("Level UpdateDeviceInfo."));
}

TEST_F(CMessageTableTest, HelpOpensTheShippedHelpPageAndExitAsksFirst)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    Click(IDC_HELP);
    wnd.MenuAction(ID_HELP)->trigger();
    ASSERT_EQ(m_shell.Opened().size(), 2);
    EXPECT_TRUE(m_shell.Opened()[0].startsWith("file:///")) << m_shell.Opened()[0].toStdString();
    EXPECT_TRUE(m_shell.Opened()[0].endsWith("/help/index.html"));
    m_shell.CompletePending();

    ASSERT_TRUE(AutoStartExists());
    m_presenter.SetNextAnswer(IDNO);
    wnd.MenuAction(ID_EXIT)->trigger();
    EXPECT_FALSE(wnd.IsQuitRequested());
    EXPECT_TRUE(AutoStartExists());
    m_presenter.SetNextAnswer(IDYES);
    wnd.MenuAction(ID_EXIT)->trigger();
    EXPECT_TRUE(wnd.IsQuitRequested());
    EXPECT_FALSE(AutoStartExists()) << "an exit by hand removes the start at logon";
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{160, 160}));
}

TEST_F(CMessageTableTest, MenuTextsCarryTheirAccelerators)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    EXPECT_EQ(wnd.MenuAction(ID_HELP)->text(), LoadStringText(165) + "(H)\tAlt+H");
    EXPECT_EQ(wnd.MenuAction(ID_ABOUT)->text(), LoadStringText(166) + "(A)\tAlt+A");
    EXPECT_EQ(wnd.MenuAction(ID_EXIT)->text(), LoadStringText(167) + "(E)\tAlt+E");
    EXPECT_EQ(wnd.MenuAction(ID_PAGE_CONTENTS)->text(), "Contents Settings");
}

} // namespace

namespace {

// The program's small dialogs carry the product name (the About box its own title); a new
// message ends the open one with IDNO before it shows.
TEST_F(CMessageTableTest, ANewMessageEndsTheOpenSmallDialogWithNo)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    for (const unsigned nTitleId : {101u, 136u, 0u}) {
        QDialog dialog(&wnd);
        dialog.setWindowTitle(nTitleId ? LoadStringText(nTitleId) : QString("Another program's dialog"));
        m_presenter.SetNextAnswer(IDOK);
        QTimer::singleShot(0, &wnd, [&] {
            EXPECT_EQ(wnd.SendMessage(CWindowMessage(WM_QUERY_MODAL_OPEN)), 1);
            wnd.SendMessage(CWindowMessage(WM_DISK_FULL));
            if (dialog.isVisible())
                dialog.done(QDialog::Accepted); // not ended: let the test fail instead of hanging
        });
        // A dialog that is not one of the program's own stays open.
        EXPECT_EQ(dialog.exec(), nTitleId ? IDNO : int(QDialog::Accepted)) << nTitleId;
    }
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{152, 152, 152}));
}

} // namespace

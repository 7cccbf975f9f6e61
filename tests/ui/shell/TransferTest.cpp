#include <thread>

#include <QAction>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "ShellFixture.h"
#include "app/TransferOutcome.h"
#include "app/Tray.h"
#include "support/FakeDevicePower.h"
#include "support/desktop/TestActivityMonitor.h"
#include "support/desktop/TestTrayPresence.h"
#include "sync/DeviceLists.h"
#include "sync/TransferHistory.h"
#include "sync/TransferLock.h"

namespace {

using Page = CPropertyTreePageSyncSettings;
const QString kUuid = "uuid:player-1";

// A console with a selected player whose power the test answers, and the lists a run needs.
class CTransferTest : public CShellTest
{
protected:
    CTransferTest()
    {
        m_pActivity = &m_activity;
        m_pTrayPresence = &m_trayPresence;
    }
    // The window goes before the doubles it uses.
    ~CTransferTest() override { m_pWnd.reset(); }

    CTolvaMusicTransferDlg& StartWithPlayer(bool bLists = true)
    {
        CTolvaMusicTransferDlg& wnd = StartConsole();
        auto pPower = std::make_unique<CFakeDevicePower>(false, false);
        m_pPower = pPower.get();
        wnd.CommonManager().SetDevicePower(std::move(pPower));
        SelectDevice(kUuid);
        if (bLists) {
            WriteTestFile(m_home.Path("Music/a.mp3"), "a");
            EXPECT_TRUE(SaveListFile(kUuid, kSyncFolderListName, {m_home.Path("Music") + "/|1"}));
            EXPECT_TRUE(SaveListFile(kUuid, kCapabilityListName, {"mp3|1"}));
        }
        m_trayPresence.Resolve(true);
        return wnd;
    }
    Page& SyncPage() { return m_pWnd->SyncPage(); }
    QString StartStopText() { return static_cast<QPushButton*>(SyncPage().Control(Page::IDC_START_STOP))->text(); }
    // Start on the page; the run waits for the player's power answer.
    void StartFromPage(std::size_t nRequest = 1)
    {
        m_pWnd->SyncPage().StartOrStopTransfer();
        ASSERT_TRUE(m_pPower->WaitForRequests(nRequest));
        m_pWnd->CommonManager().ContentsManager().JoinScan();
    }
    // The power thread's verdict for the run under way, as the common manager reports it.
    void Finish(int nCode) { m_pWnd->SendMessage(CWindowMessage(WM_TRANSFER_FINISHED, 0, nCode)); }

    CTestActivityMonitor m_activity;
    CTestTrayPresence m_trayPresence;
    CFakeDevicePower* m_pPower = nullptr;
};

// ---------------------------------------------------------------------------------------------
// The page's settings

TEST_F(CTransferTest, AFirstStartShowsOnAutoAndMidStoresTheDestinationAndStartsNoIdleDetection)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    Page& page = wnd.SyncPage();
    EXPECT_TRUE(static_cast<QRadioButton*>(page.Control(Page::IDC_ON))->isChecked());
    EXPECT_TRUE(static_cast<QRadioButton*>(page.Control(Page::IDC_DEST_AUTO))->isChecked());
    EXPECT_EQ(page.Priority(), DWORD(PROGRESS_LEVEL_MID));
    EXPECT_EQ(static_cast<QLineEdit*>(page.Control(Page::IDC_MINUTES))->text(), "5");
    DWORD dwPosition = 9;
    EXPECT_TRUE(ReadSettingDword(kSettingSyncFileSavePosition, &dwPosition));
    EXPECT_EQ(dwPosition, 0u);
    EXPECT_FALSE(wnd.IsIdleDetection());
    EXPECT_FALSE(m_activity.IsArmed());
    EXPECT_EQ(page.Control(Page::IDC_START_STOP)->accessibleName(), "Start (1004)");
}

TEST_F(CTransferTest, StoredValuesOutsideTheRangesShowAsStoredAndAreKeptOrCorrectedOnUse)
{
    WriteSettingDword(kSettingAutoTransfer, 1);
    WriteSettingDword(kSettingAutoTransferTime, 99);
    WriteSettingDword(kSettingSyncFileSavePosition, 7);
    CTolvaMusicTransferDlg& wnd = StartConsole();
    Page& page = wnd.SyncPage();
    auto* pEdit = static_cast<QLineEdit*>(page.Control(Page::IDC_MINUTES));
    EXPECT_EQ(pEdit->text(), "99");
    // A stored "on" arms idle detection with the stored minutes.
    EXPECT_TRUE(wnd.IsIdleDetection());
    EXPECT_EQ(m_activity.IdleMs(), 99 * 60000);
    EXPECT_TRUE(static_cast<QRadioButton*>(page.Control(Page::IDC_DEST_AUTO))->isChecked());
    EXPECT_TRUE(page.IsMinutesModified());
    EXPECT_EQ(pEdit->text(), "60");
    page.CommitValues();
    page.ApplySyncSettings();
    DWORD dwValue = 0;
    ReadSettingDword(kSettingSyncFileSavePosition, &dwValue);
    EXPECT_EQ(dwValue, 7u) << "an unknown destination is written back unchanged";
    ReadSettingDword(kSettingDevicePowerFrequency, &dwValue);
    EXPECT_EQ(dwValue, 20u);
    EXPECT_EQ(wnd.TrayIconId(), unsigned(IDI_TRAY_AUTO_ON));
    EXPECT_EQ(m_activity.IdleMs(), 60 * 60000);

    // Off stops idle detection and shows the other icon.
    static_cast<QRadioButton*>(page.Control(Page::IDC_OFF))->click();
    EXPECT_FALSE(page.Control(Page::IDC_MINUTES)->isEnabled());
    EXPECT_TRUE(wnd.Button(IDC_APPLY)->isEnabled());
    m_presenter.SetNextAnswer(IDOK);
    wnd.Button(IDC_APPLY)->click();
    EXPECT_FALSE(m_activity.IsArmed());
    EXPECT_EQ(wnd.TrayIconId(), unsigned(IDI_TRAY_AUTO_OFF));
    m_presenter.DiscardAnswers();
}

TEST_F(CTransferTest, TheMinutesFieldTakesDigitsOnlyAndCorrectsItselfWhenLeft)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    Page& page = wnd.SyncPage();
    auto* pEdit = static_cast<QLineEdit*>(page.Control(Page::IDC_MINUTES));
    pEdit->clear();
    QTest::keyClicks(pEdit, "a-0 x");
    EXPECT_EQ(pEdit->text(), "0");
    QTest::keyClick(pEdit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(pEdit->text(), "0");
    EXPECT_EQ(pEdit->contextMenuPolicy(), Qt::NoContextMenu);
    page.OnMinutesKillFocus();
    EXPECT_EQ(pEdit->text(), "1");

    // An emptied field gets the last number back.
    pEdit->clear();
    page.OnMinutesKillFocus();
    EXPECT_EQ(pEdit->text(), "1");
    // The arrows wrap: down from 1 is 60, up from 60 is 1.
    page.StepMinutes(false);
    EXPECT_EQ(pEdit->text(), "60");
    page.StepMinutes(true);
    EXPECT_EQ(pEdit->text(), "1");
    // A keystroke reaches the window after the field took it: Apply follows the edit.
    pEdit->setText("5");
    QTest::keyClick(pEdit, Qt::Key_7);
    EXPECT_TRUE(QTest::qWaitFor([&] { return wnd.Button(IDC_APPLY)->isEnabled(); }, 5000));
}

// ---------------------------------------------------------------------------------------------
// The manual transfer on the page

TEST_F(CTransferTest, FourFilesCountUpWithTheBarAndAReportAfterStopCannotBringItBack)
{
    m_home.EnableLog();
    CTolvaMusicTransferDlg& wnd = StartWithPlayer();
    Page& page = wnd.SyncPage();
    StartFromPage();
    EXPECT_EQ(StartStopText(), LoadStringText(117));
    EXPECT_EQ(page.StatusText(), LoadStringText(180));
    m_timers.Advance(1000);
    EXPECT_EQ(page.StatusText(), LoadStringText(180) + ".");

    // Reports come from the transfer thread.
    const std::vector<int> expected = {20, 40, 60, 80, 100};
    for (unsigned nDone = 0; nDone <= 4; ++nDone) {
        std::thread worker([&] {
            page.ShowFileCopying("/music/x.mp3", 4'000'000);
            page.ShowTransferProgress(nDone, 4);
        });
        worker.join();
        m_home.Clock().Advance(2000);
        EXPECT_TRUE(QTest::qWaitFor([&] { return page.CounterText() == QString("%1/4").arg(nDone); }, 5000));
        EXPECT_EQ(page.ProgressValue(), expected[nDone]) << nDone;
        // Throughput and time left once a file has been copied.
        EXPECT_EQ(page.ProgressInfoText().isEmpty(), nDone == 0) << page.ProgressInfoText().toStdString();
    }
    EXPECT_TRUE(page.StatusText().isEmpty()) << "the bar replaced the status line";
    EXPECT_FALSE(m_timers.IsTimerRunning(&page, Page::kDotTimerId)) << "no dots, no timer";

    page.StartOrStopTransfer(); // Stop
    EXPECT_TRUE(page.IsCancelRequested());
    EXPECT_FALSE(page.Control(Page::IDC_PROGRESS)->isVisibleTo(&page));
    page.StartOrStopTransfer(); // a second Stop does nothing more
    page.ShowTransferProgress(4, 4);
    page.ApplyProgress(4, 4);
    EXPECT_FALSE(page.IsProgressShown());
    EXPECT_EQ(m_home.ReadLog().count("Enter CPropertyTreePageSyncSettings::HandleCancelFileSync."), 1);
    EXPECT_EQ(StartStopText(), LoadStringText(117)) << "Stop stays until the result";

    m_presenter.SetNextAnswer(IDOK);
    Finish(EC_CANCELLED);
    EXPECT_EQ(StartStopText(), LoadStringText(116));
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{150});
}

TEST_F(CTransferTest, StartWithoutAPlayerDoesNothingAndAChangedSettingAsksFirst)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    wnd.SyncPage().StartOrStopTransfer();
    EXPECT_FALSE(wnd.IsTransferring());
    EXPECT_EQ(StartStopText(), LoadStringText(116));

    auto pPower = std::make_unique<CFakeDevicePower>(false, false);
    m_pPower = pPower.get();
    wnd.CommonManager().SetDevicePower(std::move(pPower));
    SelectDevice(kUuid);
    wnd.SyncPage().SetDestination(SAVE_POSITION_INTERNAL);
    m_presenter.SetNextAnswer(IDNO);
    wnd.SyncPage().StartOrStopTransfer();
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{186});
    EXPECT_FALSE(wnd.IsTransferring());
    EXPECT_TRUE(wnd.SyncPage().IsDestinationModified());

    // Yes saves, then starts; without a ticked folder the run ends at once (158).
    m_presenter.QueueAnswers({IDYES, IDOK});
    wnd.SyncPage().StartOrStopTransfer();
    EXPECT_FALSE(wnd.SyncPage().IsDestinationModified());
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{186, 186, 158}));
    EXPECT_FALSE(wnd.IsTransferring());
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE);
}

TEST_F(CTransferTest, OpenShowsAPrivateCopyOfTheHistoryAndClearAsksFirst)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    ASSERT_TRUE(SetCurrentDevId(kUuid));
    WriteTestFile(HistoryPathFor(kUuid), "C:/Music/a.mp3|line\r\n");
    static_cast<QPushButton*>(wnd.SyncPage().Control(Page::IDC_OPEN))->click();
    ASSERT_EQ(m_shell.Opened().size(), 1u);
    const QString sCopy = QUrl(m_shell.Opened()[0]).toLocalFile();
    EXPECT_NE(QFileInfo(sCopy).canonicalFilePath(), QFileInfo(HistoryPathFor(kUuid)).canonicalFilePath());
    EXPECT_EQ(ReadTestFile(sCopy), "C:/Music/a.mp3|line\r\n");
    EXPECT_EQ(QFile::permissions(sCopy) & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
              QFileDevice::Permissions());
    // A second Open replaces the first copy; the page's end takes the last one along.
    static_cast<QPushButton*>(wnd.SyncPage().Control(Page::IDC_OPEN))->click();
    ASSERT_EQ(m_shell.Opened().size(), 2u);
    EXPECT_FALSE(QFile::exists(sCopy));
    const QString sSecond = QUrl(m_shell.Opened()[1]).toLocalFile();
    EXPECT_TRUE(QFile::exists(sSecond));

    m_presenter.SetNextAnswer(IDNO);
    static_cast<QPushButton*>(wnd.SyncPage().Control(Page::IDC_CLEAR))->click();
    EXPECT_EQ(ReadTestFile(HistoryPathFor(kUuid)), "C:/Music/a.mp3|line\r\n");
    m_presenter.SetNextAnswer(IDYES);
    static_cast<QPushButton*>(wnd.SyncPage().Control(Page::IDC_CLEAR))->click();
    EXPECT_TRUE(ReadTestFile(HistoryPathFor(kUuid)).isEmpty());
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{161, 161}));
    m_pWnd.reset();
    EXPECT_FALSE(QFile::exists(sSecond));
}

// ---------------------------------------------------------------------------------------------
// Transfer state and outcome

TEST_F(CTransferTest, APlayerThatNeverGetsReadyIsAskedTwentyMoreTimesFiveSecondsApartThenOneMessage)
{
    CTolvaMusicTransferDlg& wnd = StartWithPlayer();
    WriteSettingDword(kSettingDevicePowerFrequency, 20);
    StartFromPage();
    wnd.CommonManager().OnPowerStateResult(false);
    for (int nRetry = 1; nRetry <= 20; ++nRetry) {
        ASSERT_TRUE(m_timers.IsTimerRunning(&wnd, TIMER_ID_POWER_RETRY)) << nRetry;
        EXPECT_TRUE(wnd.IsTransferring());
        EXPECT_EQ(StartStopText(), LoadStringText(117));
        EXPECT_EQ(wnd.Mode(), DM_CONSOLE_TRANSFER);
        m_timers.Advance(4999);
        EXPECT_EQ(m_pPower->Requests().size(), std::size_t(nRetry));
        m_timers.Advance(1);
        ASSERT_EQ(m_pPower->Requests().size(), std::size_t(nRetry + 1));
        EXPECT_FALSE(m_pPower->Requests().back().bAllowWakeUp);
        EXPECT_TRUE(m_presenter.Shown().empty());
        if (nRetry == 20)
            m_presenter.SetNextAnswer(IDOK);
        wnd.CommonManager().OnPowerStateResult(false);
    }
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{187});
    EXPECT_FALSE(wnd.IsTransferring());
    EXPECT_FALSE(m_timers.IsTimerRunning(&wnd, TIMER_ID_POWER_RETRY));
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE);
    EXPECT_EQ(wnd.RetriesLeft(), 20) << "the next run has its retries again";
}

TEST_F(CTransferTest, AStopDuringTheRetryWaitShowsTheNextNotReadyAtOnce)
{
    CTolvaMusicTransferDlg& wnd = StartWithPlayer();
    WriteSettingDword(kSettingDevicePowerFrequency, 20);
    StartFromPage();
    wnd.CommonManager().OnPowerStateResult(false);
    ASSERT_TRUE(m_timers.IsTimerRunning(&wnd, TIMER_ID_POWER_RETRY));
    wnd.SyncPage().StartOrStopTransfer(); // Stop
    EXPECT_FALSE(wnd.IsRetryAllowed());
    m_timers.Advance(5000);
    ASSERT_EQ(m_pPower->Requests().size(), 2u);
    m_presenter.SetNextAnswer(IDOK);
    wnd.CommonManager().OnPowerStateResult(false);
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{187});
    EXPECT_TRUE(wnd.IsRetryAllowed());
    EXPECT_FALSE(wnd.IsTransferring());
}

struct SOutcomeCase
{
    bool bShown;     // the window is shown
    bool bAutomatic; // started by the idle period (else from the page)
    int nCode;
    std::vector<unsigned> expected;
};

TEST_F(CTransferTest, EachOutcomeShowsAtMostOneMessageByWindowAndHowTheRunStarted)
{
    const SOutcomeCase cases[] = {
        {true, false, EC_OK, {156}},
        {true, false, EC_FILE_FAILED, {}},
        {true, false, EC_DEVICE_FULL, {151}},
        {true, false, EC_NO_EXTERNAL, {173}},
        {true, true, EC_OK, {}},
        {true, true, EC_TARGET_ERROR, {154}},
        {false, false, EC_OK, {}},
        {false, false, EC_NO_FILES, {200}},
        {false, false, EC_DEVICE_FULL, {}},
        {false, true, EC_CANCELLED, {}},
        {false, true, EC_DEVICE_FULL, {}},
    };
    CTolvaMusicTransferDlg& wnd = StartWithPlayer();
    WriteSettingDword(kSettingAutoTransfer, 1);
    WriteSettingDword(kSettingAutoTransferTime, 5);
    wnd.StartIdleDetection(5);
    std::size_t nRequests = 0;
    for (const SOutcomeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "shown " << c.bShown << " automatic " << c.bAutomatic << " code "
                                        << c.nCode);
        m_presenter.ClearShown();
        if (c.bShown)
            wnd.OnCommand(ID_SETUP_CONSOLE);
        else
            wnd.Button(IDC_OK)->click();
        if (c.bAutomatic) {
            ASSERT_TRUE(m_activity.Idle());
            ASSERT_TRUE(wnd.IsAutoTransferRunning());
        } else {
            wnd.SyncPage().StartOrStopTransfer();
        }
        ASSERT_TRUE(m_pPower->WaitForRequests(++nRequests));
        wnd.CommonManager().ContentsManager().JoinScan();
        ASSERT_TRUE(wnd.IsTransferring());
        if (!c.expected.empty())
            m_presenter.SetNextAnswer(IDOK);
        Finish(c.nCode);
        EXPECT_EQ(m_presenter.ShownIds(), c.expected);
        EXPECT_FALSE(wnd.IsTransferring());
        // Every result arms the idle period again.
        EXPECT_TRUE(m_activity.IsArmed());
        EXPECT_EQ(m_activity.IdleMs(), 5 * 60000);
    }
}

TEST_F(CTransferTest, ExitDuringATransferStopsItQuitsAtTheResultWithoutTheCancelMessage)
{
    CTolvaMusicTransferDlg& wnd = StartWithPlayer();
    ASSERT_TRUE(AutoStartExists());
    StartFromPage();
    m_presenter.SetNextAnswer(IDYES);
    wnd.OnCommand(ID_EXIT);
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{155});
    EXPECT_TRUE(wnd.IsQuitAfterTransfer());
    EXPECT_TRUE(wnd.SyncPage().IsCancelRequested());
    EXPECT_FALSE(wnd.IsQuitRequested());
    EXPECT_FALSE(AutoStartExists());
    Finish(EC_CANCELLED);
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{155});
    EXPECT_TRUE(wnd.IsQuitRequested());
}

TEST_F(CTransferTest, APlayerLostDuringATransferEndsItWithOneMessageAndTheConsoleWithoutDevice)
{
    CTolvaMusicTransferDlg& wnd = StartWithPlayer();
    StartFromPage();
    wnd.SendMessage(CWindowMessage::WithPayload(WM_DEVICE_REMOVED, QString(kUuid)));
    EXPECT_TRUE(wnd.SyncPage().IsCancelRequested());
    EXPECT_FALSE(wnd.CanCancel());
    m_presenter.SetNextAnswer(IDOK);
    Finish(EC_CANCELLED);
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{153});
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE_NO_DEVICE);
    EXPECT_TRUE(wnd.SelectedDeviceUuid().isEmpty());
}

TEST_F(CTransferTest, ExploreOpensTheSharesWakesThePlayerOnceAfterAFailureAndTheNetworkWithoutPlayer)
{
    CTolvaMusicTransferDlg& wnd = StartWithPlayer();
    m_shell.SetAutoComplete(true);
    wnd.SendMessage(
        CWindowMessage::WithPayload(WM_SET_DEVICE_PICTURE_TEXT, std::pair<QString, QString>("HAP", "127.0.0.2")));
    m_shell.QueueResults({false, true});
    wnd.OnCommand(ID_EXPLORE);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_shell.Opened().size() == 2; }, 10000));
    EXPECT_EQ(m_shell.Opened(), (QStringList{"smb://127.0.0.2/", "smb://127.0.0.2/"}));
    EXPECT_GE(m_pPower->m_nStateQueries.load(), 1);

    // Nothing opens smb:// here: after the second failure the address is shown to copy.
    m_shell.QueueResults({false, false});
    m_presenter.SetNextAnswer(IDOK);
    wnd.OnCommand(ID_EXPLORE);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_presenter.Shown().empty(); }, 10000));
    ASSERT_EQ(m_presenter.Shown().size(), 1u);
    EXPECT_TRUE(m_presenter.Shown()[0].sText.contains("smb://127.0.0.2/"));

    // Without a player: the desktop's network folder.
    wnd.SendMessage(CWindowMessage::WithPayload(WM_SET_DEVICE_PICTURE_TEXT, std::pair<QString, QString>()));
    wnd.OnCommand(ID_EXPLORE);
    EXPECT_EQ(m_shell.Opened().back(), "network:///");
}

// ---------------------------------------------------------------------------------------------
// Notification-area icon

TEST_F(CTransferTest, TheIconAnimatesOnlyWhileAConsoleTransferRunsAndTheMenuFollowsTheState)
{
    CTolvaMusicTransferDlg& wnd = StartWithPlayer();
    CTray* pTray = wnd.Tray();
    ASSERT_TRUE(pTray);
    QAction* pFirst = pTray->Action(ID_MANUAL_TRANSFER);
    EXPECT_EQ(pFirst->text(), LoadStringText(130));
    EXPECT_TRUE(pFirst->isEnabled());
    EXPECT_EQ(pTray->Action(ID_EXIT)->text(), LoadStringText(135) + "(&E)\tAlt+E");
    EXPECT_FALSE(m_timers.IsTimerRunning(&wnd, TIMER_ID_TRAY_ANIMATION));

    pFirst->trigger(); // Manual Transfer
    ASSERT_TRUE(m_pPower->WaitForRequests(1));
    wnd.CommonManager().ContentsManager().JoinScan();
    EXPECT_EQ(pFirst->text(), LoadStringText(176));
    std::vector<unsigned> frames;
    for (int nTick = 0; nTick < 10; ++nTick) {
        m_timers.Advance(100);
        frames.push_back(pTray->IconId());
    }
    EXPECT_EQ(frames, (std::vector<unsigned>{211, 212, 213, 214, 215, 216, 217, 218, 218, 211}));

    pFirst->trigger(); // Stop Transferring
    EXPECT_TRUE(wnd.SyncPage().IsCancelRequested());
    m_presenter.SetNextAnswer(IDOK);
    Finish(EC_CANCELLED);
    EXPECT_EQ(pTray->IconId(), unsigned(IDI_TRAY_AUTO_OFF)) << "no automatic transfer stored";
    EXPECT_FALSE(m_timers.IsTimerRunning(&wnd, TIMER_ID_TRAY_ANIMATION));
    EXPECT_EQ(pFirst->text(), LoadStringText(130));

    // The player goes while nothing runs: the window (on show) runs the offline dialog, searching
    // at once; Manual Transfer is greyed meanwhile and after.
    QString sDialogTitle;
    bool bGreyedWhileOpen = true;
    QTimer::singleShot(0, &wnd, [&] {
        if (QWidget* pModal = QApplication::activeModalWidget())
            sDialogTitle = pModal->objectName();
        bGreyedWhileOpen = !pFirst->isEnabled();
        wnd.CloseOpenMessageBox();
    });
    wnd.SendMessage(CWindowMessage::WithPayload(WM_DEVICE_REMOVED, QString(kUuid)));
    EXPECT_EQ(sDialogTitle, "rescanDialog");
    EXPECT_TRUE(bGreyedWhileOpen);
    EXPECT_FALSE(pFirst->isEnabled());
    EXPECT_TRUE(wnd.SelectedDeviceUuid().isEmpty()) << "the dialog did not find the player again";
    m_presenter.DiscardAnswers();
}

TEST_F(CTransferTest, WithoutANotificationAreaTheWindowShowsAndADoubleClickOpensTheConsole)
{
    WriteSettingDword(kSettingFirstRun, 0);
    ASSERT_TRUE(WriteAutoStart(AutoStartCommandLine()));
    CTolvaMusicTransferDlg& wnd = StartWindow();
    EXPECT_FALSE(wnd.isVisible()) << "started at logon";
    m_trayPresence.Resolve(false);
    EXPECT_TRUE(wnd.isVisible());

    wnd.Button(IDC_OK)->click();
    EXPECT_FALSE(wnd.isVisible());
    wnd.SendMessage(CWindowMessage(WM_TRAY_NOTIFY, 0, TRAY_MOUSE_LEFT_DOUBLE));
    EXPECT_TRUE(wnd.isVisible());
}

// ---------------------------------------------------------------------------------------------
// Automatic transfer on idle

TEST_F(CTransferTest, InputCancelsAnAutomaticTransferOnlyWhenTheWindowWasHiddenAndOnlyOnce)
{
    WriteSettingDword(kSettingAutoTransfer, 1);
    WriteSettingDword(kSettingAutoTransferTime, 5);
    m_home.EnableLog();
    CTolvaMusicTransferDlg& wnd = StartWithPlayer();
    ASSERT_TRUE(m_activity.IsArmed());

    // Window shown at the start: input does not cancel.
    ASSERT_TRUE(m_activity.Idle());
    ASSERT_TRUE(m_pPower->WaitForRequests(1));
    wnd.CommonManager().ContentsManager().JoinScan();
    EXPECT_TRUE(wnd.IsAutoTransferRunning());
    m_activity.Input(INPUT_POINTER_MOVED);
    m_activity.Input(INPUT_KEYBOARD);
    EXPECT_FALSE(wnd.SyncPage().IsCancelRequested());
    Finish(EC_OK);
    EXPECT_TRUE(m_presenter.Shown().empty()) << "a clean automatic run over the open window says nothing";

    // Window hidden: a pointer move cancels, once, and no message follows.
    wnd.Button(IDC_OK)->click();
    ASSERT_TRUE(m_activity.Idle());
    ASSERT_TRUE(m_pPower->WaitForRequests(2));
    wnd.CommonManager().ContentsManager().JoinScan();
    m_activity.Input(INPUT_POINTER_MOVED);
    EXPECT_TRUE(wnd.SyncPage().IsCancelRequested());
    EXPECT_FALSE(wnd.CanCancel());
    m_activity.Input(INPUT_KEYBOARD);
    EXPECT_EQ(m_home.ReadLog().count("HandleCancelFileSync (input"), 1);
    Finish(EC_CANCELLED);
    EXPECT_TRUE(m_presenter.Shown().empty());
    EXPECT_TRUE(wnd.CanCancel());
    EXPECT_EQ(m_activity.IdleMs(), 5 * 60000) << "armed again after the result";

    // A transfer started by hand is never cancelled by input.
    wnd.SyncPage().StartOrStopTransfer();
    ASSERT_TRUE(m_pPower->WaitForRequests(3));
    wnd.CommonManager().ContentsManager().JoinScan();
    m_activity.Input(INPUT_KEYBOARD);
    EXPECT_FALSE(wnd.SyncPage().IsCancelRequested());
    Finish(EC_OK);
}

TEST_F(CTransferTest, WithoutAPlayerOrWithADialogOpenTheIdlePeriodStartsNothingAndWaitsAnother)
{
    WriteSettingDword(kSettingAutoTransfer, 1);
    WriteSettingDword(kSettingAutoTransferTime, 5);
    CTolvaMusicTransferDlg& wnd = StartConsole();
    ASSERT_TRUE(m_activity.IsArmed());
    const int nArms = m_activity.ArmCount();
    ASSERT_TRUE(m_activity.Idle());
    EXPECT_FALSE(wnd.IsTransferring());
    EXPECT_EQ(m_activity.ArmCount(), nArms + 1) << "the next period decides again";

    auto pPower = std::make_unique<CFakeDevicePower>(false, false);
    wnd.CommonManager().SetDevicePower(std::move(pPower));
    SelectDevice(kUuid);
    m_presenter.QueueWhileOpen([&] {
        EXPECT_TRUE(m_activity.Idle());
        EXPECT_FALSE(wnd.IsTransferring());
        return IDOK;
    });
    wnd.OnCommand(IDC_APPLY);
    EXPECT_FALSE(wnd.IsTransferring());
    EXPECT_TRUE(m_activity.IsArmed());
}

// ---------------------------------------------------------------------------------------------
// One transfer per profile, and what the outcome must not hide

TEST_F(CTransferTest, AnotherTransferOnTheProfileIsNamedAndNothingStartsAndTheLockLastsUntilTheResult)
{
    WriteSettingDword(kSettingAutoTransfer, 1);
    WriteSettingDword(kSettingAutoTransferTime, 5);
    CTolvaMusicTransferDlg& wnd = StartWithPlayer();
    // `tolva transfer` (here: a lock of this test) runs on the profile.
    auto pOther = std::make_unique<CTransferLock>();
    QString sHolder;
    ASSERT_TRUE(pOther->TryLock());
    ASSERT_FALSE(CTransferLock().TryLock(&sHolder));
    ASSERT_FALSE(sHolder.isEmpty());

    // From the page (and so from the tray menu): the holder is named, the page returns to idle.
    m_presenter.SetNextAnswer(IDOK);
    wnd.SyncPage().StartOrStopTransfer();
    ASSERT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{1154});
    EXPECT_TRUE(m_presenter.Shown()[0].sText.contains(sHolder)) << m_presenter.Shown()[0].sText.toStdString();
    EXPECT_FALSE(wnd.IsTransferring());
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE);
    EXPECT_EQ(StartStopText(), LoadStringText(116));
    EXPECT_TRUE(m_pPower->Requests().empty()) << "nothing was started";

    // Automatic, window hidden: nobody to tell; the next idle period tries again.
    m_presenter.ClearShown();
    wnd.Button(IDC_OK)->click();
    ASSERT_TRUE(m_activity.Idle());
    EXPECT_TRUE(m_presenter.Shown().empty());
    EXPECT_FALSE(wnd.IsTransferring());
    EXPECT_FALSE(wnd.IsAutoTransferRunning());
    EXPECT_TRUE(m_activity.IsArmed());
    EXPECT_EQ(m_activity.IdleMs(), 5 * 60000) << "not the watch of a running transfer";

    // Free again: the window's run holds the profile until its result, across a not-ready retry.
    pOther.reset();
    WriteSettingDword(kSettingDevicePowerFrequency, 1);
    ASSERT_TRUE(m_activity.Idle());
    ASSERT_TRUE(m_pPower->WaitForRequests(1));
    wnd.CommonManager().ContentsManager().JoinScan();
    EXPECT_TRUE(wnd.HoldsTransferLock());
    EXPECT_FALSE(CTransferLock().TryLock());
    Finish(EC_POWER_NOT_READY);
    EXPECT_TRUE(wnd.IsTransferring());
    EXPECT_FALSE(CTransferLock().TryLock()) << "still held while the retry waits";
    Finish(EC_CANCELLED);
    EXPECT_FALSE(wnd.HoldsTransferLock());
    EXPECT_TRUE(CTransferLock().TryLock());
}

TEST_F(CTransferTest, AnUnwrittenHistoryOrAShareThatRefusesFileAfterFileIsToldNeverAPlainSuccess)
{
    STransferOutcome base;
    base.eCode = EC_OK;
    base.bFromPage = true;
    base.bWindowShown = true;
    base.sHistoryPath = "/home/u/.config/tolva/uuid-1/history.txt";
    base.nRefusalsInARow = 3;

    // A clean run whose history could not be written: the note, with the file, replaces 156,
    // and is told even where a success says nothing (window hidden, automatic).
    for (const bool bShown : {true, false}) {
        STransferOutcome o = base;
        o.bWindowShown = bShown;
        o.bAutomatic = !bShown;
        o.bHistoryNotWritten = true;
        const SMessageBox box = TransferOutcomeBox(o);
        EXPECT_EQ(box.nTextId, 1150u) << bShown;
        EXPECT_EQ(box.eIcon, MSG_ICON_ERROR);
        EXPECT_TRUE(box.sText.contains(base.sHistoryPath)) << box.sText.toStdString();
        EXPECT_FALSE(box.sText.contains(LoadStringText(156)));
    }
    // After a failure the failure is kept, the note follows in the same box.
    STransferOutcome full = base;
    full.eCode = EC_DEVICE_FULL;
    full.bHistoryNotWritten = true;
    const SMessageBox fullBox = TransferOutcomeBox(full);
    EXPECT_TRUE(fullBox.sText.startsWith(LoadStringText(151))) << fullBox.sText.toStdString();
    EXPECT_TRUE(fullBox.sText.contains(base.sHistoryPath));
    // Quitting: the program ends at this result; no note is added any more.
    full.bQuitAfterTransfer = true;
    EXPECT_EQ(TransferOutcomeBox(full).nTextId, 151u);
    EXPECT_TRUE(TransferOutcomeBox(full).sText.isEmpty());

    // A share that refused three files in a row: the reason, not the general error text.
    STransferOutcome refused = base;
    refused.eCode = EC_ACCESS_DENIED;
    refused.eRepeatedRefusal = EC_ACCESS_DENIED;
    SMessageBox box = TransferOutcomeBox(refused);
    EXPECT_EQ(box.nTextId, 1160u);
    EXPECT_EQ(box.sText, LoadStringText(1160).arg(3).arg(LoadStringText(1157)));
    EXPECT_EQ(box.eIcon, MSG_ICON_ERROR);
    // Code 10 says nothing on its own; refused file after file it does, over the open window.
    refused.eCode = EC_FILE_FAILED;
    refused.eRepeatedRefusal = EC_FILE_FAILED;
    refused.bAutomatic = true;
    box = TransferOutcomeBox(refused);
    EXPECT_EQ(box.sText, LoadStringText(1160).arg(3).arg(LoadStringText(1158)));
    // With the window hidden the rules of the codes stay: an error is not shown there.
    refused.bWindowShown = false;
    refused.bAutomatic = false;
    EXPECT_EQ(TransferOutcomeBox(refused).nTextId, 0u);
    // Without either, the table as before.
    EXPECT_EQ(TransferOutcomeBox(base).nTextId, 156u);
    EXPECT_TRUE(TransferOutcomeBox(base).sText.isEmpty());
}

TEST_F(CTransferTest, AHighPriorityTheAccountMayNotHaveIsToldOnceAfterASaveOrWhenThePageIsSeen)
{
    // Stored High, refused at start-up: nothing at the hidden window, the note when the page shows.
    WriteSettingDword(kSettingProgressLevel, PROGRESS_LEVEL_HIGH);
    std::vector<int> applied;
    CTolvaMusicTransferDlg& wnd = StartWithPlayer();
    EXPECT_TRUE(m_presenter.Shown().empty());
    wnd.SyncPage().SetPriorityApplier([&](int nLevel) {
        applied.push_back(nLevel);
        return nLevel != PROGRESS_LEVEL_HIGH;
    });
    wnd.OnCommand(ID_PAGE_CONNECTION);
    // Saved with the window hidden (OK): the note comes at once.
    wnd.SyncPage().SetPriority(PROGRESS_LEVEL_HIGH);
    m_presenter.SetNextAnswer(IDOK);
    wnd.Button(IDC_OK)->click();
    EXPECT_EQ(applied, std::vector<int>{PROGRESS_LEVEL_HIGH});
    ASSERT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{1161});
    EXPECT_EQ(m_presenter.Shown()[0].eIcon, MSG_ICON_WARNING);
    // Once per run: a later save of High says nothing more.
    wnd.OnCommand(ID_SETUP_CONSOLE);
    wnd.OnCommand(ID_PAGE_TRANSFER);
    QCoreApplication::processEvents();
    wnd.Button(IDC_OK)->click();
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{1161});
    EXPECT_FALSE(wnd.SyncPage().IsPriorityNotePending());
}

TEST_F(CTransferTest, AHighPriorityStoredEarlierIsToldWhenThePageIsFirstSeenAndNotAtExit)
{
    WriteSettingDword(kSettingProgressLevel, PROGRESS_LEVEL_HIGH);
    CTolvaMusicTransferDlg& wnd = StartWithPlayer();
    wnd.SyncPage().SetPriorityApplier([](int nLevel) { return nLevel != PROGRESS_LEVEL_HIGH; });
    // Exit applies the settings once more: no note while the program quits.
    m_presenter.SetNextAnswer(IDNO);
    m_presenter.SetNextAnswer(IDYES);
    wnd.OnCommand(ID_EXIT);
    wnd.OnCommand(ID_EXIT);
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{160, 160}));
    EXPECT_TRUE(wnd.SyncPage().IsPriorityNotePending());
    // Not yet seen: the note waits for the page.
    m_presenter.SetNextAnswer(IDOK);
    wnd.OnCommand(ID_PAGE_TRANSFER);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{160, 160, 1161}));
    EXPECT_FALSE(wnd.SyncPage().IsPriorityNotePending());
}

TEST_F(CTransferTest, TheCloseBoxHidesTheConsoleDuringATransferWhichGoesOn)
{
    CTolvaMusicTransferDlg& wnd = StartWithPlayer();
    StartFromPage();
    ASSERT_EQ(wnd.Mode(), DM_CONSOLE_TRANSFER);
    wnd.close();
    EXPECT_FALSE(wnd.isVisible());
    EXPECT_TRUE(wnd.IsTransferring()) << "closing the window does not stop the transfer";
    Finish(EC_OK);
    EXPECT_TRUE(m_presenter.Shown().empty());
}

TEST_F(CTransferTest, TheCloseBoxDoesNothingWhileTheWizardsTransferRuns)
{
    CTolvaMusicTransferDlg& wizard = StartWindow();
    ASSERT_EQ(wizard.Mode(), DM_WIZARD_CONNECTION);
    auto pPower = std::make_unique<CFakeDevicePower>(false, false);
    m_pPower = pPower.get();
    wizard.CommonManager().SetDevicePower(std::move(pPower));
    AddDevice(kUuid);
    ASSERT_EQ(wizard.SendMessage(CWindowMessage::WithPayload(WM_SELECT_DEVICE_CARD, QString(kUuid))), 0);
    WriteTestFile(m_home.Path("Music/a.mp3"), "a");
    ASSERT_TRUE(SaveListFile(kUuid, kSyncFolderListName, {m_home.Path("Music") + "/|1"}));
    ASSERT_TRUE(SaveListFile(kUuid, kCapabilityListName, {"mp3|1"}));
    wizard.SendMessage(CWindowMessage(WM_ENABLE_NEXT, 0, 1));
    Click(IDC_NEXT);
    Click(IDC_NEXT);
    ASSERT_EQ(wizard.Mode(), DM_WIZARD_TRANSFER);
    wizard.SyncPage().StartOrStopTransfer();
    ASSERT_TRUE(m_pPower->WaitForRequests(1));
    wizard.CommonManager().ContentsManager().JoinScan();
    ASSERT_EQ(wizard.Mode(), DM_WIZARD_TRANSFERRING);
    wizard.close();
    EXPECT_TRUE(wizard.isVisible());
    EXPECT_EQ(wizard.Mode(), DM_WIZARD_TRANSFERRING);
    EXPECT_TRUE(m_presenter.Shown().empty()) << "no wizard-end question";
    EXPECT_TRUE(wizard.IsTransferring());
    m_presenter.SetNextAnswer(IDOK);
    Finish(EC_OK);
    EXPECT_EQ(wizard.Mode(), DM_WIZARD_TRANSFER);
}

} // namespace

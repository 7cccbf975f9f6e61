#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QTimer>

#include "ShellFixture.h"

#include "app/WizardEndDlg.h"
#include "controls/SelFocus.h"
#include "foundation/Paths.h"
#include "platform/SettingsStore.h"

namespace {

constexpr int S = CSelFocus::SEL_FOCUS_SELECTED;
constexpr int N = CSelFocus::SEL_FOCUS_NORMAL;
constexpr int U = CSelFocus::SEL_FOCUS_UNAVAILABLE;

using CMainWindowModeTest = CShellTest;

// What a first start leaves in the application data folder before the wizard begins: files of
// a previous installation, one read-only, in a subfolder too.
void FillAppDataFolder()
{
    const QString sFolder = AppDataFolder();
    WriteTestFile(sFolder + "uuid_1/TransferHistory.txt", "old");
    WriteTestFile(sFolder + "SyncFolderTemp.dat", "old");
    QFile::setPermissions(sFolder + "SyncFolderTemp.dat", QFileDevice::ReadOwner);
}

TEST_F(CMainWindowModeTest, FirstStartRunsTheWizardWithOnlyEndAndWipesTheDataFolder)
{
    FillAppDataFolder();
    CTolvaMusicTransferDlg& wnd = StartWindow();

    EXPECT_EQ(wnd.Mode(), DM_WIZARD_CONNECTION);
    DWORD dwFirstRun = 0;
    ASSERT_TRUE(ReadSettingDword(kSettingFirstRun, &dwFirstRun));
    EXPECT_EQ(dwFirstRun, 1u);
    EXPECT_FALSE(QDir(AppDataFolder()).exists());
    EXPECT_TRUE(wnd.IsWizardThisRun());
    EXPECT_TRUE(wnd.isVisible());
    EXPECT_EQ(wnd.CurrentPageId(), 109u);
    EXPECT_EQ(Labels(), (std::vector<int>{N, U, U}));
    EXPECT_TRUE(Button(IDC_END)->isEnabled());
    EXPECT_FALSE(Button(IDC_NEXT)->isEnabled());
    EXPECT_FALSE(Button(IDC_PREV)->isEnabled());
    for (unsigned nId : {IDC_OK, IDC_CANCEL, IDC_APPLY})
        EXPECT_TRUE(Button(nId)->isHidden() && !Button(nId)->isEnabled()) << nId;
    EXPECT_FALSE(wnd.findChild<QMenuBar*>("mainMenu")->isVisible());
}

TEST_F(CMainWindowModeTest, UnfinishedWizardStartsAgainAndFinishedSetupStartsTheConsole)
{
    WriteSettingDword(kSettingFirstRun, 1);
    EXPECT_EQ(StartWindow().Mode(), DM_WIZARD_CONNECTION);
    m_pWnd.reset();

    WriteSettingDword(kSettingFirstRun, 0);
    WriteTestFile(AppDataFolder() + "uuid_1/TransferHistory.txt", "kept");
    CTolvaMusicTransferDlg& wnd = StartWindow();
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE_NO_DEVICE);
    EXPECT_EQ(ReadTestFile(AppDataFolder() + "uuid_1/TransferHistory.txt"), "kept");
    EXPECT_EQ(Labels(), (std::vector<int>{S, U, U}));
    EXPECT_TRUE(wnd.MenuAction(ID_PAGE_CONNECTION)->isEnabled());
    EXPECT_FALSE(wnd.MenuAction(ID_PAGE_CONTENTS)->isEnabled());
    EXPECT_FALSE(wnd.MenuAction(ID_PAGE_TRANSFER)->isEnabled());
    for (unsigned nId : {IDC_NEXT, IDC_PREV, IDC_END})
        EXPECT_TRUE(Button(nId)->isHidden()) << nId;
    EXPECT_TRUE(Button(IDC_OK)->isEnabled());
    EXPECT_FALSE(Button(IDC_APPLY)->isEnabled());
    EXPECT_TRUE(Button(IDC_EXPLORE)->isHidden());
    // A manual start writes the logon start value; the icon shows Auto transfer off.
    EXPECT_TRUE(AutoStartExists());
    EXPECT_EQ(wnd.TrayIconId(), unsigned(IDI_TRAY_AUTO_OFF));
    EXPECT_FALSE(wnd.IsInTimer());
}

TEST_F(CMainWindowModeTest, FirstRunThatIsNotANumberOrADamagedSettingsFileStartsTheConsoleWithoutWiping)
{
    WriteSettingString(kSettingFirstRun, "yes");
    WriteTestFile(AppDataFolder() + "uuid_1/TransferHistory.txt", "kept");
    EXPECT_EQ(StartWindow().Mode(), DM_CONSOLE_NO_DEVICE);
    m_pWnd.reset();

    // A damaged settings file reads as "nothing stored"; it is no first start.
    WriteTestFile(CSettingsStore::DefaultFilePath(), "{ not json");
    EXPECT_EQ(StartWindow().Mode(), DM_CONSOLE_NO_DEVICE);
    EXPECT_EQ(ReadTestFile(AppDataFolder() + "uuid_1/TransferHistory.txt"), "kept");
    EXPECT_FALSE(m_pWnd->IsWizardThisRun());
}

TEST_F(CMainWindowModeTest, WizardRefusesToWipeAFolderThatIsNotAnAbsoluteFolderOfItsOwn)
{
    // A relative folder would name one below whatever the working directory is; the bare suffix,
    // a folder of another name or one that climbs out with ".." is not the program's own either.
    EXPECT_FALSE(CTolvaMusicTransferDlg::IsOwnAppDataFolder("Brenvik Corporation/TolvaMusicTransfer/"));
    EXPECT_FALSE(CTolvaMusicTransferDlg::IsOwnAppDataFolder("/Brenvik Corporation/TolvaMusicTransfer/"));
    EXPECT_FALSE(CTolvaMusicTransferDlg::IsOwnAppDataFolder("/home/ann/.local/share/Other/"));
    EXPECT_FALSE(CTolvaMusicTransferDlg::IsOwnAppDataFolder(
        "/home/ann/.local/share/Brenvik Corporation/TolvaMusicTransfer/../../../Music/Brenvik Corporation/TolvaMusicTransfer/.."));
    EXPECT_TRUE(CTolvaMusicTransferDlg::IsOwnAppDataFolder("/home/ann/.local/share/Brenvik Corporation/TolvaMusicTransfer/"));

    // The folder in use is the test home's own: the wizard's start empties it and nothing beside it.
    WriteTestFile(AppDataFolder() + "old/TransferHistory.txt", "x");
    WriteTestFile(m_home.Path("keep.txt"), "mine");
    StartWindow();
    EXPECT_EQ(m_pWnd->Mode(), DM_WIZARD_CONNECTION);
    EXPECT_FALSE(QFileInfo::exists(AppDataFolder() + "old/TransferHistory.txt"));
    EXPECT_EQ(ReadTestFile(m_home.Path("keep.txt")), "mine");
}

TEST_F(CMainWindowModeTest, StartAtLogonStaysHiddenAndKeepsTheSelectionForAMinute)
{
    WriteSettingDword(kSettingFirstRun, 0);
    ASSERT_TRUE(WriteAutoStart(AutoStartCommandLine()));
    CTolvaMusicTransferDlg& wnd = StartWindow();
    EXPECT_FALSE(wnd.isVisible());
    EXPECT_FALSE(wnd.IsShowWindowAllowed());
    EXPECT_TRUE(wnd.AutoStartExisted());
    EXPECT_TRUE(wnd.IsInTimer());
    wnd.show();
    EXPECT_FALSE(wnd.isVisible()) << "showing is refused while the window must stay hidden";

    AddDevice("uuid:1");
    ASSERT_EQ(wnd.SendMessage(CWindowMessage::WithPayload(WM_SELECT_DEVICE_CARD, QString("uuid:1"))), 0);
    m_timers.Advance(kShowPanelTimerMs - 1);
    EXPECT_EQ(wnd.SelectedDeviceUuid(), "uuid:1");
    m_timers.Advance(1);
    EXPECT_FALSE(wnd.IsInTimer());
    EXPECT_TRUE(wnd.SelectedDeviceUuid().isEmpty());
    EXPECT_FALSE(m_timers.IsTimerRunning(&wnd, TIMER_ID_ON_SHOW_PANEL));
}

TEST_F(CMainWindowModeTest, ManualStartWithAStoredDeviceWaitsForItsReport)
{
    WriteSettingDword(kSettingFirstRun, 0);
    SetCurrentDevId("uuid:stored");
    CTolvaMusicTransferDlg& wnd = StartWindow();
    EXPECT_TRUE(wnd.IsWaitDialogOpen());
    wnd.SendMessage(CWindowMessage(WM_CLOSE_WAIT_DIALOG));
    EXPECT_FALSE(wnd.IsWaitDialogOpen());
}

TEST_F(CMainWindowModeTest, GarbageStoredDeviceStartsAConsoleWithoutSelection)
{
    WriteSettingDword(kSettingFirstRun, 0);
    WriteSettingDword(kSettingCurrentDevId, 0xdeadbeef);
    CTolvaMusicTransferDlg& wnd = StartWindow();
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE_NO_DEVICE);
    EXPECT_TRUE(wnd.SelectedDeviceUuid().isEmpty());
}

// WM_CHANGE_MODE: labels and page menu items by new mode and second value.
struct SModeCase
{
    int nMode;
    int nSecond;
    std::vector<int> labels;
    bool abMenu[3];
};

TEST_F(CMainWindowModeTest, ModeChangeSetsLabelsAndMenuItemsByTheTable)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    const SModeCase cases[] = {
        {DM_CONSOLE, 0, {S, N, N}, {true, true, true}},
        {DM_CONSOLE, 2, {N, N, S}, {true, true, true}},
        {DM_CONSOLE_NO_DEVICE, 1, {S, U, U}, {true, false, false}},
        {DM_CONSOLE, 1, {S, N, N}, {true, true, true}},
        {DM_CONSOLE_TRANSFER, 0, {U, U, S}, {false, false, true}},
        {DM_WIZARD_CONNECTION, 4, {N, U, U}, {false, false, true}},
        {DM_WIZARD_TRANSFER, 6, {U, U, N}, {false, false, true}},
        {DM_WIZARD_TRANSFERRING, 5, {U, U, N}, {false, false, true}},
    };
    for (const SModeCase& c : cases) {
        wnd.SendMessage(CWindowMessage(WM_CHANGE_MODE, c.nMode, c.nSecond));
        SCOPED_TRACE(testing::Message() << "mode " << c.nMode << " with " << c.nSecond);
        EXPECT_EQ(wnd.Mode(), c.nMode);
        EXPECT_EQ(Labels(), c.labels);
        EXPECT_EQ(wnd.MenuAction(ID_PAGE_CONNECTION)->isEnabled(), c.abMenu[0]);
        EXPECT_EQ(wnd.MenuAction(ID_PAGE_CONTENTS)->isEnabled(), c.abMenu[1]);
        EXPECT_EQ(wnd.MenuAction(ID_PAGE_TRANSFER)->isEnabled(), c.abMenu[2]);
    }
    // Any other combination changes the mode alone.
    wnd.SendMessage(CWindowMessage(WM_CHANGE_MODE, DM_CONSOLE_TRANSFER, 3));
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE_TRANSFER);
    EXPECT_EQ(Labels(), (std::vector<int>{U, U, N}));
}

TEST_F(CMainWindowModeTest, PagesAreReachedByLabelAndMenuOnlyWhereTheModeAllows)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    // No device: the labels do nothing and the menu offers Connection only.
    wnd.Label(110)->Clicked();
    EXPECT_EQ(wnd.CurrentPageId(), 109u);

    SelectDevice("uuid:1");
    wnd.SyncPage().SetMinutes(7); // a status line of the Transfer Settings page to watch
    wnd.Label(111)->Clicked();
    EXPECT_EQ(wnd.CurrentPageId(), 111u);
    EXPECT_EQ(Labels(), (std::vector<int>{N, N, S}));
    wnd.MenuAction(ID_PAGE_CONTENTS)->trigger();
    EXPECT_EQ(wnd.CurrentPageId(), 110u);
    EXPECT_EQ(Labels(), (std::vector<int>{N, S, N}));
    EXPECT_TRUE(wnd.ContentsPage().isVisible());
    EXPECT_FALSE(wnd.SyncPage().isVisible());

    // While a transfer runs only Transfer Settings can be reached.
    wnd.SendMessage(CWindowMessage(WM_CHANGE_MODE, DM_CONSOLE_TRANSFER, 0));
    wnd.Label(109)->Clicked();
    EXPECT_EQ(wnd.CurrentPageId(), 110u);
    EXPECT_FALSE(wnd.MenuAction(ID_PAGE_CONNECTION)->isEnabled());

    // While the Connection page locks the window the labels do nothing, and everything comes
    // back as it was.
    wnd.SendMessage(CWindowMessage(WM_CHANGE_MODE, DM_CONSOLE, 0));
    Button(IDC_APPLY)->setEnabled(true);
    wnd.SendMessage(CWindowMessage::WithPayload(WM_LOCK_WINDOW, QString("1")));
    EXPECT_EQ(Labels(), (std::vector<int>{U, U, U}));
    EXPECT_FALSE(Button(IDC_OK)->isEnabled() || Button(IDC_CANCEL)->isEnabled() || Button(IDC_APPLY)->isEnabled());
    wnd.Label(111)->Clicked();
    EXPECT_EQ(wnd.CurrentPageId(), 110u);
    wnd.SendMessage(CWindowMessage::WithPayload(WM_LOCK_WINDOW, QString("0")));
    EXPECT_EQ(Labels(), (std::vector<int>{S, N, N}));
    EXPECT_TRUE(Button(IDC_OK)->isEnabled() && Button(IDC_CANCEL)->isEnabled() && Button(IDC_APPLY)->isEnabled());
    EXPECT_TRUE(wnd.LabelsEnabled());
}

TEST_F(CMainWindowModeTest, WizardStepsForwardAndBackAndEndInTheConsole)
{
    CTolvaMusicTransferDlg& wnd = StartWindow();
    ASSERT_EQ(wnd.Mode(), DM_WIZARD_CONNECTION);
    wnd.SendMessage(CWindowMessage(WM_ENABLE_NEXT, 0, 1));
    EXPECT_EQ(wnd.focusWidget(), Button(IDC_NEXT));
    Click(IDC_NEXT);
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_CONTENTS);
    EXPECT_EQ(wnd.CurrentPageId(), 110u);
    EXPECT_EQ(Labels(), (std::vector<int>{U, N, U}));
    EXPECT_TRUE(Button(IDC_PREV)->isEnabled());
    // The Connection view's selection (none) is stored.
    QString sStored = "unset";
    EXPECT_TRUE(ReadSettingString(kSettingCurrentDevId, &sStored));
    EXPECT_TRUE(sStored.isEmpty());

    // The Contents Settings page's own Next (WM_CONTENTS_NEXT) goes on to step 3.
    wnd.SendMessage(CWindowMessage(WM_CONTENTS_NEXT));
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_TRANSFER);
    EXPECT_EQ(wnd.CurrentPageId(), 111u);
    EXPECT_FALSE(Button(IDC_NEXT)->isEnabled());
    EXPECT_FALSE(wnd.SyncPage().IsTransferredFilesListShown());
    Click(IDC_PREV);
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_CONTENTS);
    EXPECT_EQ(wnd.CurrentPageId(), 110u);

    // Ending from step 2 asks first; No keeps step 2.
    m_presenter.SetNextAnswer(IDNO);
    Click(IDC_END);
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{174}));
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_CONTENTS);
    EXPECT_EQ(wnd.CurrentPageId(), 110u);

    // Yes, then the wizard-end dialog, which offers no transfer without a device.
    m_presenter.QueueAnswers({IDYES});
    bool bStartOffered = true;
    QTimer::singleShot(0, &wnd, [&] {
        auto* pDialog = qobject_cast<CWizardEndDlg*>(QApplication::activeModalWidget());
        ASSERT_TRUE(pDialog);
        bStartOffered = pDialog->IsStartAllowed();
        pDialog->done(CWizardEndDlg::kResultQuit);
    });
    Click(IDC_END);
    EXPECT_FALSE(bStartOffered);
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE_NO_DEVICE);
    EXPECT_EQ(wnd.CurrentPageId(), 109u);
    EXPECT_EQ(Labels(), (std::vector<int>{S, U, U}));
    DWORD dwFirstRun = 1;
    ASSERT_TRUE(ReadSettingDword(kSettingFirstRun, &dwFirstRun));
    EXPECT_EQ(dwFirstRun, 0u);
    EXPECT_TRUE(AutoStartExists());
    for (unsigned nId : {IDC_OK, IDC_CANCEL, IDC_APPLY})
        EXPECT_FALSE(Button(nId)->isHidden()) << nId;
    for (unsigned nId : {IDC_NEXT, IDC_PREV, IDC_END})
        EXPECT_TRUE(Button(nId)->isHidden()) << nId;
    EXPECT_FALSE(Button(IDC_APPLY)->isEnabled()) << "nothing was changed";
    EXPECT_TRUE(wnd.SyncPage().IsTransferredFilesListShown());
}

TEST_F(CMainWindowModeTest, WizardCloseBoxOnTheLastStepEndsWithoutAsking)
{
    CTolvaMusicTransferDlg& wnd = StartWindow();
    wnd.SendMessage(CWindowMessage(WM_ENABLE_NEXT, 0, 1));
    Click(IDC_NEXT);
    Click(IDC_NEXT);
    ASSERT_EQ(wnd.Mode(), DM_WIZARD_TRANSFER);
    // The wizard-end dialog closed by a newer message: the wizard goes on.
    QTimer::singleShot(0, &wnd, [&] { wnd.CloseOpenMessageBox(); });
    wnd.close();
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_TRANSFER);
    QTimer::singleShot(0, &wnd, [&] {
        if (auto* pDialog = qobject_cast<CWizardEndDlg*>(QApplication::activeModalWidget()))
            pDialog->done(CWizardEndDlg::kResultQuit);
    });
    wnd.close();
    EXPECT_TRUE(m_presenter.Shown().empty()) << "no question on the last step";
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE_NO_DEVICE);
    EXPECT_TRUE(wnd.isVisible());
}

} // namespace

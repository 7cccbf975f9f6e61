#include <functional>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "app/WizardEndDlg.h"
#include "controls/ConnectionView.h"
#include "controls/SelFocus.h"
#include "foundation/Paths.h"
#include "platform/AutoStart.h"
#include "support/FakeDevicePower.h"
#include "sync/DeviceLists.h"
#include "ui/shell/ShellFixture.h"

// The setup wizard of a first start: its three steps over the settings pages, the questions
// and the wizard-end dialog, and the settings console it leaves behind.

namespace {

using Page = CPropertyTreePageSyncSettings;
constexpr int S = CSelFocus::SEL_FOCUS_SELECTED;
constexpr int N = CSelFocus::SEL_FOCUS_NORMAL;
constexpr int U = CSelFocus::SEL_FOCUS_UNAVAILABLE;
const QString kUuid = "uuid:wizard-player";

class CWizardTest : public CShellTest
{
protected:
    // The window goes before the player's power it uses.
    ~CWizardTest() override { m_pWnd.reset(); }

    // A first start: the wizard on its Connection step; this PC's network is a documentation
    // address and not watched.
    CTolvaMusicTransferDlg& StartWizard()
    {
        m_pWnd =
            std::make_unique<CTolvaMusicTransferDlg>(SMainWindowServices{m_presenter, m_timers, m_shell, &m_folders});
        m_pWnd->ConnectionPage().SetNetworkWatchEnabled(false);
        m_pWnd->ConnectionPage().SetAdapterSource([] {
            return std::vector<SLocalAdapter>{{"192.0.2.7", "255.255.255.0"}};
        });
        auto pPower = std::make_unique<CFakeDevicePower>(false, false);
        m_pPower = pPower.get();
        m_pWnd->CommonManager().SetDevicePower(std::move(pPower));
        m_pWnd->Start();
        m_pWnd->show();
        EXPECT_EQ(m_pWnd->Mode(), DM_WIZARD_CONNECTION);
        return *m_pWnd;
    }
    // The search reports the player and the user clicks its card.
    void ChoosePlayer()
    {
        SDeviceSnapshot fields;
        fields.sUuid = kUuid;
        fields.sFriendlyName = "Living Room";
        fields.sIp = "192.0.2.10";
        fields.supportedTypes = {"mp3", "flac"};
        ASSERT_TRUE(m_pWnd->CommonManager().DeviceManager().AddDevice(std::make_unique<CDeviceInfo>(fields)));
        CConnectionView& view = *m_pWnd->ConnectionPage().View();
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.CardCount() > 0; }, 10000));
        m_pWnd->ConnectionPage().OnCardClicked(0);
    }
    // Ends the wizard with End (or the close box): answers the wizard-end dialog with nChoice
    // after whileOpen has looked at it. Returns whether the dialog opened.
    bool EndWizard(int nChoice, const std::function<void(CWizardEndDlg&)>& whileOpen = {}, bool bCloseBox = false)
    {
        bool bOpened = false;
        QTimer::singleShot(0, m_pWnd.get(), [&] {
            auto* pDialog = qobject_cast<CWizardEndDlg*>(QApplication::activeModalWidget());
            if (!pDialog)
                return;
            bOpened = true;
            if (whileOpen)
                whileOpen(*pDialog);
            pDialog->done(nChoice);
        });
        if (bCloseBox)
            m_pWnd->close();
        else
            Click(IDC_END);
        // A dialog that never opened leaves the timer above pending; it runs here, finding none.
        QCoreApplication::processEvents();
        return bOpened;
    }
    std::vector<int> Shown()
    {
        // Per button: 1 enabled, 0 disabled, -1 hidden; in the order Prev, Next, End, OK, Cancel, Apply.
        std::vector<int> states;
        for (unsigned nId : {IDC_PREV, IDC_NEXT, IDC_END, IDC_OK, IDC_CANCEL, IDC_APPLY})
            states.push_back(Button(nId)->isHidden() ? -1 : Button(nId)->isEnabled() ? 1 : 0);
        return states;
    }
    bool MenuBarShown() { return !m_pWnd->findChild<QMenuBar*>("mainMenu")->isHidden(); }
    QRadioButton* Radio(unsigned nId) { return static_cast<QRadioButton*>(m_pWnd->SyncPage().Control(nId)); }
    static DWORD Stored(const char* pszName, DWORD dwAbsent = 999)
    {
        DWORD dwValue = dwAbsent;
        return ReadSettingDword(pszName, &dwValue) ? dwValue : dwAbsent;
    }

    CFakeDevicePower* m_pPower = nullptr;
};

// Step by step, forward and back: the page on show, the labels (the current step normal, the
// others unavailable), the buttons in place of OK, Cancel and Apply, and where the focus goes.
TEST_F(CWizardTest, EachStepShowsItsPageLabelsAndButtonsForwardAndBack)
{
    CTolvaMusicTransferDlg& wnd = StartWizard();
    const std::vector<int> kStep1 = {0, 0, 1, -1, -1, -1};
    EXPECT_EQ(Shown(), kStep1);
    EXPECT_EQ(Labels(), (std::vector<int>{N, U, U}));
    EXPECT_EQ(wnd.focusWidget(), Button(IDC_END));
    EXPECT_FALSE(MenuBarShown());

    ChoosePlayer();
    EXPECT_EQ(Shown(), (std::vector<int>{0, 1, 1, -1, -1, -1})) << "a chosen player enables Next";
    EXPECT_EQ(wnd.focusWidget(), Button(IDC_NEXT));

    Click(IDC_NEXT);
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_CONTENTS);
    EXPECT_EQ(wnd.CurrentPageId(), 110u);
    EXPECT_EQ(Labels(), (std::vector<int>{U, N, U}));
    EXPECT_EQ(Shown(), (std::vector<int>{1, 1, 1, -1, -1, -1}));
    EXPECT_EQ(wnd.CommonManager().DeviceManager().CurrentDevice()->sUuid, kUuid);

    Click(IDC_NEXT);
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_TRANSFER);
    EXPECT_EQ(wnd.CurrentPageId(), 111u);
    EXPECT_EQ(Labels(), (std::vector<int>{U, U, N}));
    EXPECT_EQ(Shown(), (std::vector<int>{1, 0, 1, -1, -1, -1}));
    EXPECT_EQ(wnd.focusWidget(), Button(IDC_END));
    for (unsigned nId : {Page::IDC_LABEL_LIST, Page::IDC_OPEN, Page::IDC_CLEAR})
        EXPECT_TRUE(wnd.SyncPage().Control(nId)->isHidden()) << "Transferred Files List control " << nId;
    // Next and the Contents Settings page's Enter do nothing on the last step.
    wnd.SendMessage(CWindowMessage(WM_CONTENTS_NEXT));
    wnd.OnCommand(IDC_NEXT);
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_TRANSFER);

    Click(IDC_PREV);
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_CONTENTS);
    EXPECT_EQ(wnd.CurrentPageId(), 110u);
    EXPECT_EQ(Labels(), (std::vector<int>{U, N, U}));
    EXPECT_EQ(Shown(), (std::vector<int>{1, 1, 1, -1, -1, -1}));

    Click(IDC_PREV);
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_CONNECTION);
    EXPECT_EQ(wnd.CurrentPageId(), 109u);
    EXPECT_EQ(Labels(), (std::vector<int>{N, U, U}));
    EXPECT_EQ(Shown(), (std::vector<int>{0, 1, 1, -1, -1, -1})) << "the player is still chosen";
    EXPECT_EQ(wnd.focusWidget(), Button(IDC_NEXT));
    // Prev does nothing on the first step.
    wnd.OnCommand(IDC_PREV);
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_CONNECTION);
    EXPECT_TRUE(m_presenter.Shown().empty());
}

// End and the close box before the last step ask first; No keeps the wizard exactly as it was,
// with nothing of the end written. Yes keeps what was chosen so far: the player and both lists.
TEST_F(CWizardTest, EndingBeforeTheLastStepAsksFirstAndNoChangesNothing)
{
    CTolvaMusicTransferDlg& wnd = StartWizard();
    ChoosePlayer();
    const std::vector<int> kStep1 = Shown();
    for (bool bCloseBox : {false, true}) {
        m_presenter.SetNextAnswer(IDNO);
        EXPECT_FALSE(EndWizard(CWizardEndDlg::kResultQuit, {}, bCloseBox)) << "no wizard-end dialog after No";
        EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{174});
        EXPECT_EQ(m_presenter.Shown().front().eButtons, MSG_BUTTONS_YESNO);
        EXPECT_EQ(m_presenter.Shown().front().nDefault, IDNO);
        m_presenter.ClearShown();
        EXPECT_EQ(wnd.Mode(), DM_WIZARD_CONNECTION);
        EXPECT_EQ(wnd.CurrentPageId(), 109u);
        EXPECT_EQ(Labels(), (std::vector<int>{N, U, U}));
        EXPECT_EQ(Shown(), kStep1);
        EXPECT_FALSE(MenuBarShown());
        EXPECT_EQ(Stored(kSettingFirstRun), 1u);
        EXPECT_FALSE(AutoStartExists());
        EXPECT_TRUE(wnd.isVisible());
    }

    // On step 2 the user edits the lists, then closes the window and answers Yes.
    Click(IDC_NEXT);
    const QStringList folders = {m_home.Path("Music") + "/|1", m_home.Path("Live") + "/|0"};
    wnd.ContentsPage().SetFolderList(folders);
    wnd.ContentsPage().SetExtensionList({"mp3|0", "flac|1"});
    EXPECT_NE(ReadListFile(kUuid, kSyncFolderListName), folders);
    m_presenter.SetNextAnswer(IDYES);
    bool bStartOffered = false;
    EXPECT_TRUE(EndWizard(
        CWizardEndDlg::kResultQuit, [&](CWizardEndDlg& dialog) { bStartOffered = dialog.IsStartAllowed(); }, true));
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{174});
    EXPECT_TRUE(bStartOffered);
    EXPECT_EQ(GetCurrentDevId(), kUuid);
    EXPECT_EQ(ReadListFile(kUuid, kSyncFolderListName), folders);
    EXPECT_EQ(ReadListFile(kUuid, kCapabilityListName), (QStringList{"mp3|0", "flac|1"}));
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE);
    EXPECT_FALSE(wnd.IsTransferring()) << "ended without transferring";
}

// Step 3 keeps its destination at once; End there asks nothing, commits the transfer settings,
// and the console it leaves starts the first transfer at once: no question whether to save.
TEST_F(CWizardTest, FinishingOnTheLastStepCommitsAndStartsTheFirstTransferWithoutAQuestion)
{
    CTolvaMusicTransferDlg& wnd = StartWizard();
    ChoosePlayer();
    Click(IDC_NEXT);
    WriteTestFile(m_home.Path("Music/a.mp3"), "a");
    const QStringList folders = {m_home.Path("Music") + "/|1"};
    wnd.ContentsPage().SetFolderList(folders);
    wnd.ContentsPage().SetExtensionList({"mp3|1", "flac|0"});
    // Next of step 2 writes both lists for the player.
    Click(IDC_NEXT);
    EXPECT_EQ(ReadListFile(kUuid, kSyncFolderListName), folders);
    EXPECT_EQ(ReadListFile(kUuid, kCapabilityListName), (QStringList{"mp3|1", "flac|0"}));

    // The destination is stored the moment it is chosen; the other settings wait for the end.
    Radio(Page::IDC_DEST_INTERNAL)->click();
    EXPECT_EQ(Stored(kSettingSyncFileSavePosition), DWORD(SAVE_POSITION_INTERNAL));
    wnd.SyncPage().SetMinutes(7);
    EXPECT_NE(Stored(kSettingAutoTransferTime), 7u);

    bool bStartOffered = false;
    bool bFollowsTheConnectionPage = false;
    EXPECT_TRUE(EndWizard(CWizardEndDlg::kResultStart, [&](CWizardEndDlg& dialog) {
        bStartOffered = dialog.IsStartAllowed();
        // The Connection page withdraws and renews the offer while the dialog is open.
        wnd.SendMessage(CWindowMessage(WM_SET_START_TRANSFER_OFFER, 0, 0));
        auto* pStart = dialog.findChild<QPushButton*>("btnStart");
        bFollowsTheConnectionPage = pStart && !pStart->isEnabled();
        wnd.SendMessage(CWindowMessage(WM_SET_START_TRANSFER_OFFER, 0, 1));
        bFollowsTheConnectionPage = bFollowsTheConnectionPage && pStart->isEnabled();
    }));
    EXPECT_TRUE(bStartOffered);
    EXPECT_TRUE(bFollowsTheConnectionPage);
    EXPECT_TRUE(m_presenter.Shown().empty()) << "neither 174 on the last step nor 186 before the transfer";

    // The console, with the player selected and the transfer under way.
    EXPECT_EQ(Stored(kSettingFirstRun), 0u);
    EXPECT_EQ(Stored(kSettingAutoTransferTime), 7u);
    EXPECT_EQ(Stored(kSettingSyncFileSavePosition), DWORD(SAVE_POSITION_INTERNAL));
    EXPECT_TRUE(AutoStartExists());
    EXPECT_TRUE(CAutoStartEntry().ExecLine().endsWith(" -auto")) << CAutoStartEntry().ExecLine().toStdString();
    EXPECT_TRUE(MenuBarShown());
    EXPECT_EQ(wnd.SelectedDeviceUuid(), kUuid);
    EXPECT_EQ(wnd.ConnectionPage().View()->SelectedCard(), 0);
    ASSERT_TRUE(m_pPower->WaitForRequests(1)) << "the first transfer asks the player's power";
    wnd.CommonManager().ContentsManager().JoinScan();
    EXPECT_TRUE(wnd.IsTransferring());
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE_TRANSFER);
    EXPECT_EQ(wnd.CurrentPageId(), 111u);
    EXPECT_EQ(Shown(), (std::vector<int>{-1, -1, -1, 1, 0, 0})) << "Cancel off while the page's transfer runs";
    for (unsigned nId : {Page::IDC_LABEL_LIST, Page::IDC_OPEN, Page::IDC_CLEAR})
        EXPECT_FALSE(wnd.SyncPage().Control(nId)->isHidden()) << nId;
    EXPECT_FALSE(wnd.IsAnySettingChanged());

    m_presenter.SetNextAnswer(IDOK);
    wnd.SendMessage(CWindowMessage(WM_TRANSFER_FINISHED, 0, EC_OK));
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE);
}

// A list the wizard could not write (here the player's folder cannot be made) counts as saved
// all the same: the console does not light Apply for it, and the first transfer starts without
// asking to save settings that cannot be saved.
TEST_F(CWizardTest, AListThatCouldNotBeWrittenHoldsUpNeitherApplyNorTheFirstTransfer)
{
    CTolvaMusicTransferDlg& wnd = StartWizard();
    ChoosePlayer();
    Click(IDC_NEXT);
    const QString sPlayerFolder = QDir::cleanPath(DeviceFolder(kUuid));
    QDir(sPlayerFolder).removeRecursively();
    WriteTestFile(sPlayerFolder, "not a folder");
    wnd.ContentsPage().SetExtensionList({"mp3|1"});
    m_presenter.SetNextAnswer(IDOK);
    Click(IDC_NEXT);
    EXPECT_TRUE(wnd.ContentsPage().IsExtensionListModified()) << "the write failed";
    ASSERT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{1162}) << "and the user is told";
    EXPECT_TRUE(m_presenter.Shown()[0].sText.contains(QDir::toNativeSeparators(AppDataFolder())));

    // Without its lists the run ends at once with its own message, and that is the only one.
    m_presenter.SetNextAnswer(IDOK);
    EXPECT_TRUE(EndWizard(CWizardEndDlg::kResultStart));
    wnd.CommonManager().ContentsManager().JoinScan();
    QCoreApplication::processEvents();
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{1162, 158}));
    EXPECT_FALSE(wnd.IsAnySettingChanged());
    EXPECT_FALSE(Button(IDC_APPLY)->isEnabled());
    EXPECT_TRUE(QFileInfo(sPlayerFolder).isFile()) << "nothing was written in its place";
}

// A transfer started on the last step holds the wizard there: no way back, no end, and the close
// box does nothing until the run is over. Then Prev and Next again commit the lists once more.
TEST_F(CWizardTest, ATransferStartedOnTheLastStepHoldsTheWizardUntilItEnds)
{
    CTolvaMusicTransferDlg& wnd = StartWizard();
    ChoosePlayer();
    Click(IDC_NEXT);
    WriteTestFile(m_home.Path("Music/a.mp3"), "a");
    wnd.ContentsPage().SetFolderList({m_home.Path("Music") + "/|1"});
    wnd.ContentsPage().SetExtensionList({"mp3|1"});
    Click(IDC_NEXT);
    // A changed setting asks nothing in the wizard.
    wnd.SyncPage().SetMinutes(9);
    static_cast<QPushButton*>(wnd.SyncPage().Control(Page::IDC_START_STOP))->click();
    ASSERT_TRUE(m_pPower->WaitForRequests(1));
    wnd.CommonManager().ContentsManager().JoinScan();
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_TRANSFERRING);
    EXPECT_EQ(Shown(), (std::vector<int>{0, 0, 0, -1, -1, -1}));
    EXPECT_EQ(Labels(), (std::vector<int>{U, U, N})) << "still the last step";
    wnd.close();
    wnd.OnCommand(IDC_PREV);
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_TRANSFERRING);
    EXPECT_TRUE(wnd.isVisible());
    EXPECT_TRUE(m_presenter.Shown().empty());

    m_presenter.SetNextAnswer(IDOK);
    wnd.SendMessage(CWindowMessage(WM_TRANSFER_FINISHED, 0, EC_OK));
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_TRANSFER);
    EXPECT_EQ(Shown(), (std::vector<int>{1, 0, 1, -1, -1, -1}));
    EXPECT_EQ(Labels(), (std::vector<int>{U, U, N}));
    EXPECT_EQ(Stored(kSettingFirstRun), 1u) << "the wizard is not over";

    Click(IDC_PREV);
    const QStringList folders = {m_home.Path("Music") + "/|0"};
    wnd.ContentsPage().SetFolderList(folders);
    Click(IDC_NEXT);
    EXPECT_EQ(ReadListFile(kUuid, kSyncFolderListName), folders);
}

} // namespace

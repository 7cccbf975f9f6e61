#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "controls/ConnectionView.h"
#include "device/DeviceManager.h"
#include "pages/DetailDialog.h"
#include "sync/DeviceLists.h"
#include "ui/shell/ShellFixture.h"

namespace {

class CConnectionPageTest : public CShellTest
{
protected:
    // The window as start-up makes it, with this PC's adapters given by the test and no watcher.
    CTolvaMusicTransferDlg& Start(DWORD dwFirstRun)
    {
        WriteSettingDword(kSettingFirstRun, dwFirstRun);
        m_pWnd = std::make_unique<CTolvaMusicTransferDlg>(SMainWindowServices{m_presenter, m_timers, m_shell});
        Page().SetNetworkWatchEnabled(false);
        Page().SetAdapterSource([this] { return m_adapters; });
        m_pWnd->Start();
        m_pWnd->show();
        return *m_pWnd;
    }
    CPropertyTreePageConnection& Page() { return m_pWnd->ConnectionPage(); }
    CConnectionView& View() { return *Page().View(); }
    QLineEdit* Octet(int k) { return Page().findChild<QLineEdit*>(QStringLiteral("octet%1").arg(k + 1)); }
    QComboBox* Combo() { return Page().findChild<QComboBox*>("subnetCombo"); }
    QStringList Octets()
    {
        QStringList texts;
        for (int k = 0; k < 4; ++k)
            texts << Octet(k)->text() + (Octet(k)->isEnabled() ? "" : "#");
        return texts;
    }
    // A player as the search reports it: added to the device table, whose report reaches the
    // page through the common manager and the window's thread.
    void Report(const QString& sUuid, const QString& sName, const QString& sIp, const QStringList& types = {"mp3"})
    {
        SDeviceSnapshot fields;
        fields.sUuid = sUuid;
        fields.sFriendlyName = sName;
        fields.sIp = sIp;
        fields.supportedTypes = types;
        const int nBefore = View().CardCount();
        ASSERT_TRUE(m_pWnd->CommonManager().DeviceManager().AddDevice(std::make_unique<CDeviceInfo>(fields)));
        ASSERT_TRUE(QTest::qWaitFor([&] { return View().CardCount() > nBefore; }, 10000));
    }
    void ClickCard(int nIndex)
    {
        View().ScrollToRow(nIndex / 2);
        QTest::mouseClick(View().viewport(), Qt::LeftButton, Qt::NoModifier, View().CardRect(nIndex).center());
    }
    // Handles the posted messages queued so far.
    static void Settle() { QCoreApplication::processEvents(); }

    // As GetLocalAdapters gives them: loopback is never among them.
    std::vector<SLocalAdapter> m_adapters{{"192.0.2.7", "255.255.255.0"}, {"198.51.100.7", "255.255.0.0"}};
};

TEST_F(CConnectionPageTest, AClickCommitsTheCardAndAClickOnItAgainChangesNothing)
{
    CTolvaMusicTransferDlg& wnd = Start(0);
    ASSERT_EQ(wnd.Mode(), DM_CONSOLE_NO_DEVICE);
    Report("uuid:a", "Kitchen", "192.0.2.10", {"mp3", "flac"});
    Report("uuid:b", "Hall", "192.0.2.11", {"wav"});
    EXPECT_EQ(View().SelectedCard(), -1) << "no saved player: nothing is chosen for the user";

    ClickCard(1);
    EXPECT_EQ(View().SelectedCard(), 1);
    EXPECT_EQ(GetCurrentDevId(), "uuid:b");
    EXPECT_EQ(GetCurrentDevIP(), "192.0.2.11");
    EXPECT_EQ(wnd.SelectedDeviceUuid(), "uuid:b");
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE);
    EXPECT_EQ(wnd.DeviceModel(), "Hall");
    EXPECT_EQ(wnd.DeviceIpAddress(), "192.0.2.11");
    EXPECT_EQ(ReadListFile("uuid:b", kCapabilityListName), QStringList{"wav|1"});
    EXPECT_EQ(Octets(), (QStringList{"192#", "0#", "2#", "11"}));

    // Again on the same card: only the address boxes are refreshed.
    SetCurrentDevId("uuid:elsewhere");
    Octet(3)->setText("99");
    ClickCard(1);
    EXPECT_EQ(GetCurrentDevId(), "uuid:elsewhere");
    EXPECT_EQ(Octet(3)->text(), "11");
    EXPECT_TRUE(m_presenter.Shown().empty());
}

TEST_F(CConnectionPageTest, ChoosingAnotherPlayerWithUnsavedListsAsksWhetherToSaveThem)
{
    CTolvaMusicTransferDlg& wnd = Start(0);
    Report("uuid:a", "Kitchen", "192.0.2.10");
    Report("uuid:b", "Hall", "192.0.2.11");
    ClickCard(0);
    ASSERT_TRUE(m_presenter.Shown().empty());
    wnd.ContentsPage().SetFolderList({"/music/|1"});
    ASSERT_TRUE(wnd.ContentsPage().IsFolderListModified());
    // No: the edit is dropped, the choice is made all the same, and the page shows the new
    // player's lists.
    m_presenter.SetNextAnswer(IDNO);
    ClickCard(1);
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{201});
    EXPECT_EQ(m_presenter.Shown()[0].eButtons, MSG_BUTTONS_YESNO);
    EXPECT_FALSE(wnd.ContentsPage().IsFolderListModified());
    EXPECT_FALSE(wnd.ContentsPage().FolderList().contains("/music/|1"));
    EXPECT_FALSE(ReadListFile("uuid:a", kSyncFolderListName).contains("/music/|1"));
    EXPECT_EQ(GetCurrentDevId(), "uuid:b");
    // Yes saves the edits for the player they were made for, then shows the other one's lists.
    wnd.ContentsPage().SetFolderList({"/music/|1"});
    m_presenter.SetNextAnswer(IDYES);
    ClickCard(0);
    EXPECT_FALSE(wnd.ContentsPage().IsFolderListModified());
    EXPECT_EQ(ReadListFile("uuid:b", kSyncFolderListName), QStringList{"/music/|1"});
    EXPECT_EQ(GetCurrentDevId(), "uuid:a");
}

TEST_F(CConnectionPageTest, TheWizardLetsTheUserPickAndEnablesNext)
{
    CTolvaMusicTransferDlg& wnd = Start(1);
    ASSERT_EQ(wnd.Mode(), DM_WIZARD_CONNECTION);
    SetCurrentDevId("uuid:a");
    Report("uuid:a", "Kitchen", "192.0.2.10");
    EXPECT_EQ(View().SelectedCard(), -1) << "the wizard never chooses by itself";
    EXPECT_TRUE(ReadListFile("uuid:a", kCapabilityListName).isEmpty());
    EXPECT_FALSE(Button(IDC_NEXT)->isEnabled());
    ClickCard(0);
    EXPECT_TRUE(Button(IDC_NEXT)->isEnabled());
    EXPECT_EQ(wnd.Mode(), DM_WIZARD_CONNECTION);
    EXPECT_EQ(ReadListFile("uuid:a", kCapabilityListName), QStringList{"mp3|1"});
}

TEST_F(CConnectionPageTest, AfterSetupTheSavedPlayerIsChosenWhenItIsReportedAndTheWaitEnds)
{
    SetCurrentDevId("uuid:b");
    CTolvaMusicTransferDlg& wnd = Start(0);
    ASSERT_TRUE(wnd.IsWaitDialogOpen());
    Report("uuid:a", "Kitchen", "192.0.2.10", {"mp3"});
    EXPECT_EQ(View().SelectedCard(), -1);
    EXPECT_TRUE(wnd.IsWaitDialogOpen());
    // Types are merged for every player, chosen or not.
    EXPECT_EQ(ReadListFile("uuid:a", kCapabilityListName), QStringList{"mp3|1"});
    Report("uuid:b", "Hall", "192.0.2.11");
    EXPECT_EQ(View().SelectedCard(), 1);
    EXPECT_EQ(wnd.SelectedDeviceUuid(), "uuid:b");
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE);
    EXPECT_FALSE(wnd.IsWaitDialogOpen());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(wnd.OfflinePromptDone());
}

TEST_F(CConnectionPageTest, RenameAndReaddressReachTheCardAndTheWindow)
{
    CTolvaMusicTransferDlg& wnd = Start(0);
    Report("uuid:a", "Kitchen", "192.0.2.10");
    ClickCard(0);
    SDeviceChange change;
    change.sUuid = "uuid:a";
    change.eCode = DEVICE_NAME_CHANGED;
    change.sFriendlyName = "Kitchen & Bar";
    wnd.CommonManager().UpdateDeviceInfo(change);
    EXPECT_TRUE(QTest::qWaitFor([&] { return wnd.DeviceModel() == "Kitchen & Bar"; }, 10000));
    EXPECT_EQ(View().Painter().Card(0).sName, "Kitchen & Bar");
    change.eCode = DEVICE_IP_CHANGED;
    change.sIp = "192.0.2.44";
    wnd.CommonManager().UpdateDeviceInfo(change);
    EXPECT_TRUE(QTest::qWaitFor([&] { return View().Painter().Card(0).sSecondLine == "192.0.2.44"; }, 10000));
    EXPECT_EQ(Octet(3)->text(), "44");
}

TEST_F(CConnectionPageTest, ManualAddLocksUntilItIsOverAndStartsOnlyOnce)
{
    CTolvaMusicTransferDlg& wnd = Start(0);
    Report("uuid:a", "Kitchen", "192.0.2.10");
    ClickCard(0);
    Octet(3)->setText("77");
    Octet(3)->setFocus();
    QTest::keyClick(Octet(3), Qt::Key_Return);
    EXPECT_TRUE(Page().IsManualAddRunning());
    EXPECT_EQ(Page().cursor().shape(), Qt::WaitCursor);
    EXPECT_TRUE(wnd.isVisible()) << "Enter in an address box is not OK";
    Settle();
    EXPECT_FALSE(wnd.LabelsEnabled());
    EXPECT_FALSE(Button(IDC_OK)->isEnabled());
    EXPECT_EQ(Octets(), (QStringList{"192#", "0#", "2#", "77#"}));
    EXPECT_FALSE(Combo()->isEnabled());
    EXPECT_FALSE(View().verticalScrollBar()->isEnabled());
    // A click on a card is ignored meanwhile; a second Enter starts no second add.
    Page().OnCardClicked(0);
    Page().StartManualAdd();
    CWindowMessage request;
    ASSERT_TRUE(wnd.CommonManager().DeviceManager().SearchQueue().TryGet(request));
    EXPECT_EQ(request.nMessage, unsigned(WM_MANUAL_ADD_REQUEST));
    ASSERT_TRUE(request.Payload<QString>());
    EXPECT_EQ(*request.Payload<QString>(), "192.0.2.77");
    EXPECT_FALSE(wnd.CommonManager().DeviceManager().SearchQueue().TryGet(request));

    // Already listed: the device manager selects it and reports the end.
    wnd.SelectDeviceManual("uuid:a", "192.0.2.10");
    wnd.PostMessage(CWindowMessage(WM_MANUAL_ADD_FINISHED));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Page().IsManualAddRunning(); }, 10000));
    Settle();
    EXPECT_TRUE(wnd.LabelsEnabled());
    EXPECT_TRUE(Button(IDC_OK)->isEnabled());
    EXPECT_EQ(Octets(), (QStringList{"192#", "0#", "2#", "10"}));
    EXPECT_TRUE(Combo()->isEnabled());
    EXPECT_EQ(View().SelectedCard(), 0);
    EXPECT_EQ(Page().cursor().shape(), Qt::ArrowCursor);
}

TEST_F(CConnectionPageTest, APlayerFoundByItsAddressBecomesTheChosenOne)
{
    CTolvaMusicTransferDlg& wnd = Start(0);
    Report("uuid:a", "Kitchen", "192.0.2.10");
    Octet(3)->setText("30");
    m_pWnd->ConnectionPage().StartManualAdd();
    // The search thread adds the player it found at the address, selects it and ends the add.
    Report("uuid:typed", "Cellar", "192.0.2.30", {"flac"});
    wnd.SelectDeviceManual("uuid:typed", "192.0.2.30");
    wnd.PostMessage(CWindowMessage(WM_MANUAL_ADD_FINISHED));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Page().IsManualAddRunning(); }, 10000));
    EXPECT_EQ(View().SelectedCard(), 1);
    EXPECT_EQ(GetCurrentDevId(), "uuid:typed");
    EXPECT_EQ(GetCurrentDevIP(), "192.0.2.30");
    EXPECT_EQ(wnd.SelectedDeviceUuid(), "uuid:typed");
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE);
    EXPECT_EQ(ReadListFile("uuid:typed", kCapabilityListName), QStringList{"flac|1"});
    EXPECT_EQ(Octets(), (QStringList{"192#", "0#", "2#", "30"}));
}

TEST_F(CConnectionPageTest, AnAddressThatGivesNoPlayerIsReportedInTheViewOrInABox)
{
    CTolvaMusicTransferDlg& wnd = Start(0);
    Octet(3)->setText("9");
    Page().StartManualAdd();
    wnd.PostMessage(CWindowMessage(WM_MANUAL_ADD_NO_DESCRIPTION));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Page().IsManualAddRunning(); }, 10000));
    EXPECT_EQ(View().Painter().EmptyMessage(), 58112u) << "no cards: the view says it";
    EXPECT_TRUE(m_presenter.Shown().empty());

    Report("uuid:a", "Kitchen", "192.0.2.10");
    Page().StartManualAdd();
    m_presenter.SetNextAnswer(IDOK);
    wnd.PostMessage(CWindowMessage(WM_MANUAL_ADD_NO_DESCRIPTION));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Page().IsManualAddRunning(); }, 10000));
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{58112});
    EXPECT_EQ(m_presenter.Shown()[0].eIcon, MSG_ICON_WARNING);
}

TEST_F(CConnectionPageTest, ThePrefixLocksItsOctetsAndFollowsAddressChanges)
{
    m_adapters = {{"10.20.1.5", "255.255.0.0"}, {"10.20.9.9", "255.255.0.0"}};
    Start(0);
    ASSERT_EQ(Combo()->count(), 1) << "two adapters on one network give one entry";
    EXPECT_EQ(Combo()->currentText(), "10.20");
    EXPECT_EQ(Octets(), (QStringList{"10#", "20#", "", ""}));

    // An address change that keeps the prefix keeps what the user typed.
    Octet(2)->setText("3");
    m_adapters.push_back({"192.0.2.7", "255.255.255.0"});
    Page().OnNetworkChanged();
    EXPECT_EQ(Combo()->count(), 2);
    EXPECT_EQ(Combo()->currentText(), "10.20");
    EXPECT_EQ(Octet(2)->text(), "3");

    // The cable is pulled: no prefix, no typing.
    m_adapters.clear();
    Page().OnNetworkChanged();
    EXPECT_EQ(Combo()->count(), 0);
    EXPECT_EQ(Octets(), (QStringList{"#", "#", "#", "#"}));
    // Plugged into another network: its prefix is chosen.
    m_adapters = {{"192.0.2.7", "255.255.255.0"}};
    Page().OnNetworkChanged();
    EXPECT_EQ(Combo()->currentText(), "192.0.2");
    EXPECT_EQ(Octets(), (QStringList{"192#", "0#", "2#", ""}));
    // Only digits, three at most.
    Octet(3)->clear();
    QTest::keyClicks(Octet(3), "1a2b34");
    EXPECT_EQ(Octet(3)->text(), "123");
}

TEST_F(CConnectionPageTest, DetailsOpensTheAddressHelp)
{
    Start(0);
    unsigned nPicture = 0;
    QTimer::singleShot(0, m_pWnd.get(), [&] {
        auto* pHelp = qobject_cast<CDetailDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(pHelp);
        nPicture = pHelp->PictureId();
        pHelp->findChild<QPushButton*>("btnOK")->click();
    });
    Page().findChild<QPushButton*>("btnDetails")->click();
    EXPECT_EQ(nPicture, 242u);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(CConnectionPageTest, OfflineDialogWaitingForRescanClosesWhenTheSavedPlayerIsBack)
{
    SetCurrentDevId("uuid:a");
    CTolvaMusicTransferDlg& wnd = Start(0);
    wnd.SendMessage(CWindowMessage(WM_CLOSE_WAIT_DIALOG));
    int nResult = -1;
    QTimer::singleShot(0, &wnd, [&] {
        // The player is reported while the dialog waits for Rescan.
        AddDevice("uuid:a", "192.0.2.10", "Kitchen");
    });
    nResult = wnd.RunOfflineDialog(false);
    EXPECT_EQ(nResult, CRescanDlg::kResultClosedItself);
    EXPECT_TRUE(wnd.DeviceFoundAgain());
    EXPECT_FALSE(wnd.IsRescanning());
    EXPECT_EQ(wnd.Mode(), DM_CONSOLE);
    EXPECT_EQ(View().SelectedCard(), 0);
}

} // namespace

#include <atomic>

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/AboutDlg.h"
#include "app/RescanDlg.h"
#include "app/WaitDlg.h"
#include "app/WizardEndDlg.h"
#include "foundation/Environment.h"
#include "foundation/StringTable.h"
#include "pages/DetailDialog.h"
#include "support/TestHome.h"
#include "support/desktop/VirtualTimerService.h"

namespace {

// The main window's side of the offline dialog, recorded.
class CFakeOfflineHost final : public IOfflineDialogHost
{
public:
    bool IsCurrentDeviceListed() const override { return bListed.load(); }
    void SetRescanning(bool bOn) override { bRescanning = bOn; }
    void OnOfflineDialogStarted() override { ++nStarted; }
    void OnDeviceFoundAgain() override { ++nFoundAgain; }
    void OnSearchGivenUp() override { ++nGivenUp; }
    void OnSelectDevice(bool bWasListed) override
    {
        ++nSelectDevice;
        bSelectListed = bWasListed;
    }

    std::atomic<bool> bListed{false};
    bool bRescanning = false;
    int nStarted = 0, nFoundAgain = 0, nGivenUp = 0, nSelectDevice = 0;
    bool bSelectListed = false;
};

// A control found by the design id its accessible name ends with.
template <class T>
T* ById(QWidget& dialog, unsigned nId)
{
    const QString sSuffix = QStringLiteral("(%1)").arg(nId);
    for (T* pWidget : dialog.findChildren<T*>())
        if (pWidget->accessibleName().endsWith(sSuffix))
            return pWidget;
    return nullptr;
}

class CDialogTest : public testing::Test
{
protected:
    CDialogTest() { SetStringLanguage(LANG_ID_ENGLISH_UK); }
    ~CDialogTest() override { SetStringLanguage(LANG_ID_ENGLISH_UK); }

    CTestHome m_home;
    CVirtualTimerService m_timers{m_home.Clock()};
    CFakeOfflineHost m_host;
};

TEST_F(CDialogTest, OfflineDialogSearchingAtOnceClosesItselfWhenThePlayerIsBack)
{
    CRescanDlg dialog(m_host, m_timers);
    dialog.SetSearchAtOnce(true);
    dialog.show();
    EXPECT_EQ(m_host.nStarted, 1);
    EXPECT_TRUE(dialog.IsSearching());
    EXPECT_TRUE(m_host.bRescanning);
    EXPECT_FALSE(ById<QPushButton>(dialog, 1036)->isEnabled());
    EXPECT_EQ(dialog.SearchText(), "Retrieving the device");
    m_timers.Advance(500);
    EXPECT_EQ(dialog.SearchText(), "Retrieving the device.");
    m_timers.Advance(1000);
    EXPECT_EQ(dialog.SearchText(), "Retrieving the device...");
    m_timers.Advance(500);
    EXPECT_EQ(dialog.SearchText(), "Retrieving the device");

    // The search thread looks again after its pause and sees the card.
    m_host.bListed = true;
    EXPECT_TRUE(m_home.Clock().AdvanceUntil(
        [&] {
            QCoreApplication::processEvents();
            return !dialog.isVisible();
        },
        CRescanDlg::kPollMs, 40 * CRescanDlg::kPollMs));
    EXPECT_EQ(dialog.result(), CRescanDlg::kResultClosedItself);
    EXPECT_EQ(m_host.nFoundAgain, 1);
    EXPECT_EQ(m_timers.RunningCount(), 0) << "no timer outlives the dialog";
}

TEST_F(CDialogTest, OfflineDialogSearchingAtOnceGivesUpAfterAMinute)
{
    CRescanDlg dialog(m_host, m_timers);
    dialog.SetSearchAtOnce(true);
    dialog.show();
    m_timers.Advance(CRescanDlg::kTimeoutMs - 1);
    EXPECT_TRUE(dialog.isVisible());
    m_timers.Advance(1);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), CRescanDlg::kResultClosedItself);
    EXPECT_EQ(m_host.nGivenUp, 1);
    EXPECT_FALSE(m_host.bRescanning);
    EXPECT_FALSE(dialog.IsSearching());
}

TEST_F(CDialogTest, OfflinePromptSearchesOnlyAfterRescanAndThenWithoutTimeOut)
{
    CRescanDlg dialog(m_host, m_timers);
    dialog.show();
    EXPECT_FALSE(dialog.IsSearching());
    EXPECT_EQ(m_timers.RunningCount(), 0) << "nothing animates before Rescan";
    // Esc does not end it.
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());

    ById<QPushButton>(dialog, 1036)->click();
    EXPECT_TRUE(dialog.IsSearching());
    m_timers.Advance(5 * CRescanDlg::kTimeoutMs);
    EXPECT_TRUE(dialog.isVisible()) << "a search started by Rescan has no time-out";

    // WM_USER+38 ends it as a time-out would.
    dialog.OnNotice();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), CRescanDlg::kResultClosedItself);
    EXPECT_EQ(m_host.nGivenUp, 1);
}

TEST_F(CDialogTest, SelectDeviceEndsTheSearchAndTellsWhetherThePlayerIsListed)
{
    CRescanDlg dialog(m_host, m_timers);
    dialog.SetSearchAtOnce(true);
    dialog.show();
    ById<QPushButton>(dialog, 1)->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), CRescanDlg::kResultSelectDevice);
    EXPECT_EQ(m_host.nSelectDevice, 1);
    EXPECT_FALSE(m_host.bSelectListed);
    EXPECT_FALSE(m_host.bRescanning);
    EXPECT_EQ(m_timers.RunningCount(), 0);
}

TEST_F(CDialogTest, WaitDialogAnimatesUntilTheMainWindowClosesIt)
{
    CWaitDlg dialog(m_timers);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    EXPECT_EQ(dialog.Text(), "Retrieving the device");
    m_timers.Advance(1000);
    EXPECT_EQ(dialog.Text(), "Retrieving the device..");
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(&dialog, key);
    EXPECT_TRUE(dialog.isVisible()) << "the user cannot end the wait";
    dialog.Close();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 1);
    EXPECT_EQ(m_timers.RunningCount(), 0);
}

TEST_F(CDialogTest, WizardEndWithoutADeviceOffersOnlyQuittingWithoutTransfer)
{
    CWizardEndDlg dialog;
    dialog.show();
    QPushButton* pStart = ById<QPushButton>(dialog, 1);
    QPushButton* pQuit = ById<QPushButton>(dialog, 2);
    ASSERT_TRUE(pStart && pQuit);
    EXPECT_FALSE(pStart->isEnabled());
    EXPECT_TRUE(dialog.IsOpen());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    // The main window allows it while the dialog is open (WM_USER+22): at once.
    dialog.SetStartAllowed(true);
    EXPECT_TRUE(pStart->isEnabled());
    pStart->click();
    EXPECT_EQ(dialog.result(), CWizardEndDlg::kResultStart);
    EXPECT_FALSE(dialog.IsOpen());
}

TEST_F(CDialogTest, AboutBoxShowsVersionAndNotice)
{
    CAboutDlg dialog;
    EXPECT_EQ(dialog.VersionLine(), "Version 1.3.0.09060");
    EXPECT_TRUE(dialog.NoticeLine().startsWith(LoadStringText(138)));
    EXPECT_TRUE(dialog.NoticeLine().contains("Qt"));
    EXPECT_EQ(dialog.windowTitle(), LoadStringText(136));
    dialog.show();
    dialog.reject();
    EXPECT_EQ(dialog.result(), 1);
}

TEST_F(CDialogTest, AddressHelpShowsThePictureOfTheLanguage)
{
    EXPECT_EQ(CDetailDialog::PictureForLanguage(LANG_ID_JAPANESE), 239u);
    EXPECT_EQ(CDetailDialog::PictureForLanguage(LANG_ID_CHINESE_SIMPLIFIED), 243u);
    EXPECT_EQ(CDetailDialog::PictureForLanguage(LANG_ID_GERMAN), 242u);
    EXPECT_EQ(CDetailDialog::PictureForLanguage(LANG_ID_NONE), 242u);
    SetStringLanguage(LANG_ID_JAPANESE);
    CDetailDialog dialog;
    EXPECT_EQ(dialog.PictureId(), 239u);
    EXPECT_EQ(dialog.windowTitle(), LoadStringText(209));
    auto* pPicture = dialog.findChild<QWidget*>("picture");
    ASSERT_TRUE(pPicture);
    EXPECT_TRUE(pPicture->accessibleName().endsWith("(1073)"));
}

} // namespace

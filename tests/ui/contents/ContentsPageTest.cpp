#include <QAccessible>
#include <QCheckBox>
#include <QDir>
#include <QStyleOptionButton>
#include <QTest>

#include "../controls/ListTestSupport.h"
#include "../shell/ShellFixture.h"
#include "controls/CheckBoxCtrl.h"
#include "controls/ContentsIds.h"
#include "controls/CustomListCtrl.h"
#include "controls/FormatSelectListCtrl.h"
#include "sync/DeviceLists.h"

namespace {

const QString kDevice = QStringLiteral("uuid:1");

// The console with a player selected and the Contents Settings page on show, its lists loaded.
class CContentsPageTest : public CShellTest
{
protected:
    CPropertyTreePageContentsSettings& Open(const QStringList& folders, const QStringList& extensions)
    {
        CTolvaMusicTransferDlg& wnd = StartConsole();
        SelectDevice(kDevice);
        wnd.OnCommand(ID_PAGE_CONTENTS);
        CPropertyTreePageContentsSettings& page = wnd.ContentsPage();
        page.LoadContentsPage(kDevice, folders, extensions);
        EXPECT_TRUE(page.isVisible());
        page.FolderListCtrl().grab(); // places the drawn check boxes
        return page;
    }
    QPoint PathCell(int nRow)
    {
        CCustomListCtrl& list = m_pWnd->ContentsPage().FolderListCtrl();
        return list.visualRect(list.model()->index(nRow, CCustomListCtrl::kColumnPath)).center();
    }
    QPoint WatchBox(int nRow)
    {
        CCustomListCtrl& list = m_pWnd->ContentsPage().FolderListCtrl();
        list.grab();
        return dynamic_cast<CCheckBoxCtrl*>(list.HostedControl(nRow, CCustomListCtrl::kColumnWatch))
            ->HitRect()
            .center();
    }
    void PressFolders(const QPoint& pt)
    {
        QTest::mouseClick(m_pWnd->ContentsPage().FolderListCtrl().viewport(), Qt::LeftButton, Qt::NoModifier, pt);
    }
    // Where a press on the check box's own box lands.
    static QPoint BoxIndicator(QCheckBox* pBox)
    {
        QStyleOptionButton option;
        option.initFrom(pBox);
        return pBox->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, pBox).center();
    }
    QByteArray FileBytes(const char* pszName) { return ReadTestFile(ListFilePath(kDevice, pszName)); }
    bool FileExists(const char* pszName) { return QFile::exists(ListFilePath(kDevice, pszName)); }
};

TEST_F(CContentsPageTest, AddTakesTheChosenFolderInItsStoredFormAndApplyWritesIt)
{
    const QString sRoot = m_home.Root();
    for (const char* pszFolder : {"/music/a/inner", "/music/b", "/Music/A"})
        ASSERT_TRUE(QDir().mkpath(sRoot + pszFolder));
    CPropertyTreePageContentsSettings& page = Open({sRoot + "/music/a/|1"}, {"mp3|1"});
    EXPECT_FALSE(Button(IDC_APPLY)->isEnabled());

    // The window knows the dialog is open while it shows.
    m_folders.QueueWhileOpen([&] {
        EXPECT_TRUE(m_pWnd->IsContentsDialogOpen());
        return sRoot + "/music/b";
    });
    QTest::mouseClick(page.AddButton(), Qt::LeftButton);
    EXPECT_FALSE(m_pWnd->IsContentsDialogOpen());
    ASSERT_EQ(m_folders.Titles().size(), 1u);
    EXPECT_EQ(m_folders.Titles()[0], "Select watched folders you want to transfer.");
    EXPECT_TRUE(Button(IDC_APPLY)->isEnabled());

    // Root, a duplicate, a nested folder, a parent, another case, a duplicate with its '/',
    // a cancel, and a folder that is not there.
    const QStringList answers = {"/",
                                 sRoot + "/music/a/",
                                 sRoot + "/music/a/inner",
                                 sRoot + "/music",
                                 sRoot + "/Music/A",
                                 sRoot + "/music/b/",
                                 QString(),
                                 sRoot + "/gone"};
    for (const QString& sAnswer : answers) {
        m_folders.SetNextAnswer(sAnswer);
        page.OnAdd();
    }
    const QStringList expected = {sRoot + "/music/a/|1",       sRoot + "/music/b/|1", "/|1",
                                  sRoot + "/music/a/inner/|1", sRoot + "/music/|1",   sRoot + "/Music/A/|1"};
    EXPECT_EQ(page.FolderList(), expected);
    EXPECT_TRUE(m_presenter.Shown().empty()) << "duplicates are refused silently";

    m_presenter.SetNextAnswer(IDOK);
    Click(IDC_APPLY);
    EXPECT_EQ(FileBytes(kSyncFolderListName), ListFileBytes(expected));
    EXPECT_EQ(FileBytes(kCapabilityListName), ListFileBytes({"mp3|1"}));
    EXPECT_FALSE(Button(IDC_APPLY)->isEnabled());

    // Without a selected player Add shows nothing (the dialog double would fail the test).
    page.SetSelectedDevice(QString());
    page.OnAdd();
}

TEST_F(CContentsPageTest, TheHundredthFolderIsTheLastAndALongStoredListWarnsOnce)
{
    QStringList stored;
    for (int i = 0; i < 101; ++i)
        stored << QString("/m/%1/|%2").arg(i).arg(i % 2);
    m_presenter.SetNextAnswer(IDOK);
    CPropertyTreePageContentsSettings& page = Open(stored, {});
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{IDS_TOO_MANY_FOLDERS});
    EXPECT_EQ(page.FolderList(), stored.mid(0, 100));
    EXPECT_FALSE(page.IsFolderListModified()) << "what the page shows after loading counts as saved";

    m_folders.SetNextAnswer(m_home.Root());
    m_presenter.SetNextAnswer(IDOK);
    page.OnAdd();
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{IDS_TOO_MANY_FOLDERS, IDS_TOO_MANY_FOLDERS}));
    EXPECT_EQ(page.FolderList().size(), 100);

    // The hundredth row is reachable and keeps its tick with its path.
    CCustomListCtrl& list = page.FolderListCtrl();
    list.scrollToBottom();
    PressFolders(WatchBox(99));
    EXPECT_EQ(page.FolderList()[99], "/m/99/|0");
    page.CommitFolderList();
    QStringList committed = stored.mid(0, 100);
    committed[99] = "/m/99/|0";
    EXPECT_EQ(FileBytes(kSyncFolderListName), ListFileBytes(committed));
}

TEST_F(CContentsPageTest, DelAsksWithThePathThenHandsTheFocusToOk)
{
    CPropertyTreePageContentsSettings& page = Open({"/m/a/|1", "/m/b/|0", "/m/c/|1"}, {"mp3|1"});
    QPushButton* pDel = page.DelButton();
    EXPECT_FALSE(pDel->isEnabled());
    PressFolders(PathCell(1));
    EXPECT_TRUE(pDel->isEnabled());
    EXPECT_EQ(page.FolderList(), QStringList({"/m/a/|1", "/m/b/|0", "/m/c/|1"})) << "the path is not the box";

    m_presenter.SetNextAnswer(IDNO);
    QTest::mouseClick(pDel, Qt::LeftButton);
    EXPECT_EQ(page.FolderList().size(), 3);
    EXPECT_FALSE(pDel->isEnabled());
    ASSERT_EQ(m_presenter.Shown().size(), 1u);
    EXPECT_EQ(m_presenter.Shown()[0].sText, "Do you want to delete the folder /m/b/?");

    PressFolders(PathCell(1));
    m_presenter.SetNextAnswer(IDYES);
    QTest::mouseClick(pDel, Qt::LeftButton);
    EXPECT_EQ(page.FolderList(), QStringList({"/m/a/|1", "/m/c/|1"}));
    EXPECT_EQ(m_pWnd->focusWidget(), Button(IDC_OK));
    EXPECT_TRUE(Button(IDC_APPLY)->isEnabled());

    // Below the rows: nothing selected, Del off.
    PressFolders(PathCell(0));
    EXPECT_TRUE(pDel->isEnabled());
    PressFolders(PathCell(1) + QPoint(0, 60));
    EXPECT_FALSE(pDel->isEnabled());

    // Unticking the last ticked folder warns once; the untick stays.
    m_presenter.SetNextAnswer(IDOK);
    PressFolders(WatchBox(0));
    PressFolders(WatchBox(1));
    EXPECT_EQ(m_presenter.ShownIds().back(), IDS_NO_FOLDER_TICKED);
    m_presenter.SetNextAnswer(IDOK);
    Click(IDC_APPLY);
    EXPECT_EQ(FileBytes(kSyncFolderListName), ListFileBytes({"/m/a/|0", "/m/c/|0"}));

    m_presenter.ClearShown();
    m_presenter.QueueAnswers({IDYES, IDYES, IDOK});
    for (int i = 0; i < 2; ++i) {
        PressFolders(PathCell(0));
        page.OnDel();
    }
    EXPECT_EQ(m_presenter.ShownIds(),
              (std::vector<unsigned>{IDS_DELETE_FOLDER, IDS_DELETE_FOLDER, IDS_NO_FOLDER_TICKED}));
    m_presenter.SetNextAnswer(IDOK);
    Click(IDC_APPLY);
    EXPECT_EQ(FileBytes(kSyncFolderListName), QByteArray());
}

TEST_F(CContentsPageTest, SelectAllIsMixedForSomeAndAClickOnItTicksAll)
{
    CPropertyTreePageContentsSettings& page = Open({}, {"mp3|1", "flac|0", "wav|0"});
    QCheckBox* pBox = page.SelectAllBox();
    EXPECT_TRUE(page.IsSelectAllMixed());
    EXPECT_EQ(pBox->checkState(), Qt::PartiallyChecked);
    QAccessibleInterface* pAccessible = QAccessible::queryAccessibleInterface(pBox);
    ASSERT_NE(pAccessible, nullptr);
    EXPECT_TRUE(pAccessible->state().checkStateMixed);
    EXPECT_EQ(pAccessible->text(QAccessible::Name), "Select all (1053)");

    QTest::mouseClick(pBox, Qt::LeftButton, Qt::NoModifier, BoxIndicator(pBox));
    EXPECT_EQ(page.ExtensionList(), QStringList({"mp3|1", "flac|1", "wav|1"}));
    EXPECT_EQ(pBox->checkState(), Qt::Checked);
    EXPECT_FALSE(pBox->isTristate());
    EXPECT_TRUE(Button(IDC_APPLY)->isEnabled());

    m_presenter.SetNextAnswer(IDOK);
    pBox->setFocus();
    QTest::keyClick(pBox, Qt::Key_Space);
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{IDS_NO_EXTENSION_TICKED});
    EXPECT_EQ(page.ExtensionList(), QStringList({"mp3|0", "flac|0", "wav|0"}));
    EXPECT_EQ(pBox->checkState(), Qt::Unchecked);

    // A tick in the list brings the mixed state back; the keyboard's click on it ticks all.
    CFormatSelectListCtrl& list = page.ExtensionListCtrl();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.CheckBoxRect(1).center());
    EXPECT_TRUE(page.IsSelectAllMixed());
    pBox->setFocus();
    QTest::keyClick(pBox, Qt::Key_Space);
    EXPECT_EQ(page.ExtensionList(), QStringList({"mp3|1", "flac|1", "wav|1"}));
    m_presenter.SetNextAnswer(IDOK);
    Click(IDC_APPLY);
    EXPECT_EQ(FileBytes(kCapabilityListName), ListFileBytes({"mp3|1", "flac|1", "wav|1"}));

    // An empty list shows "Select all" ticked; one with none ticked, unticked.
    page.LoadContentsPage(kDevice, {}, {});
    EXPECT_TRUE(page.IsSelectAllTicked());
    page.LoadContentsPage(kDevice, {}, {"mp3|0"});
    EXPECT_FALSE(page.IsSelectAllTicked());
    EXPECT_FALSE(page.IsSelectAllMixed());
}

TEST_F(CContentsPageTest, CancelRevertsBothListsAndCommitNeedsAPlayer)
{
    CPropertyTreePageContentsSettings& page = Open({"/m/a/|1"}, {"mp3|1", "flac|1"});
    m_presenter.SetNextAnswer(IDOK); // 158: no folder ticked
    PressFolders(WatchBox(0));
    CFormatSelectListCtrl& list = page.ExtensionListCtrl();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.CheckBoxRect(0).center());
    EXPECT_TRUE(page.IsSelectAllMixed());
    EXPECT_TRUE(Button(IDC_APPLY)->isEnabled());

    m_presenter.SetNextAnswer(IDYES);
    Click(IDC_CANCEL);
    EXPECT_EQ(page.FolderList(), QStringList({"/m/a/|1"}));
    EXPECT_EQ(page.ExtensionList(), QStringList({"mp3|1", "flac|1"}));
    EXPECT_TRUE(page.IsSelectAllTicked());
    EXPECT_TRUE(dynamic_cast<CCheckBoxCtrl*>(page.FolderListCtrl().HostedControl(0, 1))->IsTicked());
    EXPECT_FALSE(FileExists(kSyncFolderListName));
    EXPECT_FALSE(FileExists(kCapabilityListName));

    // Lists of no player are never written, and stay modified.
    page.LoadContentsPage(QString(), {"/m/a/|1"}, {"mp3|1"});
    page.SetFolderList({"/m/b/|1"});
    m_pWnd->OnCommand(ID_SETUP_CONSOLE);
    Click(IDC_OK);
    EXPECT_TRUE(page.IsFolderListModified());
    EXPECT_FALSE(QFile::exists(ListFilePath(QString(), kSyncFolderListName)));
}

TEST_F(CContentsPageTest, ReloadSavedListsReadsTheFilesAndLeavesTheScreen)
{
    CPropertyTreePageContentsSettings& page = Open({"/m/a/|1"}, {"mp3|1"});
    WriteTestFile(ListFilePath(kDevice, kSyncFolderListName), ListFileBytes({"/m/a/|1"}));
    WriteTestFile(ListFilePath(kDevice, kCapabilityListName), ListFileBytes({"mp3|0"}));
    m_pWnd->SendMessage(CWindowMessage::WithPayload(WM_RELOAD_SAVED_LISTS, QString(kDevice)));
    EXPECT_FALSE(page.IsFolderListModified());
    EXPECT_TRUE(page.IsExtensionListModified());
    EXPECT_EQ(page.ExtensionList(), QStringList({"mp3|1"}));
    EXPECT_EQ(m_pWnd->SendMessage(CWindowMessage(WM_QUERY_CONTENTS_UNMODIFIED)), 0);
    page.ReloadSavedLists(QString());
    EXPECT_TRUE(page.IsFolderListModified());
}

TEST_F(CContentsPageTest, KeysAndPressesBetweenTheTwoLists)
{
    CPropertyTreePageContentsSettings& page = Open({"/m/a/|1", "/m/b/|1"}, {"mp3|1", "flac|0"});
    CCustomListCtrl& folders = page.FolderListCtrl();
    CFormatSelectListCtrl& extensions = page.ExtensionListCtrl();

    // A press on one list clears the other's selection; the extension list also turns Del off.
    extensions.setCurrentRow(1);
    PressFolders(PathCell(0));
    EXPECT_TRUE(extensions.selectedItems().isEmpty());
    EXPECT_TRUE(page.DelButton()->isEnabled());
    QTest::mouseClick(extensions.viewport(), Qt::LeftButton, Qt::NoModifier,
                      extensions.visualRect(extensions.model()->index(0, 0)).center());
    EXPECT_EQ(folders.SelectedRow(), -1);
    EXPECT_FALSE(page.DelButton()->isEnabled());

    // Tab out of the folder list turns Del off; arrows on the buttons go nowhere.
    PressFolders(PathCell(1));
    folders.setFocus();
    QTest::keyClick(&folders, Qt::Key_Tab);
    EXPECT_FALSE(page.DelButton()->isEnabled());
    page.AddButton()->setFocus();
    QTest::keyClick(page.AddButton(), Qt::Key_Right);
    EXPECT_EQ(m_pWnd->focusWidget(), page.AddButton());

    // Enter on Add runs Add; Enter anywhere is Next in the wizard's Contents step.
    m_folders.SetNextAnswer(QString());
    QTest::keyClick(page.AddButton(), Qt::Key_Return);
    EXPECT_EQ(m_folders.Titles().size(), 1u);
    m_pWnd->SendMessage(CWindowMessage(WM_CHANGE_MODE, DM_WIZARD_CONTENTS, 0));
    folders.setFocus();
    QTest::keyClick(&folders, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_pWnd->Mode() == DM_WIZARD_TRANSFER; }, 5000));
    // Leaving the Contents step commits both lists.
    EXPECT_EQ(FileBytes(kSyncFolderListName), ListFileBytes({"/m/a/|1", "/m/b/|1"}));
    EXPECT_EQ(FileBytes(kCapabilityListName), ListFileBytes({"mp3|1", "flac|0"}));
}

TEST_F(CContentsPageTest, RowsAndColumnsHaveTheirSizesAndControlsTheirIds)
{
    CPropertyTreePageContentsSettings& page = Open({"/m/a/|1"}, {"mp3|1"});
    CCustomListCtrl& folders = page.FolderListCtrl();
    EXPECT_EQ(folders.visualItemRect(folders.topLevelItem(0)).height(), 19);
    EXPECT_EQ(folders.columnWidth(0), 435);
    EXPECT_EQ(folders.columnWidth(1), 100);
    EXPECT_GE(folders.viewport()->width(), 535) << "both columns show without scrolling";
    EXPECT_EQ(folders.headerItem()->text(0), "Contents Folder");
    EXPECT_EQ(folders.headerItem()->text(1), "Watch");
    EXPECT_EQ(page.AddButton()->accessibleName(), "Add (1003)");
    EXPECT_EQ(page.DelButton()->accessibleName(), "Del (1017)");
    EXPECT_TRUE(folders.accessibleName().endsWith("(1001)"));
    EXPECT_TRUE(page.ExtensionListCtrl().accessibleName().endsWith("(1011)"));

    // Right presses change nothing.
    QTest::mouseClick(folders.viewport(), Qt::RightButton, Qt::NoModifier, WatchBox(0));
    CFormatSelectListCtrl& extensions = page.ExtensionListCtrl();
    QTest::mouseClick(extensions.viewport(), Qt::RightButton, Qt::NoModifier, extensions.CheckBoxRect(0).center());
    EXPECT_FALSE(page.IsFolderListModified());
    EXPECT_FALSE(page.IsExtensionListModified());
}

} // namespace

namespace {
TEST_F(CContentsPageTest, TheWizardShowsThePageWholeThoughApplyIsHidden)
{
    CTolvaMusicTransferDlg& wnd = StartWindow();
    ASSERT_EQ(wnd.Mode(), DM_WIZARD_CONNECTION);
    wnd.SendMessage(CWindowMessage(WM_ENABLE_NEXT, 0, 1));
    wnd.OnCommand(IDC_NEXT);
    CPropertyTreePageContentsSettings& page = wnd.ContentsPage();
    ASSERT_TRUE(page.isVisible());
    EXPECT_GE(page.width(), page.FolderListCtrl().minimumWidth());
    EXPECT_TRUE(page.IsSelectAllTicked()) << "no types yet: an empty list";
}
} // namespace

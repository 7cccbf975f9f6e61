#include <gtest/gtest.h>

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

#include "ListTestSupport.h"
#include "controls/CheckBoxCtrl.h"
#include "controls/ContentsIds.h"
#include "controls/CustomListCtrl.h"
#include "foundation/Environment.h"
#include "foundation/StringTable.h"
#include "support/desktop/TestMessagePresenter.h"
#include "sync/DeviceLists.h"

namespace {
const QString kDevice = QStringLiteral("uuid:folders-1");

class CustomListCtrlTest : public testing::Test
{
protected:
    void SetUp() override
    {
        SetStringLanguage(LANG_ID_ENGLISH_UK);
        m_list.SetMessagePresenter(&m_presenter);
        m_list.SetRowHeight(19);
        m_list.setHeaderLabels({"Contents Folder", "Watch"});
        m_list.setColumnWidth(CCustomListCtrl::kColumnPath, 300);
        m_list.setColumnWidth(CCustomListCtrl::kColumnWatch, 100);
        m_list.resize(420, 300);
        m_list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_list));
    }

    void Load(const QStringList& entries)
    {
        m_list.LoadFolders(kDevice, entries);
        m_list.MarkSaved();
        m_list.grab(); // draws the rows, placing each check box
    }
    QRect CellRect(int nRow, int nColumn) { return m_list.visualRect(m_list.model()->index(nRow, nColumn)); }
    CCheckBoxCtrl* Box(int nRow)
    {
        return dynamic_cast<CCheckBoxCtrl*>(m_list.HostedControl(nRow, CCustomListCtrl::kColumnWatch));
    }
    QPoint BoxCentre(int nRow)
    {
        m_list.grab();
        return Box(nRow)->HitRect().center();
    }
    void Click(const QPoint& pt, Qt::MouseButton button = Qt::LeftButton) { ClickList(m_list, pt, button); }
    QByteArray CommittedBytes() { return CommitAndReadList(m_list, kDevice, kSyncFolderListName); }

    CTestHome m_home;
    CTestMessagePresenter m_presenter;
    CCustomListCtrl m_list;
};
} // namespace

TEST_F(CustomListCtrlTest, ClickingABoxTicksOnlyThatRowAndTheFileFollows)
{
    Load({"/music/a/|1", "/music/b/|0", "/music/c/|1"});
    EXPECT_EQ(m_list.topLevelItemCount(), 3);
    EXPECT_FALSE(m_list.IsModified());
    QSignalSpy changed(&m_list, &CCustomListCtrl::SettingsChanged);

    Click(BoxCentre(1));
    EXPECT_EQ(m_list.Entries(), QStringList({"/music/a/|1", "/music/b/|1", "/music/c/|1"}));
    EXPECT_TRUE(m_list.IsModified());
    EXPECT_EQ(m_list.topLevelItem(1)->text(1), "1");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(CommittedBytes(), ListFileBytes({"/music/a/|1", "/music/b/|1", "/music/c/|1"}));

    // One pixel beside the box, or on the path: the row is selected, no flag changes.
    const QRect rcBox = Box(2)->HitRect();
    QSignalSpy del(&m_list, &CCustomListCtrl::DelButtonState);
    Click(QPoint(rcBox.left() - 1, rcBox.center().y()));
    Click(CellRect(2, 0).center());
    EXPECT_FALSE(m_list.IsModified());
    EXPECT_EQ(m_list.SelectedRow(), 2);
    EXPECT_TRUE(m_list.topLevelItem(2)->isSelected());
    ASSERT_EQ(del.count(), 2);
    EXPECT_TRUE(del.at(1).at(0).toBool());

    // Below the last row: no selection, Del off.
    Click(QPoint(10, CellRect(2, 0).bottom() + 30));
    EXPECT_EQ(m_list.SelectedRow(), -1);
    EXPECT_TRUE(m_list.selectedItems().isEmpty());
    EXPECT_FALSE(del.last().at(0).toBool());

    // Right presses do nothing at all.
    Click(BoxCentre(0), Qt::RightButton);
    Click(CellRect(0, 0).center(), Qt::RightButton);
    EXPECT_FALSE(m_list.IsModified());
    EXPECT_TRUE(m_list.selectedItems().isEmpty());
}

TEST_F(CustomListCtrlTest, DeletingAMiddleRowKeepsLaterRowsWithTheirOwnTicks)
{
    Load({"/m/a/|1", "/m/b/|1", "/m/c/|0", "/m/d/|1"});
    m_presenter.SetNextAnswer(IDNO);
    EXPECT_FALSE(m_list.DeleteFolder(1));
    EXPECT_EQ(m_list.topLevelItemCount(), 4);
    ASSERT_EQ(m_presenter.Shown().size(), 1u);
    EXPECT_EQ(m_presenter.Shown()[0].nTextId, IDS_DELETE_FOLDER);
    EXPECT_EQ(m_presenter.Shown()[0].sText, "Do you want to delete the folder /m/b/?");
    EXPECT_EQ(m_presenter.Shown()[0].nDefault, IDNO);

    m_presenter.SetNextAnswer(IDYES);
    EXPECT_TRUE(m_list.DeleteFolder(1));
    EXPECT_EQ(m_list.SelectedRow(), -1);
    ASSERT_EQ(m_list.topLevelItemCount(), 3);
    EXPECT_EQ(m_list.topLevelItem(1)->text(0), "/m/c/");
    EXPECT_FALSE(Box(1)->IsTicked());
    EXPECT_TRUE(Box(2)->IsTicked());
    EXPECT_EQ(m_list.HostedControl(3, 1), nullptr);
    EXPECT_EQ(m_list.HostedControl(2, 1)->Key(), CCustomListCtrl::MakeKey(2, 1));

    // The moved controls answer for their new rows.
    Click(BoxCentre(1));
    EXPECT_EQ(CommittedBytes(), ListFileBytes({"/m/a/|1", "/m/c/|1", "/m/d/|1"}));
}

TEST_F(CustomListCtrlTest, LastTickAndLastRowWarnOnce)
{
    Load({"/m/a/|1", "/m/b/|0"});
    m_presenter.SetNextAnswer(IDOK);
    Click(BoxCentre(0));
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{IDS_NO_FOLDER_TICKED});
    EXPECT_EQ(m_list.Entries(), QStringList({"/m/a/|0", "/m/b/|0"})); // the untick stays
    Click(BoxCentre(1));
    EXPECT_EQ(m_presenter.ShownIds().size(), 1u);

    m_presenter.ClearShown();
    m_presenter.QueueAnswers({IDYES, IDYES, IDOK});
    m_list.DeleteFolder(0);
    m_list.DeleteFolder(0);
    EXPECT_EQ(m_presenter.ShownIds(),
              (std::vector<unsigned>{IDS_DELETE_FOLDER, IDS_DELETE_FOLDER, IDS_NO_FOLDER_TICKED}));
    EXPECT_EQ(CommittedBytes(), QByteArray());
}

TEST_F(CustomListCtrlTest, TheLimitIsAHundredAndDuplicatesAreRefusedSilently)
{
    QStringList stored;
    for (int i = 0; i < 101; ++i)
        stored << QString("/m/%1/|1").arg(i);
    m_presenter.SetNextAnswer(IDOK);
    Load(stored);
    EXPECT_EQ(m_list.topLevelItemCount(), 100);
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{IDS_TOO_MANY_FOLDERS});
    EXPECT_EQ(m_presenter.Shown()[0].eIcon, MSG_ICON_WARNING);
    EXPECT_EQ(m_list.Entries(), stored.mid(0, 100));

    m_presenter.SetNextAnswer(IDOK);
    EXPECT_EQ(m_list.AddFolder("/m/new/", "1"), FOLDER_LIST_FULL);
    EXPECT_EQ(m_presenter.ShownIds().size(), 2u);

    m_presenter.ClearShown();
    Load({"/m/a/|1", "/m/A/|0", "/m/a/|0", "/m/a/b/|1", "/|1"});
    EXPECT_EQ(m_list.Entries(), QStringList({"/m/a/|1", "/m/A/|0", "/m/a/b/|1", "/|1"}));
    EXPECT_EQ(m_list.AddFolder("/m/a/", "1"), FOLDER_DUPLICATE);
    EXPECT_EQ(m_list.AddFolder("/m/", "1"), FOLDER_ADDED);
    EXPECT_TRUE(m_presenter.Shown().empty());
}

TEST_F(CustomListCtrlTest, PathsKeepTheirStoredFormAndShowWhole)
{
    const QString sLong = "/data/" + QString("very long folder name ").repeated(20) + "/with|bar/";
    Load({sLong + "|0", QString::fromUtf8("/m/Bj\xc3\xb6rk \xe6\x97\xa5\xe6\x9c\xac/|1"), "/m/odd/|x"});
    EXPECT_EQ(m_list.topLevelItem(0)->text(0), sLong);
    EXPECT_EQ(m_list.topLevelItem(0)->toolTip(0), sLong);
    EXPECT_FALSE(Box(2)->IsTicked());
    Click(BoxCentre(2));
    Click(BoxCentre(0));
    EXPECT_EQ(
        CommittedBytes(),
        ListFileBytes({sLong + "|1", QString::fromUtf8("/m/Bj\xc3\xb6rk \xe6\x97\xa5\xe6\x9c\xac/|1"), "/m/odd/|1"}));
}

TEST_F(CustomListCtrlTest, CommitNeedsAPlayerAndRevertRestoresTheSavedRows)
{
    m_list.LoadFolders(QString(), {"/m/a/|1"});
    m_list.MarkSaved();
    m_list.AddFolder("/m/b/", "1");
    EXPECT_FALSE(m_list.Commit());
    EXPECT_TRUE(m_list.IsModified());
    EXPECT_FALSE(QFile::exists(DeviceFolder(QString()) + kSyncFolderListName));

    Load({"/m/a/|1", "/m/b/|0"});
    Click(BoxCentre(1));
    m_list.AddFolder("/m/c/", "1");
    m_list.Revert();
    EXPECT_FALSE(m_list.IsModified());
    ASSERT_EQ(m_list.topLevelItemCount(), 2);
    EXPECT_FALSE(Box(1)->IsTicked());
    EXPECT_EQ(m_list.topLevelItem(1)->checkState(1), Qt::Unchecked);

    WriteTestFile(ListFilePath(kDevice, kSyncFolderListName), ListFileBytes({"/m/z/|1"}));
    m_list.ReloadSaved(kDevice);
    EXPECT_EQ(m_list.SavedEntries(), QStringList({"/m/z/|1"}));
    EXPECT_TRUE(m_list.IsModified());
    m_list.ReloadSaved(QString());
    EXPECT_TRUE(m_list.SavedEntries().isEmpty());
}

TEST_F(CustomListCtrlTest, KeyboardTicksTheFocusedRowAndTheStateReachesAssistiveTechnology)
{
    Load({"/m/a/|1", "/m/b/|0"});
    m_list.setFocus();
    QSignalSpy del(&m_list, &CCustomListCtrl::DelButtonState);
    QTest::keyClick(&m_list, Qt::Key_Down);
    QTest::keyClick(&m_list, Qt::Key_Down);
    EXPECT_EQ(m_list.currentIndex().row(), 1);
    EXPECT_EQ(m_list.SelectedRow(), 1);
    ASSERT_FALSE(del.isEmpty());
    EXPECT_TRUE(del.last().at(0).toBool());
    QTest::keyClick(&m_list, Qt::Key_Space);
    EXPECT_EQ(m_list.Entries(), QStringList({"/m/a/|1", "/m/b/|1"}));

    QSignalSpy deleteKey(&m_list, &CCustomListCtrl::DeleteKeyPressed);
    QTest::keyClick(&m_list, Qt::Key_Delete);
    EXPECT_EQ(deleteKey.count(), 1);

    QAccessibleInterface* pList = QAccessible::queryAccessibleInterface(&m_list);
    ASSERT_NE(pList, nullptr);
    QAccessibleTableInterface* pTable = pList->tableInterface();
    ASSERT_NE(pTable, nullptr);
    QAccessibleInterface* pCell = pTable->cellAt(1, CCustomListCtrl::kColumnWatch);
    ASSERT_NE(pCell, nullptr);
    EXPECT_TRUE(pCell->state().checked);
    EXPECT_EQ(pCell->text(QAccessible::Name), "Watch");
    QTest::keyClick(&m_list, Qt::Key_Space);
    EXPECT_FALSE(pTable->cellAt(1, CCustomListCtrl::kColumnWatch)->state().checked);
    EXPECT_EQ(pTable->cellAt(0, CCustomListCtrl::kColumnPath)->text(QAccessible::Name), "/m/a/");
}

#include <gtest/gtest.h>

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

#include "ListTestSupport.h"
#include "controls/ContentsIds.h"
#include "controls/FormatSelectListCtrl.h"
#include "foundation/Environment.h"
#include "foundation/StringTable.h"
#include "support/desktop/TestMessagePresenter.h"
#include "sync/DeviceLists.h"

namespace {
const QString kDevice = QStringLiteral("uuid:types-1");

class FormatSelectListCtrlTest : public testing::Test
{
protected:
    void SetUp() override
    {
        SetStringLanguage(LANG_ID_ENGLISH_UK);
        m_list.SetMessagePresenter(&m_presenter);
        m_list.resize(420, 120);
        m_list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_list));
    }
    // Loads and returns the "Select all" states reported.
    std::vector<int> Load(const QStringList& entries)
    {
        QSignalSpy state(&m_list, &CFormatSelectListCtrl::SelectAllStateChanged);
        m_list.LoadExtensions(kDevice, entries);
        m_list.MarkSaved();
        std::vector<int> states;
        for (const QList<QVariant>& args : state)
            states.push_back(args.at(0).toInt());
        return states;
    }
    void Click(const QPoint& pt, Qt::MouseButton button = Qt::LeftButton) { ClickList(m_list, pt, button); }
    QByteArray CommittedBytes() { return CommitAndReadList(m_list, kDevice, kCapabilityListName); }

    CTestHome m_home;
    CTestMessagePresenter m_presenter;
    CFormatSelectListCtrl m_list;
};
} // namespace

TEST_F(FormatSelectListCtrlTest, SelectAllStateFollowsTheTicks)
{
    EXPECT_EQ(Load({}), std::vector<int>{CFormatSelectListCtrl::SELECT_ALL_ALL});
    EXPECT_EQ(Load({"mp3|1", "flac|1"}), std::vector<int>{CFormatSelectListCtrl::SELECT_ALL_ALL});
    EXPECT_EQ(Load({"mp3|0", "flac|0"}), std::vector<int>{CFormatSelectListCtrl::SELECT_ALL_NONE});
    EXPECT_EQ(Load({"mp3|1", "flac|0", "wav|x"}), std::vector<int>{CFormatSelectListCtrl::SELECT_ALL_SOME});
    EXPECT_EQ(m_list.Ticks(), QVector<int>({1, 0, 0}));
    EXPECT_EQ(m_list.item(2)->text(), "wav");
    EXPECT_EQ(m_list.item(2)->checkState(), Qt::Unchecked);
}

TEST_F(FormatSelectListCtrlTest, OnlyAPressOnTheBoxTicksAndTheMouseNeverSelects)
{
    Load({"mp3|1", "flac|0", "wav|1"});
    QSignalSpy del(&m_list, &CFormatSelectListCtrl::DelButtonState);
    QSignalSpy changed(&m_list, &CFormatSelectListCtrl::SettingsChanged);
    QSignalSpy state(&m_list, &CFormatSelectListCtrl::SelectAllStateChanged);

    const QRect rcText = m_list.visualRect(m_list.model()->index(1, 0));
    Click(QPoint(rcText.right() - 2, rcText.center().y()));
    EXPECT_FALSE(m_list.IsModified());
    EXPECT_TRUE(m_list.selectedItems().isEmpty());
    EXPECT_TRUE(m_list.WasClicked());
    EXPECT_EQ(changed.count(), 1);
    ASSERT_EQ(del.count(), 1);
    EXPECT_FALSE(del.at(0).at(0).toBool());

    Click(m_list.CheckBoxRect(1).center());
    EXPECT_EQ(m_list.Entries(), QStringList({"mp3|1", "flac|1", "wav|1"}));
    EXPECT_EQ(m_list.item(1)->checkState(), Qt::Checked);
    EXPECT_EQ(m_list.ClickedItem(), 1);
    EXPECT_TRUE(m_list.selectedItems().isEmpty());
    ASSERT_FALSE(state.isEmpty());
    EXPECT_EQ(state.last().at(0).toInt(), CFormatSelectListCtrl::SELECT_ALL_ALL);

    Click(m_list.CheckBoxRect(0).center(), Qt::RightButton);
    EXPECT_EQ(m_list.Ticks(), QVector<int>({1, 1, 1}));
    EXPECT_EQ(CommittedBytes(), ListFileBytes({"mp3|1", "flac|1", "wav|1"}));

    // A double click is two presses, whether the platform sends its second one as a press
    // followed by a double click or as the double click alone.
    changed.clear();
    const QPoint ptBox = m_list.CheckBoxRect(2).center();
    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, Qt::NoModifier, ptBox);
    QTest::mouseDClick(m_list.viewport(), Qt::LeftButton, Qt::NoModifier, ptBox);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(m_list.Ticks(), QVector<int>({1, 1, 1}));
    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, Qt::NoModifier, ptBox);
    QTest::mousePress(m_list.viewport(), Qt::LeftButton, Qt::NoModifier, ptBox);
    QTest::mouseDClick(m_list.viewport(), Qt::LeftButton, Qt::NoModifier, ptBox);
    EXPECT_EQ(changed.count(), 4);
    EXPECT_EQ(m_list.Ticks(), QVector<int>({1, 1, 1}));
}

TEST_F(FormatSelectListCtrlTest, UntickingTheLastWarnsAndTheUntickStays)
{
    Load({"mp3|1", "flac|0"});
    m_presenter.SetNextAnswer(IDOK);
    m_list.ToggleTick(0);
    EXPECT_EQ(m_presenter.ShownIds(), std::vector<unsigned>{IDS_NO_EXTENSION_TICKED});
    EXPECT_EQ(m_list.Entries(), QStringList({"mp3|0", "flac|0"}));
    EXPECT_EQ(CommittedBytes(), ListFileBytes({"mp3|0", "flac|0"}));

    QSignalSpy changed(&m_list, &CFormatSelectListCtrl::SettingsChanged);
    m_list.SetAllTicks(true);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(m_list.Entries(), QStringList({"mp3|1", "flac|1"}));
    m_presenter.SetNextAnswer(IDOK);
    m_list.SetAllTicks(false);
    EXPECT_EQ(m_presenter.ShownIds().size(), 2u);
    EXPECT_EQ(CommittedBytes(), ListFileBytes({"mp3|0", "flac|0"}));
}

TEST_F(FormatSelectListCtrlTest, CommitNeedsAPlayerAndRevertRestoresTheSavedTicks)
{
    m_list.LoadExtensions(QString(), {"mp3|1", "flac|0"});
    m_list.MarkSaved();
    m_list.ToggleTick(1);
    EXPECT_TRUE(m_list.IsModified());
    EXPECT_FALSE(m_list.Commit());
    EXPECT_TRUE(m_list.IsModified());
    EXPECT_FALSE(QFile::exists(DeviceFolder(QString()) + kCapabilityListName));

    Load({"mp3|1", "flac|0"});
    m_list.ToggleTick(1);
    m_list.Revert();
    EXPECT_FALSE(m_list.IsModified());
    EXPECT_EQ(m_list.Ticks(), QVector<int>({1, 0}));
    EXPECT_EQ(m_list.item(1)->checkState(), Qt::Unchecked);

    WriteTestFile(ListFilePath(kDevice, kCapabilityListName), ListFileBytes({"aac|1"}));
    m_list.ReloadSaved(kDevice);
    EXPECT_EQ(m_list.SavedEntries(), QStringList({"aac|1"}));
    EXPECT_EQ(m_list.Entries(), QStringList({"mp3|1", "flac|0"}));
}

TEST_F(FormatSelectListCtrlTest, SpaceTicksTheFocusedItemAndTheStateReachesAssistiveTechnology)
{
    Load({"mp3|1", "flac|0"});
    m_list.setFocus();
    m_list.setCurrentRow(1);
    QTest::keyClick(&m_list, Qt::Key_Space);
    EXPECT_EQ(m_list.Entries(), QStringList({"mp3|1", "flac|1"}));
    EXPECT_EQ(m_list.Ticks(), QVector<int>({1, 1}));

    QAccessibleInterface* pList = QAccessible::queryAccessibleInterface(&m_list);
    ASSERT_NE(pList, nullptr);
    ASSERT_EQ(pList->childCount(), 2);
    EXPECT_TRUE(pList->child(1)->state().checked);
    EXPECT_TRUE(pList->child(1)->state().checkable);
    EXPECT_EQ(pList->child(1)->text(QAccessible::Name), "flac");
    m_presenter.SetNextAnswer(IDOK);
    QTest::keyClick(&m_list, Qt::Key_Space);
    m_list.setCurrentRow(0);
    QTest::keyClick(&m_list, Qt::Key_Space);
    EXPECT_FALSE(pList->child(0)->state().checked);
}

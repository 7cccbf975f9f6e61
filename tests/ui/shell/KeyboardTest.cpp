#include <QTest>

#include "ShellFixture.h"

namespace {

class CKeyboardTest : public CShellTest
{
protected:
    void Activate()
    {
        m_pWnd->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_pWnd.get()));
    }
    // Presses the key on the focused control and returns the control that has the focus after.
    QWidget* Press(QWidget* pFocus, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        pFocus->setFocus();
        QTest::keyClick(pFocus, key, modifiers);
        return QApplication::focusWidget();
    }
};

TEST_F(CKeyboardTest, EscNeverClosesTheWindow)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    Activate();
    QTest::keyClick(Button(IDC_OK), Qt::Key_Escape);
    QTest::keyClick(&wnd.SyncPage(), Qt::Key_Escape);
    EXPECT_TRUE(wnd.isVisible());
    EXPECT_TRUE(m_presenter.Shown().empty());
}

TEST_F(CKeyboardTest, LeftAndUpStayInTheButtonRowWhereTheRulesSay)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    SelectDevice("uuid:1");
    Activate();
    // Console, Connection on show: Left on OK is swallowed.
    EXPECT_EQ(Press(Button(IDC_OK), Qt::Key_Left), Button(IDC_OK));
    // With Transfer Settings on show it moves the focus as usual.
    wnd.OnCommand(ID_PAGE_TRANSFER);
    EXPECT_NE(Press(Button(IDC_OK), Qt::Key_Left), Button(IDC_OK));
}

TEST_F(CKeyboardTest, WizardArrowRulesFollowTheStep)
{
    CTolvaMusicTransferDlg& wnd = StartWindow();
    ASSERT_EQ(wnd.Mode(), DM_WIZARD_CONNECTION);
    Activate();
    // Step 1, Next disabled: Left on End is swallowed.
    EXPECT_EQ(Press(Button(IDC_END), Qt::Key_Left), Button(IDC_END));
    wnd.SendMessage(CWindowMessage(WM_ENABLE_NEXT, 0, 1));
    EXPECT_EQ(Press(Button(IDC_NEXT), Qt::Key_Left), Button(IDC_NEXT));
    EXPECT_NE(Press(Button(IDC_END), Qt::Key_Left), Button(IDC_END)) << "Next is enabled now";
    Button(IDC_NEXT)->click();
    ASSERT_EQ(wnd.Mode(), DM_WIZARD_CONTENTS);
    EXPECT_EQ(Press(Button(IDC_PREV), Qt::Key_Left), Button(IDC_PREV));
    EXPECT_NE(Press(Button(IDC_NEXT), Qt::Key_Left), Button(IDC_NEXT)) << "only on Connection";
}

TEST_F(CKeyboardTest, AcceleratorsWorkInTheConsoleOnly)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    Activate();
    m_presenter.SetNextAnswer(IDNO);
    QTest::keyClick(Button(IDC_OK), Qt::Key_E, Qt::AltModifier);
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{160}));
    QTest::keyClick(Button(IDC_OK), Qt::Key_H, Qt::AltModifier);
    EXPECT_EQ(m_shell.Opened().size(), 1);
    m_shell.CompletePending();

    wnd.SendMessage(CWindowMessage(WM_CHANGE_MODE, DM_WIZARD_CONNECTION, 0));
    QTest::keyClick(Button(IDC_OK), Qt::Key_E, Qt::AltModifier);
    QTest::keyClick(Button(IDC_OK), Qt::Key_H, Qt::AltModifier);
    EXPECT_EQ(m_presenter.Shown().size(), 1u);
    EXPECT_EQ(m_shell.Opened().size(), 1);
}

} // namespace

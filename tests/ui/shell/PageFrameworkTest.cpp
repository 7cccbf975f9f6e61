#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include "ShellFixture.h"
#include "pages/PropertyTreeDlg.h"

namespace {

// A page with one edit, to see the focus go in and out of it.
class CEditPage : public CPropertyTreePage
{
public:
    explicit CEditPage(unsigned nId) : CPropertyTreePage(nId)
    {
        auto* pLayout = new QVBoxLayout(this);
        m_pEdit = new QLineEdit(this);
        pLayout->addWidget(m_pEdit);
        setMinimumSize(200, 120);
    }
    void InitPage() override { ++m_nInits; }
    void OnApplyPage() override { ++m_nApplied; }
    bool CanApplyPage() override { return m_bCanApply; }

    QLineEdit* m_pEdit = nullptr;
    int m_nInits = 0;
    int m_nApplied = 0;
    bool m_bCanApply = true;
};

// A settings window as the program's is laid out: a label frame on the left, the page area
// beside it, and a button row with Apply last.
class CTestTreeDlg : public CPropertyTreeDlg
{
public:
    CTestTreeDlg()
    {
        auto* pMain = new QVBoxLayout(this);
        auto* pBody = new QHBoxLayout;
        m_pFrame = new QWidget(this);
        m_pFrame->setFixedWidth(120);
        m_pFirst = new QPushButton("first", m_pFrame);
        m_pArea = new QWidget(this);
        pBody->addWidget(m_pFrame);
        pBody->addWidget(m_pArea, 1);
        pBody->addSpacing(2);
        pMain->addLayout(pBody);
        auto* pButtons = new QHBoxLayout;
        pButtons->addStretch();
        m_pOk = new QPushButton("OK", this);
        m_pApply = new QPushButton("Apply", this);
        pButtons->addWidget(m_pOk);
        pButtons->addWidget(m_pApply);
        pMain->addLayout(pButtons);
        SetPageFrame(m_pArea, m_pFrame, m_pApply);
    }
    using CPropertyTreeDlg::OnOK;

    QWidget* m_pFrame;
    QWidget* m_pArea;
    QPushButton* m_pFirst;
    QPushButton* m_pOk;
    QPushButton* m_pApply;
};

class CPageFrameworkTest : public CShellTest
{
protected:
    CEditPage m_page1{109};
    CEditPage m_page2{110};
    CEditPage m_page3{111};
    CTestTreeDlg m_dlg;

    void SetUp() override
    {
        ASSERT_EQ(m_dlg.AddPage(102, m_dlg.RootInfo(), &m_page1, 109), 1);
        ASSERT_EQ(m_dlg.AddPage(103, m_dlg.RootInfo(), &m_page2, 110), 2);
        ASSERT_EQ(m_dlg.AddPage(104, m_dlg.RootInfo(), &m_page3, 111), 3);
    }
    void TearDown() override
    {
        for (CEditPage* pPage : {&m_page1, &m_page2, &m_page3})
            pPage->setParent(nullptr);
    }
};

TEST_F(CPageFrameworkTest, RegistrationAndLookUpFollowTheTree)
{
    EXPECT_EQ(m_dlg.AddPage(104, nullptr, &m_page3, 112), -1);
    EXPECT_EQ(m_dlg.AddPage(104, m_dlg.RootInfo(), nullptr, 112), -1);
    EXPECT_EQ(m_dlg.Page(112), nullptr);

    CPropertyTreeInfo* pRoot = m_dlg.RootInfo();
    EXPECT_EQ(CPropertyTreeDlg::FindPageInfo(pRoot, 0), pRoot);
    EXPECT_EQ(CPropertyTreeDlg::FindPageInfo(nullptr, 110), nullptr);
    CPropertyTreeInfo* pContents = CPropertyTreeDlg::FindPageInfo(pRoot, 110);
    ASSERT_TRUE(pContents);
    EXPECT_EQ(pContents->m_strCaption, "Contents Settings");
    // A deeper record is found below its parent, depth first.
    CEditPage deep(500);
    EXPECT_EQ(m_dlg.AddPage(101, pContents, &deep, 500), 1);
    EXPECT_EQ(CPropertyTreeDlg::FindPageInfo(pRoot, 500), pContents->m_arrChildren[0].get());
    EXPECT_EQ(CPropertyTreeDlg::FindPageInfo(pRoot, 999), nullptr);

    // Only direct children are created, each once.
    m_dlg.CreatePages(pRoot);
    m_dlg.CreatePages(pRoot);
    EXPECT_TRUE(m_page1.IsCreated() && m_page2.IsCreated() && m_page3.IsCreated());
    EXPECT_EQ(m_page2.m_nInits, 1);
    EXPECT_FALSE(deep.IsCreated());
    EXPECT_TRUE(m_page1.isHidden() && m_page2.isHidden() && m_page3.isHidden());
    deep.setParent(nullptr);
}

TEST_F(CPageFrameworkTest, ShowPageShowsOneAtItsPlaceAndAnUnknownIdHidesAll)
{
    m_dlg.resize(600, 400);
    m_dlg.show();
    m_dlg.ShowPage(0);
    EXPECT_EQ(m_dlg.CurrentPageId(), 0u);
    m_dlg.ShowPage(110); // created on demand
    EXPECT_TRUE(m_page2.IsCreated());
    EXPECT_TRUE(m_page2.isVisible());
    EXPECT_EQ(m_dlg.CurrentPageId(), 110u);

    // The page's top is the frame's top; its right edge is two pixels inside Apply's.
    const QRect page(m_page2.mapTo(&m_dlg, QPoint(0, 0)), m_page2.size());
    const QRect frame(m_dlg.m_pFrame->mapTo(&m_dlg, QPoint(0, 0)), m_dlg.m_pFrame->size());
    const QRect apply(m_dlg.m_pApply->mapTo(&m_dlg, QPoint(0, 0)), m_dlg.m_pApply->size());
    EXPECT_EQ(page.top(), frame.top());
    EXPECT_EQ(page.left() + page.width(), apply.left() + apply.width() - 2);

    m_dlg.ShowPage(111);
    EXPECT_FALSE(m_page2.isVisible());
    EXPECT_TRUE(m_page3.isVisible());
    m_dlg.ShowPage(777);
    EXPECT_FALSE(m_page1.isVisible() || m_page2.isVisible() || m_page3.isVisible());
    EXPECT_EQ(m_dlg.CurrentPageId(), 111u);
}

TEST_F(CPageFrameworkTest, TabMovesIntoThePageOnShowAndOutAgain)
{
    m_dlg.show();
    m_dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&m_dlg));
    m_dlg.CreatePages(m_dlg.RootInfo());
    m_dlg.ShowPage(110);
    m_dlg.m_pApply->setFocus();
    // From the window's last control the focus goes into the page on show, never into a
    // hidden one, and from there back to the window's first control.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), m_page2.m_pEdit);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), m_dlg.m_pFirst);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), m_page2.m_pEdit);
}

TEST_F(CPageFrameworkTest, DefaultOkAppliesEveryPageUnlessOneRefuses)
{
    m_dlg.CreatePages(m_dlg.RootInfo());
    m_page2.m_bCanApply = false;
    m_dlg.OnOK();
    EXPECT_EQ(m_page1.m_nApplied + m_page2.m_nApplied + m_page3.m_nApplied, 0);
    m_page2.m_bCanApply = true;
    m_dlg.OnOK();
    EXPECT_EQ(m_page1.m_nApplied + m_page2.m_nApplied + m_page3.m_nApplied, 3);
    EXPECT_EQ(m_dlg.result(), QDialog::Accepted);
}

TEST_F(CPageFrameworkTest, MainWindowPagesSitBesideTheLabelsAboveTheButtons)
{
    CTolvaMusicTransferDlg& wnd = StartConsole();
    SelectDevice("uuid:1");
    for (unsigned nPage : {109u, 110u, 111u}) {
        wnd.OnCommand(nPage == 109 ? ID_PAGE_CONNECTION : nPage == 110 ? ID_PAGE_CONTENTS : ID_PAGE_TRANSFER);
        CPropertyTreePage* pPage = wnd.Page(nPage);
        ASSERT_TRUE(pPage->isVisible());
        const QRect page(pPage->mapTo(&wnd, QPoint(0, 0)), pPage->size());
        const QRect frame(wnd.LabelFrame()->mapTo(&wnd, QPoint(0, 0)), wnd.LabelFrame()->size());
        QPushButton* pApply = Button(IDC_APPLY);
        const QRect apply(pApply->mapTo(&wnd, QPoint(0, 0)), pApply->size());
        EXPECT_EQ(page.top(), frame.top()) << nPage;
        EXPECT_EQ(page.left() + page.width(), apply.left() + apply.width() - 2) << nPage;
        EXPECT_GT(page.left(), frame.right()) << nPage;
        EXPECT_LT(page.bottom(), apply.top()) << nPage;
    }
}

} // namespace

#include <gtest/gtest.h>

#include <functional>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "desktop/MessagePresenter.h"
#include "support/QtPrinters.h"
#include "support/desktop/TestMessagePresenter.h"

namespace {

constexpr unsigned kIdsSaveAndTransfer = 186;

const SMessageBox kSaveAndTransfer{kIdsSaveAndTransfer, QString(), MSG_ICON_WARNING, MSG_BUTTONS_YESNO, IDNO};

// Runs fn once the next modal message box is on screen (it is given that box); fails the test
// when none opens within a few seconds, closing leftovers so a failure cannot hang the run.
void WhenBoxOpens(std::function<void(QMessageBox&)> fn)
{
    QTimer::singleShot(0, [fn] {
        QMessageBox* pBox = nullptr;
        const bool bOpened = QTest::qWaitFor(
            [&] { return (pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) != nullptr; }, 5000);
        EXPECT_TRUE(bOpened) << "no message box opened";
        if (bOpened)
            fn(*pBox);
    });
}

TEST(MessagePresenter, ShowsTheBoxAndReturnsTheButtonPressed)
{
    CMessagePresenter presenter;
    EXPECT_FALSE(presenter.IsOpen());
    WhenBoxOpens([&](QMessageBox& box) {
        EXPECT_TRUE(presenter.IsOpen());
        EXPECT_EQ(box.windowTitle(), "Tolva Music Transfer");
        EXPECT_TRUE(box.text().startsWith("You have changed the settings.")) << box.text().toStdString();
        EXPECT_EQ(box.icon(), QMessageBox::Warning);
        ASSERT_NE(box.button(QMessageBox::No), nullptr);
        EXPECT_EQ(box.defaultButton(), box.button(QMessageBox::No));
        box.button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(presenter.Show(nullptr, kSaveAndTransfer), IDYES);
    EXPECT_FALSE(presenter.IsOpen());
    EXPECT_FALSE(presenter.CloseOpen());

    WhenBoxOpens([](QMessageBox& box) {
        EXPECT_EQ(box.text(), "Disk full");
        box.button(QMessageBox::Cancel)->click();
    });
    EXPECT_EQ(presenter.Show(nullptr, {0, "Disk full", MSG_ICON_ERROR, MSG_BUTTONS_OKCANCEL, IDOK}), IDCANCEL);
}

TEST(MessagePresenter, CloseOpenEndsTheInnermostBoxWithNo)
{
    CMessagePresenter presenter;
    int nInner = 0;
    WhenBoxOpens([&](QMessageBox&) {
        // An event handled while the box is open shows a second box, which the program then closes.
        WhenBoxOpens([&](QMessageBox& inner) {
            EXPECT_EQ(inner.text(), "inner");
            EXPECT_TRUE(presenter.CloseOpen());
        });
        nInner = presenter.Show(nullptr, {0, "inner", MSG_ICON_INFORMATION, MSG_BUTTONS_OK, IDOK});
        EXPECT_TRUE(presenter.IsOpen()); // the outer one is still up
        EXPECT_TRUE(presenter.CloseOpen());
        EXPECT_FALSE(presenter.IsOpen());
        EXPECT_FALSE(presenter.CloseOpen());
    });
    EXPECT_EQ(presenter.Show(nullptr, {0, "outer", MSG_ICON_QUESTION, MSG_BUTTONS_OKCANCEL, IDOK}), IDNO);
    EXPECT_EQ(nInner, IDNO);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(MessagePresenter, TestDoubleAnswersFromItsQueueAndRecordsTheTexts)
{
    CTestMessagePresenter presenter;
    presenter.QueueAnswers({IDYES, IDNO});
    EXPECT_EQ(presenter.Show(nullptr, kSaveAndTransfer), IDYES);
    EXPECT_EQ(presenter.Show(nullptr, {0, "second", MSG_ICON_NONE, MSG_BUTTONS_YESNO, IDYES}), IDNO);
    presenter.QueueWhileOpen([&] {
        EXPECT_TRUE(presenter.IsOpen());
        EXPECT_TRUE(presenter.CloseOpen());
        return IDYES;
    });
    EXPECT_EQ(presenter.Show(nullptr, kSaveAndTransfer), IDNO);
    EXPECT_FALSE(presenter.IsOpen());
    EXPECT_EQ(presenter.ShownIds(), (std::vector<unsigned>{kIdsSaveAndTransfer, 0, kIdsSaveAndTransfer}));
    EXPECT_TRUE(presenter.Shown()[0].sText.startsWith("You have changed the settings."));
    EXPECT_EQ(presenter.Shown()[1].sText, "second");
    EXPECT_EQ(presenter.PendingAnswers(), 0);
}

} // namespace

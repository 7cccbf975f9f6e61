#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "controls/AutoPicture.h"
#include "controls/ConnectionView.h"
#include "controls/DeviceInfoPaint.h"
#include "desktop/Pictures.h"
#include "support/TestHome.h"

namespace {

SDeviceCard Card(const QString& sId, const QString& sName, const QString& sIp = "127.0.0.2")
{
    SDeviceCard card;
    card.sDeviceId = sId;
    card.sName = sName;
    card.sSecondLine = sIp;
    return card;
}

QImage Render(CDeviceInfoPaint& paint, QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    paint.Draw(painter, QRect(QPoint(0, 0), QSize(size.width(), CConnectionView::kRowHeight)));
    return image;
}

TEST(DeviceCardTest, NamesUpToFifteenCharactersShowWholeLongerOnesAreCutToFourteenWithDots)
{
    CDeviceInfoPaint paint;
    ASSERT_TRUE(paint.AddCard(Card("a", "ABCDEFGHIJKLMNO")));  // 15
    ASSERT_TRUE(paint.AddCard(Card("b", "ABCDEFGHIJKLMNOP"))); // 16
    ASSERT_TRUE(paint.AddCard(Card("c", "Tom & Jerry")));
    EXPECT_EQ(CDeviceInfoPaint::FirstLine(paint.Card(0)), "[ABCDEFGHIJKLMNO]");
    EXPECT_EQ(CDeviceInfoPaint::FirstLine(paint.Card(1)), "[ABCDEFGHIJKLMN...]");
    // The ampersand is text, not a mnemonic marker.
    EXPECT_EQ(CDeviceInfoPaint::FirstLine(paint.Card(2)), "[Tom & Jerry]");
    QString sName;
    bool bShort = false;
    ASSERT_TRUE(paint.GetCardName("b", &sName, &bShort));
    EXPECT_EQ(sName, "ABCDEFGHIJKLMN");
    EXPECT_TRUE(bShort);
    // A rename follows the same rule.
    ASSERT_TRUE(paint.SetCardName("b", "Short"));
    EXPECT_EQ(CDeviceInfoPaint::FirstLine(paint.Card(1)), "[Short]");
}

TEST(DeviceCardTest, CardsSitTwoPerRowEachRowOneAreaHighAndHitTestsFindThem)
{
    CTestHome home;
    CDeviceInfoPaint paint;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(paint.AddCard(Card(QString::number(i), "Player " + QString::number(i))));
    EXPECT_EQ(paint.Card(4).nRow, 2);
    EXPECT_EQ(paint.Card(4).nColumn, 0);
    Render(paint, QSize(400, 5 * CConnectionView::kRowHeight));
    // Centres at x = (2c + 1) * W/4, y = (2r + 1) * H/2.
    EXPECT_NEAR(paint.Card(1).bounds.center().x(), 300, 2);
    EXPECT_NEAR(paint.Card(4).bounds.center().x(), 100, 2);
    const int nPictureCentreY = 5 * CConnectionView::kRowHeight / 2;
    EXPECT_LT(paint.Card(4).bounds.top(), nPictureCentreY);
    EXPECT_GT(paint.Card(4).bounds.bottom(), nPictureCentreY);
    // Each card stays within its row, selection frame included.
    for (int i = 0; i < 5; ++i) {
        const QRect frame = paint.Card(i).bounds.adjusted(-4, -4, 4, 4);
        EXPECT_GE(frame.top(), paint.Card(i).nRow * CConnectionView::kRowHeight) << i;
        EXPECT_LT(frame.bottom(), (paint.Card(i).nRow + 1) * CConnectionView::kRowHeight) << i;
    }
    EXPECT_EQ(paint.HitTest(paint.Card(3).bounds.center()), 3);
    EXPECT_EQ(paint.HitTest(QPoint(200, 5)), -1);
}

TEST(DeviceCardTest, AMissingPictureFileShowsTheDefaultPictureAndSaysSoInTheLog)
{
    CTestHome home;
    home.EnableLog();
    CDeviceInfoPaint paint;
    SDeviceCard card = Card("a", "Kitchen");
    card.sPicturePath = home.Path("gone.png");
    ASSERT_TRUE(paint.AddCard(card));
    const QImage image = Render(paint, QSize(400, CConnectionView::kRowHeight));
    EXPECT_TRUE(home.ReadLog().contains("DrawCtrl is empty ")) << home.ReadLog().toStdString();
    // Something was drawn where the picture goes: the default picture.
    const QPoint centre(100, CConnectionView::kRowHeight / 2);
    EXPECT_NE(image.pixelColor(centre), QColor(Qt::white));
}

TEST(DeviceCardTest, TheSelectedCardHasATwoPixelBlueFrameFourPixelsOutside)
{
    CTestHome home;
    CDeviceInfoPaint paint;
    ASSERT_TRUE(paint.AddCard(Card("a", "Kitchen")));
    ASSERT_TRUE(paint.AddCard(Card("b", "Hall")));
    paint.Select(1);
    const QImage image = Render(paint, QSize(400, CConnectionView::kRowHeight));
    const QRect bounds = paint.Card(1).bounds;
    const QColor blue = QColor::fromRgb(CDeviceInfoPaint::kSelectionColour);
    const int y = bounds.center().y();
    EXPECT_EQ(image.pixelColor(bounds.left() - 4, y), blue);
    EXPECT_EQ(image.pixelColor(bounds.left() - 3, y), blue);
    EXPECT_EQ(image.pixelColor(bounds.left() - 2, y), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(bounds.left() - 5, y), QColor(Qt::white));
    // The other card has none.
    const QRect other = paint.Card(0).bounds;
    EXPECT_EQ(image.pixelColor(other.left() - 4, other.center().y()), QColor(Qt::white));
}

TEST(DeviceCardTest, AtMostSixtyThousandCards)
{
    CDeviceInfoPaint paint;
    for (int i = 0; i < CDeviceInfoPaint::kMaxCards; ++i)
        ASSERT_TRUE(paint.AddCard(Card(QString(), QString())));
    EXPECT_FALSE(paint.AddCard(Card("x", "One too many")));
    EXPECT_EQ(paint.Count(), CDeviceInfoPaint::kMaxCards);
}

class CConnectionViewTest : public testing::Test
{
protected:
    CConnectionViewTest()
    {
        m_view.resize(420, m_view.sizeHint().height());
        m_view.show();
    }
    void Add(int n)
    {
        for (int i = 0; i < n; ++i) {
            const int k = m_view.CardCount();
            ASSERT_TRUE(m_view.AddCard(Card("uuid:" + QString::number(k), "Player " + QString::number(k),
                                            "127.0.0." + QString::number(k + 2))));
        }
    }
    void Wheel(int nNotches)
    {
        QWheelEvent event(QPointF(50, 50), m_view.viewport()->mapToGlobal(QPointF(50, 50)), QPoint(),
                          QPoint(0, nNotches * 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(m_view.viewport(), &event);
    }

    CTestHome m_home;
    CConnectionView m_view;
};

TEST_F(CConnectionViewTest, TheBarServesThreeCardsOnTheWheelOnlyFiveOrMore)
{
    QScrollBar* pBar = m_view.verticalScrollBar();
    Add(2);
    EXPECT_FALSE(pBar->isEnabled());
    Add(1);
    EXPECT_TRUE(pBar->isEnabled());
    EXPECT_EQ(pBar->maximum(), 1); // two rows
    Wheel(-1);
    EXPECT_EQ(m_view.TopRow(), 0) << "the wheel is swallowed with three cards";
    Add(1);
    Wheel(-1);
    EXPECT_EQ(m_view.TopRow(), 0) << "and with four";
    Add(1);
    Wheel(-1);
    EXPECT_EQ(m_view.TopRow(), 1);
    Wheel(-5);
    EXPECT_EQ(m_view.TopRow(), 2) << "no further than the last row";
    Wheel(3);
    EXPECT_EQ(m_view.TopRow(), 0);
    // Selecting a card shows its row; locking the bar keeps it.
    m_view.SelectCard(4);
    EXPECT_EQ(m_view.TopRow(), 2);
    m_view.SetScrollBarLocked(true);
    EXPECT_FALSE(pBar->isEnabled());
    Wheel(1);
    EXPECT_EQ(m_view.TopRow(), 2);
    m_view.SetScrollBarLocked(false);
    EXPECT_TRUE(pBar->isEnabled());
}

TEST_F(CConnectionViewTest, ClicksAndKeysReportTheCardOnShow)
{
    Add(3);
    QSignalSpy spy(&m_view, &CConnectionView::CardClicked);
    QTest::mouseClick(m_view.viewport(), Qt::LeftButton, Qt::NoModifier, m_view.CardRect(1).center());
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy.takeFirst().at(0).toInt(), 1);
    QTest::mouseClick(m_view.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    EXPECT_TRUE(spy.isEmpty()) << "a click beside the cards selects nothing";

    // The keyboard reaches the third card, on the second row, which scrolls into view.
    m_view.setFocus();
    QTest::keyClick(&m_view, Qt::Key_Home);
    QTest::keyClick(&m_view, Qt::Key_Down);
    EXPECT_EQ(m_view.FocusCard(), 2);
    EXPECT_EQ(m_view.TopRow(), 1);
    QTest::keyClick(&m_view, Qt::Key_Space);
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy.takeFirst().at(0).toInt(), 2);
    // A click on the scrolled view hits the card under the pointer, not the one of the first row.
    QTest::mouseClick(m_view.viewport(), Qt::LeftButton, Qt::NoModifier, m_view.CardRect(2).center());
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy.takeFirst().at(0).toInt(), 2);
}

TEST_F(CConnectionViewTest, AssistiveTechnologySeesOneSelectableItemPerCard)
{
    Add(3);
    m_view.SelectCard(1);
    QAccessibleInterface* pList = QAccessible::queryAccessibleInterface(&m_view);
    ASSERT_TRUE(pList);
    EXPECT_EQ(pList->role(), QAccessible::List);
    ASSERT_EQ(pList->childCount(), 3);
    QAccessibleInterface* pItem = pList->child(1);
    ASSERT_TRUE(pItem);
    EXPECT_EQ(pItem->role(), QAccessible::ListItem);
    EXPECT_EQ(pItem->text(QAccessible::Name), "Player 1");
    EXPECT_EQ(pItem->text(QAccessible::Description), "127.0.0.3");
    EXPECT_TRUE(pItem->state().selectable);
    EXPECT_TRUE(pItem->state().selected);
    EXPECT_FALSE(pList->child(0)->state().selected);
    EXPECT_TRUE(pList->child(2)->state().offscreen) << "the second row is not on show";
    EXPECT_EQ(pList->indexOfChild(pItem), 1);
    EXPECT_EQ(pItem->parent(), pList);

    QSignalSpy spy(&m_view, &CConnectionView::CardClicked);
    QAccessibleActionInterface* pAction = pList->child(2)->actionInterface();
    ASSERT_TRUE(pAction);
    pAction->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy.takeFirst().at(0).toInt(), 2);
    // A new card is a new child; a renamed card carries its new name.
    Add(1);
    EXPECT_EQ(pList->childCount(), 4);
    m_view.SetCardName("uuid:3", "Attic");
    EXPECT_EQ(pList->child(3)->text(QAccessible::Name), "Attic");
}

TEST(AutoPictureTest, DrawsPngOrSvgBytesStretchedToTheControlAndRefusesOtherBytes)
{
    CAutoPicture picture;
    picture.resize(60, 40);
    EXPECT_FALSE(picture.SetImageData("not an image"));
    EXPECT_FALSE(picture.IsLoaded());

    QImage red(4, 4, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    ASSERT_TRUE(red.save(&buffer, "PNG"));
    ASSERT_TRUE(picture.SetImageData(png));
    const QImage shown = picture.grab().toImage();
    EXPECT_EQ(shown.pixelColor(1, 1), QColor(Qt::red));
    EXPECT_EQ(shown.pixelColor(58, 38), QColor(Qt::red)) << "stretched to the whole control";

    ASSERT_TRUE(picture.SetImageData(LoadPictureData(242)));
    EXPECT_EQ(picture.ImageSize(), PictureSize(242));
}

} // namespace

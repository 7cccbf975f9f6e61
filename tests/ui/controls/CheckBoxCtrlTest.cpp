#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>

#include "controls/CheckBoxCtrl.h"

namespace {
QRect DrawInto(CCheckBoxCtrl& box, const QRect& rcCell, QImage* pImage = nullptr)
{
    QImage image(200, 40, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    box.Draw(painter, rcCell, 0);
    painter.end();
    if (pImage)
        *pImage = image;
    return box.HitRect();
}

int BoxWidth(QWidget* pOwner)
{
    return pOwner->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, pOwner);
}
} // namespace

TEST(CheckBoxCtrl, TextStartsWithItsState)
{
    QWidget owner;
    CCheckBoxCtrl ticked;
    ticked.Init(1, &owner, "1");
    EXPECT_TRUE(ticked.IsTicked());
    EXPECT_EQ(ticked.Label(), "");

    CCheckBoxCtrl other;
    other.Init(2, &owner, "x");
    EXPECT_EQ(other.Text(), "0x");
    EXPECT_FALSE(other.IsTicked());

    CCheckBoxCtrl empty;
    empty.Init(3, &owner, "");
    EXPECT_EQ(empty.Text(), "0");

    EXPECT_TRUE(empty.OnClick());
    EXPECT_EQ(empty.Text(), "1");
    EXPECT_TRUE(empty.OnClick());
    EXPECT_EQ(empty.Text(), "0");
}

TEST(CheckBoxCtrl, PlacementFollowsAlignmentAndNarrowCellsPutTheBoxLeft)
{
    QWidget owner;
    owner.resize(200, 40);
    CCheckBoxCtrl box;
    box.Init(0, &owner, "1");
    const int nBox = BoxWidth(&owner);
    const int nWidth = nBox + CCheckBoxCtrl::kLabelGap;

    const QRect rcCell(20, 0, 100, 19);
    QRect rc = DrawInto(box, rcCell);
    EXPECT_EQ(rc.left(), 20 + (100 - nWidth) / 2);
    EXPECT_EQ(rc.width(), nBox);
    EXPECT_GE(rc.top(), 0);
    EXPECT_LE(rc.bottom(), 18);

    box.SetAlignment(CCustomBaseCtrl::ALIGN_RIGHT);
    EXPECT_EQ(DrawInto(box, rcCell).left(), 20 + 100 - nWidth);
    box.SetAlignment(0);
    EXPECT_EQ(DrawInto(box, rcCell).left(), 20);

    box.SetAlignment(CCustomBaseCtrl::ALIGN_CENTER);
    EXPECT_EQ(DrawInto(box, QRect(30, 0, nWidth - 1, 19)).left(), 30);

    // A label widens the box's footprint: a cell wide enough for the box alone is now narrow.
    CCheckBoxCtrl labelled;
    labelled.Init(0, &owner, "1Watch this");
    EXPECT_EQ(DrawInto(labelled, QRect(40, 0, nWidth + 2, 19)).left(), 40);
}

TEST(CheckBoxCtrl, TickedAndUntickedDrawDifferentlyWithTheStylesBox)
{
    QWidget owner;
    owner.resize(200, 40);
    CCheckBoxCtrl ticked;
    ticked.Init(0, &owner, "1");
    CCheckBoxCtrl unticked;
    unticked.Init(0, &owner, "x");
    QImage imageTicked;
    QImage imageUnticked;
    DrawInto(ticked, QRect(0, 0, 100, 19), &imageTicked);
    DrawInto(unticked, QRect(0, 0, 100, 19), &imageUnticked);
    EXPECT_NE(imageTicked, imageUnticked);

    // Same drawing as the style's own check box indicator in the same place.
    QImage expected(200, 40, QImage::Format_ARGB32);
    expected.fill(Qt::white);
    {
        QPainter painter(&expected);
        painter.fillRect(QRect(0, 0, 100, 19), owner.palette().color(QPalette::Base));
        QStyleOptionButton option;
        option.initFrom(&owner);
        option.rect = ticked.HitRect();
        option.state = QStyle::State_Enabled | QStyle::State_On;
        owner.style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, &owner);
    }
    EXPECT_EQ(imageTicked, expected);
}

TEST(CheckBoxCtrl, OnlyAPressInsideTheBoxClicks)
{
    QWidget owner;
    owner.resize(200, 40);
    CCheckBoxCtrl box;
    box.Init(0, &owner, "0");
    const QRect rc = DrawInto(box, QRect(0, 0, 100, 19));

    for (const QPoint& pt : {QPoint(rc.left() - 1, rc.center().y()), QPoint(rc.right() + 1, rc.center().y()),
                             QPoint(rc.center().x(), rc.top() - 1), QPoint(rc.center().x(), rc.bottom() + 1)}) {
        box.Deactivate();
        EXPECT_FALSE(box.OnLButtonDown(Qt::NoModifier, pt)) << pt.x() << "," << pt.y();
        EXPECT_TRUE(box.IsActive());
        EXPECT_FALSE(box.IsTicked());
    }
    EXPECT_TRUE(box.OnLButtonDown(Qt::NoModifier, rc.topLeft()));
    EXPECT_TRUE(box.IsTicked());
    EXPECT_TRUE(box.OnLButtonDown(Qt::NoModifier, rc.bottomRight()));
    EXPECT_FALSE(box.IsTicked());

    // A box drawn outside the owner's area (grown by one pixel) cannot be clicked there.
    const QRect rcOutside = DrawInto(box, QRect(0, 21, 100, 19));
    owner.resize(200, rcOutside.top() - 2);
    EXPECT_FALSE(box.OnLButtonDown(Qt::NoModifier, rcOutside.center()));
}

#include <QImage>

#include "ShellFixture.h"
#include "controls/SelFocus.h"

namespace {

// The colours a page label shows in each state, read from its painted picture.
TEST(CSelFocusTest, StatesPaintTheirColours)
{
    CSelFocus label;
    label.SetText("Connection");
    label.resize(160, 26);
    const auto paint = [&](int nState) {
        label.SetState(nState);
        return label.grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    const auto hasPixel = [](const QImage& image, QRgb rgb) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if ((image.pixel(x, y) & 0xffffff) == (rgb & 0xffffff))
                    return true;
        return false;
    };

    const QImage selected = paint(CSelFocus::SEL_FOCUS_SELECTED);
    EXPECT_EQ(selected.pixel(1, 1) & 0xffffff, CSelFocus::kSelectedColour & 0xffffff);
    EXPECT_EQ(selected.pixel(150, 24) & 0xffffff, CSelFocus::kSelectedColour & 0xffffff);

    const QImage normal = paint(CSelFocus::SEL_FOCUS_NORMAL);
    EXPECT_NE(normal.pixel(1, 1) & 0xffffff, CSelFocus::kSelectedColour & 0xffffff);
    EXPECT_FALSE(hasPixel(normal, CSelFocus::kUnavailableTextColour));

    const QImage unavailable = paint(CSelFocus::SEL_FOCUS_UNAVAILABLE);
    EXPECT_EQ(unavailable.pixel(1, 1), normal.pixel(1, 1)) << "same background as normal";
    EXPECT_TRUE(hasPixel(unavailable, CSelFocus::kUnavailableTextColour)) << "greyed blue text";
    // The text starts 6 pixels in: nothing but background left of it.
    for (int y = 0; y < unavailable.height(); ++y)
        for (int x = 0; x < CSelFocus::kTextLeft; ++x)
            ASSERT_EQ(unavailable.pixel(x, y), unavailable.pixel(0, 0)) << x << "," << y;
}

} // namespace

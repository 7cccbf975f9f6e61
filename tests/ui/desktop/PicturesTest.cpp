#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

#include "desktop/Pictures.h"
#include "support/QtPrinters.h"

namespace {

const unsigned kPictureIds[] = {107, 186, 210, 211, 212, 213, 214, 215, 216, 217, 218, 219, 239, 242, 243};
const unsigned kTrayIds[] = {210, 211, 212, 213, 214, 215, 216, 217, 218, 219};

// Share of the image's pixels that are not fully transparent.
double CoveredShare(const QImage& image)
{
    int nCovered = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            nCovered += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    }
    return double(nCovered) / (image.width() * image.height());
}

// Every picture draws at the sizes the program uses, at scales 1 and 2. With TOLVA_PICTURES_OUT
// set, the renderings are written there as PNG files for a look by eye.
TEST(Pictures, EveryPictureDrawsAtEverySizeAndScale)
{
    const QString sOut = qEnvironmentVariable("TOLVA_PICTURES_OUT");
    if (!sOut.isEmpty())
        QDir().mkpath(sOut);
    for (unsigned nId : kPictureIds) {
        const QSize own = PictureSize(nId);
        ASSERT_FALSE(own.isEmpty()) << nId;
        for (int nSize : {16, 24, 48, 100}) {
            for (qreal dRatio : {1.0, 2.0}) {
                const QPixmap pixmap = LoadPicture(nId, QSize(nSize, nSize), dRatio);
                ASSERT_FALSE(pixmap.isNull()) << nId;
                EXPECT_EQ(pixmap.size(), QSize(nSize, nSize) * dRatio) << nId;
                EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(nSize, nSize)) << nId;
                EXPECT_GT(CoveredShare(pixmap.toImage()), 0.15) << nId << " at " << nSize;
                if (!sOut.isEmpty())
                    pixmap.toImage().save(QStringLiteral("%1/%2-%3@%4x.png").arg(sOut).arg(nId).arg(nSize).arg(dRatio));
            }
        }
        if (!sOut.isEmpty())
            LoadPicture(nId).toImage().save(QStringLiteral("%1/%2-own.png").arg(sOut).arg(nId));
    }
    EXPECT_TRUE(LoadPicture(999, QSize(16, 16)).isNull());
    EXPECT_TRUE(LoadIcon(999).isNull());
    EXPECT_TRUE(PictureSize(999).isEmpty());
}

TEST(Pictures, PicturesKeepTheirProportions)
{
    // The help picture is wider than high: drawn into a square it is centred with empty bands.
    const QImage help = LoadPicture(242, QSize(100, 100)).toImage();
    EXPECT_EQ(qAlpha(help.pixel(50, 2)), 0);
    EXPECT_GT(qAlpha(help.pixel(50, 50)), 0);
    const QSize own = PictureSize(242);
    EXPECT_GT(own.width(), own.height());
}

TEST(Pictures, TrayIconsDifferFromEachOtherAtPanelSize)
{
    for (int nSize : {16, 24}) {
        for (unsigned nFirst : kTrayIds) {
            for (unsigned nSecond : kTrayIds) {
                if (nFirst < nSecond) {
                    EXPECT_NE(LoadPicture(nFirst, QSize(nSize, nSize)).toImage(),
                              LoadPicture(nSecond, QSize(nSize, nSize)).toImage())
                        << nFirst << " and " << nSecond << " look the same at " << nSize;
                }
            }
        }
    }
}

TEST(Pictures, IconsCarryThePanelSizes)
{
    const QList<QSize> sizes = LoadIcon(107).availableSizes();
    for (int nSize : {16, 24, 32, 48, 256})
        EXPECT_TRUE(sizes.contains(QSize(nSize, nSize))) << nSize;
    EXPECT_TRUE(LoadIcon(219).availableSizes().contains(QSize(22, 22)));
    EXPECT_EQ(LoadIcon(219).pixmap(QSize(24, 24)).toImage(), LoadPicture(219, QSize(24, 24)).toImage());
}

} // namespace

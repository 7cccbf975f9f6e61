#include "desktop/Pictures.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

// The resources live in a static library; naming its initialiser makes the linker keep them.
static void InitPictureResources()
{
    static const bool bDone = [] {
        Q_INIT_RESOURCE(pictures);
        return true;
    }();
    (void)bDone;
}

namespace {

QString SourceOf(unsigned nId)
{
    InitPictureResources();
    return QStringLiteral(":/pictures/%1.svg").arg(nId);
}

// Pixel sizes drawn for an icon (the panel's sizes at scales 1 and 2). Tray icons get few, as the
// tray host is handed every size at each change; the others also serve window decorations, task
// switchers and the About box.
constexpr int kTrayFirst = 210;
constexpr int kTrayLast = 219;
constexpr int kTraySizes[] = {16, 22, 24, 32, 44, 48};
constexpr int kIconSizes[] = {16, 22, 24, 32, 44, 48, 64, 128, 256};

} // namespace

QSize PictureSize(unsigned nId)
{
    const QString sSource = SourceOf(nId);
    if (!QFile::exists(sSource))
        return QSize();
    return QSvgRenderer(sSource).defaultSize();
}

QPixmap LoadPicture(unsigned nId, QSize logicalSize, qreal devicePixelRatio)
{
    const QString sSource = SourceOf(nId);
    if (!QFile::exists(sSource))
        return QPixmap();
    QSvgRenderer renderer(sSource);
    if (!renderer.isValid())
        return QPixmap();
    if (logicalSize.isEmpty())
        logicalSize = renderer.defaultSize();
    if (devicePixelRatio <= 0)
        devicePixelRatio = 1.0;
    QPixmap pixmap(logicalSize * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    const QSizeF drawn = QSizeF(renderer.defaultSize()).scaled(QSizeF(logicalSize), Qt::KeepAspectRatio);
    const QRectF target(QPointF((logicalSize.width() - drawn.width()) / 2, (logicalSize.height() - drawn.height()) / 2),
                        drawn);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    renderer.render(&painter, target);
    return pixmap;
}

QIcon LoadIcon(unsigned nId)
{
    if (!QFile::exists(SourceOf(nId)))
        return QIcon();
    QIcon icon;
    const bool bTray = nId >= kTrayFirst && nId <= kTrayLast;
    const auto addSizes = [&](const auto& sizes) {
        for (int nSize : sizes)
            icon.addPixmap(LoadPicture(nId, QSize(nSize, nSize)));
    };
    if (bTray)
        addSizes(kTraySizes);
    else
        addSizes(kIconSizes);
    return icon;
}

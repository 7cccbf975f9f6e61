#include "controls/DevicePicture.h"

#include <QPainter>

CDevicePicture::CDevicePicture(QWidget* pParent) : QWidget(pParent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CDevicePicture::SetPicturePath(const QString& sPath)
{
    m_sPath = sPath;
    m_picture = sPath.isEmpty() ? QPixmap() : QPixmap(sPath);
    update();
}

void CDevicePicture::SetDefaultPicture(const QPixmap& picture)
{
    m_default = picture;
    update();
}

void CDevicePicture::SetDisplay(bool bDisplay)
{
    m_bDisplay = bDisplay;
    update();
}

void CDevicePicture::paintEvent(QPaintEvent*)
{
    if (!m_bDisplay)
        return;
    const QPixmap& picture = m_picture.isNull() ? m_default : m_picture;
    if (picture.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSize size = picture.size().scaled(QSize(kPictureSize, kPictureSize), Qt::KeepAspectRatio);
    QRect target(QPoint(0, 0), size);
    target.moveCenter(rect().center());
    painter.drawPixmap(target, picture);
}

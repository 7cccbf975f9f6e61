#include "controls/AutoPicture.h"

#include <QPainter>
#include <QSvgRenderer>

CAutoPicture::CAutoPicture(QWidget* pParent) : QWidget(pParent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

CAutoPicture::~CAutoPicture() = default;

bool CAutoPicture::SetImageData(const QByteArray& bytes)
{
    m_bytes = bytes;
    m_image = QImage();
    m_pSvg.reset();
    m_bLoaded = false;
    if (!m_image.loadFromData(m_bytes)) {
        auto pSvg = std::make_unique<QSvgRenderer>(m_bytes);
        if (pSvg->isValid())
            m_pSvg = std::move(pSvg);
    }
    m_bLoaded = !m_image.isNull() || m_pSvg;
    updateGeometry();
    update();
    return m_bLoaded;
}

QSize CAutoPicture::ImageSize() const
{
    if (m_pSvg)
        return m_pSvg->defaultSize();
    return m_image.isNull() ? QSize() : m_image.deviceIndependentSize().toSize();
}

QSize CAutoPicture::sizeHint() const
{
    const QSize size = ImageSize();
    return size.isEmpty() ? QSize(100, 100) : size;
}

void CAutoPicture::paintEvent(QPaintEvent*)
{
    if (!m_bLoaded)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_pSvg)
        m_pSvg->render(&painter, QRectF(rect()));
    else
        painter.drawImage(rect(), m_image);
}

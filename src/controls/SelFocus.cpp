#include "controls/SelFocus.h"

#include <QMouseEvent>
#include <QPainter>

CSelFocus::CSelFocus(QWidget* pParent) : QWidget(pParent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void CSelFocus::SetState(int nState)
{
    if (m_nState == nState)
        return;
    m_nState = nState;
    update();
}

void CSelFocus::SetText(const QString& sText)
{
    m_sText = sText;
    setAccessibleDescription(sText);
    updateGeometry();
    update();
}

QSize CSelFocus::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(m_sText) + 2 * kTextLeft, metrics.height() + 2 * kTextTop);
}

QSize CSelFocus::minimumSizeHint() const
{
    return sizeHint();
}

void CSelFocus::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = rect();
    QColor textColour = palette().color(QPalette::WindowText);
    switch (m_nState) {
    case SEL_FOCUS_SELECTED:
        painter.setPen(QColor(kSelectedColour));
        painter.setBrush(QColor(kSelectedColour));
        painter.drawRect(area.adjusted(0, 0, -1, -1));
        break;
    case SEL_FOCUS_NORMAL: painter.fillRect(area, palette().color(QPalette::Button)); break;
    case SEL_FOCUS_UNAVAILABLE:
        painter.fillRect(area, palette().color(QPalette::Button));
        textColour = QColor(kUnavailableTextColour);
        break;
    default: return; // other states draw nothing
    }
    painter.setPen(textColour);
    painter.setFont(font());
    const QRect textArea = area.adjusted(kTextLeft, kTextTop, 0, 0);
    painter.drawText(textArea, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, m_sText);
}

void CSelFocus::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() == Qt::LeftButton)
        emit Clicked();
    QWidget::mousePressEvent(pEvent);
}

#include "controls/CheckBoxCtrl.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>

void CCheckBoxCtrl::Init(std::uint32_t dwKey, QWidget* pOwner, const QString& sText)
{
    CButtonBaseCtrl::Init(dwKey, pOwner, sText);
    if (!m_sText.startsWith('0') && !m_sText.startsWith('1'))
        m_sText.prepend('0');
}

bool CCheckBoxCtrl::OnClick()
{
    m_sText[0] = IsTicked() ? QChar('0') : QChar('1');
    return true;
}

void CCheckBoxCtrl::Draw(QPainter& painter, const QRect& rcCell, unsigned nDrawState)
{
    QStyle* pStyle = m_pOwner ? m_pOwner->style() : QApplication::style();
    const QPalette palette = m_pOwner ? m_pOwner->palette() : QApplication::palette();
    const bool bDisabled = (m_pOwner && !m_pOwner->isEnabled()) || IsDisabled();

    QColor background = palette.color(QPalette::Base);
    QColor foreground = palette.color(QPalette::Text);
    if (bDisabled) {
        background = palette.color(QPalette::Button);
        foreground = palette.color(QPalette::Disabled, QPalette::WindowText);
    } else if (nDrawState & (DRAW_SELECTED | DRAW_FOCUS)) {
        background = palette.color(QPalette::Highlight);
        foreground = palette.color(QPalette::HighlightedText);
    }
    painter.save();
    painter.fillRect(rcCell, background);

    QStyleOptionButton option;
    if (m_pOwner)
        option.initFrom(m_pOwner);
    const int nBoxWidth = pStyle->pixelMetric(QStyle::PM_IndicatorWidth, &option, m_pOwner);
    const int nBoxHeight = pStyle->pixelMetric(QStyle::PM_IndicatorHeight, &option, m_pOwner);
    const QString sLabel = Label();
    const QFontMetrics metrics = painter.fontMetrics();
    const int nLabelWidth = sLabel.isEmpty() ? 0 : metrics.horizontalAdvance(sLabel);
    const int nWidth = nBoxWidth + kLabelGap + nLabelWidth;

    int nLeft = rcCell.left();
    if (rcCell.width() >= nWidth) {
        if (m_nAlign & ALIGN_CENTER)
            nLeft = rcCell.left() + (rcCell.width() - nWidth) / 2;
        else if (m_nAlign & ALIGN_RIGHT)
            nLeft = rcCell.left() + rcCell.width() - nWidth;
    }
    const QRect rcBox(nLeft, rcCell.top() + (rcCell.height() - nBoxHeight) / 2, nBoxWidth, nBoxHeight);

    option.rect = rcBox;
    option.state &= ~(QStyle::State_On | QStyle::State_Off | QStyle::State_HasFocus | QStyle::State_MouseOver);
    option.state |= IsTicked() ? QStyle::State_On : QStyle::State_Off;
    if (bDisabled)
        option.state &= ~QStyle::State_Enabled;
    else
        option.state |= QStyle::State_Enabled;
    pStyle->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, m_pOwner);

    if (!sLabel.isEmpty()) {
        const QRect rcLabel(rcBox.right() + 1 + kLabelGap, rcCell.top(), rcCell.right() - rcBox.right() - kLabelGap,
                            rcCell.height());
        painter.setPen(foreground);
        painter.drawText(rcLabel, Qt::AlignHCenter | Qt::AlignBottom | Qt::TextSingleLine,
                         metrics.elidedText(sLabel, Qt::ElideRight, rcLabel.width()));
    }
    painter.restore();
    m_rcHit = rcBox;
}

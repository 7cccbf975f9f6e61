#include "TextFitCheck.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

#include "controls/SelFocus.h"

namespace {

QString Describe(const QWidget* pWidget, const QString& sText, const QString& sNeed)
{
    const QString sName = pWidget->accessibleName().isEmpty() ? pWidget->objectName() : pWidget->accessibleName();
    return QString("%1 \"%2\": %3").arg(sName, QString(sText).replace('\n', "\\n"), sNeed);
}

// The widest line of a text.
int TextWidth(const QFontMetrics& metrics, const QString& sText)
{
    int nWidth = 0;
    for (const QString& sLine : sText.split('\n'))
        nWidth = std::max(nWidth, metrics.horizontalAdvance(sLine));
    return nWidth;
}

void CheckLabel(const QLabel* pLabel, QStringList& offenders)
{
    const QString sText = pLabel->text();
    if (sText.isEmpty() || pLabel->textFormat() == Qt::RichText)
        return;
    const QFontMetrics metrics(pLabel->font());
    const QRect area =
        pLabel->contentsRect().adjusted(pLabel->margin(), pLabel->margin(), -pLabel->margin(), -pLabel->margin());
    if (pLabel->wordWrap()) {
        const QRect needed = metrics.boundingRect(QRect(0, 0, area.width(), 100000), Qt::TextWordWrap, sText);
        if (needed.height() > area.height() || needed.width() > area.width())
            offenders << Describe(pLabel, sText,
                                  QString("needs %1x%2, has %3x%4")
                                      .arg(needed.width())
                                      .arg(needed.height())
                                      .arg(area.width())
                                      .arg(area.height()));
        return;
    }
    const int nWidth = TextWidth(metrics, sText);
    const int nHeight = metrics.height() * int(sText.count('\n') + 1);
    if (nWidth > area.width() || nHeight > area.height())
        offenders << Describe(
            pLabel, sText,
            QString("needs %1x%2, has %3x%4").arg(nWidth).arg(nHeight).arg(area.width()).arg(area.height()));
}

// A push button's text keeps at least this much room to the frame on each side.
constexpr int kButtonPadding = 8;

void CheckButton(const QAbstractButton* pButton, QStringList& offenders)
{
    if (pButton->text().isEmpty()) {
        if (qobject_cast<const QPushButton*>(pButton))
            offenders << Describe(pButton, QString(), "has no text");
        return;
    }
    // The style's own size for the text (padding, indicator, icon included) is what the button
    // needs; less than that cuts the text or presses it against the frame.
    QSize needed = pButton->sizeHint();
    if (qobject_cast<const QPushButton*>(pButton))
        needed.setWidth(
            std::max(needed.width(), TextWidth(QFontMetrics(pButton->font()), pButton->text()) + 2 * kButtonPadding));
    if (pButton->width() < needed.width() || pButton->height() < needed.height())
        offenders << Describe(pButton, pButton->text(),
                              QString("needs %1x%2, has %3x%4")
                                  .arg(needed.width())
                                  .arg(needed.height())
                                  .arg(pButton->width())
                                  .arg(pButton->height()));
}

void CheckPageLabel(const CSelFocus* pLabel, QStringList& offenders)
{
    const QFontMetrics metrics(pLabel->font());
    const int nWidth = CSelFocus::kTextLeft + metrics.horizontalAdvance(pLabel->Text());
    const int nHeight = CSelFocus::kTextTop + metrics.height();
    if (nWidth > pLabel->width() || nHeight > pLabel->height())
        offenders << Describe(
            pLabel, pLabel->Text(),
            QString("needs %1x%2, has %3x%4").arg(nWidth).arg(nHeight).arg(pLabel->width()).arg(pLabel->height()));
}

} // namespace

QStringList FindCutOffTexts(const QWidget* pWindow)
{
    QStringList offenders;
    for (const QWidget* pWidget : pWindow->findChildren<QWidget*>()) {
        if (!pWidget->isVisibleTo(pWindow))
            continue;
        if (const auto* pLabel = qobject_cast<const QLabel*>(pWidget))
            CheckLabel(pLabel, offenders);
        else if (const auto* pButton = qobject_cast<const QAbstractButton*>(pWidget))
            CheckButton(pButton, offenders);
        else if (const auto* pPageLabel = qobject_cast<const CSelFocus*>(pWidget))
            CheckPageLabel(pPageLabel, offenders);
    }
    return offenders;
}

#pragma once

#include <algorithm>

#include <QString>
#include <QWidget>

// Gives a control the accessible name "<text> (<design id>)", so tests and assistive technology
// find it by its id whatever the language; mnemonic markers are left out.
inline void SetDesignId(QWidget* pWidget, const QString& sText, unsigned nId)
{
    QString sName = sText;
    sName.remove(QLatin1Char('&'));
    pWidget->setAccessibleName(QStringLiteral("%1 (%2)").arg(sName.simplified()).arg(nId));
}

// Keeps a push button wide enough for its text with room to the frame on both sides, whatever
// the language's text length.
inline void FitButtonToText(QWidget* pButton, const QString& sText)
{
    constexpr int kPadding = 12;
    int nWidth = 0;
    for (const QString& sLine : sText.split(QLatin1Char('\n')))
        nWidth = std::max(nWidth, pButton->fontMetrics().horizontalAdvance(sLine));
    pButton->setMinimumWidth(std::max(pButton->minimumWidth(), nWidth + 2 * kPadding));
}

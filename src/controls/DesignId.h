#pragma once

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

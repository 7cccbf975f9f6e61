#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The texts of a window that do not fit their controls: one line per offender, naming the
// control, its text and the room it needs and has. Only visible controls count.
QStringList FindCutOffTexts(const QWidget* pWindow);

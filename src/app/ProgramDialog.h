#pragma once

#include <QDialog>
#include <QString>

#include "controls/DesignId.h"

class QWidget;

// Base of the program's small modal dialogs (offline, wait, wizard end): the user cannot close
// them with Esc or the window's close box (Alt+F4), only through their buttons; the program ends
// them with done(), CloseOpenMessageBox with IDNO (7).
class CProgramDialog : public QDialog
{
    Q_OBJECT
public:
    using QDialog::QDialog;

    // Esc and the close box do nothing.
    void reject() override {}

    // The searching text followed by nothing, ".", ".." or "..." for dot counter 0 to 3.
    static QString WithDots(const QString& sText, int nDots);
    // The result of a dialog the program closed (CloseOpenMessageBox: IDNO).
    static constexpr int kResultClosedByProgram = 7;
    // Dot animation period (timers 300 and 500).
    static constexpr int kDotsPeriodMs = 500;

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
};

#include "app/ProgramDialog.h"

#include <algorithm>

#include <QCloseEvent>
#include <QKeyEvent>

QString CProgramDialog::WithDots(const QString& sText, int nDots)
{
    return sText + QString(std::clamp(nDots, 0, 3), QLatin1Char('.'));
}

void CProgramDialog::closeEvent(QCloseEvent* pEvent)
{
    // The close box (Alt+F4) is swallowed. A close() by the program ends the dialog as
    // CloseOpenMessageBox does.
    if (pEvent->spontaneous()) {
        pEvent->ignore();
        return;
    }
    done(kResultClosedByProgram);
    pEvent->accept();
}

void CProgramDialog::keyPressEvent(QKeyEvent* pEvent)
{
    if (pEvent->key() == Qt::Key_Escape) {
        pEvent->accept();
        return;
    }
    QDialog::keyPressEvent(pEvent);
}

#include "desktop/MessagePresenter.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

#include "foundation/StringTable.h"

namespace {

constexpr unsigned kIdsCaption = 101;

QMessageBox::Icon IconOf(EMessageIcon eIcon)
{
    switch (eIcon) {
    case MSG_ICON_INFORMATION: return QMessageBox::Information;
    case MSG_ICON_WARNING: return QMessageBox::Warning;
    case MSG_ICON_ERROR: return QMessageBox::Critical;
    case MSG_ICON_QUESTION: return QMessageBox::Question;
    case MSG_ICON_NONE: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ButtonsOf(EMessageButtons eButtons)
{
    switch (eButtons) {
    case MSG_BUTTONS_YESNO: return QMessageBox::Yes | QMessageBox::No;
    case MSG_BUTTONS_OKCANCEL: return QMessageBox::Ok | QMessageBox::Cancel;
    case MSG_BUTTONS_OK: break;
    }
    return QMessageBox::Ok;
}

QMessageBox::StandardButton ButtonOf(int nResult)
{
    switch (nResult) {
    case IDYES: return QMessageBox::Yes;
    case IDNO: return QMessageBox::No;
    case IDCANCEL: return QMessageBox::Cancel;
    default: return QMessageBox::Ok;
    }
}

int ResultOf(QMessageBox::StandardButton button, EMessageButtons eButtons)
{
    switch (button) {
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Ok: return IDOK;
    case QMessageBox::Cancel: return IDCANCEL;
    default: break;
    }
    // Closed without a button (its owner went away): the answer that changes nothing.
    switch (eButtons) {
    case MSG_BUTTONS_YESNO: return IDNO;
    case MSG_BUTTONS_OKCANCEL: return IDCANCEL;
    case MSG_BUTTONS_OK: break;
    }
    return IDOK;
}

} // namespace

int CMessagePresenter::Show(QWidget* pOwner, const SMessageBox& box)
{
    const QString sText = box.sText.isEmpty() ? LoadStringText(box.nTextId) : box.sText;
    // On the heap with the owner as parent: if the owner is destroyed while the box is open, the
    // box goes with it and exec() returns.
    QPointer<QMessageBox> pBox =
        new QMessageBox(IconOf(box.eIcon), LoadStringText(kIdsCaption), sText, ButtonsOf(box.eButtons), pOwner);
    pBox->setObjectName(QStringLiteral("MessageBox%1").arg(box.nTextId));
    pBox->setAccessibleName(QStringLiteral("%1 (%2)").arg(LoadStringText(kIdsCaption)).arg(box.nTextId));
    if (QAbstractButton* pDefault = pBox->button(ButtonOf(box.nDefault)))
        pBox->setDefaultButton(qobject_cast<QPushButton*>(pDefault));

    m_open.push_back(SOpenBox{pBox});
    pBox->exec();
    const SOpenBox opened = m_open.back();
    m_open.pop_back();
    if (opened.bClosedByProgram) {
        delete pBox.data();
        return IDNO;
    }
    int nResult = ResultOf(QMessageBox::NoButton, box.eButtons);
    if (pBox) {
        nResult = ResultOf(pBox->standardButton(pBox->clickedButton()), box.eButtons);
        delete pBox.data();
    }
    return nResult;
}

bool CMessagePresenter::CloseOpen()
{
    for (auto it = m_open.rbegin(); it != m_open.rend(); ++it) {
        if (it->pBox && !it->bClosedByProgram) {
            it->bClosedByProgram = true;
            it->pBox->done(IDNO);
            return true;
        }
    }
    return false;
}

bool CMessagePresenter::IsOpen() const
{
    for (const SOpenBox& open : m_open) {
        if (open.pBox && !open.bClosedByProgram)
            return true;
    }
    return false;
}

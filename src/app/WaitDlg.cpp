#include "app/WaitDlg.h"

#include "ui_WaitDlg.h"

#include <QKeyEvent>

#include "desktop/ITimerService.h"
#include "foundation/StringTable.h"

CWaitDlg::CWaitDlg(ITimerService& timers, QWidget* pParent)
    : CProgramDialog(pParent), m_timers(timers), m_pUi(std::make_unique<Ui::CWaitDlg>())
{
    m_pUi->setupUi(this);
    setObjectName("waitDialog");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    SetTexts();
    layout()->setSizeConstraint(QLayout::SetMinimumSize);
    adjustSize();
}

CWaitDlg::~CWaitDlg()
{
    m_timers.KillAllTimers(this);
}

void CWaitDlg::SetTexts()
{
    setWindowTitle(LoadStringText(101));
    m_sText = LoadStringText(181);
    m_pUi->waitText->setText(m_sText);
    // Room for the longest dot state, so the window does not grow while it animates.
    m_pUi->waitText->setMinimumWidth(
        std::max(m_pUi->waitText->minimumWidth(), m_pUi->waitText->fontMetrics().horizontalAdvance(m_sText + "...")));
    SetDesignId(m_pUi->waitText, m_sText, 1045);
}

QString CWaitDlg::Text() const
{
    return m_pUi->waitText->text();
}

void CWaitDlg::showEvent(QShowEvent* pEvent)
{
    CProgramDialog::showEvent(pEvent);
    m_nDots = 0;
    m_pUi->waitText->setText(m_sText);
    m_timers.SetTimer(this, kTimerDots, kDotsPeriodMs, [this] { OnDots(); });
}

void CWaitDlg::hideEvent(QHideEvent* pEvent)
{
    m_timers.KillTimer(this, kTimerDots);
    CProgramDialog::hideEvent(pEvent);
}

void CWaitDlg::OnDots()
{
    m_nDots = (m_nDots + 1) % 4;
    m_pUi->waitText->setText(WithDots(m_sText, m_nDots));
}

void CWaitDlg::Close()
{
    if (isVisible())
        done(1);
}

void CWaitDlg::keyPressEvent(QKeyEvent* pEvent)
{
    // Neither Enter nor Esc ends the wait.
    if (pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter || pEvent->key() == Qt::Key_Escape) {
        pEvent->accept();
        return;
    }
    CProgramDialog::keyPressEvent(pEvent);
}

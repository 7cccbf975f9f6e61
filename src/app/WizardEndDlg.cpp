#include "app/WizardEndDlg.h"

#include "ui_WizardEndDlg.h"

#include "foundation/StringTable.h"

CWizardEndDlg::CWizardEndDlg(QWidget* pParent) : CProgramDialog(pParent), m_pUi(std::make_unique<Ui::CWizardEndDlg>())
{
    m_pUi->setupUi(this);
    setObjectName("wizardEndDialog");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    SetTexts();
    layout()->setSizeConstraint(QLayout::SetMinimumSize);
    adjustSize();
    connect(m_pUi->btnStart, &QPushButton::clicked, this, [this] { done(kResultStart); });
    connect(m_pUi->btnQuit, &QPushButton::clicked, this, [this] { done(kResultQuit); });
}

CWizardEndDlg::~CWizardEndDlg() = default;

void CWizardEndDlg::SetTexts()
{
    setWindowTitle(LoadStringText(101));
    m_pUi->message->setText(LoadStringText(163));
    SetDesignId(m_pUi->message, m_pUi->message->text(), 1038);
    m_pUi->btnStart->setText(LoadStringText(188));
    SetDesignId(m_pUi->btnStart, m_pUi->btnStart->text(), 1);
    m_pUi->btnQuit->setText(LoadStringText(189));
    SetDesignId(m_pUi->btnQuit, m_pUi->btnQuit->text(), 2);
    for (QPushButton* pButton : {m_pUi->btnStart, m_pUi->btnQuit})
        FitButtonToText(pButton, pButton->text());
}

void CWizardEndDlg::SetStartAllowed(bool bAllowed)
{
    m_bStartAllowed = bAllowed;
    m_pUi->btnStart->setEnabled(bAllowed);
}

void CWizardEndDlg::showEvent(QShowEvent* pEvent)
{
    CProgramDialog::showEvent(pEvent);
    m_pUi->btnStart->setEnabled(m_bStartAllowed);
    (m_bStartAllowed ? m_pUi->btnStart : m_pUi->btnQuit)->setFocus();
    m_bOpen = true;
}

void CWizardEndDlg::done(int nResult)
{
    m_bOpen = false;
    CProgramDialog::done(nResult);
}

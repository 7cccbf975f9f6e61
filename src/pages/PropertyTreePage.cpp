#include "pages/PropertyTreePage.h"

#include "foundation/MessageIds.h"
#include "platform/WindowMessages.h"

CPropertyTreePage::CPropertyTreePage(unsigned nTemplateId, QWidget* pParent)
    : QWidget(pParent), m_nTemplateId(nTemplateId)
{}

void CPropertyTreePage::Create()
{
    if (m_bCreated)
        return;
    m_bCreated = true;
    InitPage();
}

void CPropertyTreePage::NotifyChanged()
{
    if (m_pMainWnd)
        m_pMainWnd->SendMessage(CWindowMessage(WM_SETTINGS_CHANGED));
}

#include "controls/CustomBaseCtrl.h"

void CCustomBaseCtrl::Init(std::uint32_t dwKey, QWidget* pOwner, const QString& sText)
{
    m_dwKey = dwKey;
    m_pOwner = pOwner;
    m_sText = sText;
}

bool CCustomBaseCtrl::OnLButtonDown(Qt::KeyboardModifiers, const QPoint&)
{
    Activate();
    return true;
}

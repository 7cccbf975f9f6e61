#include "controls/ButtonBaseCtrl.h"

#include <QWidget>

bool CButtonBaseCtrl::OnLButtonDown(Qt::KeyboardModifiers, const QPoint& pt)
{
    Activate();
    if (!m_rcHit.contains(pt))
        return false;
    if (m_pOwner && !m_pOwner->rect().adjusted(-1, -1, 1, 1).contains(pt))
        return false;
    return OnClick();
}

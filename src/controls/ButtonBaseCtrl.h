#pragma once

#include "controls/CustomBaseCtrl.h"

// A clickable cell control: a press counts as a click only inside the box it last drew (its hit
// rectangle) and inside the owner's area grown by one pixel, so a press beside the box only
// activates it.
class CButtonBaseCtrl : public virtual CCustomBaseCtrl
{
public:
    bool OnLButtonDown(Qt::KeyboardModifiers modifiers, const QPoint& pt) override;
    // The click itself; true when it changed the control.
    virtual bool OnClick() = 0;

    const QRect& HitRect() const { return m_rcHit; }

protected:
    QRect m_rcHit; // the box last drawn, owner coordinates
};

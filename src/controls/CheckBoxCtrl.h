#pragma once

#include "controls/ButtonBaseCtrl.h"

// The check box of a list cell (the "Watch" column of the watched-folder list), drawn with the
// platform style's check box. Its text is the state ("1" ticked, "0" not) followed by an optional
// label; a text with any other first character is read as unticked by putting "0" in front.
class CCheckBoxCtrl final : public CButtonBaseCtrl
{
public:
    CCheckBoxCtrl() { m_nAlign = ALIGN_CENTER; }

    void Init(std::uint32_t dwKey, QWidget* pOwner, const QString& sText) override;
    // Fills the cell and places the box (and label) by the alignment; a cell too narrow for box
    // and label puts the box at its left edge. The box becomes the hit rectangle.
    void Draw(QPainter& painter, const QRect& rcCell, unsigned nDrawState) override;
    // Flips the state character.
    bool OnClick() override;

    bool IsTicked() const { return m_sText.startsWith('1'); }
    // The label: the text after the state character.
    QString Label() const { return m_sText.mid(1); }

    // Spacing between the box and its label.
    static constexpr int kLabelGap = 3;
};

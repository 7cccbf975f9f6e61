#pragma once

#include <cstdint>

#include <QPoint>
#include <QRect>
#include <QString>

class QPainter;
class QWidget;

// A windowless control living in one cell of a list that hosts it (CCustomListCtrl): the list
// draws it into the cell and hands it the mouse presses on the cell. Its text carries its state
// (for a check box "1" or "0" followed by an optional label).
class CCustomBaseCtrl
{
public:
    // Alignment flags of the control inside its cell; neither means left.
    static constexpr unsigned ALIGN_RIGHT = 0x10;
    static constexpr unsigned ALIGN_CENTER = 0x20;
    // Draw-state bits of the cell's row.
    static constexpr unsigned DRAW_SELECTED = 0x01;
    static constexpr unsigned DRAW_FOCUS = 0x10;
    // The control's own state bit for "disabled".
    static constexpr unsigned STATE_DISABLED = 0x08;

    virtual ~CCustomBaseCtrl() = default;

    // Binds the control to its cell (key), the widget it is drawn on (owner) and its text.
    virtual void Init(std::uint32_t dwKey, QWidget* pOwner, const QString& sText);
    // Draws the control into the cell rectangle (owner coordinates) with the row's draw state.
    virtual void Draw(QPainter& painter, const QRect& rcCell, unsigned nDrawState) = 0;
    virtual void Deactivate() { m_bActive = false; }
    virtual void Activate() { m_bActive = true; }
    // A key pressed while the control is active; true when it changed the control.
    virtual bool OnKey(int /*nKey*/) { return false; }
    // A left press at pt (owner coordinates); true when it changed the control.
    virtual bool OnLButtonDown(Qt::KeyboardModifiers modifiers, const QPoint& pt);

    const QString& Text() const { return m_sText; }
    void SetText(const QString& sText) { m_sText = sText; }
    std::uint32_t Key() const { return m_dwKey; }
    void SetKey(std::uint32_t dwKey) { m_dwKey = dwKey; }
    bool IsActive() const { return m_bActive; }
    QWidget* Owner() const { return m_pOwner; }
    unsigned Alignment() const { return m_nAlign; }
    void SetAlignment(unsigned nAlign) { m_nAlign = nAlign; }
    bool IsDisabled() const { return (m_nState & STATE_DISABLED) != 0; }
    void SetDisabled(bool bDisabled)
    {
        m_nState = bDisabled ? (m_nState | STATE_DISABLED) : (m_nState & ~STATE_DISABLED);
    }

protected:
    QString m_sText;
    std::uint32_t m_dwKey = 0;
    bool m_bActive = false;
    QWidget* m_pOwner = nullptr;
    unsigned m_nAlign = 0;
    unsigned m_nState = 0;
};

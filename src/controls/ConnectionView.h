#pragma once

#include <vector>

#include <QAbstractScrollArea>
#include <QAccessible>

#include "controls/DeviceInfoPaint.h"

// The Connection page's device view: the players as cards, two per row, one row on show at a
// time; the view scrolls by whole rows. The scroll bar is usable with more than two cards; the
// mouse wheel scrolls only with more than four (with three or four the second row is one bar click
// away, and a wheel turn meant for the page should not move the cards). A click or, with the
// keyboard, Space or Enter on the focused card reports the card; the owner decides what selecting
// it means. Assistive technology sees a list with one selectable item per card.
class CConnectionView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    // The height of a row of cards in logical pixels (the view shows exactly one row).
    static constexpr int kRowHeight = 142;
    // The wheel scrolls only when more cards than this exist.
    static constexpr int kWheelMinCards = 5;

    explicit CConnectionView(QWidget* pParent = nullptr);
    ~CConnectionView() override;

    CDeviceInfoPaint& Painter() { return m_paint; }
    const CDeviceInfoPaint& Painter() const { return m_paint; }

    // Appends a card; false when the view is full. The scroll bar follows.
    bool AddCard(const SDeviceCard& card);
    // Removes a player's card (it went offline); false when it has none.
    bool RemoveCard(const QString& sDeviceId);
    bool SetCardName(const QString& sDeviceId, const QString& sName);
    bool SetCardText(const QString& sDeviceId, const QString& sText);
    // Marks the card selected (-1: none), scrolls its row into view and redraws.
    void SelectCard(int nIndex);
    int SelectedCard() const { return m_paint.Selected(); }
    int CardCount() const { return m_paint.Count(); }
    // With no cards, the text nTextId shows in the view (0: none).
    void SetEmptyMessage(unsigned nTextId);

    // The scroll bar's state after a change: usable with more than two cards, one row per page,
    // positioned at the selected card's row.
    void UpdateScrollBar();
    // While the page works (manual add) the bar is disabled; unlocking restores it as the cards
    // need it.
    void SetScrollBarLocked(bool bLocked);
    // Scrolls so that the row holds the top (clamped to the rows that exist).
    void ScrollToRow(int nRow);
    int TopRow() const;

    // Index of the card under a point of the viewport, -1 when none.
    int CardAt(const QPoint& viewportPoint) const;
    // A card's bounds in viewport coordinates (as last drawn).
    QRect CardRect(int nIndex) const;
    // The card that keyboard navigation is on.
    int FocusCard() const { return m_nFocusCard; }

    // Accessibility: the interface of one card (registered with Qt's accessibility cache).
    QAccessibleInterface* CardInterface(int nIndex);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The user chose a card by mouse or keyboard.
    void CardClicked(int nIndex);

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void wheelEvent(QWheelEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void focusInEvent(QFocusEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    bool viewportEvent(QEvent* pEvent) override;

private:
    int RowCount() const { return (m_paint.Count() + 1) / 2; }
    // Lays the cards out (bounds) without showing them, for hit tests before the first paint.
    void Layout();
    void MoveFocusCard(int nIndex);
    void NotifyAccessible(QAccessible::Event eEvent, int nIndex);

    CDeviceInfoPaint m_paint;
    bool m_bScrollLocked = false;
    int m_nFocusCard = -1;
    std::vector<QAccessible::Id> m_cardIds; // created on demand, one per card
};

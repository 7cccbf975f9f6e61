#include "controls/ConnectionView.h"

#include <algorithm>

#include <QAccessibleWidget>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyleOptionFocusRect>

namespace {

// One card as assistive technology sees it: a selectable list item named after the player,
// with its address as description; pressing it selects the card as a click does.
class CDeviceCardAccessible final : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    CDeviceCardAccessible(CConnectionView* pView, int nIndex) : m_pView(pView), m_nIndex(nIndex) {}

    bool isValid() const override { return m_pView && m_nIndex < m_pView->CardCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_pView ? m_pView->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_pView); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return QString();
        const SDeviceCard& card = m_pView->Painter().Card(m_nIndex);
        switch (t) {
        case QAccessible::Name: return card.sName;
        case QAccessible::Description: return card.sSecondLine;
        default: return QString();
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override
    {
        if (!isValid())
            return QRect();
        const QRect r = m_pView->CardRect(m_nIndex);
        return QRect(m_pView->viewport()->mapToGlobal(r.topLeft()), r.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.focusable = true;
        s.selected = m_pView->SelectedCard() == m_nIndex;
        s.focused = m_pView->hasFocus() && m_pView->FocusCard() == m_nIndex;
        const QRect r = m_pView->CardRect(m_nIndex);
        s.offscreen = !m_pView->viewport()->rect().intersects(r);
        s.disabled = !m_pView->isEnabled();
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& sAction) override
    {
        if (isValid() && sAction == pressAction() && m_pView->isEnabled())
            emit m_pView->CardClicked(m_nIndex);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<CConnectionView> m_pView;
    int m_nIndex;
};

// The view as a list whose children are the cards.
class CConnectionViewAccessible final : public QAccessibleWidget
{
public:
    explicit CConnectionViewAccessible(CConnectionView* pView) : QAccessibleWidget(pView, QAccessible::List) {}

    int childCount() const override { return View()->CardCount(); }
    QAccessibleInterface* child(int nIndex) const override
    {
        if (nIndex < 0 || nIndex >= View()->CardCount())
            return nullptr;
        return View()->CardInterface(nIndex);
    }
    int indexOfChild(const QAccessibleInterface* pChild) const override
    {
        for (int i = 0; i < View()->CardCount(); ++i)
            if (View()->CardInterface(i) == pChild)
                return i;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const int n = View()->CardAt(View()->viewport()->mapFromGlobal(QPoint(x, y)));
        return n < 0 ? nullptr : View()->CardInterface(n);
    }
    QAccessibleInterface* focusChild() const override
    {
        const int n = View()->FocusCard();
        return View()->hasFocus() && n >= 0 ? View()->CardInterface(n) : nullptr;
    }

private:
    CConnectionView* View() const { return static_cast<CConnectionView*>(widget()); }
};

QAccessibleInterface* ConnectionViewFactory(const QString& sClassName, QObject* pObject)
{
    if (sClassName == QLatin1String("CConnectionView") && pObject && pObject->isWidgetType())
        return new CConnectionViewAccessible(static_cast<CConnectionView*>(pObject));
    return nullptr;
}

} // namespace

CConnectionView::CConnectionView(QWidget* pParent) : QAbstractScrollArea(pParent)
{
    static const bool bFactory = [] {
        QAccessible::installFactory(ConnectionViewFactory);
        return true;
    }();
    (void)bFactory;
    setObjectName("connectionView");
    setAccessibleName("Devices (1013)");
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::StyledPanel);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
    // The view shows exactly one row of cards.
    const int nFrame = 2 * frameWidth();
    setFixedHeight(kRowHeight + nFrame);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { viewport()->update(); });
    UpdateScrollBar();
}

CConnectionView::~CConnectionView()
{
    for (const QAccessible::Id id : m_cardIds)
        QAccessible::deleteAccessibleInterface(id);
}

QSize CConnectionView::sizeHint() const
{
    return QSize(420, kRowHeight + 2 * frameWidth());
}

QSize CConnectionView::minimumSizeHint() const
{
    return QSize(260, kRowHeight + 2 * frameWidth());
}

bool CConnectionView::AddCard(const SDeviceCard& card)
{
    if (!m_paint.AddCard(card))
        return false;
    Layout();
    UpdateScrollBar();
    viewport()->update();
    NotifyAccessible(QAccessible::ObjectCreated, m_paint.Count() - 1);
    return true;
}

bool CConnectionView::RemoveCard(const QString& sDeviceId)
{
    const int nIndex = m_paint.Find(sDeviceId);
    if (nIndex < 0)
        return false;
    NotifyAccessible(QAccessible::ObjectDestroyed, nIndex);
    m_paint.RemoveCard(sDeviceId);
    Layout();
    UpdateScrollBar();
    viewport()->update();
    return true;
}

bool CConnectionView::SetCardName(const QString& sDeviceId, const QString& sName)
{
    if (!m_paint.SetCardName(sDeviceId, sName))
        return false;
    Layout();
    viewport()->update();
    NotifyAccessible(QAccessible::NameChanged, m_paint.Find(sDeviceId));
    return true;
}

bool CConnectionView::SetCardText(const QString& sDeviceId, const QString& sText)
{
    if (!m_paint.SetCardText(sDeviceId, sText))
        return false;
    Layout();
    viewport()->update();
    NotifyAccessible(QAccessible::DescriptionChanged, m_paint.Find(sDeviceId));
    return true;
}

void CConnectionView::SelectCard(int nIndex)
{
    if (nIndex >= m_paint.Count())
        nIndex = -1;
    m_paint.Select(nIndex);
    if (nIndex >= 0)
        m_nFocusCard = nIndex;
    UpdateScrollBar();
    viewport()->update();
    if (nIndex >= 0)
        NotifyAccessible(QAccessible::SelectionAdd, nIndex);
}

void CConnectionView::SetEmptyMessage(unsigned nTextId)
{
    m_paint.SetEmptyMessage(nTextId);
    viewport()->update();
}

void CConnectionView::UpdateScrollBar()
{
    QScrollBar* pBar = verticalScrollBar();
    const int nSelected = m_paint.Selected();
    if (m_paint.Count() > 2) {
        pBar->setRange(0, RowCount() - 1);
        pBar->setPageStep(1);
        pBar->setSingleStep(1);
        pBar->setValue(nSelected <= 1 ? 0 : nSelected / 2);
        pBar->setEnabled(!m_bScrollLocked);
    } else {
        pBar->setRange(0, 0);
        pBar->setValue(0);
        pBar->setEnabled(false);
    }
}

void CConnectionView::SetScrollBarLocked(bool bLocked)
{
    m_bScrollLocked = bLocked;
    verticalScrollBar()->setEnabled(!bLocked && m_paint.Count() > 2);
}

void CConnectionView::ScrollToRow(int nRow)
{
    verticalScrollBar()->setValue(std::clamp(nRow, 0, std::max(0, RowCount() - 1)));
    viewport()->update();
}

int CConnectionView::TopRow() const
{
    return verticalScrollBar()->value();
}

void CConnectionView::Layout()
{
    // Painting into a one-pixel image lays out every card (bounds) at the view's size.
    QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
    scratch.setDevicePixelRatio(devicePixelRatioF());
    QPainter painter(&scratch);
    painter.setClipRect(QRect(-1000000, -1000000, 1, 1));
    m_paint.Draw(painter, QRect(0, 0, viewport()->width(), kRowHeight));
}

int CConnectionView::CardAt(const QPoint& viewportPoint) const
{
    return m_paint.HitTest(viewportPoint + QPoint(0, TopRow() * kRowHeight));
}

QRect CConnectionView::CardRect(int nIndex) const
{
    if (nIndex < 0 || nIndex >= m_paint.Count())
        return QRect();
    return m_paint.Card(nIndex).bounds.translated(0, -TopRow() * kRowHeight);
}

void CConnectionView::paintEvent(QPaintEvent* pEvent)
{
    QPainter painter(viewport());
    const int nOffset = TopRow() * kRowHeight;
    painter.translate(0, -nOffset);
    painter.setClipRect(pEvent->rect().translated(0, nOffset));
    m_paint.Draw(painter, QRect(0, 0, viewport()->width(), kRowHeight));
    if (hasFocus() && m_nFocusCard >= 0 && m_nFocusCard < m_paint.Count()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = m_paint.Card(m_nFocusCard).bounds.adjusted(-2, -2, 2, 2);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void CConnectionView::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(pEvent);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const int n = CardAt(pEvent->position().toPoint());
    if (n >= 0)
        emit CardClicked(n);
}

void CConnectionView::wheelEvent(QWheelEvent* pEvent)
{
    pEvent->accept();
    if (m_paint.Count() < kWheelMinCards || m_bScrollLocked)
        return;
    const int nSteps = pEvent->angleDelta().y() / 120;
    if (nSteps != 0)
        ScrollToRow(TopRow() - nSteps);
}

void CConnectionView::keyPressEvent(QKeyEvent* pEvent)
{
    const int n = m_paint.Count();
    if (n == 0) {
        QAbstractScrollArea::keyPressEvent(pEvent);
        return;
    }
    const int nFocus = std::max(0, m_nFocusCard);
    switch (pEvent->key()) {
    case Qt::Key_Left: MoveFocusCard(nFocus - 1); break;
    case Qt::Key_Right: MoveFocusCard(nFocus + 1); break;
    case Qt::Key_Up: MoveFocusCard(nFocus - 2); break;
    case Qt::Key_Down: MoveFocusCard(nFocus + 2); break;
    case Qt::Key_Home: MoveFocusCard(0); break;
    case Qt::Key_End: MoveFocusCard(n - 1); break;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_nFocusCard < 0)
            m_nFocusCard = 0;
        emit CardClicked(m_nFocusCard);
        break;
    default: QAbstractScrollArea::keyPressEvent(pEvent); return;
    }
    pEvent->accept();
}

void CConnectionView::MoveFocusCard(int nIndex)
{
    if (nIndex < 0 || nIndex >= m_paint.Count())
        return;
    m_nFocusCard = nIndex;
    if (!m_bScrollLocked)
        ScrollToRow(nIndex / 2);
    viewport()->update();
    NotifyAccessible(QAccessible::Focus, nIndex);
}

void CConnectionView::focusInEvent(QFocusEvent* pEvent)
{
    if (m_nFocusCard < 0 && m_paint.Count() > 0)
        m_nFocusCard = std::max(0, m_paint.Selected());
    viewport()->update();
    QAbstractScrollArea::focusInEvent(pEvent);
    if (m_nFocusCard >= 0)
        NotifyAccessible(QAccessible::Focus, m_nFocusCard);
}

void CConnectionView::focusOutEvent(QFocusEvent* pEvent)
{
    viewport()->update();
    QAbstractScrollArea::focusOutEvent(pEvent);
}

void CConnectionView::resizeEvent(QResizeEvent* pEvent)
{
    QAbstractScrollArea::resizeEvent(pEvent);
    Layout();
}

bool CConnectionView::viewportEvent(QEvent* pEvent)
{
    // The wheel is handled (and swallowed) by the view itself.
    if (pEvent->type() == QEvent::Wheel) {
        wheelEvent(static_cast<QWheelEvent*>(pEvent));
        return true;
    }
    return QAbstractScrollArea::viewportEvent(pEvent);
}

QAccessibleInterface* CConnectionView::CardInterface(int nIndex)
{
    if (nIndex < 0 || nIndex >= m_paint.Count())
        return nullptr;
    while (static_cast<int>(m_cardIds.size()) <= nIndex) {
        auto* pCard = new CDeviceCardAccessible(this, static_cast<int>(m_cardIds.size()));
        m_cardIds.push_back(QAccessible::registerAccessibleInterface(pCard));
    }
    return QAccessible::accessibleInterface(m_cardIds[static_cast<size_t>(nIndex)]);
}

void CConnectionView::NotifyAccessible(QAccessible::Event eEvent, int nIndex)
{
    if (nIndex < 0 || !QAccessible::isActive())
        return;
    QAccessibleEvent event(this, eEvent);
    event.setChild(nIndex);
    QAccessible::updateAccessibility(&event);
}

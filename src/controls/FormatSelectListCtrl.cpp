#include "controls/FormatSelectListCtrl.h"

#include <algorithm>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>

#include "controls/ContentsIds.h"
#include "desktop/IMessagePresenter.h"
#include "sync/DeviceLists.h"

namespace {
// Draws items as the style does but keeps the item model's own check handling out: ticks change
// only through the list's rules.
class CNoEditDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    bool editorEvent(QEvent*, QAbstractItemModel*, const QStyleOptionViewItem&, const QModelIndex&) override
    {
        return false;
    }
    // Room between the columns of items.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(kColumnGap, 0);
    }

private:
    static constexpr int kColumnGap = 12;
};

// An entry's tick: flag "1" ticked, anything else not.
int TickOf(const QString& sEntry)
{
    QString sFlag;
    return SplitListLine(sEntry, nullptr, &sFlag) && sFlag == QLatin1String("1") ? 1 : 0;
}
} // namespace

CFormatSelectListCtrl::CFormatSelectListCtrl(QWidget* pParent) : QListWidget(pParent)
{
    setItemDelegate(new CNoEditDelegate(this));
    setViewMode(QListView::ListMode);
    setFlow(QListView::TopToBottom);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setContextMenuPolicy(Qt::NoContextMenu);
}

void CFormatSelectListCtrl::BuildItems()
{
    clear();
    m_ticks.clear();
    for (const QString& sEntry : m_current) {
        auto* pItem = new QListWidgetItem(ListLineText(sEntry));
        pItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren);
        const int nTick = TickOf(sEntry);
        pItem->setCheckState(nTick ? Qt::Checked : Qt::Unchecked);
        addItem(pItem);
        m_ticks.append(nTick);
    }
}

void CFormatSelectListCtrl::LoadExtensions(const QString& sDeviceId, const QStringList& entries)
{
    m_sDeviceId = sDeviceId;
    m_current = entries;
    m_nClickedItem = -1;
    BuildItems();
    RefreshSelectAll();
}

CFormatSelectListCtrl::ESelectAllState CFormatSelectListCtrl::SelectAllState() const
{
    const auto nTicked = std::count(m_ticks.begin(), m_ticks.end(), 1);
    if (nTicked == m_ticks.size())
        return SELECT_ALL_ALL;
    return nTicked == 0 ? SELECT_ALL_NONE : SELECT_ALL_SOME;
}

void CFormatSelectListCtrl::RefreshSelectAll()
{
    emit SelectAllStateChanged(SelectAllState());
}

void CFormatSelectListCtrl::ApplyTick(int nItem)
{
    item(nItem)->setCheckState(m_ticks[nItem] ? Qt::Checked : Qt::Unchecked);
    m_current[nItem] = SetListLineFlag(m_current[nItem], m_ticks[nItem] ? QStringLiteral("1") : QStringLiteral("0"));
}

void CFormatSelectListCtrl::ToggleTick(int nItem)
{
    if (nItem < 0 || nItem >= m_ticks.size())
        return;
    m_ticks[nItem] = m_ticks[nItem] ? 0 : 1;
    ApplyTick(nItem);
    RefreshSelectAll();
    if (!HasTickedListLine(m_current) && m_pPresenter)
        m_pPresenter->Show(this, SMessageBox{IDS_NO_EXTENSION_TICKED, QString(), MSG_ICON_NONE, MSG_BUTTONS_OK, IDOK});
}

void CFormatSelectListCtrl::SetAllTicks(bool bTicked)
{
    for (int i = 0; i < m_ticks.size(); ++i) {
        m_ticks[i] = bTicked ? 1 : 0;
        ApplyTick(i);
    }
    emit SettingsChanged();
    if (!bTicked && m_pPresenter)
        m_pPresenter->Show(this, SMessageBox{IDS_NO_EXTENSION_TICKED, QString(), MSG_ICON_NONE, MSG_BUTTONS_OK, IDOK});
}

QRect CFormatSelectListCtrl::CheckBoxRect(int nItem) const
{
    const QModelIndex index = model()->index(nItem, 0);
    if (!index.isValid())
        return QRect();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.checkState = item(nItem)->checkState();
    option.text = item(nItem)->text();
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

void CFormatSelectListCtrl::HandlePress(QMouseEvent* pEvent)
{
    m_bClicked = true;
    const QPoint pt = pEvent->position().toPoint();
    const QModelIndex index = indexAt(pt);
    if (index.isValid() && CheckBoxRect(index.row()).contains(pt)) {
        m_nClickedItem = index.row();
        ToggleTick(index.row());
    }
    // The mouse never selects; keyboard users still move the focused item.
    setFocus(Qt::MouseFocusReason);
    emit SettingsChanged();
}

void CFormatSelectListCtrl::mousePressEvent(QMouseEvent* pEvent)
{
    pEvent->accept();
    if (pEvent->button() != Qt::LeftButton)
        return;
    m_bPressPending = true;
    emit DelButtonState(false);
    HandlePress(pEvent);
}

void CFormatSelectListCtrl::mouseDoubleClickEvent(QMouseEvent* pEvent)
{
    pEvent->accept();
    // The second press of a double click counts once: as the press itself where the platform
    // delivered one just before, otherwise as this event.
    if (pEvent->button() == Qt::LeftButton && !m_bPressPending)
        HandlePress(pEvent);
}

void CFormatSelectListCtrl::mouseReleaseEvent(QMouseEvent* pEvent)
{
    pEvent->accept();
    m_bPressPending = false;
}

void CFormatSelectListCtrl::mouseMoveEvent(QMouseEvent* pEvent)
{
    pEvent->accept(); // no rubber band or drag selection
}

void CFormatSelectListCtrl::contextMenuEvent(QContextMenuEvent* pEvent)
{
    pEvent->accept();
}

void CFormatSelectListCtrl::keyPressEvent(QKeyEvent* pEvent)
{
    if (pEvent->key() == Qt::Key_Space && pEvent->modifiers() == Qt::NoModifier) {
        const int nItem = currentRow();
        if (nItem >= 0) {
            ToggleTick(nItem);
            emit SettingsChanged();
        }
        pEvent->accept();
        return;
    }
    QListWidget::keyPressEvent(pEvent);
}

bool CFormatSelectListCtrl::Commit()
{
    if (m_sDeviceId.isEmpty())
        return false;
    if (!SaveListFile(m_sDeviceId, kCapabilityListName, m_current))
        return false;
    m_saved = m_current;
    return true;
}

void CFormatSelectListCtrl::Revert()
{
    m_current = m_saved;
    BuildItems();
}

void CFormatSelectListCtrl::ReloadSaved(const QString& sDeviceId)
{
    m_saved = ReadListFile(sDeviceId, kCapabilityListName);
}

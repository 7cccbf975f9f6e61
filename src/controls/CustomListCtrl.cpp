#include "controls/CustomListCtrl.h"

#include <algorithm>

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include "controls/CheckBoxCtrl.h"
#include "controls/ContentsIds.h"
#include "desktop/IMessagePresenter.h"
#include "foundation/StringTable.h"
#include "sync/DeviceLists.h"

namespace {
// Text cells start this far right of the cell's edge (the width of a dialog frame).
constexpr int kTextIndent = 3;

void ShowBox(IMessagePresenter* pPresenter, QWidget* pOwner, unsigned nTextId, EMessageIcon eIcon,
             EMessageButtons eButtons = MSG_BUTTONS_OK, int nDefault = IDOK, const QString& sText = QString(),
             int* pnAnswer = nullptr)
{
    int nAnswer = nDefault;
    if (pPresenter)
        nAnswer = pPresenter->Show(pOwner, SMessageBox{nTextId, sText, eIcon, eButtons, nDefault});
    if (pnAnswer)
        *pnAnswer = nAnswer;
}

// Splits a stored entry; a line without "|" is a path with no tick.
void SplitEntry(const QString& sEntry, QString* psPath, QString* psFlag)
{
    if (!SplitListLine(sEntry, psPath, psFlag)) {
        *psPath = sEntry;
        *psFlag = QStringLiteral("0");
    }
}
} // namespace

// Draws every cell through the list: hosted controls draw themselves, other cells show their
// text. Clicks and keys never reach the item model's own check handling.
class CCustomListCtrl::CDelegate final : public QStyledItemDelegate
{
public:
    explicit CDelegate(CCustomListCtrl* pList) : QStyledItemDelegate(pList), m_pList(pList) {}

    void paint(QPainter* pPainter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        m_pList->PaintCell(*pPainter, option, index);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        if (m_pList->m_nRowHeight > 0)
            size.setHeight(m_pList->m_nRowHeight);
        return size;
    }
    bool editorEvent(QEvent*, QAbstractItemModel*, const QStyleOptionViewItem&, const QModelIndex&) override
    {
        return false;
    }

private:
    CCustomListCtrl* m_pList;
};

CCustomListCtrl::CCustomListCtrl(QWidget* pParent) : QTreeWidget(pParent)
{
    setItemDelegate(new CDelegate(this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    setAllColumnsShowFocus(true);
    setColumnCount(2);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    setContextMenuPolicy(Qt::NoContextMenu);
}

CCustomListCtrl::~CCustomListCtrl()
{
    m_pActive = nullptr;
    m_controls.clear();
}

void CCustomListCtrl::SetRowHeight(int nHeight)
{
    m_nRowHeight = nHeight;
    // Uniform rows are measured once; make the view measure them again.
    setUniformRowHeights(false);
    setUniformRowHeights(true);
    scheduleDelayedItemsLayout();
}

CCustomBaseCtrl* CCustomListCtrl::HostedControl(int nRow, int nColumn) const
{
    const auto it = m_controls.find(MakeKey(nRow, nColumn));
    return it == m_controls.end() ? nullptr : it->second.get();
}

void CCustomListCtrl::PaintCell(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    unsigned nDrawState = 0;
    if (option.state & QStyle::State_Selected)
        nDrawState |= CCustomBaseCtrl::DRAW_SELECTED;
    if ((option.state & QStyle::State_HasFocus) && hasFocus())
        nDrawState |= CCustomBaseCtrl::DRAW_FOCUS;
    if (CCustomBaseCtrl* pControl = HostedControl(index.row(), index.column())) {
        pControl->Draw(painter, option.rect, nDrawState);
    } else {
        QColor background = palette().color(QPalette::Base);
        QColor foreground = palette().color(QPalette::Text);
        if (!isEnabled()) {
            background = palette().color(QPalette::Button);
            foreground = palette().color(QPalette::WindowText);
        } else if (nDrawState != 0) {
            background = palette().color(QPalette::Highlight);
            foreground = palette().color(QPalette::HighlightedText);
        }
        painter.save();
        painter.fillRect(option.rect, background);
        painter.setPen(foreground);
        painter.setFont(option.font);
        const QRect rcText = option.rect.adjusted(kTextIndent, 0, 0, 0);
        const QString sText = index.data(Qt::DisplayRole).toString();
        painter.drawText(rcText, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         option.fontMetrics.elidedText(sText, Qt::ElideRight, rcText.width()));
        painter.restore();
    }
    // Keyboard users see which row the keys act on (drawn with the last cell, over both).
    if ((option.state & QStyle::State_HasFocus) && hasFocus() && index.column() == kColumnWatch) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = visualRect(index).united(visualRect(index.siblingAtColumn(kColumnWatch)));
        focus.backgroundColor = palette().color(QPalette::Highlight);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void CCustomListCtrl::AppendRow(const QString& sPath, const QString& sFlag)
{
    const int nRow = topLevelItemCount();
    auto pControl = std::make_unique<CCheckBoxCtrl>();
    pControl->Init(MakeKey(nRow, kColumnWatch), viewport(), sFlag);

    auto* pItem = new QTreeWidgetItem;
    pItem->setText(kColumnPath, sPath);
    pItem->setToolTip(kColumnPath, sPath);
    pItem->setText(kColumnWatch, pControl->Text().left(1));
    pItem->setData(kColumnWatch, Qt::AccessibleTextRole, LoadStringText(IDS_COLUMN_WATCH));
    pItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren);
    pItem->setCheckState(kColumnWatch, pControl->IsTicked() ? Qt::Checked : Qt::Unchecked);
    m_controls[MakeKey(nRow, kColumnWatch)] = std::move(pControl);
    addTopLevelItem(pItem);
    m_current.append(sPath + "|" + sFlag);
}

EFolderAddResult CCustomListCtrl::AddFolder(const QString& sPath, const QString& sFlag, bool bWarnWhenFull)
{
    if (topLevelItemCount() >= kMaxWatchedFolders) {
        if (bWarnWhenFull)
            ShowBox(m_pPresenter, this, IDS_TOO_MANY_FOLDERS, MSG_ICON_WARNING);
        return FOLDER_LIST_FULL;
    }
    const bool bDuplicate = std::any_of(m_current.begin(), m_current.end(),
                                        [&](const QString& sEntry) { return ListLineText(sEntry) == sPath; });
    if (bDuplicate)
        return FOLDER_DUPLICATE;
    AppendRow(sPath, sFlag);
    return FOLDER_ADDED;
}

void CCustomListCtrl::SetActiveControl(CCustomBaseCtrl* pControl, int nRow, int nColumn)
{
    if (m_pActive && m_pActive != pControl)
        m_pActive->Deactivate();
    m_pActive = pControl;
    m_nActiveRow = pControl ? nRow : -1;
    m_nActiveColumn = pControl ? nColumn : -1;
    if (pControl)
        pControl->Activate();
}

void CCustomListCtrl::RemoveRow(int nRow)
{
    if (m_nActiveRow == nRow)
        SetActiveControl(nullptr, -1, -1);
    // Controls of the row go; those of later rows move up one row with their keys.
    std::map<std::uint32_t, std::unique_ptr<CCustomBaseCtrl>> controls;
    for (auto& [dwKey, pControl] : m_controls) {
        const int nKeyRow = static_cast<int>(dwKey >> 16);
        const int nKeyColumn = static_cast<int>(dwKey & 0xFFFF);
        if (nKeyRow == nRow)
            continue;
        const std::uint32_t dwNewKey = MakeKey(nKeyRow > nRow ? nKeyRow - 1 : nKeyRow, nKeyColumn);
        pControl->SetKey(dwNewKey);
        controls[dwNewKey] = std::move(pControl);
    }
    m_controls = std::move(controls);
    if (m_nActiveRow > nRow)
        --m_nActiveRow;
    delete takeTopLevelItem(nRow);
    if (nRow < m_current.size())
        m_current.removeAt(nRow);
    viewport()->update();
}

void CCustomListCtrl::RemoveAllRows()
{
    for (int nRow = topLevelItemCount() - 1; nRow >= 0; --nRow)
        RemoveRow(nRow);
    m_current.clear();
    m_nSelectedRow = -1;
}

void CCustomListCtrl::ClearSelectedRow()
{
    m_nSelectedRow = -1;
    clearSelection();
    setCurrentIndex(QModelIndex());
}

bool CCustomListCtrl::DeleteFolder(int nRow)
{
    bool bDeleted = false;
    if (nRow >= 0 && nRow < topLevelItemCount()) {
        const QString sPath = topLevelItem(nRow)->text(kColumnPath);
        int nAnswer = IDNO;
        ShowBox(m_pPresenter, this, IDS_DELETE_FOLDER, MSG_ICON_NONE, MSG_BUTTONS_YESNO, IDNO,
                LoadStringText(IDS_DELETE_FOLDER).replace(QStringLiteral("%s"), sPath), &nAnswer);
        if (nAnswer == IDYES) {
            RemoveRow(nRow);
            bDeleted = true;
            if (topLevelItemCount() == 0)
                ShowBox(m_pPresenter, this, IDS_NO_FOLDER_TICKED, MSG_ICON_NONE);
        }
    }
    ClearSelectedRow();
    emit DelButtonState(false);
    return bDeleted;
}

void CCustomListCtrl::LoadFolders(const QString& sDeviceId, const QStringList& entries)
{
    SetActiveControl(nullptr, -1, -1);
    RemoveAllRows();
    m_sDeviceId = sDeviceId;
    bool bWarned = false;
    for (const QString& sEntry : entries) {
        QString sPath;
        QString sFlag;
        SplitEntry(sEntry, &sPath, &sFlag);
        // A stored list longer than the limit is told once, not once per extra folder.
        if (AddFolder(sPath, sFlag, !bWarned) == FOLDER_LIST_FULL)
            bWarned = true;
    }
}

void CCustomListCtrl::ApplyControlChange(int nRow, int nColumn)
{
    auto* pCheck = dynamic_cast<CCheckBoxCtrl*>(HostedControl(nRow, nColumn));
    QTreeWidgetItem* pItem = topLevelItem(nRow);
    if (!pCheck || !pItem)
        return;
    const QString sFlag = pCheck->Text().left(1);
    pItem->setText(nColumn, sFlag);
    pItem->setCheckState(nColumn, pCheck->IsTicked() ? Qt::Checked : Qt::Unchecked);
    if (nColumn == kColumnWatch && nRow < m_current.size())
        m_current[nRow] = SetListLineFlag(m_current[nRow], sFlag);
    if (!HasTickedListLine(m_current))
        m_bWarnNothingTicked = true;
    viewport()->update(visualRect(model()->index(nRow, nColumn)));
}

void CCustomListCtrl::WarnWhenNothingTicked()
{
    if (!m_bWarnNothingTicked)
        return;
    m_bWarnNothingTicked = false;
    ShowBox(m_pPresenter, this, IDS_NO_FOLDER_TICKED, MSG_ICON_NONE);
}

void CCustomListCtrl::ToggleRow(int nRow)
{
    auto* pCheck = dynamic_cast<CCheckBoxCtrl*>(HostedControl(nRow, kColumnWatch));
    if (!pCheck)
        return;
    SetActiveControl(pCheck, nRow, kColumnWatch);
    if (pCheck->OnClick())
        ApplyControlChange(nRow, kColumnWatch);
    WarnWhenNothingTicked();
    emit SettingsChanged();
}

void CCustomListCtrl::HandleLeftPress(QMouseEvent* pEvent)
{
    const QPoint pt = pEvent->position().toPoint();
    const QModelIndex index = indexAt(pt);
    m_nSelectedRow = index.isValid() ? index.row() : -1;
    if (!index.isValid()) {
        clearSelection();
        setCurrentIndex(QModelIndex());
    }
    emit DelButtonState(index.isValid());

    CCustomBaseCtrl* pControl = index.isValid() ? HostedControl(index.row(), index.column()) : nullptr;
    if (pControl) {
        SetActiveControl(pControl, index.row(), index.column());
        setFocus(Qt::MouseFocusReason);
        if (pControl->OnLButtonDown(pEvent->modifiers(), pt))
            ApplyControlChange(index.row(), index.column());
    } else {
        SetActiveControl(nullptr, -1, -1);
    }
}

void CCustomListCtrl::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() != Qt::LeftButton) {
        pEvent->accept(); // right (and middle) presses do nothing here
        return;
    }
    m_bPressPending = true;
    HandleLeftPress(pEvent);
    QTreeWidget::mousePressEvent(pEvent);
    // The warning comes after the press has done its selecting: a modal box in the middle of
    // the press would leave the view's press pending.
    WarnWhenNothingTicked();
    emit SettingsChanged();
}

void CCustomListCtrl::mouseDoubleClickEvent(QMouseEvent* pEvent)
{
    // The second press of a quick double click is a press like the first, so a check box
    // clicked twice quickly flips twice; it counts once, whether or not the platform delivered
    // it as a press just before.
    if (pEvent->button() != Qt::LeftButton || m_bPressPending) {
        pEvent->accept();
        return;
    }
    mousePressEvent(pEvent);
}

void CCustomListCtrl::mouseReleaseEvent(QMouseEvent* pEvent)
{
    m_bPressPending = false;
    if (pEvent->button() != Qt::LeftButton) {
        pEvent->accept();
        return;
    }
    QTreeWidget::mouseReleaseEvent(pEvent);
}

void CCustomListCtrl::contextMenuEvent(QContextMenuEvent* pEvent)
{
    pEvent->accept();
}

void CCustomListCtrl::keyPressEvent(QKeyEvent* pEvent)
{
    const QModelIndex current = currentIndex();
    if (pEvent->key() == Qt::Key_Space && pEvent->modifiers() == Qt::NoModifier) {
        if (current.isValid())
            ToggleRow(current.row());
        pEvent->accept();
        return;
    }
    if (pEvent->key() == Qt::Key_Delete && pEvent->modifiers() == Qt::NoModifier) {
        if (m_nSelectedRow >= 0)
            emit DeleteKeyPressed();
        pEvent->accept();
        return;
    }
    QTreeWidget::keyPressEvent(pEvent);
    // A row reached with the arrow keys is selected as a pressed one is, so Del can act on it.
    const QModelIndex now = currentIndex();
    if (now.isValid() && now.row() != m_nSelectedRow && selectionModel()->isRowSelected(now.row(), QModelIndex())) {
        m_nSelectedRow = now.row();
        emit DelButtonState(true);
    }
}

bool CCustomListCtrl::Commit()
{
    if (m_sDeviceId.isEmpty())
        return false;
    if (!SaveListFile(m_sDeviceId, kSyncFolderListName, m_current))
        return false;
    m_saved = m_current;
    return true;
}

void CCustomListCtrl::Revert()
{
    SetActiveControl(nullptr, -1, -1);
    RemoveAllRows();
    for (const QString& sEntry : m_saved) {
        QString sPath;
        QString sFlag;
        SplitEntry(sEntry, &sPath, &sFlag);
        AddFolder(sPath, sFlag, false);
    }
}

void CCustomListCtrl::ReloadSaved(const QString& sDeviceId)
{
    m_saved = ReadListFile(sDeviceId, kSyncFolderListName);
}

#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include <QStringList>
#include <QTreeWidget>

#include "sync/WatchedFolderRules.h"

class CCustomBaseCtrl;
class IMessagePresenter;

// The watched-folder list of the Contents Settings page: a report list with one row per folder,
// the path in column 0 (shortened with an ellipsis, the whole path as tooltip) and a drawn check
// box (CCheckBoxCtrl) hosted in column 1. It keeps the selected player's folder entries
// "<path>|<flag>" twice, on screen (current) and as last committed (saved), and carries the rules
// for adding, deleting and ticking folders.
//
// It reports to its page with signals that stand for the program's window messages: DelButtonState is
// the Del-enable notice (WM_REFRESH_CONTENTS), SettingsChanged the settings-changed notice
// (WM_SETTINGS_CHANGED).
class CCustomListCtrl : public QTreeWidget
{
    Q_OBJECT
public:
    static constexpr int kColumnPath = 0;
    static constexpr int kColumnWatch = 1;

    explicit CCustomListCtrl(QWidget* pParent = nullptr);
    ~CCustomListCtrl() override;

    void SetMessagePresenter(IMessagePresenter* pPresenter) { m_pPresenter = pPresenter; }
    // Row height in logical pixels (0: the style's own).
    void SetRowHeight(int nHeight);
    int RowHeight() const { return m_nRowHeight; }

    // Cell keys: the row in the upper half, the column in the lower one.
    static std::uint32_t MakeKey(int nRow, int nColumn)
    {
        return (static_cast<std::uint32_t>(nRow) << 16) | (static_cast<std::uint32_t>(nColumn) & 0xFFFF);
    }
    CCustomBaseCtrl* HostedControl(int nRow, int nColumn) const;
    CCustomBaseCtrl* ActiveControl() const { return m_pActive; }

    // Appends a folder row "<sPath>|<sFlag>" unless the list is full (100 rows: string 148 is
    // shown when bWarnWhenFull) or holds exactly this path already (refused silently).
    EFolderAddResult AddFolder(const QString& sPath, const QString& sFlag, bool bWarnWhenFull = true);
    // Asks (string 149 with the path) and deletes the row on Yes; string 158 when none is left.
    // Afterwards no row is selected. True when the row went.
    bool DeleteFolder(int nRow);
    // Replaces every row with the entries of a player (adding them with the rules above; the
    // warning about the limit is shown once at most).
    void LoadFolders(const QString& sDeviceId, const QStringList& entries);
    // Flips the check box of a row as a click on it does (string 158 when nothing stays ticked).
    void ToggleRow(int nRow);

    const QString& DeviceId() const { return m_sDeviceId; }
    const QStringList& Entries() const { return m_current; }
    const QStringList& SavedEntries() const { return m_saved; }
    int SelectedRow() const { return m_nSelectedRow; }
    void ClearSelectedRow();

    bool IsModified() const { return m_current != m_saved; }
    // Writes the entries to the player's folder list file and makes them the saved ones; does
    // nothing without a player.
    bool Commit();
    // Rebuilds the rows from the saved entries.
    void Revert();
    // Saved entries = the player's folder list file (none for an empty id).
    void ReloadSaved(const QString& sDeviceId);
    // Saved entries = current entries (a freshly loaded list is not an edit).
    void MarkSaved() { m_saved = m_current; }

signals:
    // Del may act now (a row was pressed) or not (a press below the rows, a deletion).
    void DelButtonState(bool bEnable);
    // A press or key that may have changed the entries.
    void SettingsChanged();
    // The Delete key on a selected row: the page runs its Del command.
    void DeleteKeyPressed();

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;

private:
    class CDelegate;
    friend class CDelegate;

    void PaintCell(QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index) const;
    void AppendRow(const QString& sPath, const QString& sFlag);
    void RemoveRow(int nRow);
    void RemoveAllRows();
    void SetActiveControl(CCustomBaseCtrl* pControl, int nRow, int nColumn);
    // After a hosted control changed: cell text, entry flag and the check state for assistive
    // technology follow its text.
    void ApplyControlChange(int nRow, int nColumn);
    void WarnWhenNothingTicked();
    void HandleLeftPress(QMouseEvent* pEvent);

    std::map<std::uint32_t, std::unique_ptr<CCustomBaseCtrl>> m_controls;
    CCustomBaseCtrl* m_pActive = nullptr;
    int m_nActiveRow = -1;
    int m_nActiveColumn = -1;
    int m_nRowHeight = 0;
    int m_nSelectedRow = -1;
    QStringList m_current;
    QStringList m_saved;
    QString m_sDeviceId;
    IMessagePresenter* m_pPresenter = nullptr;
    bool m_bWarnNothingTicked = false; // a press ticked off the last folder
    bool m_bPressPending = false;      // a left press not yet released
};

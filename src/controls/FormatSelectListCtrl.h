#pragma once

#include <QListWidget>
#include <QStringList>
#include <QVector>

class IMessagePresenter;

// The extension list of the Contents Settings page: the file types the selected player accepts,
// in columns without a header, each with a tick deciding whether files of that type are
// transferred. It keeps the player's entries "<extension>|<flag>" on screen (current) and as last
// committed (saved). Only a press on an item's check box (or the space bar on the focused item)
// changes a tick; the mouse never selects items.
//
// Signals stand for the program's window messages to the page: DelButtonState(false) is the Del-enable
// notice (WM_REFRESH_CONTENTS), SelectAllStateChanged the "Select all" state
// (WM_EXTENSION_LIST_CHANGED: 0 none, 1 all or the list is empty, 2 some), SettingsChanged the
// settings-changed notice (WM_SETTINGS_CHANGED).
class CFormatSelectListCtrl : public QListWidget
{
    Q_OBJECT
public:
    enum ESelectAllState
    {
        SELECT_ALL_NONE = 0,
        SELECT_ALL_ALL = 1,
        SELECT_ALL_SOME = 2,
    };

    explicit CFormatSelectListCtrl(QWidget* pParent = nullptr);

    void SetMessagePresenter(IMessagePresenter* pPresenter) { m_pPresenter = pPresenter; }

    // Shows the entries of a player (ticked for flag "1") and reports the "Select all" state.
    void LoadExtensions(const QString& sDeviceId, const QStringList& entries);
    // Flips one item's tick; string 159 when nothing stays ticked.
    void ToggleTick(int nItem);
    // Ticks or unticks every item (string 159 after unticking all).
    void SetAllTicks(bool bTicked);
    // Reports the "Select all" state computed from the ticks.
    void RefreshSelectAll();
    ESelectAllState SelectAllState() const;

    const QString& DeviceId() const { return m_sDeviceId; }
    const QStringList& Entries() const { return m_current; }
    const QStringList& SavedEntries() const { return m_saved; }
    const QVector<int>& Ticks() const { return m_ticks; }
    // Set by every press on the list; the page clears it when the folder list is pressed.
    bool WasClicked() const { return m_bClicked; }
    void ClearClicked() { m_bClicked = false; }
    int ClickedItem() const { return m_nClickedItem; }

    bool IsModified() const { return m_current != m_saved; }
    // Writes the entries to the player's type list file and makes them the saved ones; does
    // nothing without a player.
    bool Commit();
    // Rebuilds the items from the saved entries (without reporting "Select all").
    void Revert();
    // Saved entries = the player's type list file (none for an empty id).
    void ReloadSaved(const QString& sDeviceId);
    void MarkSaved() { m_saved = m_current; }

    // The check box of an item in viewport coordinates (empty for an invalid item).
    QRect CheckBoxRect(int nItem) const;

signals:
    void DelButtonState(bool bEnable);
    void SelectAllStateChanged(int nState);
    void SettingsChanged();

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;

private:
    void BuildItems();
    void ApplyTick(int nItem);
    void HandlePress(QMouseEvent* pEvent);

    QStringList m_current;
    QStringList m_saved;
    QVector<int> m_ticks;
    QString m_sDeviceId;
    int m_nClickedItem = -1;
    bool m_bClicked = false;
    bool m_bPressPending = false; // a left press not yet released
    IMessagePresenter* m_pPresenter = nullptr;
};

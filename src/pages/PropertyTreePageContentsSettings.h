#pragma once

#include <functional>
#include <memory>

#include <QStringList>

#include "pages/PropertyTreePage.h"

class CCustomListCtrl;
class CFormatSelectListCtrl;
class IFolderPicker;
class IMessagePresenter;
class QCheckBox;
class QPushButton;
namespace Ui {
class CPropertyTreePageContentsSettings;
}

// The Contents Settings page (110): what a transfer copies to the selected player — its watched
// folders (each with a "Watch" tick) and the file extensions it accepts (each with a tick, with a
// "Select all" box above them). Both lists hold entries "text|1" (ticked) or "text|0" on screen
// and as last committed; the settings window commits, reverts and asks about them. Whoever selects
// a player hands its lists to LoadContentsPage; the page itself reads the player's list files only
// to learn what is stored (ReloadSavedLists).
class CPropertyTreePageContentsSettings : public CPropertyTreePage
{
    Q_OBJECT
public:
    static constexpr unsigned kTemplateId = 110;
    // Folder rows and columns in logical pixels.
    static constexpr int kRowHeight = 2 + 17;
    static constexpr int kFolderColumnWidth = 435;
    static constexpr int kWatchColumnWidth = 100;

    explicit CPropertyTreePageContentsSettings(QWidget* pParent = nullptr);
    ~CPropertyTreePageContentsSettings() override;

    // The message boxes and the folder dialog the page shows.
    void SetServices(IMessagePresenter* pPresenter, IFolderPicker* pFolderPicker);
    // What the page needs of its settings window: its display mode, and the buttons that take
    // the focus after a deletion (OK in the console, Next in the wizard).
    void SetWindowHooks(std::function<int()> displayMode, QPushButton* pOkButton, QPushButton* pNextButton);

    // Shows a player's lists (extensions first, then folders, with the folder rules: at most 100,
    // no exact duplicates); what is shown counts as saved.
    void LoadContentsPage(const QString& sUuid, const QStringList& folders, const QStringList& extensions);
    // Replaces the saved lists with the stored lists of that player (none for an empty id); the
    // lists on screen stay.
    void ReloadSavedLists(const QString& sUuid);

    bool IsFolderListModified() const;
    // Writes the folders to the player's list file and marks them saved (nothing without a player);
    // false when nothing was written.
    bool CommitFolderList();
    void RevertFolderList();
    bool IsExtensionListModified() const;
    bool CommitExtensionList();
    // Writes both lists, the file types first; false when a list of a player could not be written
    // (it then stays unsaved).
    bool CommitLists();
    void RevertExtensionList();
    // Both lists on screen count as saved, without writing them.
    void MarkListsSaved();

    QStringList FolderList() const;
    QStringList ExtensionList() const;
    // Replaces a list on screen (an edit: sends the settings-changed notice).
    void SetFolderList(const QStringList& folders);
    void SetExtensionList(const QStringList& extensions);

    // "Select all" follows the extension ticks: ticked when all are (or there are none), mixed
    // when some are.
    void RefreshSelectAll();
    bool IsSelectAllTicked() const;
    bool IsSelectAllMixed() const { return m_bSelectAllMixed; }
    // The selected player as the main window knows it (empty: none); Add needs one.
    void SetSelectedDevice(const QString& sUuid) { m_sDeviceUuid = sUuid; }
    QString SelectedDevice() const { return m_sDeviceUuid; }
    // The main window's refresh (WM_REFRESH_CONTENTS): Del off until a folder is chosen again.
    void Refresh();

    // The commands of Add (1003) and Del (1017).
    void OnAdd();
    void OnDel();

    CCustomListCtrl& FolderListCtrl() const;
    CFormatSelectListCtrl& ExtensionListCtrl() const;
    QPushButton* AddButton() const;
    QPushButton* DelButton() const;
    QCheckBox* SelectAllBox() const;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void SetTexts();
    void ConnectControls();
    // The Del-enable notice of the lists (WM_REFRESH_CONTENTS).
    void EnableDel(bool bEnable);
    // The "Select all" state from the extension list (WM_EXTENSION_LIST_CHANGED): 0 none, 1 all, 2 some.
    void ShowSelectAllState(int nState);
    void OnSelectAllClicked();
    bool HandleKey(QObject* pWatched, QKeyEvent* pEvent);
    // After a press on the extension list in the wizard: Next takes the focus when enabled.
    void FocusNextInWizard();
    bool IsWizardContents() const;
    int DisplayMode() const;

    const std::unique_ptr<Ui::CPropertyTreePageContentsSettings> m_pUi;
    IMessagePresenter* m_pPresenter = nullptr;
    IFolderPicker* m_pFolderPicker = nullptr;
    std::function<int()> m_displayMode;
    QPushButton* m_pOkButton = nullptr;
    QPushButton* m_pNextButton = nullptr;
    QString m_sDeviceUuid;
    bool m_bSelectAllMixed = false; // "Select all" shows the mixed state; a click ticks all
};

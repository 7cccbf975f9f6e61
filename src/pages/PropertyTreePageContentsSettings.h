#pragma once

#include <memory>

#include <QStringList>

#include "pages/PropertyTreePage.h"
#include "pages/SettingPair.h"

namespace Ui {
class CPropertyTreePageContentsSettings;
}

// The Contents Settings page (110): the watched folders and the file extensions of the selected
// player, each list held as entries "text|1" (ticked) or "text|0". The settings window commits,
// reverts and asks about both lists; the page's list controls (which come with the page's own
// contents) edit the current lists through SetFolderList and SetExtensionList.
class CPropertyTreePageContentsSettings : public CPropertyTreePage
{
    Q_OBJECT
public:
    static constexpr unsigned kTemplateId = 110;

    explicit CPropertyTreePageContentsSettings(QWidget* pParent = nullptr);
    ~CPropertyTreePageContentsSettings() override;

    bool IsFolderListModified() const { return m_folders.IsModified(); }
    void CommitFolderList() { m_folders.Commit(); }
    void RevertFolderList();
    bool IsExtensionListModified() const { return m_extensions.IsModified(); }
    void CommitExtensionList() { m_extensions.Commit(); }
    void RevertExtensionList();

    QStringList FolderList() const { return m_folders.current; }
    QStringList ExtensionList() const { return m_extensions.current; }
    // An edit of a list on screen; sends the settings-changed notice.
    void SetFolderList(const QStringList& folders);
    void SetExtensionList(const QStringList& extensions);

    // The "Select all" box follows the extension list: ticked when every entry is ticked.
    void RefreshSelectAll();
    bool IsSelectAllTicked() const { return m_bSelectAll; }
    // The selected player as the main window knows it (empty: none).
    void SetSelectedDevice(const QString& sUuid) { m_sDeviceUuid = sUuid; }
    QString SelectedDevice() const { return m_sDeviceUuid; }
    // Replaces the saved lists with the stored lists of that player (WM_RELOAD_SAVED_LISTS);
    // the lists on screen stay.
    void ReloadSavedLists(const QString& sUuid);
    // Re-reads the lists for the selected player (WM_REFRESH_CONTENTS).
    void Refresh();

private:
    const std::unique_ptr<Ui::CPropertyTreePageContentsSettings> m_pUi;
    CSettingPair<QStringList> m_folders;
    CSettingPair<QStringList> m_extensions;
    bool m_bSelectAll = false;
    QString m_sDeviceUuid;
};

#pragma once

#include <memory>

#include <QString>

#include "pages/PropertyTreePage.h"
#include "pages/SettingPair.h"
#include "platform/WinTypes.h"

namespace Ui {
class CPropertyTreePageSyncSettings;
}

// The Transfer Settings page (111): four settings (auto transfer on/off, the idle minutes, the
// task priority, the destination disk), each a current/saved pair, and the manual transfer's
// controls. The settings window commits, reverts and asks about the four settings; the page's
// controls (which come with the page's own contents) edit the current values through the Set...
// operations.
class CPropertyTreePageSyncSettings : public CPropertyTreePage
{
    Q_OBJECT
public:
    static constexpr unsigned kTemplateId = 111;
    static constexpr int kDefaultMinutes = 5;

    explicit CPropertyTreePageSyncSettings(QWidget* pParent = nullptr);
    ~CPropertyTreePageSyncSettings() override;

    bool IsAutoTransferModified() const { return m_autoTransfer.IsModified(); }
    void RevertAutoTransfer() { m_autoTransfer.Revert(); }
    bool IsMinutesModified();
    void RevertMinutes() { m_minutes.Revert(); }
    bool IsPriorityModified() const { return m_priority.IsModified(); }
    void RevertPriority() { m_priority.Revert(); }
    bool IsDestinationModified() const { return m_destination.IsModified(); }
    void RevertDestination() { m_destination.Revert(); }
    // saved = current for all four.
    void CommitValues();
    // Writes the committed values to the settings store (the caller committed them first).
    void ApplySyncSettings();

    bool AutoTransfer() const { return m_autoTransfer.current; }
    int Minutes() const { return m_minutes.current; }
    DWORD Priority() const { return m_priority.current; }
    DWORD Destination() const { return m_destination.current; }
    // Edits on screen; each sends the settings-changed notice.
    void SetAutoTransfer(bool bOn);
    void SetMinutes(int nMinutes);
    void SetPriority(DWORD dwLevel);
    void SetDestination(DWORD dwPosition);

    // Corrects the minutes on screen to 1..60 (WM_CLAMP_MINUTES).
    void ClampMinutes();
    // The status line: empty when cleared.
    void ClearStatusText() { m_sStatusText.clear(); }
    QString StatusText() const { return m_sStatusText; }
    // The selected player's name (WM_SET_TRANSFER_DEVICE_NAME); kept, not shown.
    void SetDeviceName(const QString& sName) { m_sDeviceName = sName; }
    QString DeviceName() const { return m_sDeviceName; }
    // The Transferred Files List controls, hidden during the setup wizard's last step.
    void ShowTransferredFilesList(bool bShow) { m_bTransferredListShown = bShow; }
    bool IsTransferredFilesListShown() const { return m_bTransferredListShown; }
    // Start or Stop of a manual transfer, and the cancel of a running one; they come with the
    // page's transfer controls.
    void StartOrStopTransfer();
    void HandleCancelFileSync();

protected:
    void InitPage() override;

private:
    const std::unique_ptr<Ui::CPropertyTreePageSyncSettings> m_pUi;
    CSettingPair<bool> m_autoTransfer;
    CSettingPair<int> m_minutes;
    CSettingPair<DWORD> m_priority;
    CSettingPair<DWORD> m_destination;
    QString m_sStatusText;
    QString m_sDeviceName;
    bool m_bTransferredListShown = true;
};

#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include <QString>

#include "pages/PropertyTreePage.h"
#include "pages/SettingPair.h"
#include "platform/WinTypes.h"
#include "sync/TransferProgressListener.h"

class IMessagePresenter;
class IShellOpener;
class ITimerService;
class ISyncPageHost;
class QAbstractButton;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QComboBox;
namespace Ui {
class CPropertyTreePageSyncSettings;
}

// The Transfer Settings page (111): four settings (auto transfer on/off, the idle minutes, the
// task priority, the destination disk), each a current/saved pair, and the control panel of a
// manual transfer: Start/Stop, a preparing line with animated dots, a progress bar with the
// done/total counter (and, once a file has been copied, the throughput and the time left), and
// the Open and Clear buttons of the transferred files list.
//
// The transfer thread reports progress through ITransferProgressListener; those calls only hand
// the figures to the user interface thread.
class CPropertyTreePageSyncSettings : public CPropertyTreePage, public ITransferProgressListener
{
    Q_OBJECT
public:
    static constexpr unsigned kTemplateId = 111;
    static constexpr int kDefaultMinutes = 5;
    static constexpr unsigned kDotTimerId = 400;
    static constexpr int kDotTimerMs = 500;

    // Control ids, carried in the controls' accessible names.
    enum EControl : unsigned
    {
        IDC_LABEL_MANUAL = 191,
        IDC_LABEL_AUTO = 192,
        IDC_LABEL_TIMER = 193,
        IDC_LABEL_PRIORITY = 194,
        IDC_LABEL_LIST = 195,
        IDC_LABEL_DESTINATION = 196,
        IDC_START_STOP = 1004,
        IDC_OPEN = 1005,
        IDC_ON = 1006,
        IDC_OFF = 1007,
        IDC_UP_DOWN = 1008,
        IDC_MINUTES = 1009,
        IDC_PRIORITY = 1010,
        IDC_CLEAR = 1012,
        IDC_DEST_AUTO = 1014,
        IDC_PROGRESS = 1015,
        IDC_COUNTER = 1016,
        IDC_DEST_INTERNAL = 1018,
        IDC_DEST_EXTERNAL = 1020,
        IDC_MINUTES_LABEL = 1031,
        IDC_STATUS = 1052,
    };

    explicit CPropertyTreePageSyncSettings(QWidget* pParent = nullptr);
    ~CPropertyTreePageSyncSettings() override;

    // The main window's side and the services; set once, before the page is created.
    void SetServices(ISyncPageHost* pHost, IMessagePresenter* pPresenter, ITimerService* pTimers, IShellOpener* pShell);

    bool IsAutoTransferModified() const { return m_autoTransfer.IsModified(); }
    void RevertAutoTransfer();
    bool IsMinutesModified();
    void RevertMinutes();
    bool IsPriorityModified() const { return m_priority.IsModified(); }
    void RevertPriority();
    bool IsDestinationModified() const { return m_destination.IsModified(); }
    void RevertDestination();
    // saved = current for all four.
    void CommitValues();
    // Writes the committed values to the settings store and applies them: idle detection, the
    // notification-area icon, the priority of the transfer threads. bTellUser false (the program
    // is quitting): a High priority the account may not have is only logged.
    void ApplySyncSettings(bool bTellUser = true);
    // How a priority level is set on the transfer threads; false when another level is in force
    // (High without the rights for it). Tests put in their own.
    using PriorityApplier = std::function<bool(int)>;
    void SetPriorityApplier(PriorityApplier apply) { m_applyPriority = std::move(apply); }
    // The note that High could not be applied is waiting for the page to be seen / was shown.
    bool IsPriorityNotePending() const { return m_bPriorityNotePending; }

    bool AutoTransfer() const { return m_autoTransfer.current; }
    int Minutes() const { return m_minutes.current; }
    DWORD Priority() const { return m_priority.current; }
    DWORD Destination() const { return m_destination.current; }
    // Edits as the controls make them; each sends the settings-changed notice.
    void SetAutoTransfer(bool bOn);
    void SetMinutes(int nMinutes);
    void SetPriority(DWORD dwLevel);
    void SetDestination(DWORD dwPosition);

    // Corrects the minutes on screen to 1..60 (WM_CLAMP_MINUTES); an empty field stays empty.
    void ClampMinutes();
    // The up-down arrows beside the minutes: +1 (bUp) or -1, wrapping 60 <-> 1.
    void StepMinutes(bool bUp);
    // The minutes field lost the focus: refilled when empty, corrected to 1..60.
    void OnMinutesKillFocus();

    // The status line: 156 after a clean run (code 0, no file failed), else empty; -1 clears.
    void ShowStatusText(int nCode);
    void ClearStatusText() { ShowStatusText(-1); }
    QString StatusText() const;
    // The selected player's name (WM_SET_TRANSFER_DEVICE_NAME); kept, not shown.
    void SetDeviceName(const QString& sName) { m_sDeviceName = sName; }
    QString DeviceName() const { return m_sDeviceName; }
    // The Transferred Files List controls, hidden during the setup wizard's last step.
    void ShowTransferredFilesList(bool bShow);
    bool IsTransferredFilesListShown() const { return m_bTransferredListShown; }

    // Start/Stop (1004; also the tray's Manual Transfer, Exit during a transfer, the wizard end).
    void StartOrStopTransfer();
    // The stop path: hides the progress, then (while a transfer runs) cancels it.
    void HandleCancelFileSync();
    // The preparing look, then the main window's StartFileSync.
    void BeginTransferUi();
    // The preparing look alone: "Stop", the status line with its dots, the settings disabled.
    void ShowPreparing();
    // The end of a transfer: progress hidden, status by code, the idle look back. Returns whether
    // the page had started the transfer.
    bool EndTransfer(int nCode);
    void EndTransferUi();
    bool IsTransferFromPage() const { return m_bTransferFromPage; }
    bool IsCancelRequested() const { return m_bCancelRequested.load(); }
    void ClearCancelRequested() { m_bCancelRequested.store(false); }
    // Open: a private copy of the transfer history opened with the desktop's text viewer.
    void OpenTransferredFilesList();
    // Clear: after question 161, the transfer history is emptied.
    void ClearTransferredFilesList();

    // ITransferProgressListener (transfer thread).
    void ShowTransferProgress(unsigned nDone, unsigned nTotal) override;
    void ShowFileCopying(const QString& sSourcePath, std::uint64_t nBytesCopied) override;

    // --- For tests and the screenshots ---
    QWidget* Control(unsigned nId) const;
    bool IsProgressShown() const { return m_bProgressShown; }
    int ProgressValue() const;
    QString CounterText() const;
    QString ProgressInfoText() const;
    // The figures a report from the transfer thread brings, applied on this thread.
    void ApplyProgress(unsigned nDone, unsigned nTotal);
    void ApplyFileCopying(std::uint64_t nBytesCopied);

protected:
    void InitPage() override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;

private:
    // Hides the progress bar, its counter and its throughput line.
    void HideProgress();
    void SetTexts();
    void ConnectControls();
    void SetIdleControlsEnabled(bool bEnabled);
    void ShowAutoTransfer(bool bOn);
    void ShowMinutes(int nMinutes, bool bSelect);
    void ShowPriority(DWORD dwLevel);
    void ShowDestination(DWORD dwPosition);
    void StartDots();
    void StopDots();
    void OnDotTimer();
    void SetTransferTooltips(bool bTransferring);
    void ApplyProcessPriority(bool bTellUser);
    void ShowPriorityNote();
    bool MinutesFromEdit();
    void UpdateProgressInfo();

    const std::unique_ptr<Ui::CPropertyTreePageSyncSettings> m_pUi;
    ISyncPageHost* m_pHost = nullptr;
    IMessagePresenter* m_pPresenter = nullptr;
    ITimerService* m_pTimers = nullptr;
    IShellOpener* m_pShell = nullptr;
    CSettingPair<bool> m_autoTransfer;
    CSettingPair<int> m_minutes;
    CSettingPair<DWORD> m_priority;
    CSettingPair<DWORD> m_destination;
    QString m_sDeviceName;
    PriorityApplier m_applyPriority;
    bool m_bPriorityNotePending = false;
    bool m_bPriorityNoteShown = false; // once per run
    QString m_sHistoryCopy; // the private copy of the history opened last
    bool m_bTransferredListShown = true;
    // Run state of the manual transfer display.
    bool m_bTransferFromPage = false;
    std::atomic<bool> m_bCancelRequested{false};
    bool m_bProgressShown = false;
    bool m_bWaitAnimation = false;
    int m_nWaitDots = 0;
    // Throughput and time left: bytes of finished files plus the file under way, since the
    // first report of the run.
    std::int64_t m_nRunStartMs = 0;
    std::uint64_t m_nBytesDone = 0;
    std::uint64_t m_nBytesCurrent = 0;
    // The copy's latest byte count from the transfer thread, and whether a report is on its way.
    std::atomic<std::uint64_t> m_nLatestBytes{0};
    std::atomic<bool> m_bBytesPosted{false};
    unsigned m_nDone = 0;
    unsigned m_nTotal = 0;
    QString m_texts[2]; // Start, Stop
};

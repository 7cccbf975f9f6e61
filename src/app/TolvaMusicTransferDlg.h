#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <thread>

#include <QString>

#include "app/RescanDlg.h"
#include "pages/PropertyTreeDlg.h"
#include "pages/SyncPageHost.h"
#include "pages/WindowMessagePort.h"
#include "platform/WindowMessages.h"
#include "sync/CommonManager.h"

class IFolderPicker;
class IInputActivityMonitor;
class IMessagePresenter;
class IShellOpener;
class ITimerService;
class ITrayPresence;
class CTray;
class CTransferLock;
class QAction;
class QMenu;
class QMenuBar;
class QPushButton;
class CSelFocus;
class CWaitDlg;
class CWizardEndDlg;
class CPropertyTreePageConnection;
class CPropertyTreePageContentsSettings;
class CPropertyTreePageSyncSettings;
namespace Ui {
class CTolvaMusicTransferDlg;
}

// The display modes of the main window: the settings console or a step of the setup wizard.
enum EDisplayMode : int
{
    DM_CONSOLE = 0,             // console, a device is selected: all three pages
    DM_CONSOLE_NO_DEVICE = 1,   // console without a (reachable) device: Connection only
    DM_CONSOLE_TRANSFER = 2,    // console while a transfer runs: Transfer Settings only
    DM_WIZARD_CONNECTION = 3,   // wizard step 1
    DM_WIZARD_CONTENTS = 4,     // wizard step 2
    DM_WIZARD_TRANSFER = 5,     // wizard step 3
    DM_WIZARD_TRANSFERRING = 6, // wizard step 3 while a transfer started from it runs
};

// The services the main window works through; tests pass doubles.
struct SMainWindowServices
{
    IMessagePresenter& presenter;
    ITimerService& timers;
    IShellOpener& shell;
    // The folder dialog of the Contents Settings page; null: the desktop's own.
    IFolderPicker* pFolderPicker = nullptr;
    // The desktop's input watch for the automatic transfer; null: no automatic transfer.
    IInputActivityMonitor* pActivity = nullptr;
    // Whether a notification area exists; null: none (the settings window shows).
    ITrayPresence* pTrayPresence = nullptr;
};

// The program's one window and the hub of its user interface: the settings console with its
// three pages (or the setup wizard through the same pages), usually hidden behind the
// notification-area icon. It owns the common manager and receives every worker report as a
// numbered message; it keeps the display mode, which decides the usable pages and buttons, and
// runs the settings-window protocol (Apply, OK, Cancel, close box) over the pages.
class CTolvaMusicTransferDlg final : public CPropertyTreeDlg,
                                     public IMessageReceiver,
                                     public IDeviceEventReceiver,
                                     public ISyncPageHost,
                                     private IOfflineDialogHost
{
    Q_OBJECT
public:
    explicit CTolvaMusicTransferDlg(const SMainWindowServices& services, QWidget* pParent = nullptr);
    ~CTolvaMusicTransferDlg() override;

    // Window creation and dialog start: chooses console or wizard from "FirstRun", sets up pages,
    // buttons, labels and menu. Afterwards show() shows the window unless it must stay hidden (a
    // start at logon).
    void Start();

    // IMessageReceiver: posted messages are handled later on the window's thread; a send from
    // another thread waits for the handler's result.
    bool PostMessage(CWindowMessage msg) override;
    std::intptr_t SendMessage(CWindowMessage msg) override;
    // IDeviceEventReceiver (device search thread): handed over to the window's thread.
    void UpdateDeviceInfo(const SDeviceChange& change) override;
    void SelectDeviceManual(const QString& sUuid, const QString& sIp) override;

    // Commands of the menus, buttons and accelerators (ids of ResourceIds.h).
    void OnCommand(unsigned nId);
    // "ActiveApp" from a second start of the program: the Setup Console command.
    void OnActiveApp();
    // Ends the program's open message box or small dialog with IDNO, so a new message never
    // stacks on an old one.
    void CloseOpenMessageBox();
    // A modal dialog or message box of the program is open.
    bool IsModalOpen() const;
    bool IsAnySettingChanged() override;
    void SaveAllSettings() override;

    // ISyncPageHost: the window's side of a transfer.
    int DisplayMode() const override { return m_eDM; }
    bool HasSelectedDevice() const override { return !m_sSelDeviceUuid.isEmpty(); }
    // Switches the display to the transferring state and starts the run; false (nothing starts)
    // without a selected device or in a mode without transfers.
    bool StartFileSync() override;
    void CancelFileSync() override;
    bool SomeFilesFailed() const override { return m_commonManager.IsSomeFilesFailed(); }
    // Idle detection for the automatic transfer: the idle period is armed (again) / stopped.
    void StartIdleDetection(int nMinutes) override;
    void StopIdleDetection() override;
    // The wizard's wipe runs only on a folder that is absolutely the program's own data folder.
    static bool IsOwnAppDataFolder(const QString& sFolder);
    // Runs the device-offline dialog (bSearchAtOnce: the player went away, search for a minute
    // at once); returns its result (1 Select Device, 2 closed itself, 7 closed by the program).
    int RunOfflineDialog(bool bSearchAtOnce);
    // Shows the player's watched folders and file types on the Contents Settings page.
    void LoadContentsLists(const QString& sUuid);

    // --- State, for the pages, the tray and tests ---
    EDisplayMode Mode() const { return m_eDM; }
    QString SelectedDeviceUuid() const { return m_sSelDeviceUuid; }
    bool IsShowWindowAllowed() const { return m_bShowWindow; }
    bool IsInTimer() const { return m_bInTimer; }
    bool IsWaitDialogOpen() const { return m_bWaitDlgOpen; }
    bool IsWizardThisRun() const { return m_bWizardThisRun; }
    bool AutoStartExisted() const { return m_bAutoStartExisted; }
    bool IsQuitRequested() const { return m_bQuitRequested; }
    bool LabelsEnabled() const { return m_bLabelsEnabled; }
    bool OfflinePromptDone() const { return m_bOfflinePromptDone; }
    bool IsContentsDialogOpen() const { return m_bContentsDlgOpen; }
    bool StartTransferOffered() const { return m_bStartTransferOffer; }
    bool DeviceFoundAgain() const { return m_bDeviceFoundAgain; }
    bool IsRescanning() const { return m_bRescanning; }
    unsigned TrayIconId() const { return m_nTrayIconId; }
    bool IsTransferring() const { return m_bTransferring; }
    bool HoldsTransferLock() const { return m_pTransferLock != nullptr; }
    bool IsAutoTransferRunning() const { return m_bAutoTransfer; }
    bool IsRetryAllowed() const { return m_bRetryAllowed; }
    int RetriesLeft() const { return m_nRetryLeft; }
    bool CanCancel() const { return m_bCanCancel; }
    bool IsIdleDetection() const { return m_bIdleDetection; }
    bool IsTrayAnimating() const { return m_bCtrlTrayIcon; }
    bool IsQuitAfterTransfer() const { return m_bQuitAfterTransfer; }
    bool IsTrayTransferring() const { return m_bTrayTransferring; }
    bool IsManualTransferGreyed() const { return m_bManualTransferGreyed; }
    CTray* Tray() const { return m_pTray.get(); }
    int WaitingSenders() const { return m_port.WaitingSenders(); }
    QString DeviceModel() const { return m_strModel; }
    QString DeviceIpAddress() const { return m_strIpAddress; }
    // The page label of a page (109, 110, 111) or of a label control id (1043, 1044, 1046).
    CSelFocus* Label(unsigned nId) const;
    int LabelState(unsigned nId) const;
    QPushButton* Button(unsigned nId) const;
    QAction* MenuAction(unsigned nId) const;
    QWidget* LabelFrame() const;
    CCommonManager& CommonManager() { return m_commonManager; }
    CPropertyTreePageConnection& ConnectionPage() { return *m_pPageConnection; }
    CPropertyTreePageContentsSettings& ContentsPage() { return *m_pPageContents; }
    CPropertyTreePageSyncSettings& SyncPage() { return *m_pPageSync; }

    // The settings file exists but cannot be read (damaged, or a folder in its place): the
    // values read as absent then, yet "FirstRun" counts as unreadable, not as a first start.
    static bool IsSettingsFileUnreadable();
    // The help page shipped with the program.
    static QString HelpPagePath();

protected:
    void setVisible(bool bVisible) override;
    void closeEvent(QCloseEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void OnOK() override;
    void OnCancel() override;
    void reject() override;

private:
    std::intptr_t HandleMessage(CWindowMessage& msg);
    // WM_CHANGE_MODE: the new mode and, by mode, the old one or the page to select.
    void ChangeMode(int nNewMode, int nSecond);
    void SetLabelStates(int nConnection, int nContents, int nTransfer);
    void SetPageMenuEnabled(bool bConnection, bool bContents, bool bTransfer);
    void SetTexts();
    void BuildMenu();
    void ConnectControls();
    // Dialog start in the console modes and in the wizard.
    void StartConsole();
    void StartWizard();
    // Deletes the application data folder with everything in it; refuses (false) unless it is an
    // absolute folder of this program's own.
    bool WipeAppDataFolder();
    void SelectPage(unsigned nPageId);
    void OnLabelClicked(unsigned nPageId);
    void OnApply();
    void OnClose();
    void OnHelp();
    void OnSetupConsole();
    void OnExit();
    void OnNext();
    void OnPrev();
    void OnWizardEnd();
    // Stores the Connection view's selection as "CurrentDevId" and "CurrentDevIP".
    void StoreCurrentSelection();
    void OnShowPanelTimer();
    void LockWindow(bool bLock);
    bool HandleKey(QWidget* pTarget, QKeyEvent* pEvent);
    void Quit();
    void SetShowExplore(const QString* psIconPath, bool bShow);
    void UpdateDeviceText();

    // --- Transfer state and outcome ---
    // The outcome of a transfer run (WM_TRANSFER_FINISHED).
    void ChangeTransferState(int nCode);
    // The device is gone: device display cleared, Connection page shown (by mode), tray icon.
    void DeviceLostSteps();
    // The one message box of a result, by the window's visibility and how the run started.
    void ShowResultMessage(int nCode, bool bFromPage, bool bAutomatic);
    // The Connection page drops the device; true when it was the selected one.
    bool DropDeviceFromConnectionPage(const QString& sUuid);
    // The share list of the player; after a failure one retry once the player is awake.
    void OpenDeviceShare(bool bRetry);
    void RefreshTray();
    // Idle detection: the idle period ran out / the user gave input.
    void OnIdle();
    void OnUserActivity(int eKind);
    void OnTrayAnimationTick();
    // The selected device went offline (WM_DEVICE_REMOVED) / was not found (WM_DEVICE_NOT_FOUND).
    void DeviceOffLine(const QString& sUuid);
    void OfferDeviceOffline();
    // The notification-area icon's mouse message (WM_TRAY_NOTIFY).
    void OnTrayNotification(std::uintptr_t wParam, std::intptr_t lParam);
    // The wizard-end dialog: 1 quit and start transferring, 2 quit without, 7 closed.
    int RunWizardEndDialog();
    void RunWaitDialog();
    // Writes both lists of the Contents Settings page; tells the user when one could not be written.
    void CommitContentsLists();
    void CloseWaitDialog();
    void RunAboutBox();
    void OnExplore();
    std::intptr_t ForwardToOfflineDialog(unsigned nMessage);

    // IOfflineDialogHost
    bool IsCurrentDeviceListed() const override;
    void SetRescanning(bool bOn) override;
    void OnOfflineDialogStarted() override;
    void OnDeviceFoundAgain() override;
    void OnSearchGivenUp() override;
    void OnSelectDevice(bool bListed) override;

    IMessagePresenter& m_presenter;
    std::unique_ptr<IFolderPicker> m_pOwnFolderPicker; // when the services bring none
    ITimerService& m_timers;
    IShellOpener& m_shell;
    IInputActivityMonitor* const m_pActivity;
    ITrayPresence* const m_pTrayPresence;
    const std::unique_ptr<Ui::CTolvaMusicTransferDlg> m_pUi;
    CWindowMessagePort m_port;
    // The profile's transfer lock, held from the start of a run to its result (and, declared
    // before the common manager, until a run cut short by the end of the program has stopped).
    std::unique_ptr<CTransferLock> m_pTransferLock;
    CCommonManager m_commonManager;
    const std::unique_ptr<CPropertyTreePageConnection> m_pPageConnection;
    const std::unique_ptr<CPropertyTreePageContentsSettings> m_pPageContents;
    const std::unique_ptr<CPropertyTreePageSyncSettings> m_pPageSync;
    QMenuBar* m_pMenuBar = nullptr;
    QMenu* m_pMenu = nullptr;
    std::map<unsigned, QAction*> m_actions;
    std::map<unsigned, QString> m_texts; // the window's texts from the string table, by id

    EDisplayMode m_eDM = DM_CONSOLE_NO_DEVICE;
    QString m_sSelDeviceUuid;
    QString m_strIpAddress;
    QString m_strModel;
    unsigned m_nTrayIconId = 0;
    bool m_bShowWindow = true;
    bool m_bQuitAfterTransfer = false;
    bool m_bOfflineDlgOpen = false;
    bool m_bOfflinePromptDone = false;
    bool m_bTransferring = false;
    bool m_bWaitDlgOpen = false;
    bool m_bAutoStartExisted = false;
    bool m_bWizardThisRun = false;
    bool m_bContentsDlgOpen = false;
    bool m_bInTimer = false;
    bool m_bLabelsEnabled = true;
    bool m_bStartTransferOffer = false;
    bool m_bQuitRequested = false;
    bool m_bDeviceFoundAgain = false;
    bool m_bRescanning = false;
    // The small dialogs of the window (made when first needed; children of the window).
    CWaitDlg* m_pWaitDlg = nullptr;
    CWizardEndDlg* m_pWizardEndDlg = nullptr;
    CRescanDlg* m_pOfflineDlg = nullptr; // while it runs
    // A transfer run: its start, retries, outcome and how input may cancel it.
    bool m_bResultArrived = false;
    bool m_bCtrlTrayIcon = false;
    bool m_bTrayTransferring = false;
    bool m_bManualTransferGreyed = false;
    bool m_bAutoTransfer = false;
    bool m_bWindowShownAtAutoStart = false;
    bool m_bOfflineDuringTransfer = false;
    bool m_bCanCancel = true;
    bool m_bRetryAllowed = true;
    bool m_bRetryCountRead = false;
    int m_nRetryConfigured = 0;
    int m_nRetryLeft = 0;
    bool m_bIdleDetection = false;
    int m_nTrayFrame = 1;
    std::unique_ptr<CTray> m_pTray;
    // The explore-share thread: wakes the player, then the share is opened once more.
    std::thread m_exploreThread;
    std::atomic<bool> m_bExploreRunning{false};
    // What WM_LOCK_WINDOW saved: the enable states of OK, Cancel and Apply and the label states.
    struct SLockSaved
    {
        bool bOk = true, bCancel = true, bApply = false;
        int aLabels[3] = {0, 1, 1};
    } m_lockSaved;
};

#pragma once

#include <map>
#include <memory>

#include <QString>

#include "pages/PropertyTreeDlg.h"
#include "pages/WindowMessagePort.h"
#include "platform/WindowMessages.h"
#include "sync/CommonManager.h"

class IMessagePresenter;
class IShellOpener;
class ITimerService;
class QAction;
class QMenu;
class QMenuBar;
class QPushButton;
class CSelFocus;
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
};

// The program's one window and the hub of its user interface: the settings console with its
// three pages (or the setup wizard through the same pages), usually hidden behind the
// notification-area icon. It owns the common manager and receives every worker report as a
// numbered message; it keeps the display mode, which decides the usable pages and buttons, and
// runs the settings-window protocol (Apply, OK, Cancel, close box) over the pages.
class CTolvaMusicTransferDlg final : public CPropertyTreeDlg, public IMessageReceiver, public IDeviceEventReceiver
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
    bool IsAnySettingChanged();
    void SaveAllSettings();

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
    unsigned TrayIconId() const { return m_nTrayIconId; }
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

    // --- Seams filled by the parts that own the work ---
    // The outcome of a transfer run (WM_TRANSFER_FINISHED).
    void ChangeTransferState(int nCode);
    // The selected device went offline (WM_DEVICE_REMOVED) / was not found (WM_DEVICE_NOT_FOUND).
    void DeviceOffLine(const QString& sUuid);
    void OfferDeviceOffline();
    // The notification-area icon's mouse message (WM_TRAY_NOTIFY).
    void OnTrayNotification(std::uintptr_t wParam, std::intptr_t lParam);
    // The wizard-end dialog: 1 quit and start transferring, 2 quit without, 7 closed.
    int RunWizardEndDialog();
    void RunWaitDialog();
    void CloseWaitDialog();
    void RunAboutBox();
    void OnExplore();
    std::intptr_t ForwardToOfflineDialog(unsigned nMessage);

    IMessagePresenter& m_presenter;
    ITimerService& m_timers;
    IShellOpener& m_shell;
    const std::unique_ptr<Ui::CTolvaMusicTransferDlg> m_pUi;
    CWindowMessagePort m_port;
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
    // What WM_LOCK_WINDOW saved: the enable states of OK, Cancel and Apply and the label states.
    struct SLockSaved
    {
        bool bOk = true, bCancel = true, bApply = false;
        int aLabels[3] = {0, 1, 1};
    } m_lockSaved;
};

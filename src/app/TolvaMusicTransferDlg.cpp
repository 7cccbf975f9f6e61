#include "app/TolvaMusicTransferDlg.h"

#include "ui_TolvaMusicTransferDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QThread>
#include <QUrl>

#include "app/AboutDlg.h"
#include "app/ResourceIds.h"
#include "app/TransferOutcome.h"
#include "app/Tray.h"
#include "app/WaitDlg.h"
#include "app/WizardEndDlg.h"
#include "controls/DevicePicture.h"
#include "controls/SelFocus.h"
#include "desktop/FolderPicker.h"
#include "desktop/IInputActivityMonitor.h"
#include "desktop/IMessagePresenter.h"
#include "desktop/IShellOpener.h"
#include "desktop/ITimerService.h"
#include "desktop/ITrayPresence.h"
#include "desktop/Pictures.h"
#include "foundation/Log.h"
#include "foundation/MessageIds.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "foundation/StringTable.h"
#include "pages/PropertyTreePageConnection.h"
#include "pages/PropertyTreePageContentsSettings.h"
#include "pages/PropertyTreePageSyncSettings.h"
#include "platform/SettingsStore.h"
#include "sync/DeviceLists.h"
#include "sync/TransferHistory.h"
#include "sync/TransferLock.h"
#include "sync/WatchedFolderRules.h"

namespace {

using enum CSelFocus::EState;

// The texts the window loads when it is constructed.
constexpr unsigned kTextIds[] = {101, 102, 103, 104, 106, 107, 108, 136, 140, 141, 142, 150, 151,
                                 152, 153, 154, 155, 156, 157, 158, 159, 160, 163, 164, 165, 166,
                                 167, 173, 174, 175, 177, 178, 182, 185, 187, 200, 244};

constexpr int kPowerRetryMs = 5000;
constexpr int kTrayAnimationMs = 100;
// How long the program waits at logon for the desktop's notification area.
constexpr int kTrayHostWaitMs = 30000;
// While an automatic transfer runs, the monitor is armed only to hear the user's input.
constexpr std::int64_t kWatchOnlyMs = 24LL * 3600 * 1000;

// One minute of the automatic transfer's idle time. The test setting TOLVA_IDLE_MINUTE_MS (1000
// to 60000, read once at the first use) makes that minute shorter, so that a test or a
// demonstration sees an automatic transfer start without waiting whole minutes; the idle
// detection itself runs exactly as without it.
std::int64_t IdleMinuteMs()
{
    static const std::int64_t nMs = [] {
        bool bOk = false;
        const qlonglong nValue = qEnvironmentVariable("TOLVA_IDLE_MINUTE_MS").toLongLong(&bOk);
        return bOk && nValue >= 1000 && nValue <= 60000 ? static_cast<std::int64_t>(nValue) : std::int64_t{60000};
    }();
    return nMs;
}

// The page labels' font: pixel size 18, a weight between medium and demi-bold.
constexpr int kLabelFontPixelSize = 18;
constexpr int kLabelFontWeight = 535;
// Buttons: the usual minimum width, and the room kept on each side of the text.
constexpr int kMinButtonWidth = 88;
constexpr int kButtonTextPadding = 12;

bool IsWizardMode(EDisplayMode eMode)
{
    return eMode >= DM_WIZARD_CONNECTION && eMode <= DM_WIZARD_TRANSFERRING;
}

bool IsConsoleMode(EDisplayMode eMode)
{
    return eMode >= DM_CONSOLE && eMode <= DM_CONSOLE_TRANSFER;
}

SMessageBox Box(unsigned nTextId, EMessageButtons eButtons = MSG_BUTTONS_OK, EMessageIcon eIcon = MSG_ICON_NONE,
                int nDefault = IDOK)
{
    SMessageBox box;
    box.nTextId = nTextId;
    box.eButtons = eButtons;
    box.eIcon = eIcon;
    box.nDefault = nDefault;
    return box;
}

} // namespace

CTolvaMusicTransferDlg::CTolvaMusicTransferDlg(const SMainWindowServices& services, QWidget* pParent)
    : CPropertyTreeDlg(pParent), m_presenter(services.presenter), m_timers(services.timers), m_shell(services.shell),
      m_pActivity(services.pActivity), m_pTrayPresence(services.pTrayPresence),
      m_pUi(std::make_unique<Ui::CTolvaMusicTransferDlg>()),
      m_port(this, [this](CWindowMessage& msg) { return HandleMessage(msg); }),
      m_pPageConnection(std::make_unique<CPropertyTreePageConnection>()),
      m_pPageContents(std::make_unique<CPropertyTreePageContentsSettings>()),
      m_pPageSync(std::make_unique<CPropertyTreePageSyncSettings>())
{
    m_pUi->setupUi(this);
    setObjectName("mainWindow");
    setWindowIcon(LoadIcon(IDI_APPLICATION_ICON));
    for (const unsigned nId : kTextIds)
        m_texts[nId] = LoadStringText(nId);
    m_commonManager.Initialize(this, this);
    m_pPageSync->SetServices(this, &m_presenter, &m_timers, &m_shell);
    m_commonManager.TransferManager().SetProgressListener(m_pPageSync.get());
    if (m_pActivity)
        m_pActivity->SetHandlers([this] { OnIdle(); }, [this](EInputKind eKind) { OnUserActivity(eKind); });
    m_pTray = std::make_unique<CTray>([this](unsigned nId) { OnCommand(nId); },
                                      [this](int nMouse) { PostMessage(CWindowMessage(WM_TRAY_NOTIFY, 0, nMouse)); });

    AddPage(102, m_pRootInfo.get(), m_pPageConnection.get(), CPropertyTreePageConnection::kTemplateId);
    AddPage(103, m_pRootInfo.get(), m_pPageContents.get(), CPropertyTreePageContentsSettings::kTemplateId);
    AddPage(104, m_pRootInfo.get(), m_pPageSync.get(), CPropertyTreePageSyncSettings::kTemplateId);
    for (const auto& [nId, pPage] : m_mapPages)
        pPage->SetMainWindow(this);
    m_pPageConnection->SetServices({&m_commonManager, &m_presenter, [this] { return static_cast<int>(m_eDM); },
                                    [this] { return m_pUi->btnNext; }, [this] { SaveAllSettings(); },
                                    [this](const QString& sUuid) { LoadContentsLists(sUuid); }});
    IFolderPicker* pFolderPicker = services.pFolderPicker;
    if (!pFolderPicker) {
        m_pOwnFolderPicker = std::make_unique<CFolderPicker>();
        pFolderPicker = m_pOwnFolderPicker.get();
    }
    m_pPageContents->SetServices(&m_presenter, pFolderPicker);
    m_pPageContents->SetWindowHooks([this] { return int(m_eDM); }, m_pUi->btnOK, m_pUi->btnNext);
    SetPageFrame(m_pUi->pageArea, m_pUi->labelFrame, m_pUi->btnApply);

    BuildMenu();
    ConnectControls();
    qApp->installEventFilter(this);
    RegisterMainWindow(this);
}

CTolvaMusicTransferDlg::~CTolvaMusicTransferDlg()
{
    qApp->removeEventFilter(this);
    UnregisterMainWindow(this);
    // No progress report reaches the page from here on, no input report the window.
    m_commonManager.TransferManager().SetProgressListener(nullptr);
    if (m_pActivity) {
        m_pActivity->Disarm();
        m_pActivity->SetHandlers({}, {});
    }
    // No message is handled from here on; a worker blocked in a send to this window returns, so
    // the common manager can join its threads.
    m_port.Close();
    m_timers.KillAllTimers(this);
    // The explore-share thread uses the common manager; it ends before the manager does.
    if (m_exploreThread.joinable())
        m_exploreThread.join();
    DestroyPages();
    // The pages are children of the page area; they are deleted by their owners (the members),
    // not by Qt.
    for (const auto& [nId, pPage] : m_mapPages)
        pPage->setParent(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Start-up

void CTolvaMusicTransferDlg::Start()
{
    // Window creation: the mode from "FirstRun". A first start marks the wizard as begun. A
    // settings file that cannot be read is no first start: the wizard would wipe the
    // application data folder with every player's transfer history.
    if (IsSettingsFileUnreadable()) {
        WriteLog("Settings file unreadable: FirstRun counts as unreadable, console mode.");
        m_eDM = DM_CONSOLE_NO_DEVICE;
    } else if (!SettingExists(kSettingFirstRun)) {
        m_eDM = DM_WIZARD_CONNECTION;
        WriteSettingDword(kSettingFirstRun, 1);
    } else {
        m_eDM = IsFirstRunPending() ? DM_WIZARD_CONNECTION : DM_CONSOLE_NO_DEVICE;
    }
    if (AutoStartExists() && m_eDM != DM_WIZARD_CONNECTION) {
        WriteLogF("if (bExists && (m_eDM != DM_WIZARD_CONNECTION))\tm_eDM = %d.\n", static_cast<int>(m_eDM));
        // Started at logon: the program stays in the notification area.
        m_bShowWindow = false;
        hide();
    }

    // Dialog start: the pages, Connection first.
    if (CPropertyTreeInfo* pInfo = FindPageInfo(m_pRootInfo.get(), CPropertyTreePageConnection::kTemplateId)) {
        m_nCurPageId = CPropertyTreePageConnection::kTemplateId;
        pInfo->m_bSelected = true;
    }
    CreatePages(m_pRootInfo.get());
    ShowPage(CPropertyTreePageConnection::kTemplateId);

    SetTexts();
    m_pUi->devicePicture->SetDefaultPicture(LoadPicture(
        IDB_DEFAULT_DEVICE, QSize(CDevicePicture::kPictureSize, CDevicePicture::kPictureSize), devicePixelRatioF()));
    m_pUi->btnHelp->show();
    m_pUi->btnExplore->hide();

    if (m_eDM == DM_WIZARD_CONNECTION)
        StartWizard();
    else
        StartConsole();

    // The icon appears once the desktop has a notification area; without one the settings
    // window shows, and a second start of the program reaches it.
    if (m_pTrayPresence) {
        QPointer<CTolvaMusicTransferDlg> pSelf(this);
        m_pTrayPresence->WhenAvailable(
            [pSelf](bool bAvailable) {
                if (!pSelf)
                    return;
                if (bAvailable) {
                    pSelf->m_pTray->Attach();
                    pSelf->RefreshTray();
                } else {
                    WriteLog("No notification area: the settings window shows.");
                    pSelf->m_bShowWindow = true;
                    pSelf->showNormal();
                }
            },
            kTrayHostWaitMs);
    }
}

void CTolvaMusicTransferDlg::StartConsole()
{
    SendMessage(CWindowMessage(WM_SET_TRAY_ICON, 0, GetAutoTransfer() ? IDI_TRAY_AUTO_ON : IDI_TRAY_AUTO_OFF));
    m_pMenuBar->show();
    for (QPushButton* pButton : {m_pUi->btnNext, m_pUi->btnPrev, m_pUi->btnEnd}) {
        pButton->hide();
        pButton->setEnabled(false);
    }
    m_pUi->btnApply->setEnabled(false);
    if (m_eDM == DM_CONSOLE_NO_DEVICE) {
        SetLabelStates(SEL_FOCUS_SELECTED, SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_UNAVAILABLE);
        SetPageMenuEnabled(true, false, false);
    } else {
        SetLabelStates(SEL_FOCUS_SELECTED, SEL_FOCUS_NORMAL, SEL_FOCUS_NORMAL);
        SetPageMenuEnabled(true, true, true);
    }
    m_pUi->btnOK->setFocus();

    m_bAutoStartExisted = AutoStartExists();
    if (m_bAutoStartExisted) {
        // Started at logon: the last selection is kept for a minute before it is given up.
        m_timers.SetTimer(this, TIMER_ID_ON_SHOW_PANEL, kShowPanelTimerMs, [this] { OnShowPanelTimer(); });
        m_bInTimer = true;
        m_pPageConnection->SetTimerFlag(true);
    } else {
        WriteAutoStart(AutoStartCommandLine());
        if (!GetCurrentDevId().isEmpty()) {
            m_bWaitDlgOpen = true;
            RunWaitDialog();
        }
    }
}

void CTolvaMusicTransferDlg::StartWizard()
{
    m_bWizardThisRun = true;
    WipeAppDataFolder();
    m_pMenuBar->hide();
    m_pUi->btnPrev->setEnabled(false);
    m_pUi->btnNext->setEnabled(false);
    for (QPushButton* pButton : {m_pUi->btnOK, m_pUi->btnCancel, m_pUi->btnApply}) {
        pButton->hide();
        pButton->setEnabled(false);
    }
    m_pUi->btnEnd->setFocus();
    SetLabelStates(SEL_FOCUS_NORMAL, SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_UNAVAILABLE);
}

bool CTolvaMusicTransferDlg::IsOwnAppDataFolder(const QString& sFolder)
{
    // Nothing outside the program's own folder may ever go: the folder must be absolute, below
    // some folder of the user, and end in the program's own folder names.
    const QString sClean = QDir::cleanPath(sFolder);
    const QString sOwnSuffix = QStringLiteral("/Brenvik Corporation/TolvaMusicTransfer");
    return QDir::isAbsolutePath(sFolder) && sClean.endsWith(sOwnSuffix) && sClean != sOwnSuffix &&
           !sFolder.contains(QLatin1String("/../")) && !sFolder.endsWith(QLatin1String("/.."));
}

bool CTolvaMusicTransferDlg::WipeAppDataFolder()
{
    const QString sFolder = AppDataFolder();
    const QString sClean = QDir::cleanPath(sFolder);
    if (!IsOwnAppDataFolder(sFolder)) {
        WriteLog("WipeAppDataFolder: refused, the application data folder is not the program's own: " + sFolder);
        return false;
    }
    QDir dir(sClean);
    if (!dir.exists())
        return true;
    // Read-only files go too: make every entry writable before removing the tree.
    QDirIterator it(sClean, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString sPath = it.next();
        if (it.fileInfo().isSymLink())
            continue;
        QFileDevice::Permissions permissions =
            QFile::permissions(sPath) | QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        if (it.fileInfo().isDir())
            permissions |= QFileDevice::ExeOwner;
        QFile::setPermissions(sPath, permissions);
    }
    const bool bRemoved = dir.removeRecursively();
    if (!bRemoved)
        WriteLog("WipeAppDataFolder: the application data folder could not be removed completely.");
    return bRemoved;
}

void CTolvaMusicTransferDlg::SetTexts()
{
    setWindowTitle(m_texts[101]);
    m_pUi->btnOK->setText(m_texts[106]);
    m_pUi->btnCancel->setText(m_texts[107]);
    m_pUi->btnApply->setText(m_texts[108]);
    m_pUi->btnHelp->setText(m_texts[165]);
    m_pUi->btnExplore->setText(m_texts[244]);
    m_pUi->btnPrev->setText(m_texts[140]);
    m_pUi->btnNext->setText(m_texts[141]);
    m_pUi->btnEnd->setText(m_texts[142]);
    // Every button is at least the platform's usual width and keeps room around its text in
    // every language.
    for (QPushButton* pButton : findChildren<QPushButton*>()) {
        int nTextWidth = 0;
        for (const QString& sLine : pButton->text().split('\n'))
            nTextWidth = std::max(nTextWidth, pButton->fontMetrics().horizontalAdvance(sLine));
        pButton->setMinimumWidth(std::max(kMinButtonWidth, nTextWidth + 2 * kButtonTextPadding));
    }

    QFont labelFont = font();
    labelFont.setPixelSize(kLabelFontPixelSize);
    labelFont.setWeight(QFont::Weight(kLabelFontWeight));
    const std::pair<CSelFocus*, unsigned> labels[] = {
        {m_pUi->labelConnection, 102}, {m_pUi->labelContents, 103}, {m_pUi->labelTransfer, 104}};
    for (const auto& [pLabel, nTextId] : labels) {
        pLabel->setFont(labelFont);
        pLabel->SetText(m_texts[nTextId]);
    }

    m_pMenu->setTitle(m_texts[164]);
    m_actions[ID_PAGE_CONNECTION]->setText(m_texts[102]);
    m_actions[ID_PAGE_CONTENTS]->setText(m_texts[103]);
    m_actions[ID_PAGE_TRANSFER]->setText(m_texts[104]);
    m_actions[ID_HELP]->setText(QString("%1(H)\tAlt+H").arg(m_texts[165]));
    m_actions[ID_ABOUT]->setText(QString("%1(A)\tAlt+A").arg(m_texts[166]));
    m_actions[ID_EXIT]->setText(QString("%1(E)\tAlt+E").arg(m_texts[167]));
    UpdateDeviceText();
}

void CTolvaMusicTransferDlg::BuildMenu()
{
    m_pMenuBar = new QMenuBar(this);
    m_pMenuBar->setObjectName("mainMenu");
    m_pMenuBar->setAccessibleName("Menu (121)");
    m_pMenuBar->setNativeMenuBar(false);
    layout()->setMenuBar(m_pMenuBar);
    m_pMenu = m_pMenuBar->addMenu(QString());
    m_pMenu->setObjectName("menuMain");
    const auto add = [this](unsigned nId, const char* pszName) {
        QAction* pAction = m_pMenu->addAction(QString());
        pAction->setObjectName(pszName);
        connect(pAction, &QAction::triggered, this, [this, nId] { OnCommand(nId); });
        m_actions[nId] = pAction;
    };
    add(ID_PAGE_CONNECTION, "actionConnection");
    add(ID_PAGE_CONTENTS, "actionContents");
    add(ID_PAGE_TRANSFER, "actionTransfer");
    m_pMenu->addSeparator();
    add(ID_HELP, "actionHelp");
    add(ID_ABOUT, "actionAbout");
    m_pMenu->addSeparator();
    add(ID_EXIT, "actionExit");
}

void CTolvaMusicTransferDlg::ConnectControls()
{
    const std::pair<QPushButton*, unsigned> buttons[] = {
        {m_pUi->btnOK, IDC_OK},     {m_pUi->btnCancel, IDC_CANCEL},   {m_pUi->btnApply, IDC_APPLY},
        {m_pUi->btnHelp, IDC_HELP}, {m_pUi->btnExplore, IDC_EXPLORE}, {m_pUi->btnNext, IDC_NEXT},
        {m_pUi->btnPrev, IDC_PREV}, {m_pUi->btnEnd, IDC_END}};
    for (const auto& [pButton, nId] : buttons)
        connect(pButton, &QPushButton::clicked, this, [this, nId = nId] { OnCommand(nId); });
    connect(m_pUi->labelConnection, &CSelFocus::Clicked, this,
            [this] { OnLabelClicked(CPropertyTreePageConnection::kTemplateId); });
    connect(m_pUi->labelContents, &CSelFocus::Clicked, this,
            [this] { OnLabelClicked(CPropertyTreePageContentsSettings::kTemplateId); });
    connect(m_pUi->labelTransfer, &CSelFocus::Clicked, this,
            [this] { OnLabelClicked(CPropertyTreePageSyncSettings::kTemplateId); });
}

// ---------------------------------------------------------------------------------------------
// Controls and state

CSelFocus* CTolvaMusicTransferDlg::Label(unsigned nId) const
{
    switch (nId) {
    case CPropertyTreePageConnection::kTemplateId:
    case IDC_LABEL_CONNECTION: return m_pUi->labelConnection;
    case CPropertyTreePageContentsSettings::kTemplateId:
    case IDC_LABEL_CONTENTS: return m_pUi->labelContents;
    case CPropertyTreePageSyncSettings::kTemplateId:
    case IDC_LABEL_TRANSFER: return m_pUi->labelTransfer;
    default: return nullptr;
    }
}

int CTolvaMusicTransferDlg::LabelState(unsigned nId) const
{
    const CSelFocus* pLabel = Label(nId);
    return pLabel ? pLabel->State() : -1;
}

QPushButton* CTolvaMusicTransferDlg::Button(unsigned nId) const
{
    switch (nId) {
    case IDC_OK: return m_pUi->btnOK;
    case IDC_CANCEL: return m_pUi->btnCancel;
    case IDC_APPLY: return m_pUi->btnApply;
    case IDC_HELP: return m_pUi->btnHelp;
    case IDC_EXPLORE: return m_pUi->btnExplore;
    case IDC_NEXT: return m_pUi->btnNext;
    case IDC_PREV: return m_pUi->btnPrev;
    case IDC_END: return m_pUi->btnEnd;
    default: return nullptr;
    }
}

QAction* CTolvaMusicTransferDlg::MenuAction(unsigned nId) const
{
    const auto it = m_actions.find(nId);
    return it == m_actions.end() ? nullptr : it->second;
}

QWidget* CTolvaMusicTransferDlg::LabelFrame() const
{
    return m_pUi->labelFrame;
}

void CTolvaMusicTransferDlg::SetLabelStates(int nConnection, int nContents, int nTransfer)
{
    m_pUi->labelConnection->SetState(nConnection);
    m_pUi->labelContents->SetState(nContents);
    m_pUi->labelTransfer->SetState(nTransfer);
}

void CTolvaMusicTransferDlg::SetPageMenuEnabled(bool bConnection, bool bContents, bool bTransfer)
{
    m_actions[ID_PAGE_CONNECTION]->setEnabled(bConnection);
    m_actions[ID_PAGE_CONTENTS]->setEnabled(bContents);
    m_actions[ID_PAGE_TRANSFER]->setEnabled(bTransfer);
}

bool CTolvaMusicTransferDlg::IsModalOpen() const
{
    return m_presenter.IsOpen() || QApplication::activeModalWidget() != nullptr;
}

void CTolvaMusicTransferDlg::setVisible(bool bVisible)
{
    // While the window may not be shown (hidden by OK, Cancel or the close box, or started at
    // logon) every attempt to show it is ignored; Setup Console allows it again.
    if (bVisible && !m_bShowWindow)
        return;
    CPropertyTreeDlg::setVisible(bVisible);
}

// ---------------------------------------------------------------------------------------------
// Messages

bool CTolvaMusicTransferDlg::PostMessage(CWindowMessage msg)
{
    return m_port.PostMessage(std::move(msg));
}

std::intptr_t CTolvaMusicTransferDlg::SendMessage(CWindowMessage msg)
{
    return m_port.SendMessage(std::move(msg));
}

void CTolvaMusicTransferDlg::UpdateDeviceInfo(const SDeviceChange& change)
{
    // Called on the device search thread; the page is touched on the window's thread only, and
    // not at all once the window stopped taking messages.
    m_port.PostCall([this, change] {
        if (change.eCode == DEVICE_ADDED || change.eCode == DEVICE_IP_CHANGED || change.eCode == DEVICE_NAME_CHANGED)
            m_pPageConnection->UpdateDeviceInfo(change);
        WriteLog("Level UpdateDeviceInfo.\n");
    });
}

void CTolvaMusicTransferDlg::SelectDeviceManual(const QString& sUuid, const QString& sIp)
{
    m_port.PostCall([this, sUuid, sIp] {
        WriteLog("eeeeeeeeeeeee SelectDeviceManual");
        m_pPageConnection->SelectDeviceManual(sUuid, sIp);
    });
}

std::intptr_t CTolvaMusicTransferDlg::HandleMessage(CWindowMessage& msg)
{
    const auto text = [&msg]() -> QString {
        const QString* ps = msg.Payload<QString>();
        return ps ? *ps : QString();
    };
    switch (msg.nMessage) {
    case WM_TRAY_NOTIFY: OnTrayNotification(msg.wParam, msg.lParam); return 0;
    case WM_SELECT_DEVICE_CARD: {
        const QString sUuid = text();
        if (sUuid.isEmpty() || !m_commonManager.DeviceManager().FindDevice(sUuid))
            return 1;
        // Refused while the selected device transfers.
        if (!m_commonManager.SelectDevice(sUuid))
            return 1;
        m_sSelDeviceUuid = sUuid;
        m_bManualTransferGreyed = false;
        RefreshTray();
        return 0;
    }
    case WM_TRANSFER_FINISHED: ChangeTransferState(static_cast<int>(msg.lParam)); return 0;
    case WM_SET_TRAY_ICON:
        if (msg.lParam != 0) {
            m_nTrayIconId = static_cast<unsigned>(msg.lParam);
            m_pTray->SetIcon(m_nTrayIconId);
        }
        return 0;
    case WM_CHANGE_MODE: ChangeMode(static_cast<int>(msg.wParam), static_cast<int>(msg.lParam)); return 0;
    case WM_DEVICE_NOT_FOUND: OfferDeviceOffline(); return 0;
    case WM_ENABLE_NEXT:
        m_pUi->btnNext->setEnabled(msg.lParam != 0);
        if (msg.lParam != 0)
            m_pUi->btnNext->setFocus();
        return 0;
    case WM_SET_OFFLINE_PROMPT_DONE: m_bOfflinePromptDone = msg.lParam != 0; return 0;
    case WM_SET_DEVICE_PICTURE_TEXT: {
        // Payload: model name and IP address.
        if (const auto* pPair = msg.Payload<std::pair<QString, QString>>()) {
            m_strModel = pPair->first;
            m_strIpAddress = pPair->second;
        } else {
            m_strModel.clear();
            m_strIpAddress.clear();
        }
        UpdateDeviceText();
        return 0;
    }
    case WM_CLOSE_WAIT_DIALOG:
        if (m_bWaitDlgOpen) {
            m_bWaitDlgOpen = false;
            CloseWaitDialog();
        }
        return 0;
    case WM_SET_TRANSFER_DEVICE_NAME: m_pPageSync->SetDeviceName(text()); return 0;
    case WM_DISK_FULL:
        if (m_bShowWindow) {
            CloseOpenMessageBox();
            m_presenter.Show(this, Box(152, MSG_BUTTONS_OK, MSG_ICON_ERROR));
        }
        return 0;
    case WM_RELOAD_SAVED_LISTS: m_pPageContents->ReloadSavedLists(text()); return 0;
    case WM_ENABLE_CANCEL: m_pUi->btnCancel->setEnabled(msg.lParam != 0); return 0;
    case WM_SETTINGS_CHANGED:
        if (!IsWizardMode(m_eDM))
            m_pUi->btnApply->setEnabled(IsAnySettingChanged());
        return 0;
    case WM_SHOW_EXPLORE: {
        const QString* psPath = msg.Payload<QString>();
        SetShowExplore(psPath, msg.lParam != 0);
        return 0;
    }
    case WM_DEVICE_REMOVED: DeviceOffLine(text()); return 0;
    case WM_CONTENTS_NEXT:
        if (m_eDM == DM_WIZARD_CONTENTS)
            OnNext();
        return 0;
    case WM_SET_START_TRANSFER_OFFER:
        m_bStartTransferOffer = msg.lParam != 0;
        if (m_pWizardEndDlg && m_pWizardEndDlg->IsOpen())
            m_pWizardEndDlg->SetStartAllowed(m_bStartTransferOffer);
        return 0;
    case WM_SET_CONTENTS_DIALOG_OPEN: m_bContentsDlgOpen = msg.lParam != 0; return 0;
    case WM_QUERY_CONTENTS_UNMODIFIED:
        if (IsWizardMode(m_eDM))
            return 1;
        return !m_pPageContents->IsFolderListModified() && !m_pPageContents->IsExtensionListModified() ? 1 : 0;
    case WM_SET_IN_TIMER:
        m_bManualTransferGreyed = false;
        RefreshTray();
        m_bInTimer = msg.lParam != 0;
        m_timers.KillTimer(this, TIMER_ID_ON_SHOW_PANEL);
        return 0;
    case WM_QUERY_MANUAL_TRANSFER_GREY: return m_sSelDeviceUuid.isEmpty() || IsModalOpen() ? 1 : 0;
    case WM_REFRESH_CONTENTS_PAGE: m_pPageContents->Refresh(); return 0;
    case WM_QUERY_MODAL_OPEN: return IsModalOpen() ? 1 : 0;
    case WM_CLAMP_MINUTES: m_pPageSync->ClampMinutes(); return 0;
    case WM_CONNECTION_PAGE_TEXT: return m_pPageConnection->OnSelectionText(text());
    case WM_MANUAL_ADD_NO_DESCRIPTION: m_pPageConnection->ReportManualAddNoDescription(); return 0;
    case WM_MANUAL_ADD_FINISHED: m_pPageConnection->OnManualAddFinished(); return 0;
    case WM_LOCK_WINDOW: LockWindow(text() == QLatin1String("1")); return 0;
    case WM_FORWARD_TO_OFFLINE_DIALOG: return ForwardToOfflineDialog(WM_OFFLINE_DIALOG_NOTICE);
    case WM_OFFLINE_DIALOG_RESCAN: return ForwardToOfflineDialog(WM_OFFLINE_DIALOG_RESCAN);
    default: return 0;
    }
}

void CTolvaMusicTransferDlg::ChangeMode(int nNewMode, int nSecond)
{
    m_eDM = static_cast<EDisplayMode>(nNewMode);
    switch (nNewMode) {
    case DM_CONSOLE:
        if (nSecond == 0 || nSecond == 1) {
            SetLabelStates(SEL_FOCUS_SELECTED, SEL_FOCUS_NORMAL, SEL_FOCUS_NORMAL);
            SetPageMenuEnabled(true, true, true);
        } else if (nSecond == 2) {
            SetLabelStates(SEL_FOCUS_NORMAL, SEL_FOCUS_NORMAL, SEL_FOCUS_SELECTED);
            SetPageMenuEnabled(true, true, true);
        }
        break;
    case DM_CONSOLE_NO_DEVICE:
        if (nSecond >= 0 && nSecond <= 2) {
            SetLabelStates(SEL_FOCUS_SELECTED, SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_UNAVAILABLE);
            SetPageMenuEnabled(true, false, false);
        }
        break;
    case DM_CONSOLE_TRANSFER:
        if (nSecond == 0) {
            SetLabelStates(SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_SELECTED);
            SetPageMenuEnabled(false, false, true);
        }
        break;
    case DM_WIZARD_CONNECTION:
        if (nSecond == 4 || nSecond == 5)
            SetLabelStates(SEL_FOCUS_NORMAL, SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_UNAVAILABLE);
        break;
    case DM_WIZARD_TRANSFER:
    case DM_WIZARD_TRANSFERRING:
        // A transfer on the wizard's last step begins or ends: that step stays the current one.
        if (nSecond == DM_WIZARD_TRANSFER || nSecond == DM_WIZARD_TRANSFERRING)
            SetLabelStates(SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_NORMAL);
        break;
    default: break;
    }
    update();
}

void CTolvaMusicTransferDlg::SetShowExplore(const QString* psIconPath, bool bShow)
{
    m_pUi->btnExplore->setVisible(bShow);
    const QString sPath = psIconPath && QFileInfo::exists(*psIconPath) ? *psIconPath : QString();
    m_pUi->devicePicture->SetPicturePath(sPath);
    m_pUi->devicePicture->SetDisplay(bShow);
    UpdateDeviceText();
}

void CTolvaMusicTransferDlg::UpdateDeviceText()
{
    const bool bShow = !m_strModel.isEmpty() || !m_strIpAddress.isEmpty();
    m_pUi->modelText->setText(bShow ? m_texts[177] + ' ' + m_strModel : QString());
    m_pUi->ipText->setText(bShow ? m_texts[178] + ' ' + m_strIpAddress : QString());
}

void CTolvaMusicTransferDlg::LockWindow(bool bLock)
{
    QPushButton* const apButtons[] = {m_pUi->btnOK, m_pUi->btnCancel, m_pUi->btnApply};
    CSelFocus* const apLabels[] = {m_pUi->labelConnection, m_pUi->labelContents, m_pUi->labelTransfer};
    if (bLock) {
        m_bLabelsEnabled = false;
        m_pPageConnection->SetScrollBarLocked(true);
        for (int i = 0; i < 3; ++i)
            m_lockSaved.aLabels[i] = apLabels[i]->State();
        m_lockSaved.bOk = apButtons[0]->isEnabled();
        m_lockSaved.bCancel = apButtons[1]->isEnabled();
        m_lockSaved.bApply = apButtons[2]->isEnabled();
        SetLabelStates(SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_UNAVAILABLE);
        for (QPushButton* pButton : apButtons)
            pButton->setEnabled(false);
    } else {
        m_pPageConnection->SetScrollBarLocked(false);
        SetLabelStates(m_lockSaved.aLabels[0], m_lockSaved.aLabels[1], m_lockSaved.aLabels[2]);
        apButtons[0]->setEnabled(m_lockSaved.bOk);
        apButtons[1]->setEnabled(m_lockSaved.bCancel);
        apButtons[2]->setEnabled(m_lockSaved.bApply);
        m_bLabelsEnabled = true;
    }
}

// ---------------------------------------------------------------------------------------------
// Commands

void CTolvaMusicTransferDlg::OnCommand(unsigned nId)
{
    switch (nId) {
    case IDC_OK: OnOK(); break;
    case IDC_CANCEL: OnCancel(); break;
    case IDC_APPLY: OnApply(); break;
    case IDC_HELP:
    case ID_HELP: OnHelp(); break;
    case IDC_EXPLORE:
    case ID_EXPLORE: OnExplore(); break;
    case IDC_NEXT: OnNext(); break;
    case IDC_PREV: OnPrev(); break;
    case IDC_END: OnWizardEnd(); break;
    case ID_EXIT: OnExit(); break;
    case ID_SETUP_CONSOLE: OnSetupConsole(); break;
    case ID_ABOUT:
        if (!IsModalOpen())
            RunAboutBox();
        break;
    case ID_MANUAL_TRANSFER:
        if (!IsModalOpen() && !m_sSelDeviceUuid.isEmpty())
            m_pPageSync->StartOrStopTransfer();
        break;
    case ID_PAGE_CONNECTION: SelectPage(CPropertyTreePageConnection::kTemplateId); break;
    case ID_PAGE_CONTENTS: SelectPage(CPropertyTreePageContentsSettings::kTemplateId); break;
    case ID_PAGE_TRANSFER: SelectPage(CPropertyTreePageSyncSettings::kTemplateId); break;
    case ID_TO_FOREGROUND: {
        raise();
        activateWindow();
        if (QWidget* pModal = QApplication::activeModalWidget()) {
            pModal->raise();
            pModal->activateWindow();
        }
        break;
    }
    default: break;
    }
}

void CTolvaMusicTransferDlg::SelectPage(unsigned nPageId)
{
    if (m_nCurPageId == nPageId)
        return;
    ShowPage(nPageId);
    m_pUi->labelConnection->SetState(nPageId == CPropertyTreePageConnection::kTemplateId ? SEL_FOCUS_SELECTED
                                                                                         : SEL_FOCUS_NORMAL);
    m_pUi->labelContents->SetState(nPageId == CPropertyTreePageContentsSettings::kTemplateId ? SEL_FOCUS_SELECTED
                                                                                             : SEL_FOCUS_NORMAL);
    m_pUi->labelTransfer->SetState(nPageId == CPropertyTreePageSyncSettings::kTemplateId ? SEL_FOCUS_SELECTED
                                                                                         : SEL_FOCUS_NORMAL);
    if (nPageId != CPropertyTreePageSyncSettings::kTemplateId)
        m_pPageSync->ClearStatusText();
}

void CTolvaMusicTransferDlg::OnLabelClicked(unsigned nPageId)
{
    if (m_eDM != DM_CONSOLE || !m_bLabelsEnabled)
        return;
    m_pUi->btnOK->setFocus();
    SelectPage(nPageId);
}

bool CTolvaMusicTransferDlg::IsAnySettingChanged()
{
    return m_pPageContents->IsFolderListModified() || m_pPageContents->IsExtensionListModified() ||
           m_pPageSync->IsAutoTransferModified() || m_pPageSync->IsMinutesModified() ||
           m_pPageSync->IsPriorityModified() || m_pPageSync->IsDestinationModified();
}

void CTolvaMusicTransferDlg::SaveAllSettings()
{
    CommitContentsLists();
    m_pPageSync->CommitValues();
    m_pPageSync->ApplySyncSettings();
}

// Writes the Contents Settings page's lists. One that could not be written is told at once: the
// transfer would otherwise run on the lists saved before, while the page shows the new ones.
void CTolvaMusicTransferDlg::CommitContentsLists()
{
    if (m_pPageContents->CommitLists())
        return;
    WriteLog("The watched folders or file types could not be written.");
    m_presenter.Show(this, ListsNotWrittenBox(AppDataFolder()));
}

void CTolvaMusicTransferDlg::OnApply()
{
    SaveAllSettings();
    m_pUi->btnApply->setEnabled(false);
    if (!IsModalOpen())
        m_presenter.Show(this, Box(182));
}

void CTolvaMusicTransferDlg::OnOK()
{
    WriteLog("void CTolvaMusicTransferDlg::OnOK().\n");
    m_bShowWindow = false;
    hide();
    SaveAllSettings();
    SendMessage(CWindowMessage(WM_SETTINGS_CHANGED));
}

void CTolvaMusicTransferDlg::OnClose()
{
    WriteLog("void CTolvaMusicTransferDlg::OnClose() .\n");
    m_bShowWindow = false;
    hide();
    SaveAllSettings();
    SendMessage(CWindowMessage(WM_SETTINGS_CHANGED));
}

void CTolvaMusicTransferDlg::OnCancel()
{
    if (IsAnySettingChanged() && !m_sSelDeviceUuid.isEmpty()) {
        if (m_presenter.Show(this, Box(175, MSG_BUTTONS_YESNO, MSG_ICON_WARNING, IDNO)) != IDYES)
            return;
        if (m_pPageContents->IsFolderListModified())
            m_pPageContents->RevertFolderList();
        if (m_pPageContents->IsExtensionListModified())
            m_pPageContents->RevertExtensionList();
        if (m_pPageSync->IsAutoTransferModified())
            m_pPageSync->RevertAutoTransfer();
        if (m_pPageSync->IsMinutesModified())
            m_pPageSync->RevertMinutes();
        if (m_pPageSync->IsPriorityModified())
            m_pPageSync->RevertPriority();
        if (m_pPageSync->IsDestinationModified())
            m_pPageSync->RevertDestination();
    }
    WriteLog("void CTolvaMusicTransferDlg::OnCancel().\n");
    m_bShowWindow = false;
    hide();
    m_pUi->btnApply->setEnabled(false);
    m_pPageContents->RefreshSelectAll();
}

void CTolvaMusicTransferDlg::reject()
{
    // Esc and the dialog's own reject never end the window; Cancel (2) runs the protocol.
}

void CTolvaMusicTransferDlg::closeEvent(QCloseEvent* pEvent)
{
    // The window is never destroyed by its close box: in the console it hides like OK, in the
    // wizard it asks to end the wizard.
    pEvent->ignore();
    if (IsConsoleMode(m_eDM))
        OnClose();
    else if (m_eDM >= DM_WIZARD_CONNECTION && m_eDM <= DM_WIZARD_TRANSFER)
        OnWizardEnd();
}

bool CTolvaMusicTransferDlg::IsSettingsFileUnreadable()
{
    const QString sPath = CSettingsStore::DefaultFilePath();
    const QFileInfo info(sPath);
    if (!info.exists())
        return false;
    QFile file(sPath);
    if (info.isDir() || !file.open(QIODevice::ReadOnly))
        return true;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    return error.error != QJsonParseError::NoError || !doc.isObject();
}

QString CTolvaMusicTransferDlg::HelpPagePath()
{
    // Beside the program in the build, under share/ when installed.
    const QString sDir = QCoreApplication::applicationDirPath();
    for (const QString& sCandidate :
         {sDir + "/help/index.html", sDir + "/../share/tolva-music-transfer/help/index.html"}) {
        if (QFileInfo::exists(sCandidate))
            return QFileInfo(sCandidate).canonicalFilePath();
    }
    return QString();
}

void CTolvaMusicTransferDlg::OnHelp()
{
    const QString sPath = HelpPagePath();
    if (sPath.isEmpty()) {
        WriteLog("OnHelp: the help page is missing.");
        return;
    }
    // A missing browser is ignored.
    m_shell.Open(QUrl::fromLocalFile(sPath).toString(), {});
}

void CTolvaMusicTransferDlg::OnActiveApp()
{
    WriteLog("LRESULT CTolvaMusicTransferDlg::OnActiveApp(WPARAM wParam, LPARAM lParam");
    OnCommand(ID_SETUP_CONSOLE);
}

void CTolvaMusicTransferDlg::OnSetupConsole()
{
    m_bShowWindow = true;
    raise();
    activateWindow();
    if (QWidget* pModal = QApplication::activeModalWidget()) {
        pModal->raise();
        pModal->activateWindow();
    }
    if (m_bInTimer) {
        m_timers.KillTimer(this, TIMER_ID_ON_SHOW_PANEL);
        WriteLog("KillTimer(TIMER_ID_ON_SHOW_PANEL) 4444444444444444\n");
        m_bInTimer = false;
        m_pPageConnection->SetTimerFlag(false);
        m_sSelDeviceUuid.clear();
        m_pPageContents->SetSelectedDevice(QString());
        WriteLog("if (m_bInTimer). Set m_sSelDeviceUuid.empty().\n");
    }
    if (!IsModalOpen()) {
        showNormal();
        raise();
        activateWindow();
    }
}

void CTolvaMusicTransferDlg::OnShowPanelTimer()
{
    m_timers.KillTimer(this, TIMER_ID_ON_SHOW_PANEL);
    m_bInTimer = false;
    m_pPageConnection->SetTimerFlag(false);
    m_sSelDeviceUuid.clear();
    m_pPageContents->SetSelectedDevice(QString());
}

void CTolvaMusicTransferDlg::CloseOpenMessageBox()
{
    if (!IsModalOpen())
        return;
    if (m_presenter.CloseOpen())
        return;
    // The program's own small dialogs carry the product name as title, the About box its own;
    // while the Contents Settings page has the folder browser open, that is the one to end.
    QDialog* pFound = nullptr;
    for (const QString& sTitle : {m_texts[101], m_texts[136]}) {
        for (QWidget* pWidget : QApplication::topLevelWidgets()) {
            auto* pDialog = qobject_cast<QDialog*>(pWidget);
            if (pDialog && pDialog != this && pDialog->isVisible() && pDialog->windowTitle() == sTitle) {
                pFound = pDialog;
                break;
            }
        }
        if (pFound)
            break;
    }
    if (!pFound && m_bContentsDlgOpen)
        pFound = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (pFound)
        pFound->done(IDNO);
}

void CTolvaMusicTransferDlg::OnExit()
{
    CloseOpenMessageBox();
    if (m_bTransferring) {
        if (m_presenter.Show(this, Box(155, MSG_BUTTONS_YESNO, MSG_ICON_WARNING, IDNO)) != IDYES)
            return;
        if (m_bTransferring) {
            m_pPageSync->StartOrStopTransfer();
            m_bQuitAfterTransfer = true;
            if (AutoStartExists())
                DeleteAutoStart();
        } else {
            if (AutoStartExists())
                DeleteAutoStart();
            Quit();
        }
    } else {
        if (m_presenter.Show(this, Box(160, MSG_BUTTONS_YESNO, MSG_ICON_NONE, IDNO)) != IDYES)
            return;
        if (AutoStartExists())
            DeleteAutoStart();
        Quit();
    }
    // Unsaved page edits are kept.
    CommitContentsLists();
    m_pPageSync->ApplySyncSettings(false); // quitting: no note about the priority any more
}

void CTolvaMusicTransferDlg::Quit()
{
    m_bQuitRequested = true;
    // Ends the program's event loop (and a message box's loop around it). Without a running loop
    // there is nothing to end, and start-up's Run() sees the request; exit() would otherwise
    // leave every later local event loop of this thread refusing to run.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
}

// ---------------------------------------------------------------------------------------------
// The setup wizard's buttons

void CTolvaMusicTransferDlg::StoreCurrentSelection()
{
    SetCurrentDevId(m_pPageConnection->SelectedDeviceUuid());
    SetCurrentDevIP(m_pPageConnection->SelectedDeviceIp());
}

void CTolvaMusicTransferDlg::OnNext()
{
    if (m_eDM == DM_WIZARD_CONNECTION) {
        m_eDM = DM_WIZARD_CONTENTS;
        SetLabelStates(SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_NORMAL, SEL_FOCUS_UNAVAILABLE);
        m_pUi->btnPrev->setEnabled(true);
        ShowPage(CPropertyTreePageContentsSettings::kTemplateId);
        StoreCurrentSelection();
        const QString sUuid = GetCurrentDevId();
        if (!sUuid.isEmpty() && m_commonManager.DeviceManager().FindDevice(sUuid))
            m_commonManager.SelectDevice(sUuid);
    } else if (m_eDM == DM_WIZARD_CONTENTS) {
        m_eDM = DM_WIZARD_TRANSFER;
        m_pPageSync->ClearStatusText();
        SetLabelStates(SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_NORMAL);
        m_pUi->btnNext->setEnabled(false);
        m_pPageSync->ShowTransferredFilesList(false);
        CommitContentsLists();
        ShowPage(CPropertyTreePageSyncSettings::kTemplateId);
        m_pUi->btnEnd->setFocus();
    }
}

void CTolvaMusicTransferDlg::OnPrev()
{
    if (m_eDM == DM_WIZARD_CONTENTS) {
        m_eDM = DM_WIZARD_CONNECTION;
        m_pUi->btnPrev->setEnabled(false);
        ShowPage(CPropertyTreePageConnection::kTemplateId);
        m_pUi->btnNext->setFocus();
        SetLabelStates(SEL_FOCUS_NORMAL, SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_UNAVAILABLE);
    } else if (m_eDM == DM_WIZARD_TRANSFER) {
        m_eDM = DM_WIZARD_CONTENTS;
        m_pUi->btnNext->setEnabled(true);
        m_pPageSync->ClearStatusText();
        ShowPage(CPropertyTreePageContentsSettings::kTemplateId);
        SetLabelStates(SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_NORMAL, SEL_FOCUS_UNAVAILABLE);
    }
}

void CTolvaMusicTransferDlg::OnWizardEnd()
{
    if (m_nCurPageId != CPropertyTreePageSyncSettings::kTemplateId) {
        if (m_presenter.Show(this, Box(174, MSG_BUTTONS_YESNO, MSG_ICON_NONE, IDNO)) != IDYES)
            return;
        StoreCurrentSelection();
        CommitContentsLists();
    }
    const int nResult = RunWizardEndDialog();
    if (nResult == IDNO)
        return; // closed by a newer message: the wizard goes on

    m_pPageSync->CommitValues();
    m_pPageSync->ApplySyncSettings();
    m_pPageSync->ClearStatusText();
    WriteSettingDword(kSettingFirstRun, 0);
    m_pMenuBar->show();

    const QString sUuid = GetCurrentDevId();
    if (!sUuid.isEmpty()) {
        m_eDM = DM_CONSOLE;
        SetLabelStates(SEL_FOCUS_SELECTED, SEL_FOCUS_NORMAL, SEL_FOCUS_NORMAL);
        SetPageMenuEnabled(true, true, true);
    } else {
        m_eDM = DM_CONSOLE_NO_DEVICE;
        SetLabelStates(SEL_FOCUS_SELECTED, SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_UNAVAILABLE);
        SetPageMenuEnabled(true, false, false);
    }
    if (!sUuid.isEmpty() && m_commonManager.SelectDevice(sUuid))
        m_sSelDeviceUuid = sUuid;
    ShowPage(CPropertyTreePageConnection::kTemplateId);
    for (QPushButton* pButton : {m_pUi->btnPrev, m_pUi->btnNext, m_pUi->btnEnd}) {
        pButton->hide();
        pButton->setEnabled(false);
    }
    for (QPushButton* pButton : {m_pUi->btnOK, m_pUi->btnCancel, m_pUi->btnApply}) {
        pButton->show();
        pButton->setEnabled(true);
    }
    m_pPageSync->ShowTransferredFilesList(true);
    m_pPageConnection->Refresh();
    m_pPageContents->Refresh();
    // What the wizard shows is what the console starts from: every page setting counts as saved,
    // without writing anything more. A list that could not be written (no player chosen, a
    // failed write) must neither light Apply nor hold up the first transfer with the question
    // whether to save the settings.
    m_pPageContents->MarkListsSaved();
    m_pPageSync->CommitValues();
    m_pUi->btnOK->setFocus();
    SendMessage(CWindowMessage(WM_SETTINGS_CHANGED));
    if (nResult == IDOK)
        m_pPageSync->StartOrStopTransfer();
    WriteAutoStart(AutoStartCommandLine());
    update();
}

// ---------------------------------------------------------------------------------------------
// Keyboard

bool CTolvaMusicTransferDlg::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    // A modal dialog opening or closing over the window greys or enables the tray menu's items.
    if (pWatched == this && (pEvent->type() == QEvent::WindowBlocked || pEvent->type() == QEvent::WindowUnblocked))
        QMetaObject::invokeMethod(
            this, [this] { RefreshTray(); }, Qt::QueuedConnection);
    if (pEvent->type() == QEvent::KeyPress) {
        auto* pWidget = qobject_cast<QWidget*>(pWatched);
        if (pWidget && pWidget->window() == this && HandleKey(pWidget, static_cast<QKeyEvent*>(pEvent)))
            return true;
    }
    return CPropertyTreeDlg::eventFilter(pWatched, pEvent);
}

bool CTolvaMusicTransferDlg::HandleKey(QWidget* pTarget, QKeyEvent* pEvent)
{
    const int nKey = pEvent->key();
    if (nKey == Qt::Key_Escape)
        return true; // Esc never closes the settings window
    if (nKey == Qt::Key_Left || nKey == Qt::Key_Up) {
        // Arrows that would move the focus out of the button row into the page are swallowed.
        const bool bConnection = m_nCurPageId == CPropertyTreePageConnection::kTemplateId;
        const bool bContents = m_nCurPageId == CPropertyTreePageContentsSettings::kTemplateId;
        if (IsConsoleMode(m_eDM))
            return pTarget == m_pUi->btnOK && (bConnection || bContents);
        if (IsWizardMode(m_eDM)) {
            if (pTarget == m_pUi->btnPrev)
                return bConnection || bContents;
            if (pTarget == m_pUi->btnNext)
                return bConnection;
            if (pTarget == m_pUi->btnEnd)
                return bConnection && !m_pUi->btnNext->isEnabled();
        }
        return false;
    }
    // The accelerators work in the console only.
    if (IsConsoleMode(m_eDM) && pEvent->modifiers() == Qt::AltModifier) {
        switch (nKey) {
        case Qt::Key_H: OnCommand(ID_HELP); return true;
        case Qt::Key_A: OnCommand(ID_ABOUT); return true;
        case Qt::Key_E: OnCommand(ID_EXIT); return true;
        default: break;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Transfer state and outcome

bool CTolvaMusicTransferDlg::StartFileSync()
{
    if (m_sSelDeviceUuid.isEmpty() || m_eDM == DM_CONSOLE_NO_DEVICE || m_eDM == DM_CONSOLE_TRANSFER ||
        m_eDM == DM_WIZARD_CONNECTION || m_eDM == DM_WIZARD_CONTENTS || m_eDM == DM_WIZARD_TRANSFERRING)
        return false;
    // One transfer per profile: `tolva transfer` may be copying to the player right now, and two
    // runs would copy every file and write every history line twice. Nothing starts; the user
    // hears who holds the profile, unless an automatic start finds nobody at the window.
    auto pLock = std::make_unique<CTransferLock>();
    QString sHolder;
    if (!pLock->TryLock(&sHolder)) {
        WriteLogF("StartFileSync: another transfer holds the profile: %s.\n", qUtf8Printable(sHolder));
        if (m_bShowWindow || !m_bAutoTransfer) {
            CloseOpenMessageBox();
            m_presenter.Show(this, TransferLockedBox(sHolder));
        }
        return false;
    }
    m_pTransferLock = std::move(pLock);
    WriteLog("Enter CTolvaMusicTransferDlg::StartFileSync");
    if (m_nCurPageId != CPropertyTreePageSyncSettings::kTemplateId) {
        ShowPage(CPropertyTreePageSyncSettings::kTemplateId);
        SetLabelStates(SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_UNAVAILABLE, SEL_FOCUS_SELECTED);
    }
    if (m_eDM == DM_CONSOLE) {
        WriteLog("Set m_bCtrlTrayIcon = TRUE.");
        m_bCtrlTrayIcon = true;
        m_bTrayTransferring = true;
        m_nTrayFrame = 1;
        // The icon animates only while a console transfer runs.
        m_timers.SetTimer(this, TIMER_ID_TRAY_ANIMATION, kTrayAnimationMs, [this] { OnTrayAnimationTick(); });
        ChangeMode(DM_CONSOLE_TRANSFER, 0);
    } else if (m_eDM == DM_WIZARD_TRANSFER) {
        m_pUi->btnEnd->setEnabled(false);
        m_pUi->btnPrev->setEnabled(false);
        ChangeMode(DM_WIZARD_TRANSFERRING, 5);
    }
    RefreshTray();
    m_bTransferring = true;
    m_bResultArrived = false;
    m_commonManager.StartSync();
    return true;
}

void CTolvaMusicTransferDlg::CancelFileSync()
{
    // A user's stop is final: no automatic retry of a device that is not ready.
    m_bRetryAllowed = false;
    m_commonManager.CancelSync();
}

void CTolvaMusicTransferDlg::ChangeTransferState(int nCode)
{
    if (!m_bRetryCountRead) {
        m_bRetryCountRead = true;
        m_nRetryConfigured = static_cast<int>(std::min<DWORD>(GetDevicePowerFrequency(), 1000));
        m_nRetryLeft = m_nRetryConfigured;
    }
    if (nCode == EC_POWER_NOT_READY && m_nRetryLeft > 0 && m_bRetryAllowed) {
        --m_nRetryLeft;
        m_timers.SetTimer(this, TIMER_ID_POWER_RETRY, kPowerRetryMs, [this] {
            m_timers.KillTimer(this, TIMER_ID_POWER_RETRY);
            m_commonManager.RecheckPower();
        });
        return;
    }
    m_timers.KillTimer(this, TIMER_ID_POWER_RETRY);
    if (m_nRetryLeft == 0)
        m_commonManager.ClearCheckingPower();
    m_nRetryLeft = m_nRetryConfigured;
    m_bRetryAllowed = true;

    m_bResultArrived = true;
    // The run is over (no retry follows): the profile is free for the next transfer.
    m_pTransferLock.reset();
    m_bTrayTransferring = false;
    WriteLogF("CTolvaMusicTransferDlg::ChangeTransferState: eErrorCode = %d.\n", nCode);
    WriteLog("Set m_bCtrlTrayIcon = FALSE.");
    m_bCtrlTrayIcon = false;
    m_timers.KillTimer(this, TIMER_ID_TRAY_ANIMATION);

    m_pUi->btnCancel->setEnabled(true);
    const bool bFromPage = m_pPageSync->EndTransfer(nCode);

    const bool bAutoOn = GetAutoTransfer();
    if (bAutoOn)
        StartIdleDetection(static_cast<int>(GetAutoTransferTime()));
    else if (m_pActivity && !m_bIdleDetection)
        m_pActivity->Disarm();
    if (m_eDM == DM_CONSOLE || m_eDM == DM_CONSOLE_TRANSFER)
        SendMessage(CWindowMessage(WM_SET_TRAY_ICON, 0, bAutoOn ? IDI_TRAY_AUTO_ON : IDI_TRAY_AUTO_OFF));

    if (m_eDM == DM_WIZARD_TRANSFERRING) {
        m_pUi->btnPrev->setEnabled(true);
        m_pUi->btnEnd->setEnabled(true);
        ChangeMode(DM_WIZARD_TRANSFER, 6);
    } else if (m_eDM == DM_CONSOLE_TRANSFER) {
        ChangeMode(DM_CONSOLE, 2);
    } else if (m_eDM == DM_CONSOLE) {
        ChangeMode(DM_CONSOLE, 0);
    }

    const bool bAutomatic = m_bAutoTransfer;
    if (m_bOfflineDuringTransfer) {
        m_bOfflineDuringTransfer = false;
        SendMessage(CWindowMessage(WM_REFRESH_CONTENTS_PAGE));
        DeviceLostSteps();
        m_sSelDeviceUuid.clear();
        m_pPageContents->SetSelectedDevice(QString());
        if (m_bShowWindow) {
            CloseOpenMessageBox();
            m_presenter.Show(this, Box(153, MSG_BUTTONS_OK, MSG_ICON_ERROR));
        }
    } else {
        ShowResultMessage(nCode, bFromPage, bAutomatic);
    }

    m_bTransferring = false;
    m_bAutoTransfer = false;
    m_bCanCancel = true;
    m_pPageSync->ClearCancelRequested();
    RefreshTray();
    if (m_bQuitAfterTransfer)
        Quit();
}

void CTolvaMusicTransferDlg::ShowResultMessage(int nCode, bool bFromPage, bool bAutomatic)
{
    const CTransferManager& transfer = m_commonManager.TransferManager();
    STransferOutcome outcome;
    outcome.eCode = static_cast<eErrorCode>(nCode);
    outcome.bSomeFilesFailed = m_commonManager.IsSomeFilesFailed();
    outcome.bHistoryNotWritten = transfer.IsHistoryNotWritten();
    if (outcome.bHistoryNotWritten)
        outcome.sHistoryPath = HistoryPathFor(m_sSelDeviceUuid);
    outcome.eRepeatedRefusal = transfer.RepeatedRefusal();
    outcome.nRefusalsInARow = CTransferManager::kRefusalsInARow;
    outcome.bWindowShown = m_bShowWindow;
    outcome.bAutomatic = bAutomatic;
    outcome.bFromPage = bFromPage;
    outcome.bWindowShownAtAutoStart = m_bWindowShownAtAutoStart;
    outcome.bQuitAfterTransfer = m_bQuitAfterTransfer;
    const SMessageBox box = TransferOutcomeBox(outcome);
    if (box.nTextId == 0)
        return;
    if (outcome.bHistoryNotWritten)
        WriteLogF("ChangeTransferState: the transfer history %s could not be written.\n",
                  qUtf8Printable(outcome.sHistoryPath));
    CloseOpenMessageBox();
    m_presenter.Show(this, box);
}

void CTolvaMusicTransferDlg::DeviceLostSteps()
{
    m_strModel.clear();
    m_strIpAddress.clear();
    UpdateDeviceText();
    m_pPageSync->SetDeviceName(QString());
    SetShowExplore(nullptr, false);
    switch (m_eDM) {
    case DM_CONSOLE:
    case DM_CONSOLE_TRANSFER:
        ShowPage(CPropertyTreePageConnection::kTemplateId);
        ChangeMode(DM_CONSOLE_NO_DEVICE, 0);
        break;
    case DM_WIZARD_CONNECTION: m_pUi->btnNext->setEnabled(false); break;
    case DM_WIZARD_CONTENTS:
    case DM_WIZARD_TRANSFER:
        m_pUi->btnPrev->setEnabled(false);
        m_pUi->btnNext->setEnabled(false);
        ShowPage(CPropertyTreePageConnection::kTemplateId);
        ChangeMode(DM_WIZARD_CONNECTION, 4);
        break;
    default: break;
    }
    if (IsConsoleMode(m_eDM))
        SendMessage(CWindowMessage(WM_SET_TRAY_ICON, 0, GetAutoTransfer() ? IDI_TRAY_AUTO_ON : IDI_TRAY_AUTO_OFF));
    if (m_eDM == DM_WIZARD_CONNECTION)
        m_pUi->btnEnd->setFocus();
    else if (m_eDM == DM_CONSOLE_NO_DEVICE)
        m_pUi->btnOK->setFocus();
    m_pPageConnection->Refresh();
}

bool CTolvaMusicTransferDlg::DropDeviceFromConnectionPage(const QString& sUuid)
{
    // The page drops the card; a player that had no card counts as the selected one when the
    // window knows it as selected.
    const bool bCardSelected = m_pPageConnection->DropDevice(sUuid);
    return bCardSelected || (!sUuid.isEmpty() && sUuid == m_sSelDeviceUuid);
}

void CTolvaMusicTransferDlg::DeviceOffLine(const QString& sUuid)
{
    WriteLog("Enter CTolvaMusicTransferDlg::DeviceOffLine.\n");
    WriteLog("CTolvaMusicTransferDlg::DeviceOffLine\tsUuid = " + sUuid + ".\n");
    const bool bSelected = DropDeviceFromConnectionPage(sUuid);
    m_pPageConnection->Refresh();
    if (!bSelected)
        return;
    if (m_bTransferring && m_bCanCancel && !m_bResultArrived) {
        WriteLog("Enter is Transfering");
        m_bCanCancel = false;
        m_pPageSync->HandleCancelFileSync();
        m_bOfflineDuringTransfer = true;
        WriteLog("Leave Transfering");
        return;
    }
    WriteLog("Enter !bTransfering");
    m_bManualTransferGreyed = true;
    RefreshTray();
    m_pPageSync->ClearStatusText();
    SendMessage(CWindowMessage(WM_REFRESH_CONTENTS_PAGE));
    DeviceLostSteps();
    m_pUi->btnApply->setEnabled(false);
    CloseOpenMessageBox();
    if (m_bShowWindow) {
        const int nResult = RunOfflineDialog(true);
        if (nResult != 1) {
            m_sSelDeviceUuid.clear();
            m_pPageContents->SetSelectedDevice(QString());
        } else if (m_eDM == DM_WIZARD_CONNECTION) {
            SendMessage(CWindowMessage(WM_ENABLE_NEXT, 0, 1));
        }
    } else {
        m_sSelDeviceUuid.clear();
        m_pPageContents->SetSelectedDevice(QString());
        m_timers.SetTimer(this, TIMER_ID_ON_SHOW_PANEL, kShowPanelTimerMs, [this] { OnShowPanelTimer(); });
        m_bInTimer = true;
        m_pPageConnection->SetTimerFlag(true);
    }
    RefreshTray();
}

void CTolvaMusicTransferDlg::OfferDeviceOffline()
{
    if (m_bWizardThisRun || m_bAutoStartExisted || m_bInTimer)
        return;
    if (IsModalOpen() && m_bWaitDlgOpen) {
        m_bWaitDlgOpen = false;
        CloseWaitDialog();
    }
    if (m_bOfflinePromptDone)
        return;
    if (m_bOfflineDlgOpen) {
        // One search round is over: the open dialog goes back to its idle look.
        if (m_pOfflineDlg)
            m_pOfflineDlg->OnNotice();
        return;
    }
    const QString sCurrent = GetCurrentDevId();
    if (!sCurrent.isEmpty() && m_pPageConnection->HasCard(sCurrent))
        return;
    const int nResult = RunOfflineDialog(false);
    if (nResult == 1 || nResult == 2) {
        m_bOfflineDlgOpen = false;
        m_bOfflinePromptDone = true;
    }
}

void CTolvaMusicTransferDlg::OnExplore()
{
    if (m_bQuitAfterTransfer)
        return;
    if (m_sSelDeviceUuid.isEmpty() || m_strIpAddress.isEmpty()) {
        // The desktop's network folder: gvfs's, else KDE's.
        m_shell.Open(QStringLiteral("network:///"), [this](bool bOpened) {
            if (!bOpened)
                m_shell.Open(QStringLiteral("remote:/"), {});
        });
        return;
    }
    OpenDeviceShare(true);
}

void CTolvaMusicTransferDlg::OpenDeviceShare(bool bRetry)
{
    const QString sIp = m_strIpAddress;
    const QString sUrl = QStringLiteral("smb://%1/").arg(sIp);
    m_shell.Open(sUrl, [this, bRetry, sIp](bool bOpened) {
        if (bOpened)
            return;
        if (!bRetry) {
            // Nothing on this desktop opens network shares: tell the address to copy.
            WriteLog("OnExplore: the share could not be opened: smb://" + sIp + "/");
            if (m_bShowWindow && !IsModalOpen()) {
                SMessageBox box = Box(132);
                box.sText = LoadStringText(132) + QStringLiteral(":\nsmb://%1/").arg(sIp);
                m_presenter.Show(this, box);
            }
            return;
        }
        if (m_bExploreRunning.exchange(true))
            return;
        if (m_exploreThread.joinable())
            m_exploreThread.join();
        // The player may be asleep: wake it on a thread of its own, then try once more.
        m_exploreThread = std::thread([this] {
            const bool bAwake = m_commonManager.SetDevicePowerState();
            m_port.PostCall([this, bAwake] {
                m_bExploreRunning.store(false);
                if (bAwake && !m_bQuitAfterTransfer && !m_bQuitRequested)
                    OpenDeviceShare(false);
            });
        });
    });
}

// ---------------------------------------------------------------------------------------------
// Notification-area icon

void CTolvaMusicTransferDlg::RefreshTray()
{
    if (!m_pTray)
        return;
    const bool bModal = IsModalOpen();
    m_pTray->Refresh(m_bTrayTransferring, m_bManualTransferGreyed || m_sSelDeviceUuid.isEmpty() || bModal, bModal);
}

void CTolvaMusicTransferDlg::OnTrayAnimationTick()
{
    if (!m_bCtrlTrayIcon) {
        m_timers.KillTimer(this, TIMER_ID_TRAY_ANIMATION);
        return;
    }
    // Frames 1 to 8 show icons 211 to 218; frame 9 keeps 218 one tick longer.
    if (m_nTrayFrame <= 8)
        SendMessage(CWindowMessage(WM_SET_TRAY_ICON, 0, IDI_TRAY_FRAME_FIRST + m_nTrayFrame - 1));
    m_nTrayFrame = m_nTrayFrame >= 9 ? 1 : m_nTrayFrame + 1;
}

void CTolvaMusicTransferDlg::OnTrayNotification(std::uintptr_t, std::intptr_t lParam)
{
    switch (lParam) {
    case TRAY_MOUSE_LEFT_DOWN:
    case TRAY_MOUSE_RIGHT_UP:
        RefreshTray();
        OnCommand(ID_TO_FOREGROUND);
        if (m_pTray)
            m_pTray->PopupMenu();
        break;
    case TRAY_MOUSE_LEFT_DOUBLE: OnCommand(ID_SETUP_CONSOLE); break;
    default: break;
    }
}

// ---------------------------------------------------------------------------------------------
// Automatic transfer on idle

void CTolvaMusicTransferDlg::StartIdleDetection(int nMinutes)
{
    m_bIdleDetection = true;
    if (m_pActivity)
        m_pActivity->Arm(static_cast<std::int64_t>(std::max(nMinutes, 0)) * IdleMinuteMs());
}

void CTolvaMusicTransferDlg::StopIdleDetection()
{
    m_bIdleDetection = false;
    if (m_pActivity)
        m_pActivity->Disarm();
}

void CTolvaMusicTransferDlg::OnIdle()
{
    if (!m_bIdleDetection || m_bAutoTransfer)
        return;
    if (IsModalOpen() || m_sSelDeviceUuid.isEmpty() || m_bTransferring) {
        // Nothing starts now; the next idle period decides again.
        if (m_pActivity)
            m_pActivity->Arm(static_cast<std::int64_t>(GetAutoTransferTime()) * IdleMinuteMs());
        return;
    }
    m_bAutoTransfer = true;
    // Input stays watched while the automatic transfer runs, so that the user's return can stop
    // it; the idle report itself waits until the result re-arms the period.
    if (m_pActivity)
        m_pActivity->Arm(kWatchOnlyMs);
    m_bWindowShownAtAutoStart = m_bShowWindow;
    m_pPageSync->BeginTransferUi();
    if (!m_bTransferring) {
        // Refused (another transfer holds the profile): the next idle period tries again.
        m_bAutoTransfer = false;
        if (m_pActivity)
            m_pActivity->Arm(static_cast<std::int64_t>(GetAutoTransferTime()) * IdleMinuteMs());
    }
}

void CTolvaMusicTransferDlg::OnUserActivity(int nKind)
{
    // Without an automatic transfer the monitor has started the idle period over by itself.
    if (!m_bAutoTransfer)
        return;
    // Any input cancels an automatic transfer once, and only one that began while the window
    // was hidden and still is.
    if (m_bShowWindow || !m_bCanCancel || m_bWindowShownAtAutoStart)
        return;
    WriteLogF("HandleCancelFileSync (input %d).\n", nKind);
    m_bCanCancel = false;
    m_pPageSync->HandleCancelFileSync();
}

// ---------------------------------------------------------------------------------------------
// Seams: the work of these belongs to the message dialogs. Their dispatch is complete; the
// bodies grow with those dialogs.

int CTolvaMusicTransferDlg::RunWizardEndDialog()
{
    if (!m_pWizardEndDlg)
        m_pWizardEndDlg = new CWizardEndDlg(this);
    // "Start transferring" only with a chosen player; WM_USER+22 changes it while it is open.
    m_bStartTransferOffer = !GetCurrentDevId().isEmpty();
    m_pWizardEndDlg->SetStartAllowed(m_bStartTransferOffer);
    // 1 start transferring (IDOK), 2 without (IDCANCEL), 7 closed by CloseOpenMessageBox (IDNO).
    return m_pWizardEndDlg->exec();
}

void CTolvaMusicTransferDlg::RunWaitDialog()
{
    if (!m_pWaitDlg)
        m_pWaitDlg = new CWaitDlg(m_timers, this);
    // Shown modal without a nested loop: start-up goes on, and the report of the player
    // (WM_USER+10) or CloseOpenMessageBox ends it.
    m_pWaitDlg->setWindowModality(Qt::ApplicationModal);
    m_pWaitDlg->show();
}

void CTolvaMusicTransferDlg::CloseWaitDialog()
{
    if (m_pWaitDlg)
        m_pWaitDlg->Close();
}

void CTolvaMusicTransferDlg::RunAboutBox()
{
    CAboutDlg about(this);
    about.exec();
}

void CTolvaMusicTransferDlg::LoadContentsLists(const QString& sUuid)
{
    // A player without a folder list of its own starts with the user's music folder, ticked.
    QStringList folders;
    if (QFileInfo::exists(DeviceFolder(sUuid) + kSyncFolderListName))
        folders = ReadListFile(sUuid, kSyncFolderListName);
    else if (const QString sMusic = MyMusicFolder(); !sMusic.isEmpty())
        folders << WatchedFolderEntryPath(sMusic) + "|1";
    m_pPageContents->LoadContentsPage(sUuid, folders, ReadListFile(sUuid, kCapabilityListName));
}

int CTolvaMusicTransferDlg::RunOfflineDialog(bool bSearchAtOnce)
{
    CRescanDlg dialog(*this, m_timers, this);
    dialog.SetSearchAtOnce(bSearchAtOnce);
    m_bOfflineDlgOpen = true;
    m_pPageConnection->SetOfflineDialogOpen(true);
    m_pOfflineDlg = &dialog;
    const int nResult = dialog.exec();
    m_pOfflineDlg = nullptr;
    m_bOfflineDlgOpen = false;
    m_pPageConnection->SetOfflineDialogOpen(false);
    return nResult;
}

bool CTolvaMusicTransferDlg::IsCurrentDeviceListed() const
{
    return m_pPageConnection->HasCard(GetCurrentDevId());
}

void CTolvaMusicTransferDlg::SetRescanning(bool bOn)
{
    m_bRescanning = bOn;
    m_pPageConnection->SetRescanning(bOn);
}

void CTolvaMusicTransferDlg::OnOfflineDialogStarted()
{
    m_bDeviceFoundAgain = false;
}

void CTolvaMusicTransferDlg::OnDeviceFoundAgain()
{
    SendMessage(CWindowMessage(WM_SET_OFFLINE_PROMPT_DONE, 0, 1));
    if (m_eDM == DM_WIZARD_CONNECTION) {
        m_pUi->btnNext->setFocus();
    } else if (m_eDM == DM_CONSOLE_NO_DEVICE) {
        ChangeMode(DM_CONSOLE, 1);
        m_pUi->btnOK->setFocus();
    }
    SendMessage(CWindowMessage(WM_SETTINGS_CHANGED));
    SetRescanning(false);
    m_bOfflineDlgOpen = false;
    m_pPageConnection->SetOfflineDialogOpen(false);
    m_bDeviceFoundAgain = true;
}

void CTolvaMusicTransferDlg::OnSearchGivenUp()
{
    SetRescanning(false);
}

void CTolvaMusicTransferDlg::OnSelectDevice(bool bListed)
{
    m_bOfflineDlgOpen = false;
    m_pPageConnection->SetOfflineDialogOpen(false);
    const QString sCurrent = GetCurrentDevId();
    if (bListed) {
        if (m_eDM == DM_CONSOLE_NO_DEVICE)
            ChangeMode(DM_CONSOLE, 1);
        SendMessage(CWindowMessage(WM_SETTINGS_CHANGED));
        m_pPageContents->SetSelectedDevice(sCurrent);
        m_bDeviceFoundAgain = true;
    } else {
        if (m_eDM == DM_CONSOLE_NO_DEVICE)
            ChangeMode(DM_CONSOLE_NO_DEVICE, 1);
        m_bDeviceFoundAgain = false;
    }
    m_pUi->btnOK->setFocus();
    m_pPageConnection->ScrollToTop();
}

std::intptr_t CTolvaMusicTransferDlg::ForwardToOfflineDialog(unsigned nMessage)
{
    if (!m_pOfflineDlg)
        return 0;
    if (nMessage == WM_OFFLINE_DIALOG_NOTICE)
        m_pOfflineDlg->OnNotice();
    else if (nMessage == WM_OFFLINE_DIALOG_RESCAN)
        m_pOfflineDlg->Rescan();
    return 0;
}

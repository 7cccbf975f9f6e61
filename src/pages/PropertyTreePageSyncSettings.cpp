#include "pages/PropertyTreePageSyncSettings.h"

#include "ui_PropertyTreePageSyncSettings.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLocale>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QTemporaryFile>
#include <QUrl>

#include "desktop/IMessagePresenter.h"
#include "desktop/IShellOpener.h"
#include "desktop/ITimerService.h"
#include "foundation/Log.h"
#include "foundation/MessageIds.h"
#include "foundation/Settings.h"
#include "foundation/StringTable.h"
#include "pages/SyncPageHost.h"
#include "platform/Clock.h"
#include "platform/ProcessPriority.h"
#include "platform/SystemInfo.h"
#include "platform/WindowMessages.h"
#include "sync/TransferHistory.h"

namespace {
using Widgets = std::initializer_list<QWidget*>;
// The retry count for a player that is not ready, written with every apply.
constexpr DWORD kDevicePowerFrequency = 20;
constexpr unsigned kTrayIconAutoOff = 210;
constexpr unsigned kTrayIconAutoOn = 219;
constexpr int kMaxMinutes = 60;
// "High priority is not allowed for this account ...".
constexpr unsigned kIdsHighPriorityRefused = 1161;
// The wizard's Transfer Settings step (DM_WIZARD_TRANSFER, DM_WIZARD_TRANSFERRING) and the modes
// in which a transfer runs (DM_CONSOLE_TRANSFER, DM_WIZARD_TRANSFERRING).
bool IsWizardTransferStep(int nMode)
{
    return nMode == 5 || nMode == 6;
}
bool IsWizardMode(int nMode)
{
    return nMode >= 3 && nMode <= 6;
}
bool IsTransferMode(int nMode)
{
    return nMode == 2 || nMode == 6;
}

// The priority list in its order: High, Mid, Low, each with its text id and stored level.
struct SPriorityItem
{
    unsigned nTextId;
    DWORD dwLevel;
};
constexpr SPriorityItem kPriorityItems[] = {
    {126, PROGRESS_LEVEL_HIGH}, {125, PROGRESS_LEVEL_MID}, {124, PROGRESS_LEVEL_LOW}};

QString FormatDuration(std::int64_t nMs)
{
    const std::int64_t nSeconds = (nMs + 999) / 1000;
    const std::int64_t nHours = nSeconds / 3600;
    const QString sMinSec = QString("%1:%2").arg((nSeconds / 60) % 60).arg(nSeconds % 60, 2, 10, QChar('0'));
    if (nHours == 0)
        return sMinSec;
    return QString("%1:%2").arg(nHours).arg(sMinSec.rightJustified(5, '0'));
}
} // namespace

CPropertyTreePageSyncSettings::CPropertyTreePageSyncSettings(QWidget* pParent)
    : CPropertyTreePage(kTemplateId, pParent), m_pUi(std::make_unique<Ui::CPropertyTreePageSyncSettings>())
{
    m_pUi->setupUi(this);
    setObjectName("pageSyncSettings");
    setAccessibleName("Transfer Settings (111)");
    m_autoTransfer.Load(true);
    m_minutes.Load(kDefaultMinutes);
    m_priority.Load(PROGRESS_LEVEL_MID);
    m_destination.Load(SAVE_POSITION_AUTO);

    const std::pair<QWidget*, unsigned> controls[] = {{m_pUi->label191, IDC_LABEL_MANUAL},
                                                      {m_pUi->btnStartStop, IDC_START_STOP},
                                                      {m_pUi->statusLine, IDC_STATUS},
                                                      {m_pUi->progressBar, IDC_PROGRESS},
                                                      {m_pUi->progressCounter, IDC_COUNTER},
                                                      {m_pUi->label192, IDC_LABEL_AUTO},
                                                      {m_pUi->radioOn, IDC_ON},
                                                      {m_pUi->radioOff, IDC_OFF},
                                                      {m_pUi->label193, IDC_LABEL_TIMER},
                                                      {m_pUi->editMinutes, IDC_MINUTES},
                                                      {m_pUi->upDown, IDC_UP_DOWN},
                                                      {m_pUi->label1031, IDC_MINUTES_LABEL},
                                                      {m_pUi->label194, IDC_LABEL_PRIORITY},
                                                      {m_pUi->comboPriority, IDC_PRIORITY},
                                                      {m_pUi->label196, IDC_LABEL_DESTINATION},
                                                      {m_pUi->radioAuto, IDC_DEST_AUTO},
                                                      {m_pUi->radioInternal, IDC_DEST_INTERNAL},
                                                      {m_pUi->radioExternal, IDC_DEST_EXTERNAL},
                                                      {m_pUi->label195, IDC_LABEL_LIST},
                                                      {m_pUi->btnOpen, IDC_OPEN},
                                                      {m_pUi->btnClear, IDC_CLEAR}};
    for (const auto& [pWidget, nId] : controls)
        pWidget->setProperty("designId", nId);
    m_pUi->progressInfo->setAccessibleName("Progress details");
    m_pUi->btnUp->setAccessibleName("Up (1008)");
    m_pUi->btnDown->setAccessibleName("Down (1008)");
    // No context menu and no drop can put other text into the minutes.
    m_pUi->editMinutes->setContextMenuPolicy(Qt::NoContextMenu);
    m_pUi->editMinutes->setAcceptDrops(false);
    m_pUi->editMinutes->setMaxLength(2);
    m_pUi->progressBar->setRange(0, 100);
    // The status line and the progress share one line; it keeps its height while both are
    // hidden, so the page does not jump.
    for (QWidget* pWidget : Widgets{m_pUi->statusLine, m_pUi->progressBar, m_pUi->progressCounter, m_pUi->progressInfo})
        pWidget->hide();
    m_pUi->grid->setRowMinimumHeight(1, m_pUi->progressBar->sizeHint().height());
    for (QWidget* pWidget :
         Widgets{m_pUi->editMinutes, m_pUi->btnStartStop, m_pUi->btnOpen, m_pUi->btnClear, m_pUi->radioOn})
        pWidget->installEventFilter(this);
    for (const SPriorityItem& item : kPriorityItems)
        m_pUi->comboPriority->addItem(QString(), QVariant::fromValue<uint>(item.dwLevel));
    SetTexts();
    ConnectControls();
}

CPropertyTreePageSyncSettings::~CPropertyTreePageSyncSettings()
{
    if (!m_sHistoryCopy.isEmpty())
        QFile::remove(m_sHistoryCopy);
    if (m_pTimers)
        m_pTimers->KillAllTimers(this);
}

void CPropertyTreePageSyncSettings::SetServices(ISyncPageHost* pHost, IMessagePresenter* pPresenter,
                                                ITimerService* pTimers, IShellOpener* pShell)
{
    m_pHost = pHost;
    m_pPresenter = pPresenter;
    m_pTimers = pTimers;
    m_pShell = pShell;
}

void CPropertyTreePageSyncSettings::SetTexts()
{
    m_texts[0] = LoadStringText(116);
    m_texts[1] = LoadStringText(117);
    const std::pair<QAbstractButton*, unsigned> buttons[] = {
        {m_pUi->radioOn, 119},       {m_pUi->radioOff, 120}, {m_pUi->radioAuto, 169}, {m_pUi->radioInternal, 170},
        {m_pUi->radioExternal, 171}, {m_pUi->btnOpen, 128},  {m_pUi->btnClear, 129}};
    for (const auto& [pButton, nId] : buttons)
        pButton->setText(LoadStringText(nId));
    m_pUi->btnStartStop->setText(m_bTransferFromPage || m_bCancelRequested ? m_texts[1] : m_texts[0]);
    const std::pair<QLabel*, unsigned> labels[] = {
        {m_pUi->label191, 115}, {m_pUi->label192, 118}, {m_pUi->label193, 121}, {m_pUi->label1031, 122},
        {m_pUi->label194, 123}, {m_pUi->label196, 168}, {m_pUi->label195, 127}};
    for (const auto& [pLabel, nId] : labels)
        pLabel->setText(LoadStringText(nId));
    for (int i = 0; i < 3; ++i)
        m_pUi->comboPriority->setItemText(i, LoadStringText(kPriorityItems[i].nTextId));
    // The counter keeps room for four-digit counts, so the line does not jump as it grows.
    m_pUi->progressCounter->setMinimumWidth(m_pUi->progressCounter->fontMetrics().horizontalAdvance("8888/8888"));

    // Tooltips by group; the manual transfer's depends on whether a transfer runs.
    SetTransferTooltips(false);
    const auto tip = [](std::initializer_list<QWidget*> widgets, unsigned nId) {
        const QString sTip = LoadStringText(nId);
        for (QWidget* pWidget : widgets)
            pWidget->setToolTip(sTip);
    };
    tip({m_pUi->label192, m_pUi->radioOn, m_pUi->radioOff}, 192);
    tip({m_pUi->label193, m_pUi->editMinutes, m_pUi->upDown, m_pUi->btnUp, m_pUi->btnDown, m_pUi->label1031}, 193);
    tip({m_pUi->label194, m_pUi->comboPriority}, 194);
    tip({m_pUi->label196, m_pUi->radioAuto, m_pUi->radioInternal, m_pUi->radioExternal}, 196);
    tip({m_pUi->label195, m_pUi->btnOpen, m_pUi->btnClear}, 195);

    // Accessible names: the text and the design id.
    for (QWidget* pWidget : findChildren<QWidget*>()) {
        const QVariant id = pWidget->property("designId");
        if (!id.isValid())
            continue;
        QString sText;
        if (auto* pButton = qobject_cast<QAbstractButton*>(pWidget))
            sText = pButton->text();
        else if (auto* pLabel = qobject_cast<QLabel*>(pWidget);
                 pLabel && id.toUInt() != IDC_STATUS && id.toUInt() != IDC_COUNTER)
            sText = pLabel->text();
        else if (id.toUInt() == IDC_MINUTES)
            sText = LoadStringText(121);
        else if (id.toUInt() == IDC_PRIORITY)
            sText = LoadStringText(123);
        else if (id.toUInt() == IDC_STATUS)
            sText = "Status";
        else if (id.toUInt() == IDC_PROGRESS)
            sText = "Progress";
        else if (id.toUInt() == IDC_COUNTER)
            sText = "Counter";
        else if (id.toUInt() == IDC_UP_DOWN)
            sText = "Up-down";
        sText.remove('&');
        pWidget->setAccessibleName(QString("%1 (%2)").arg(sText).arg(id.toUInt()));
    }
}

void CPropertyTreePageSyncSettings::SetTransferTooltips(bool bTransferring)
{
    const QString sTip = LoadStringText(bTransferring ? 198 : 197);
    m_pUi->label191->setToolTip(sTip);
    m_pUi->btnStartStop->setToolTip(sTip);
}

void CPropertyTreePageSyncSettings::ConnectControls()
{
    connect(m_pUi->btnStartStop, &QPushButton::clicked, this, [this] { StartOrStopTransfer(); });
    connect(m_pUi->btnOpen, &QPushButton::clicked, this, [this] { OpenTransferredFilesList(); });
    connect(m_pUi->btnClear, &QPushButton::clicked, this, [this] { ClearTransferredFilesList(); });
    connect(m_pUi->radioOn, &QRadioButton::clicked, this, [this] { SetAutoTransfer(true); });
    connect(m_pUi->radioOff, &QRadioButton::clicked, this, [this] { SetAutoTransfer(false); });
    connect(m_pUi->btnUp, &QToolButton::clicked, this, [this] { StepMinutes(true); });
    connect(m_pUi->btnDown, &QToolButton::clicked, this, [this] { StepMinutes(false); });
    connect(m_pUi->comboPriority, &QComboBox::activated, this, [this](int nIndex) {
        if (nIndex >= 0)
            SetPriority(m_pUi->comboPriority->itemData(nIndex).toUInt());
    });
    const std::pair<QRadioButton*, DWORD> destinations[] = {{m_pUi->radioAuto, SAVE_POSITION_AUTO},
                                                            {m_pUi->radioInternal, SAVE_POSITION_INTERNAL},
                                                            {m_pUi->radioExternal, SAVE_POSITION_EXTERNAL}};
    for (const auto& [pRadio, dwPosition] : destinations) {
        connect(pRadio, &QRadioButton::clicked, this, [this, dwPosition = dwPosition] {
            // In the wizard the destination is stored at once, without Apply.
            if (m_pHost && IsWizardMode(m_pHost->DisplayMode())) {
                m_destination.current = dwPosition;
                SetSyncFileSavePosition(dwPosition);
            } else {
                SetDestination(dwPosition);
            }
        });
    }
}

void CPropertyTreePageSyncSettings::InitPage()
{
    StopDots();
    m_pUi->statusLine->clear();
    m_pUi->statusLine->hide();

    // The stored values become both current and saved: loading is not an edit.
    DWORD dwMinutes = 0;
    if (!ReadSettingDword(kSettingAutoTransferTime, &dwMinutes) || dwMinutes == 0)
        dwMinutes = kDefaultMinutes;
    m_minutes.Load(static_cast<int>(std::min<DWORD>(dwMinutes, 99)));
    ShowMinutes(m_minutes.current, false);

    const bool bAutoExists = SettingExists(kSettingAutoTransfer);
    DWORD dwAuto = 0;
    m_autoTransfer.Load(!bAutoExists || (ReadSettingDword(kSettingAutoTransfer, &dwAuto) && dwAuto == 1));
    ShowAutoTransfer(m_autoTransfer.current);
    // A stored "on" starts idle detection; the default "on" of a first start does not.
    if (bAutoExists && m_autoTransfer.current && m_pHost)
        m_pHost->StartIdleDetection(m_minutes.current);

    m_priority.Load(GetProgressLevel());
    ApplyProcessPriority(false);
    ShowPriority(m_priority.current);

    if (bAutoExists) {
        m_destination.Load(GetSyncFileSavePosition());
    } else {
        m_destination.Load(SAVE_POSITION_AUTO);
        SetSyncFileSavePosition(SAVE_POSITION_AUTO);
    }
    ShowDestination(m_destination.current);
}

// ---------------------------------------------------------------------------------------------
// Showing the values

void CPropertyTreePageSyncSettings::ShowAutoTransfer(bool bOn)
{
    m_pUi->radioOn->setChecked(bOn);
    m_pUi->radioOff->setChecked(!bOn);
    m_pUi->editMinutes->setEnabled(bOn && !m_bTransferFromPage);
    m_pUi->upDown->setEnabled(bOn && !m_bTransferFromPage);
}

void CPropertyTreePageSyncSettings::ShowMinutes(int nMinutes, bool bSelect)
{
    m_pUi->editMinutes->setText(QString::number(nMinutes));
    if (bSelect) {
        m_pUi->editMinutes->selectAll();
        m_pUi->editMinutes->home(true);
        m_pUi->editMinutes->end(true);
    }
}

void CPropertyTreePageSyncSettings::ShowPriority(DWORD dwLevel)
{
    m_pUi->comboPriority->setCurrentIndex(m_pUi->comboPriority->findData(QVariant::fromValue<uint>(dwLevel)));
}

void CPropertyTreePageSyncSettings::ShowDestination(DWORD dwPosition)
{
    // A value outside the three leaves "Auto" checked; the value itself is kept.
    m_pUi->radioInternal->setChecked(dwPosition == SAVE_POSITION_INTERNAL);
    m_pUi->radioExternal->setChecked(dwPosition == SAVE_POSITION_EXTERNAL);
    m_pUi->radioAuto->setChecked(dwPosition != SAVE_POSITION_INTERNAL && dwPosition != SAVE_POSITION_EXTERNAL);
}

void CPropertyTreePageSyncSettings::RevertAutoTransfer()
{
    m_autoTransfer.Revert();
    ShowAutoTransfer(m_autoTransfer.current);
}

void CPropertyTreePageSyncSettings::RevertMinutes()
{
    m_minutes.Revert();
    ShowMinutes(m_minutes.current, false);
}

void CPropertyTreePageSyncSettings::RevertPriority()
{
    m_priority.Revert();
    ShowPriority(m_priority.current);
}

void CPropertyTreePageSyncSettings::RevertDestination()
{
    m_destination.Revert();
    ShowDestination(m_destination.current);
}

// ---------------------------------------------------------------------------------------------
// Edits

void CPropertyTreePageSyncSettings::SetAutoTransfer(bool bOn)
{
    m_autoTransfer.current = bOn;
    ShowAutoTransfer(bOn);
    NotifyChanged();
}

void CPropertyTreePageSyncSettings::SetMinutes(int nMinutes)
{
    m_minutes.current = nMinutes;
    ShowMinutes(nMinutes, false);
    NotifyChanged();
}

void CPropertyTreePageSyncSettings::SetPriority(DWORD dwLevel)
{
    m_priority.current = dwLevel;
    ShowPriority(dwLevel);
    NotifyChanged();
}

void CPropertyTreePageSyncSettings::SetDestination(DWORD dwPosition)
{
    m_destination.current = dwPosition;
    ShowDestination(dwPosition);
    NotifyChanged();
}

bool CPropertyTreePageSyncSettings::MinutesFromEdit()
{
    const QString sText = m_pUi->editMinutes->text();
    if (sText.isEmpty())
        return false;
    m_minutes.current = sText.toInt();
    return true;
}

void CPropertyTreePageSyncSettings::ClampMinutes()
{
    if (!MinutesFromEdit())
        return;
    const int nClamped = std::clamp(m_minutes.current, 1, kMaxMinutes);
    if (nClamped != m_minutes.current) {
        m_minutes.current = nClamped;
        ShowMinutes(nClamped, true);
    }
}

bool CPropertyTreePageSyncSettings::IsMinutesModified()
{
    ClampMinutes();
    return m_minutes.IsModified();
}

void CPropertyTreePageSyncSettings::OnMinutesKillFocus()
{
    if (m_pUi->editMinutes->text().isEmpty())
        ShowMinutes(m_minutes.current, false);
    MinutesFromEdit();
    m_minutes.current = std::clamp(m_minutes.current, 1, kMaxMinutes);
    ShowMinutes(m_minutes.current, false);
    NotifyChanged();
}

void CPropertyTreePageSyncSettings::StepMinutes(bool bUp)
{
    MinutesFromEdit();
    if (m_minutes.current > kMaxMinutes) {
        setFocus();
        return;
    }
    int nMinutes = m_minutes.current + (bUp ? 1 : -1);
    if (nMinutes <= 0)
        nMinutes = kMaxMinutes;
    else if (nMinutes > kMaxMinutes)
        nMinutes = 1;
    m_minutes.current = nMinutes;
    ShowMinutes(nMinutes, true);
    NotifyChanged();
}

bool CPropertyTreePageSyncSettings::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pWatched == m_pUi->editMinutes) {
        if (pEvent->type() == QEvent::FocusOut) {
            OnMinutesKillFocus();
        } else if (pEvent->type() == QEvent::KeyPress || pEvent->type() == QEvent::ShortcutOverride) {
            auto* pKey = static_cast<QKeyEvent*>(pEvent);
            // With Ctrl down nothing reaches the field: no paste, cut or copy.
            if (pKey->modifiers() & Qt::ControlModifier) {
                pEvent->accept();
                return true;
            }
            if (pEvent->type() == QEvent::ShortcutOverride)
                return false;
            if (pKey->key() == Qt::Key_Return || pKey->key() == Qt::Key_Enter) {
                // Enter moves on to OK; leaving the field corrects the minutes.
                if (auto* pOk = window()->findChild<QPushButton*>("btnOK"); pOk && pOk->isVisible())
                    pOk->setFocus();
                return true;
            }
            const QString sText = pKey->text();
            const bool bBackspace = pKey->key() == Qt::Key_Backspace;
            if (!bBackspace && !sText.isEmpty() && sText.at(0).isPrint()) {
                if (sText.size() != 1 || sText.at(0) < '0' || sText.at(0) > '9')
                    return true;
            } else if (!bBackspace) {
                return false; // cursor and editing keys without a character
            }
            // After the field took the character, the window hears of it.
            if (IMessageReceiver* pWnd = MainWindow()) {
                const bool bWizard = m_pHost && IsWizardTransferStep(m_pHost->DisplayMode());
                pWnd->PostMessage(CWindowMessage(bWizard ? WM_CLAMP_MINUTES : WM_SETTINGS_CHANGED));
            }
        }
        return false;
    }
    if (pEvent->type() == QEvent::KeyPress) {
        auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if ((pKey->key() == Qt::Key_Return || pKey->key() == Qt::Key_Enter) && pKey->modifiers() == Qt::NoModifier) {
            if (auto* pButton = qobject_cast<QPushButton*>(pWatched)) {
                pButton->click();
                return true;
            }
        }
        // The arrows do not lead out of the ON/OFF group from ON.
        if (pWatched == m_pUi->radioOn && (pKey->key() == Qt::Key_Left || pKey->key() == Qt::Key_Up))
            return true;
    }
    return CPropertyTreePage::eventFilter(pWatched, pEvent);
}

void CPropertyTreePageSyncSettings::CommitValues()
{
    m_autoTransfer.Commit();
    m_minutes.Commit();
    m_priority.Commit();
    m_destination.Commit();
}

void CPropertyTreePageSyncSettings::ApplyProcessPriority(bool bTellUser)
{
    const int nLevel = static_cast<int>(m_priority.current);
    const bool bApplied = m_applyPriority ? m_applyPriority(nLevel) : SetProcessPriorityLevel(nLevel);
    if (bApplied) {
        m_bPriorityNotePending = false;
        return;
    }
    // Raising the priority needs rights the user may not have; the transfers then keep running at
    // Mid, and the user hears so once per run: at once after a save, or when the page is next
    // seen for the value stored earlier.
    WriteLogF("ApplySyncSettings: priority level %u could not be applied; the transfer keeps its priority.\n",
              static_cast<unsigned>(m_priority.current));
    if (nLevel != PRIORITY_HIGH || m_bPriorityNoteShown)
        return;
    m_bPriorityNotePending = true;
    if (bTellUser)
        ShowPriorityNote();
}

void CPropertyTreePageSyncSettings::ShowPriorityNote()
{
    if (!m_bPriorityNotePending || m_bPriorityNoteShown || !m_pPresenter)
        return;
    m_bPriorityNotePending = false;
    m_bPriorityNoteShown = true;
    SMessageBox box;
    box.nTextId = kIdsHighPriorityRefused;
    box.eIcon = MSG_ICON_WARNING;
    m_pPresenter->Show(window(), box);
}

void CPropertyTreePageSyncSettings::showEvent(QShowEvent* pEvent)
{
    CPropertyTreePage::showEvent(pEvent);
    // A stored High refused at start-up (often at logon, with nobody at the window) is told the
    // first time the page is on show, once the window has painted.
    if (m_bPriorityNotePending)
        QTimer::singleShot(0, this, [this] {
            if (isVisible())
                ShowPriorityNote();
        });
}

void CPropertyTreePageSyncSettings::ApplySyncSettings(bool bTellUser)
{
    WriteSettingDword(kSettingAutoTransfer, m_autoTransfer.current ? 1 : 0);
    unsigned nIcon = kTrayIconAutoOff;
    if (m_pHost) {
        if (m_autoTransfer.current) {
            m_pHost->StartIdleDetection(m_minutes.current);
            nIcon = kTrayIconAutoOn;
        } else {
            m_pHost->StopIdleDetection();
        }
    } else if (m_autoTransfer.current) {
        nIcon = kTrayIconAutoOn;
    }
    if (!m_bTransferFromPage) {
        if (IMessageReceiver* pWnd = MainWindow())
            pWnd->SendMessage(CWindowMessage(WM_SET_TRAY_ICON, 0, nIcon));
    }
    WriteSettingDword(kSettingAutoTransferTime, static_cast<DWORD>(m_minutes.current));
    WriteSettingDword(kSettingProgressLevel,
                      m_priority.current <= PROGRESS_LEVEL_HIGH ? m_priority.current : PROGRESS_LEVEL_MID);
    WriteSettingDword(kSettingDevicePowerFrequency, kDevicePowerFrequency);
    ApplyProcessPriority(bTellUser);
    WriteSettingDword(kSettingSyncFileSavePosition, m_destination.current);
}

// ---------------------------------------------------------------------------------------------
// The manual transfer

void CPropertyTreePageSyncSettings::StartOrStopTransfer()
{
    const QString sText = m_pUi->btnStartStop->text();
    if (sText == m_texts[0] && m_pHost && m_pHost->HasSelectedDevice()) {
        if (!IsWizardMode(m_pHost->DisplayMode()) && m_pHost->IsAnySettingChanged()) {
            SMessageBox box;
            box.nTextId = 186;
            box.eButtons = MSG_BUTTONS_YESNO;
            box.eIcon = MSG_ICON_WARNING;
            box.nDefault = IDNO;
            if (!m_pPresenter || m_pPresenter->Show(window(), box) != IDYES)
                return;
            m_pHost->SaveAllSettings();
            NotifyChanged();
        }
        m_bTransferFromPage = true;
        BeginTransferUi();
    } else if (sText == m_texts[1] && !m_bCancelRequested.load()) {
        HandleCancelFileSync();
    }
}

void CPropertyTreePageSyncSettings::BeginTransferUi()
{
    if (IMessageReceiver* pWnd = MainWindow())
        pWnd->SendMessage(CWindowMessage(WM_ENABLE_CANCEL, 0, 0));
    ShowPreparing();
    // A start the window refuses (no device, a mode without transfers) must not leave the page
    // in its preparing look with nothing running.
    if (m_pHost && !m_pHost->StartFileSync()) {
        WriteLog("BeginTransferUi: the transfer did not start.");
        StopDots();
        m_pUi->statusLine->clear();
        m_pUi->statusLine->hide();
        EndTransferUi();
    }
}

void CPropertyTreePageSyncSettings::ShowPreparing()
{
    m_pUi->statusLine->setText(LoadStringText(180));
    m_pUi->statusLine->show();
    StartDots();
    SetTransferTooltips(true);
    m_pUi->btnStartStop->setText(m_texts[1]);
    SetIdleControlsEnabled(false);
    m_nRunStartMs = 0;
    m_nBytesDone = m_nBytesCurrent = 0;
    m_nDone = m_nTotal = 0;
}

void CPropertyTreePageSyncSettings::SetIdleControlsEnabled(bool bEnabled)
{
    for (QWidget* pWidget :
         Widgets{m_pUi->label1031, m_pUi->radioOn, m_pUi->radioOff, m_pUi->comboPriority, m_pUi->radioAuto,
                 m_pUi->radioInternal, m_pUi->radioExternal, m_pUi->btnOpen, m_pUi->btnClear})
        pWidget->setEnabled(bEnabled);
    const bool bMinutes = bEnabled && m_pUi->radioOn->isChecked();
    m_pUi->editMinutes->setEnabled(bMinutes);
    m_pUi->upDown->setEnabled(bMinutes);
}

void CPropertyTreePageSyncSettings::StartDots()
{
    m_bWaitAnimation = true;
    m_nWaitDots = 0;
    if (m_pTimers)
        m_pTimers->SetTimer(this, kDotTimerId, kDotTimerMs, [this] { OnDotTimer(); });
}

void CPropertyTreePageSyncSettings::StopDots()
{
    m_bWaitAnimation = false;
    m_nWaitDots = 0;
    // The timer runs only while dots show.
    if (m_pTimers)
        m_pTimers->KillTimer(this, kDotTimerId);
}

void CPropertyTreePageSyncSettings::OnDotTimer()
{
    if (!m_bWaitAnimation)
        return;
    m_pUi->statusLine->setText(LoadStringText(180) + QString(m_nWaitDots, QChar('.')));
    m_nWaitDots = (m_nWaitDots + 1) % 4;
}

void CPropertyTreePageSyncSettings::HideProgress()
{
    m_bProgressShown = false;
    m_pUi->progressBar->hide();
    m_pUi->progressCounter->clear();
    m_pUi->progressCounter->hide();
    m_pUi->progressInfo->clear();
    m_pUi->progressInfo->hide();
}

void CPropertyTreePageSyncSettings::HandleCancelFileSync()
{
    WriteLog("Enter CPropertyTreePageSyncSettings::HandleCancelFileSync.");
    m_bCancelRequested.store(true);
    m_pUi->statusLine->hide();
    m_pUi->statusLine->clear();
    StopDots();
    HideProgress();
    WriteLog("Hide wait info and progress.");
    if (m_pHost && IsTransferMode(m_pHost->DisplayMode())) {
        WriteLog("Set m_commonManager.CancelSync.\n");
        m_pHost->CancelFileSync();
    }
}

bool CPropertyTreePageSyncSettings::EndTransfer(int nCode)
{
    HideProgress();
    ShowStatusText(nCode);
    const bool bFromPage = m_bTransferFromPage;
    EndTransferUi();
    return bFromPage;
}

void CPropertyTreePageSyncSettings::EndTransferUi()
{
    m_bTransferFromPage = false;
    SetTransferTooltips(false);
    m_pUi->btnStartStop->setText(m_texts[0]);
    SetIdleControlsEnabled(true);
}

void CPropertyTreePageSyncSettings::ShowStatusText(int nCode)
{
    StopDots();
    const bool bFinished = nCode == 0 && !(m_pHost && m_pHost->SomeFilesFailed());
    m_pUi->statusLine->setText(bFinished ? LoadStringText(156) : QString());
    m_pUi->statusLine->show();
}

QString CPropertyTreePageSyncSettings::StatusText() const
{
    return m_pUi->statusLine->isVisibleTo(const_cast<CPropertyTreePageSyncSettings*>(this)) ? m_pUi->statusLine->text()
                                                                                            : QString();
}

void CPropertyTreePageSyncSettings::ShowTransferredFilesList(bool bShow)
{
    m_bTransferredListShown = bShow;
    for (QWidget* pWidget : Widgets{m_pUi->label195, m_pUi->btnOpen, m_pUi->btnClear})
        pWidget->setVisible(bShow);
}

// ---------------------------------------------------------------------------------------------
// Progress from the transfer thread

void CPropertyTreePageSyncSettings::ShowTransferProgress(unsigned nDone, unsigned nTotal)
{
    if (m_bCancelRequested.load())
        return;
    QMetaObject::invokeMethod(
        this, [this, nDone, nTotal] { ApplyProgress(nDone, nTotal); }, Qt::QueuedConnection);
}

void CPropertyTreePageSyncSettings::ShowFileCopying(const QString&, std::uint64_t nBytesCopied)
{
    if (m_bCancelRequested.load())
        return;
    // Reports come per copied block; the interface thread gets at most one at a time and reads
    // the latest figure when it comes to it, so it never falls behind the copy.
    m_nLatestBytes.store(nBytesCopied);
    if (m_bBytesPosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_bBytesPosted.store(false);
            ApplyFileCopying(m_nLatestBytes.load());
        },
        Qt::QueuedConnection);
}

void CPropertyTreePageSyncSettings::ApplyProgress(unsigned nDone, unsigned nTotal)
{
    // A report that was on its way when Stop was pressed cannot bring the bar back.
    if (m_bCancelRequested.load())
        return;
    if (!m_bProgressShown) {
        m_bProgressShown = true;
        m_pUi->statusLine->hide();
        StopDots();
        m_pUi->statusLine->clear();
        m_pUi->progressBar->setValue(static_cast<int>(100 / (static_cast<std::uint64_t>(nTotal) + 1)));
        m_pUi->progressBar->show();
        m_pUi->progressCounter->clear();
        m_nRunStartMs = Clock().NowMs();
        m_nBytesDone = m_nBytesCurrent = 0;
    }
    if (nDone > m_nDone) {
        m_nBytesDone += m_nBytesCurrent;
        m_nBytesCurrent = 0;
    }
    m_nDone = nDone;
    m_nTotal = nTotal;
    if (nTotal != 0) {
        const std::uint64_t nPos =
            (static_cast<std::uint64_t>(nDone) + 1) * 100 / (static_cast<std::uint64_t>(nTotal) + 1);
        // The bar shows full at once at the end, without a growing animation.
        m_pUi->progressBar->setValue(static_cast<int>(std::min<std::uint64_t>(nPos, 100)));
        if (nPos >= 100)
            m_pUi->progressBar->repaint();
    }
    m_pUi->progressCounter->setText(QString("%1/%2").arg(nDone).arg(nTotal));
    m_pUi->progressCounter->show();
    UpdateProgressInfo();
}

void CPropertyTreePageSyncSettings::ApplyFileCopying(std::uint64_t nBytesCopied)
{
    if (m_bCancelRequested.load() || !m_bProgressShown)
        return;
    m_nBytesCurrent = nBytesCopied;
    UpdateProgressInfo();
}

void CPropertyTreePageSyncSettings::UpdateProgressInfo()
{
    const std::int64_t nElapsed = Clock().NowMs() - m_nRunStartMs;
    // Only once a file has been copied do the figures mean something.
    if (m_nDone == 0 || nElapsed <= 0) {
        m_pUi->progressInfo->clear();
        m_pUi->progressInfo->hide();
        return;
    }
    const std::uint64_t nBytes = m_nBytesDone + m_nBytesCurrent;
    const auto nPerSecond = static_cast<qint64>(nBytes * 1000 / static_cast<std::uint64_t>(nElapsed));
    const std::int64_t nLeftMs = m_nTotal > m_nDone ? nElapsed * (m_nTotal - m_nDone) / m_nDone : 0;
    const QLocale locale;
    m_pUi->progressInfo->setText(
        QString("%1/s \u2013 %2").arg(locale.formattedDataSize(nPerSecond, 1), FormatDuration(nLeftMs)));
    m_pUi->progressInfo->show();
}

// ---------------------------------------------------------------------------------------------
// Transferred files list

void CPropertyTreePageSyncSettings::OpenTransferredFilesList()
{
    // A private copy (a new name, readable by the user only), so the viewer can never change
    // the real history and no other user can plant or read the file.
    QTemporaryFile copy(
        QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation)).filePath("TransferHistory-XXXXXX.txt"));
    copy.setAutoRemove(false);
    // One copy at a time: the one opened before goes.
    if (!m_sHistoryCopy.isEmpty())
        QFile::remove(m_sHistoryCopy);
    if (!copy.open()) {
        WriteLog("OpenTransferredFilesList: no temporary copy could be made.");
        return;
    }
    QFile history(CurrentHistoryPath());
    if (history.open(QIODevice::ReadOnly))
        copy.write(history.readAll());
    copy.close();
    m_sHistoryCopy = copy.fileName();
    if (m_pShell)
        m_pShell->Open(QUrl::fromLocalFile(copy.fileName()).toString(), {});
}

void CPropertyTreePageSyncSettings::ClearTransferredFilesList()
{
    SMessageBox box;
    box.nTextId = 161;
    box.eButtons = MSG_BUTTONS_YESNO;
    box.eIcon = MSG_ICON_WARNING;
    box.nDefault = IDNO;
    if (m_pPresenter && m_pPresenter->Show(window(), box) == IDYES)
        ClearHistory();
}

// ---------------------------------------------------------------------------------------------

QWidget* CPropertyTreePageSyncSettings::Control(unsigned nId) const
{
    for (QWidget* pWidget : findChildren<QWidget*>()) {
        if (pWidget->property("designId").toUInt() == nId)
            return pWidget;
    }
    return nullptr;
}

int CPropertyTreePageSyncSettings::ProgressValue() const
{
    return m_pUi->progressBar->value();
}

QString CPropertyTreePageSyncSettings::CounterText() const
{
    return m_pUi->progressCounter->text();
}

QString CPropertyTreePageSyncSettings::ProgressInfoText() const
{
    return m_pUi->progressInfo->text();
}

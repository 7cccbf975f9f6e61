#include "pages/PropertyTreePageConnection.h"

#include "ui_PropertyTreePageConnection.h"

#include <utility>

#include <QFileInfo>
#include <QKeyEvent>
#include <QRegularExpressionValidator>

#include "controls/ConnectionView.h"
#include "controls/DesignId.h"
#include "desktop/IMessagePresenter.h"
#include "device/DeviceManager.h"
#include "foundation/Log.h"
#include "foundation/MessageIds.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "foundation/StringTable.h"
#include "pages/DetailDialog.h"
#include "sync/CommonManager.h"
#include "sync/DeviceLists.h"
#include "sync/WatchedFolderRules.h"

namespace {

// Display modes as the main window numbers them.
constexpr int kModeConsole = 0;
constexpr int kModeConsoleNoDevice = 1;
constexpr int kModeWizardConnection = 3;
constexpr int kModeWizardFirst = 3;
constexpr int kModeWizardLast = 6;

// The empty view's texts.
constexpr unsigned kTextNoDevice = 203;
constexpr unsigned kTextNotFound = 58112;

} // namespace

CPropertyTreePageConnection::CPropertyTreePageConnection(QWidget* pParent)
    : CPropertyTreePage(kTemplateId, pParent), m_pUi(std::make_unique<Ui::CPropertyTreePageConnection>()),
      m_adapterSource(GetLocalAdapters)
{
    m_pUi->setupUi(this);
    setObjectName("pageConnection");
    setAccessibleName("Connection (109)");
    m_pUi->deviceView->SetEmptyMessage(kTextNoDevice);
    connect(m_pUi->deviceView, &CConnectionView::CardClicked, this, [this](int nIndex) { OnCardClicked(nIndex); });
}

CPropertyTreePageConnection::~CPropertyTreePageConnection()
{
    // The watcher's notices are handed to this page; none may arrive once it is gone.
    m_watcher.Stop();
}

CConnectionView* CPropertyTreePageConnection::View() const
{
    return m_pUi->deviceView;
}

QLineEdit* CPropertyTreePageConnection::Octet(int k) const
{
    QLineEdit* const apOctets[] = {m_pUi->octet1, m_pUi->octet2, m_pUi->octet3, m_pUi->octet4};
    return apOctets[k];
}

void CPropertyTreePageConnection::InitPage()
{
    static const QRegularExpression digits(QStringLiteral("[0-9]{0,3}"));
    const int nOctetWidth = fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12;
    for (int k = 0; k < 4; ++k) {
        QLineEdit* pOctet = Octet(k);
        pOctet->setMaxLength(kOctetLength);
        pOctet->setValidator(new QRegularExpressionValidator(digits, pOctet));
        pOctet->setAlignment(Qt::AlignCenter);
        pOctet->setFixedWidth(nOctetWidth);
        pOctet->installEventFilter(this);
    }
    SetTexts();
    connect(m_pUi->btnSelect, &QPushButton::clicked, this, [this] { StartManualAdd(); });
    connect(m_pUi->btnDetails, &QPushButton::clicked, this, [this] { ShowDetails(); });
    connect(m_pUi->subnetCombo, &QComboBox::activated, this, [this](int nIndex) {
        FillIpFields(m_pUi->subnetCombo->itemText(nIndex) + '.', true);
        update();
    });

    RefreshSubnetList();
    if (m_bWatchNetwork && !m_watcher.IsRunning()) {
        // The notice comes on the watcher's thread; the list is rebuilt on the page's thread.
        m_watcher.Start([this] {
            QMetaObject::invokeMethod(
                this, [this] { OnNetworkChanged(); }, Qt::QueuedConnection);
        });
    }
    m_sSelDeviceUuid = GetCurrentDevId();
    SelectIpInCombo(SelectedDeviceIp());
}

void CPropertyTreePageConnection::SetTexts()
{
    m_pUi->caption->setText(LoadStringText(105));
    SetDesignId(m_pUi->caption, m_pUi->caption->text(), 1057);
    m_pUi->ipLabel->setText(LoadStringText(204));
    SetDesignId(m_pUi->ipLabel, m_pUi->ipLabel->text(), 1070);
    SetDesignId(m_pUi->subnetCombo, m_pUi->ipLabel->text(), 1066);
    const unsigned anOctetIds[] = {1074, 1075, 1076, 1067};
    for (int k = 0; k < 4; ++k)
        SetDesignId(Octet(k), m_pUi->ipLabel->text() + ' ' + QString::number(k + 1), anOctetIds[k]);
    m_pUi->btnSelect->setText(LoadStringText(205));
    SetDesignId(m_pUi->btnSelect, m_pUi->btnSelect->text(), 1068);
    m_pUi->helpText->setText(LoadStringText(207));
    SetDesignId(m_pUi->helpText, m_pUi->helpText->text(), 1071);
    m_pUi->btnDetails->setText(LoadStringText(206));
    SetDesignId(m_pUi->btnDetails, m_pUi->btnDetails->text(), 1069);
    for (QPushButton* pButton : {m_pUi->btnSelect, m_pUi->btnDetails})
        FitButtonToText(pButton, pButton->text());
}

std::intptr_t CPropertyTreePageConnection::Send(unsigned nMessage, std::uintptr_t wParam, std::intptr_t lParam)
{
    IMessageReceiver* pMain = MainWindow();
    return pMain ? pMain->SendMessage(CWindowMessage(nMessage, wParam, lParam)) : 0;
}

template <class T>
std::intptr_t CPropertyTreePageConnection::SendWith(unsigned nMessage, T value, std::intptr_t lParam)
{
    IMessageReceiver* pMain = MainWindow();
    return pMain ? pMain->SendMessage(CWindowMessage::WithPayload(nMessage, std::move(value), 0, lParam)) : 0;
}

// ---------------------------------------------------------------------------------------------
// Device changes

void CPropertyTreePageConnection::UpdateDeviceInfo(const SDeviceChange& change)
{
    CConnectionView* pView = View();
    switch (change.eCode) {
    case DEVICE_ADDED: OnDeviceAdded(change); break;
    case DEVICE_IP_CHANGED:
        pView->SetCardText(change.sUuid, change.sIp);
        if (pView->SelectedCard() >= 0 && pView->Painter().Card(pView->SelectedCard()).sDeviceId == change.sUuid)
            SelectIpInCombo(change.sIp);
        break;
    case DEVICE_NAME_CHANGED: {
        if (!pView->SetCardName(change.sUuid, change.sFriendlyName))
            break;
        const int nSelected = pView->SelectedCard();
        if (nSelected >= 0 && pView->Painter().Card(nSelected).sDeviceId == change.sUuid) {
            const SDeviceCard& card = pView->Painter().Card(nSelected);
            SendWith(WM_SET_DEVICE_PICTURE_TEXT, std::pair<QString, QString>(card.sName, card.sSecondLine));
            SendWith(WM_SET_TRANSFER_DEVICE_NAME, card.sName);
        }
        break;
    }
    default: break;
    }
}

void CPropertyTreePageConnection::RememberCard(const QString& sUuid)
{
    const std::lock_guard lock(m_cardsMutex);
    m_cardUuids.append(sUuid);
}

bool CPropertyTreePageConnection::HasCard(const QString& sUuid) const
{
    const std::lock_guard lock(m_cardsMutex);
    return !sUuid.isEmpty() && m_cardUuids.contains(sUuid);
}

void CPropertyTreePageConnection::OnDeviceAdded(const SDeviceChange& change)
{
    CConnectionView* pView = View();
    if (pView->Painter().Find(change.sUuid) >= 0) {
        // Reported again (a new search pass): keep the card, take the latest name and address.
        pView->SetCardName(change.sUuid, change.sFriendlyName);
        pView->SetCardText(change.sUuid, change.sIp);
        return;
    }
    SDeviceCard card;
    card.sDeviceId = change.sUuid;
    card.sName = change.sFriendlyName;
    card.sSecondLine = change.sIp;
    card.sPicturePath = !change.sPngIconPath.isEmpty() ? change.sPngIconPath : change.sJpegIconPath;
    card.sJpegPicturePath = change.sJpegIconPath;
    card.supportedTypes = change.supportedTypes;
    if (!pView->AddCard(card)) {
        WriteLog("CConnectionView: too many devices, card not added.\n");
        return;
    }
    RememberCard(change.sUuid);
    const int nIndex = pView->CardCount() - 1;

    // A player seen for the first time starts with the user's music folder as its watched folder.
    const QString sMusic = MyMusicFolder();
    if (!QFileInfo::exists(DeviceFolder(change.sUuid) + kSyncFolderListName) && QFileInfo(sMusic).isDir())
        AppendFolderLine(change.sUuid, WatchedFolderEntryPath(sMusic), "1");

    DWORD dwFirstRun = 0;
    const bool bFirstRunSet = ReadSettingDword(kSettingFirstRun, &dwFirstRun);
    if (bFirstRunSet && dwFirstRun == 1)
        return; // the wizard runs: the user picks the card
    MergeTypes(change.sUuid, change.supportedTypes);

    const QString sCurrent = GetCurrentDevId();
    if (!bFirstRunSet) {
        if (sCurrent.isEmpty()) {
            if (pView->SelectedCard() < 0) {
                pView->SelectCard(0);
                const SDeviceCard& first = pView->Painter().Card(0);
                SelectIpInCombo(first.sSecondLine);
                if (!first.sSecondLine.isEmpty())
                    CommitSelection(0, false);
            }
        } else if (change.sUuid == sCurrent) {
            CommitSelection(nIndex, false);
        }
        return;
    }
    if (!SettingExists(kSettingCurrentDevId) || change.sUuid != sCurrent)
        return;
    CommitSelection(nIndex, false);
    if (m_bOfflineDlgOpen) {
        // A searching dialog sees the card itself; a waiting one is told to look now.
        if (!m_bRescanning)
            Send(WM_OFFLINE_DIALOG_RESCAN);
        return;
    }
    Send(WM_CLOSE_WAIT_DIALOG);
    Send(WM_SET_OFFLINE_PROMPT_DONE, 0, 1);
    if (m_bTimerFlag) {
        m_bTimerFlag = false;
        if (IMessageReceiver* pMain = MainWindow())
            pMain->PostMessage(CWindowMessage(WM_SET_IN_TIMER, 0, 0));
    }
}

void CPropertyTreePageConnection::MergeTypes(const QString& sUuid, const QStringList& types)
{
    const QStringList lines = ReadListFile(sUuid, kCapabilityListName);
    const QStringList merged = MergeSupportedTypes(lines, types);
    if (merged != lines)
        SaveListFile(sUuid, kCapabilityListName, merged);
}

// ---------------------------------------------------------------------------------------------
// Selection

void CPropertyTreePageConnection::OnCardClicked(int nIndex)
{
    // While a manual add runs the window is locked.
    if (m_bManualAddRunning)
        return;
    CConnectionView* pView = View();
    if (nIndex < 0 || nIndex >= pView->CardCount())
        return;
    if (nIndex == pView->SelectedCard()) {
        SelectIpInCombo(pView->Painter().Card(nIndex).sSecondLine);
        return;
    }
    CommitSelection(nIndex, true);
    // In the wizard the next step is one key away.
    const int nMode = m_services.mode ? m_services.mode() : kModeConsole;
    if (nMode >= kModeWizardFirst && nMode <= kModeWizardLast && m_services.nextButton) {
        if (QPushButton* pNext = m_services.nextButton(); pNext && pNext->isEnabled())
            pNext->setFocus();
    }
}

void CPropertyTreePageConnection::CommitSelection(int nIndex, bool bByUser)
{
    CConnectionView* pView = View();
    pView->SelectCard(nIndex);
    const SDeviceCard card = pView->Painter().Card(nIndex);
    SelectIpInCombo(card.sSecondLine);
    Send(WM_REFRESH_CONTENTS_PAGE);
    SendWith(WM_SELECT_DEVICE_CARD, card.sDeviceId);
    m_sSelDeviceUuid = card.sDeviceId;
    SetCurrentDevId(card.sDeviceId);
    SetCurrentDevIP(card.sSecondLine);
    const QString sShownName = card.bShortened ? card.sDisplayName + "..." : card.sName;
    SendWith(WM_SET_DEVICE_PICTURE_TEXT, std::pair<QString, QString>(sShownName, card.sSecondLine));
    SendWith(WM_SET_TRANSFER_DEVICE_NAME, card.sName);
    SendWith(WM_SHOW_EXPLORE, card.sPicturePath, 1);

    if (bByUser && Send(WM_QUERY_CONTENTS_UNMODIFIED) == 0 && m_services.pPresenter) {
        SMessageBox box;
        box.nTextId = 201;
        box.eIcon = MSG_ICON_WARNING;
        box.eButtons = MSG_BUTTONS_YESNO;
        box.nDefault = IDYES;
        if (m_services.pPresenter->Show(window(), box) == IDYES && m_services.saveAllSettings)
            m_services.saveAllSettings();
    }
    SendWith(WM_RELOAD_SAVED_LISTS, card.sDeviceId);

    const int nMode = m_services.mode ? m_services.mode() : kModeConsole;
    if (nMode == kModeConsole || nMode == kModeConsoleNoDevice)
        Send(WM_CHANGE_MODE, kModeConsole, 1);
    else if (nMode == kModeWizardConnection)
        Send(WM_ENABLE_NEXT, 0, 1);

    MergeTypes(card.sDeviceId, card.supportedTypes);
    // The Contents Settings page now shows the chosen player's lists (edits the user chose not to
    // save above are dropped).
    if (m_services.loadContentsLists)
        m_services.loadContentsLists(card.sDeviceId);
    Send(WM_SETTINGS_CHANGED);
}

void CPropertyTreePageConnection::SelectDeviceManual(const QString& sUuid, const QString& sIp)
{
    CConnectionView* pView = View();
    const int nIndex = pView->Painter().Find(sUuid);
    if (nIndex < 0) {
        WriteLog("SelectDeviceManual: no card for " + sUuid + ".\n");
        return;
    }
    if (!sIp.isEmpty())
        pView->SetCardText(sUuid, sIp);
    if (nIndex == pView->SelectedCard()) {
        SelectIpInCombo(sIp);
        return;
    }
    // The player was found at the typed address: it becomes the chosen player as a click makes
    // it (mode, Contents Settings lists, types), not only the card on screen.
    CommitSelection(nIndex, false);
}

QString CPropertyTreePageConnection::SelectedDeviceUuid() const
{
    const int n = View()->SelectedCard();
    return n < 0 ? QString() : View()->Painter().Card(n).sDeviceId;
}

QString CPropertyTreePageConnection::SelectedDeviceIp() const
{
    const int n = View()->SelectedCard();
    return n < 0 ? QString() : View()->Painter().Card(n).sSecondLine;
}

bool CPropertyTreePageConnection::DropDevice(const QString& sUuid)
{
    CConnectionView* pView = View();
    const int nIndex = pView->Painter().Find(sUuid);
    if (nIndex < 0)
        return false;
    const bool bSelected = pView->Painter().Selected() == nIndex;
    pView->RemoveCard(sUuid);
    return bSelected;
}

std::intptr_t CPropertyTreePageConnection::OnSelectionText(const QString& sText)
{
    SelectIpInCombo(sText);
    return 0;
}

void CPropertyTreePageConnection::SetScrollBarLocked(bool bLocked)
{
    View()->SetScrollBarLocked(bLocked);
}

void CPropertyTreePageConnection::Refresh()
{
    CConnectionView* pView = View();
    m_sSelDeviceUuid = GetCurrentDevId();
    pView->SelectCard(m_sSelDeviceUuid.isEmpty() ? -1 : pView->Painter().Find(m_sSelDeviceUuid));
    SelectIpInCombo(SelectedDeviceIp());
}

void CPropertyTreePageConnection::ScrollToTop()
{
    View()->ScrollToRow(0);
}

// ---------------------------------------------------------------------------------------------
// Address boxes

void CPropertyTreePageConnection::SelectIpInCombo(const QString& sIp)
{
    QComboBox* pCombo = m_pUi->subnetCombo;
    const QString sDotted = sIp + '.';
    if (pCombo->count() == 0) {
        if (sDotted == QLatin1String(".")) {
            for (int k = 0; k < 4; ++k) {
                Octet(k)->clear();
                SetOctetEnabled(k, false);
            }
        }
        return;
    }
    if (sDotted == QLatin1String(".")) {
        pCombo->setCurrentIndex(0);
        FillIpFields(pCombo->itemText(0) + '.', true);
        return;
    }
    // The prefix must lead the address ("10.1." is no prefix of "110.1.2.3").
    for (int i = 0; i < pCombo->count(); ++i) {
        if (sDotted.startsWith(pCombo->itemText(i) + '.')) {
            pCombo->setCurrentIndex(i);
            FillIpFields(sIp, false);
            return;
        }
    }
    pCombo->setCurrentIndex(0);
    FillIpFields(pCombo->itemText(0) + '.', true);
}

void CPropertyTreePageConnection::SetOctetEnabled(int k, bool bEnabled)
{
    // While a manual add runs the boxes stay locked; a fill meanwhile (the found player is
    // selected) decides the states they get back when the add is over.
    if (m_bManualAddRunning)
        m_abOctetEnabled[k] = bEnabled;
    else
        Octet(k)->setEnabled(bEnabled);
}

void CPropertyTreePageConnection::FillIpFields(const QString& sDotted, bool bFromCombo)
{
    const QString sPrefix = m_pUi->subnetCombo->currentText();
    const int nPrefixOctets = sPrefix.isEmpty() ? 0 : static_cast<int>(sPrefix.count('.')) + 1;
    const QStringList parts = sDotted.split('.');
    // The octets followed by a ".": every part but the last.
    const int nDottedOctets = static_cast<int>(parts.size()) - 1;
    for (int k = 0; k < 3; ++k) {
        QLineEdit* pOctet = Octet(k);
        if (k < nDottedOctets) {
            pOctet->setText(parts[k]);
            SetOctetEnabled(k, k + 1 > nPrefixOctets);
        } else {
            if (bFromCombo)
                pOctet->clear();
            SetOctetEnabled(k, true);
        }
    }
    const bool bComplete = parts.size() == 4 && !parts[3].isEmpty();
    Octet(3)->setText(bComplete ? parts[3] : QString());
    SetOctetEnabled(3, true);
}

void CPropertyTreePageConnection::RefreshSubnetList()
{
    if (m_bManualAddRunning) {
        // The boxes are locked and their states saved; rebuild when the add is over.
        m_bRefreshPending = true;
        return;
    }
    QComboBox* pCombo = m_pUi->subnetCombo;
    const QString sShown = pCombo->currentText();
    pCombo->clear();
    const std::vector<QString> prefixes =
        SubnetPrefixes(m_adapterSource ? m_adapterSource() : std::vector<SLocalAdapter>());
    if (prefixes.empty()) {
        for (int k = 0; k < 4; ++k) {
            Octet(k)->clear();
            Octet(k)->setEnabled(false);
        }
        return;
    }
    for (const QString& sPrefix : prefixes)
        pCombo->addItem(sPrefix);
    for (int i = 0; i < pCombo->count(); ++i) {
        if (pCombo->itemText(i).compare(sShown, Qt::CaseInsensitive) == 0) {
            pCombo->setCurrentIndex(i);
            return; // the same network: what the user typed stays
        }
    }
    for (int k = 0; k < 4; ++k)
        Octet(k)->clear();
    pCombo->setCurrentIndex(0);
    FillIpFields(pCombo->itemText(0) + '.', true);
}

void CPropertyTreePageConnection::OnNetworkChanged()
{
    WriteLog("CPropertyTreePageConnection: local addresses changed.\n");
    RefreshSubnetList();
}

// ---------------------------------------------------------------------------------------------
// Manual add

QString CPropertyTreePageConnection::TypedAddress() const
{
    return QStringList{Octet(0)->text(), Octet(1)->text(), Octet(2)->text(), Octet(3)->text()}.join('.');
}

bool CPropertyTreePageConnection::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pEvent->type() == QEvent::KeyPress) {
        const int nKey = static_cast<QKeyEvent*>(pEvent)->key();
        if (nKey == Qt::Key_Return || nKey == Qt::Key_Enter) {
            for (int k = 0; k < 4; ++k) {
                if (pWatched == Octet(k)) {
                    // Enter in an address box is Select, never the window's default button.
                    StartManualAdd();
                    return true;
                }
            }
        }
    }
    return CPropertyTreePage::eventFilter(pWatched, pEvent);
}

void CPropertyTreePageConnection::StartManualAdd()
{
    // One add at a time: the controls stay locked until it is over.
    if (m_bManualAddRunning)
        return;
    for (int k = 0; k < 4; ++k) {
        m_abOctetEnabled[k] = Octet(k)->isEnabled();
        Octet(k)->setEnabled(false);
    }
    m_pUi->subnetCombo->setEnabled(false);
    m_pUi->btnSelect->setEnabled(false);
    m_pUi->btnDetails->setEnabled(false);
    m_bManualAddRunning = true;
    if (IMessageReceiver* pMain = MainWindow())
        pMain->PostMessage(CWindowMessage::WithPayload(WM_LOCK_WINDOW, QStringLiteral("1")));
    SetBusy(true);
    // The request only goes onto the device search thread's queue, so it needs no worker of its
    // own; the add itself runs there and ends with WM_USER+33 (or +32 first).
    const QString sAddress = TypedAddress();
    WriteLog("CPropertyTreePageConnection: manual add " + sAddress + ".\n");
    if (m_services.pCommonManager)
        m_services.pCommonManager->addDeviceManual(sAddress);
}

void CPropertyTreePageConnection::OnManualAddFinished()
{
    if (!m_bManualAddRunning)
        return;
    CConnectionView* pView = View();
    const int nSelected = pView->SelectedCard();
    pView->ScrollToRow(nSelected < 0 ? 0 : nSelected / 2);
    m_bManualAddRunning = false;
    if (IMessageReceiver* pMain = MainWindow())
        pMain->PostMessage(CWindowMessage::WithPayload(WM_LOCK_WINDOW, QStringLiteral("0")));
    for (int k = 0; k < 4; ++k)
        Octet(k)->setEnabled(m_abOctetEnabled[k]);
    m_pUi->subnetCombo->setEnabled(true);
    m_pUi->btnSelect->setEnabled(true);
    m_pUi->btnDetails->setEnabled(true);
    SetBusy(false);
    if (std::exchange(m_bRefreshPending, false))
        RefreshSubnetList();
}

void CPropertyTreePageConnection::ReportManualAddNoDescription()
{
    CConnectionView* pView = View();
    if (pView->CardCount() > 0) {
        if (m_services.pPresenter) {
            SMessageBox box;
            box.nTextId = kTextNotFound;
            box.eIcon = MSG_ICON_WARNING;
            m_services.pPresenter->Show(window(), box);
        }
    } else {
        pView->SetEmptyMessage(kTextNotFound);
    }
    if (IMessageReceiver* pMain = MainWindow())
        pMain->PostMessage(CWindowMessage(WM_MANUAL_ADD_FINISHED));
}

void CPropertyTreePageConnection::SetBusy(bool bBusy)
{
    m_bBusy = bBusy;
    if (bBusy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void CPropertyTreePageConnection::ShowDetails()
{
    CDetailDialog dialog(window());
    dialog.exec();
}

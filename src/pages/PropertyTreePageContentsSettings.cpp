#include "pages/PropertyTreePageContentsSettings.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QSignalBlocker>

#include "ui_PropertyTreePageContentsSettings.h"

#include "controls/ContentsIds.h"
#include "controls/CustomListCtrl.h"
#include "controls/FormatSelectListCtrl.h"
#include "desktop/IFolderPicker.h"
#include "foundation/Log.h"
#include "foundation/MessageIds.h"
#include "foundation/StringTable.h"
#include "platform/WindowMessages.h"
#include "sync/WatchedFolderRules.h"

namespace {
// The display modes of the settings window the page acts on (the main window's values).
constexpr int kModeConsole = 0;
constexpr int kModeWizardFirst = 3;
constexpr int kModeWizardContents = 4;

QString NameWithId(const QString& sText, unsigned nId)
{
    return QStringLiteral("%1 (%2)").arg(sText).arg(nId);
}
} // namespace

CPropertyTreePageContentsSettings::CPropertyTreePageContentsSettings(QWidget* pParent)
    : CPropertyTreePage(kTemplateId, pParent), m_pUi(std::make_unique<Ui::CPropertyTreePageContentsSettings>())
{
    m_pUi->setupUi(this);
    setObjectName("pageContentsSettings");
    setAccessibleName("Contents Settings (110)");

    CCustomListCtrl* pFolders = m_pUi->folderList;
    pFolders->SetRowHeight(kRowHeight);
    pFolders->setColumnCount(2);
    pFolders->header()->resizeSection(CCustomListCtrl::kColumnPath, kFolderColumnWidth);
    pFolders->header()->resizeSection(CCustomListCtrl::kColumnWatch, kWatchColumnWidth);
    pFolders->headerItem()->setTextAlignment(CCustomListCtrl::kColumnPath, Qt::AlignLeft | Qt::AlignVCenter);
    pFolders->headerItem()->setTextAlignment(CCustomListCtrl::kColumnWatch, Qt::AlignCenter);
    // Both columns are visible without scrolling sideways.
    const int nFrame = 2 * pFolders->frameWidth();
    const int nScrollBar = pFolders->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, pFolders);
    pFolders->setMinimumWidth(kFolderColumnWidth + kWatchColumnWidth + nFrame + nScrollBar);

    // The extension list's font is one pixel larger than the page's.
    QFont extensionFont = font();
    if (extensionFont.pixelSize() > 0)
        extensionFont.setPixelSize(extensionFont.pixelSize() + 1);
    else
        extensionFont.setPointSizeF(extensionFont.pointSizeF() + 0.75);
    m_pUi->extensionList->setFont(extensionFont);

    m_pUi->btnDel->setEnabled(false);
    for (QWidget* pWidget : {static_cast<QWidget*>(m_pUi->folderList), static_cast<QWidget*>(m_pUi->extensionList),
                             static_cast<QWidget*>(m_pUi->btnAdd), static_cast<QWidget*>(m_pUi->btnDel),
                             static_cast<QWidget*>(m_pUi->chkSelectAll)})
        pWidget->installEventFilter(this);
    m_pUi->folderList->viewport()->installEventFilter(this);
    m_pUi->extensionList->viewport()->installEventFilter(this);
    SetTexts();
    ConnectControls();
    // Until a player's lists arrive the type list is empty, which "Select all" shows ticked.
    m_pUi->extensionList->RefreshSelectAll();
}

CPropertyTreePageContentsSettings::~CPropertyTreePageContentsSettings() = default;

void CPropertyTreePageContentsSettings::SetTexts()
{
    m_pUi->labelFolders->setText(LoadStringText(IDS_SELECT_FOLDERS));
    m_pUi->labelExtensions->setText(LoadStringText(IDS_SELECT_EXTENSIONS));
    m_pUi->btnAdd->setText(LoadStringText(IDS_ADD));
    m_pUi->btnDel->setText(LoadStringText(IDS_DEL));
    m_pUi->chkSelectAll->setText(LoadStringText(IDS_SELECT_ALL));
    m_pUi->folderList->setHeaderLabels({LoadStringText(IDS_COLUMN_FOLDER), LoadStringText(IDS_COLUMN_WATCH)});

    m_pUi->labelFolders->setAccessibleName(NameWithId(LoadStringText(IDS_SELECT_FOLDERS), IDC_FOLDER_LABEL));
    m_pUi->labelExtensions->setAccessibleName(NameWithId(LoadStringText(IDS_SELECT_EXTENSIONS), IDC_EXTENSION_LABEL));
    m_pUi->folderList->setAccessibleName(NameWithId(LoadStringText(IDS_SELECT_FOLDERS), IDC_FOLDER_LIST));
    m_pUi->extensionList->setAccessibleName(NameWithId(LoadStringText(IDS_SELECT_EXTENSIONS), IDC_EXTENSION_LIST));
    m_pUi->btnAdd->setAccessibleName(NameWithId(LoadStringText(IDS_ADD), IDC_ADD_FOLDER));
    m_pUi->btnDel->setAccessibleName(NameWithId(LoadStringText(IDS_DEL), IDC_DEL_FOLDER));
    m_pUi->chkSelectAll->setAccessibleName(NameWithId(LoadStringText(IDS_SELECT_ALL), IDC_SELECT_ALL));
}

void CPropertyTreePageContentsSettings::ConnectControls()
{
    CCustomListCtrl* pFolders = m_pUi->folderList;
    CFormatSelectListCtrl* pExtensions = m_pUi->extensionList;
    connect(m_pUi->btnAdd, &QPushButton::clicked, this, [this] { OnAdd(); });
    connect(m_pUi->btnDel, &QPushButton::clicked, this, [this] { OnDel(); });
    connect(m_pUi->chkSelectAll, &QCheckBox::clicked, this, [this] { OnSelectAllClicked(); });
    connect(pFolders, &CCustomListCtrl::DelButtonState, this, [this](bool bEnable) { EnableDel(bEnable); });
    connect(pFolders, &CCustomListCtrl::SettingsChanged, this, [this] { NotifyChanged(); });
    connect(pFolders, &CCustomListCtrl::DeleteKeyPressed, this, [this] { OnDel(); });
    connect(pExtensions, &CFormatSelectListCtrl::DelButtonState, this, [this](bool bEnable) { EnableDel(bEnable); });
    connect(pExtensions, &CFormatSelectListCtrl::SelectAllStateChanged, this,
            [this](int nState) { ShowSelectAllState(nState); });
    connect(pExtensions, &CFormatSelectListCtrl::SettingsChanged, this, [this] { NotifyChanged(); });
    connect(pExtensions, &QListWidget::itemSelectionChanged, this, [this] { EnableDel(false); });
}

void CPropertyTreePageContentsSettings::SetServices(IMessagePresenter* pPresenter, IFolderPicker* pFolderPicker)
{
    m_pPresenter = pPresenter;
    m_pFolderPicker = pFolderPicker;
    m_pUi->folderList->SetMessagePresenter(pPresenter);
    m_pUi->extensionList->SetMessagePresenter(pPresenter);
}

void CPropertyTreePageContentsSettings::SetWindowHooks(std::function<int()> displayMode, QPushButton* pOkButton,
                                                       QPushButton* pNextButton)
{
    m_displayMode = std::move(displayMode);
    m_pOkButton = pOkButton;
    m_pNextButton = pNextButton;
}

int CPropertyTreePageContentsSettings::DisplayMode() const
{
    return m_displayMode ? m_displayMode() : kModeConsole;
}

bool CPropertyTreePageContentsSettings::IsWizardContents() const
{
    return DisplayMode() == kModeWizardContents;
}

CCustomListCtrl& CPropertyTreePageContentsSettings::FolderListCtrl() const
{
    return *m_pUi->folderList;
}

CFormatSelectListCtrl& CPropertyTreePageContentsSettings::ExtensionListCtrl() const
{
    return *m_pUi->extensionList;
}

QPushButton* CPropertyTreePageContentsSettings::AddButton() const
{
    return m_pUi->btnAdd;
}

QPushButton* CPropertyTreePageContentsSettings::DelButton() const
{
    return m_pUi->btnDel;
}

QCheckBox* CPropertyTreePageContentsSettings::SelectAllBox() const
{
    return m_pUi->chkSelectAll;
}

// ---------------------------------------------------------------------------------------------
// The lists of a player

void CPropertyTreePageContentsSettings::LoadContentsPage(const QString& sUuid, const QStringList& folders,
                                                         const QStringList& extensions)
{
    m_pUi->extensionList->LoadExtensions(sUuid, extensions);
    m_pUi->folderList->LoadFolders(sUuid, folders);
    m_sDeviceUuid = sUuid;
    MarkListsSaved();
    // A plain two-state box again, unless it shows the mixed state (kept for assistive
    // technology; a press or key turns it two-state before it acts).
    if (!m_bSelectAllMixed)
        m_pUi->chkSelectAll->setTristate(false);
    EnableDel(false);
}

void CPropertyTreePageContentsSettings::ReloadSavedLists(const QString& sUuid)
{
    m_pUi->extensionList->ReloadSaved(sUuid);
    m_pUi->folderList->ReloadSaved(sUuid);
}

bool CPropertyTreePageContentsSettings::IsFolderListModified() const
{
    return m_pUi->folderList->IsModified();
}

bool CPropertyTreePageContentsSettings::CommitFolderList()
{
    return m_pUi->folderList->Commit();
}

void CPropertyTreePageContentsSettings::RevertFolderList()
{
    m_pUi->folderList->Revert();
    EnableDel(false);
}

bool CPropertyTreePageContentsSettings::IsExtensionListModified() const
{
    return m_pUi->extensionList->IsModified();
}

bool CPropertyTreePageContentsSettings::CommitExtensionList()
{
    return m_pUi->extensionList->Commit();
}

bool CPropertyTreePageContentsSettings::CommitLists()
{
    // File types first: a transfer that starts between the two writes finds no new folder
    // without its types.
    const bool bExtensions = CommitExtensionList() || m_pUi->extensionList->DeviceId().isEmpty();
    const bool bFolders = CommitFolderList() || m_pUi->folderList->DeviceId().isEmpty();
    return bExtensions && bFolders;
}

void CPropertyTreePageContentsSettings::RevertExtensionList()
{
    m_pUi->extensionList->Revert();
}

void CPropertyTreePageContentsSettings::MarkListsSaved()
{
    m_pUi->extensionList->MarkSaved();
    m_pUi->folderList->MarkSaved();
}

QStringList CPropertyTreePageContentsSettings::FolderList() const
{
    return m_pUi->folderList->Entries();
}

QStringList CPropertyTreePageContentsSettings::ExtensionList() const
{
    return m_pUi->extensionList->Entries();
}

void CPropertyTreePageContentsSettings::SetFolderList(const QStringList& folders)
{
    m_pUi->folderList->LoadFolders(m_pUi->folderList->DeviceId(), folders);
    NotifyChanged();
}

void CPropertyTreePageContentsSettings::SetExtensionList(const QStringList& extensions)
{
    m_pUi->extensionList->LoadExtensions(m_pUi->extensionList->DeviceId(), extensions);
    NotifyChanged();
}

void CPropertyTreePageContentsSettings::Refresh()
{
    m_pUi->folderList->ClearSelectedRow();
    EnableDel(false);
}

// ---------------------------------------------------------------------------------------------
// "Select all"

void CPropertyTreePageContentsSettings::RefreshSelectAll()
{
    m_pUi->extensionList->RefreshSelectAll();
}

bool CPropertyTreePageContentsSettings::IsSelectAllTicked() const
{
    return !m_bSelectAllMixed && m_pUi->chkSelectAll->isChecked();
}

void CPropertyTreePageContentsSettings::ShowSelectAllState(int nState)
{
    QCheckBox* pBox = m_pUi->chkSelectAll;
    m_bSelectAllMixed = nState == CFormatSelectListCtrl::SELECT_ALL_SOME;
    if (m_bSelectAllMixed) {
        pBox->setTristate(true);
        pBox->setCheckState(Qt::PartiallyChecked);
    } else {
        pBox->setTristate(false);
        pBox->setCheckState(nState == CFormatSelectListCtrl::SELECT_ALL_ALL ? Qt::Checked : Qt::Unchecked);
    }
}

void CPropertyTreePageContentsSettings::OnSelectAllClicked()
{
    QCheckBox* pBox = m_pUi->chkSelectAll;
    // A click on the mixed state ticks everything, whichever state the box moved to.
    const bool bTick = m_bSelectAllMixed || pBox->isChecked();
    m_bSelectAllMixed = false;
    {
        const QSignalBlocker blocker(pBox);
        pBox->setTristate(false);
        pBox->setCheckState(bTick ? Qt::Checked : Qt::Unchecked);
    }
    m_pUi->extensionList->SetAllTicks(bTick);
}

// ---------------------------------------------------------------------------------------------
// Add and Del

void CPropertyTreePageContentsSettings::OnAdd()
{
    if (m_sDeviceUuid.isEmpty() || !m_pFolderPicker)
        return;
    // The main window knows a system dialog is open (so it can close it before a new message).
    if (IMessageReceiver* pMainWnd = MainWindow())
        pMainWnd->SendMessage(CWindowMessage(WM_SET_CONTENTS_DIALOG_OPEN, 0, 1));
    const QString sFolder = m_pFolderPicker->PickFolder(this, LoadStringText(IDS_SELECT_FOLDERS));
    if (IMessageReceiver* pMainWnd = MainWindow())
        pMainWnd->SendMessage(CWindowMessage(WM_SET_CONTENTS_DIALOG_OPEN, 0, 0));
    if (sFolder.isEmpty())
        return;
    // A choice that names no folder here (a name the desktop's dialog could not hand over
    // exactly) would be stored as a folder no transfer can find.
    if (!QFileInfo(sFolder).isDir()) {
        WriteLog("OnAdd: the chosen folder cannot be found: " + sFolder);
        return;
    }
    // The stored form: absolute, with one trailing '/' (the root stays "/").
    m_pUi->folderList->AddFolder(WatchedFolderEntryPath(sFolder), QStringLiteral("1"));
    NotifyChanged();
}

void CPropertyTreePageContentsSettings::OnDel()
{
    CCustomListCtrl* pFolders = m_pUi->folderList;
    if (pFolders->SelectedRow() < 0 || pFolders->DeviceId().isEmpty())
        return;
    pFolders->DeleteFolder(pFolders->SelectedRow());
    EnableDel(false);
    if (DisplayMode() == kModeConsole) {
        if (m_pOkButton)
            m_pOkButton->setFocus();
        NotifyChanged();
    } else if (IsWizardContents()) {
        FocusNextInWizard();
    }
}

void CPropertyTreePageContentsSettings::EnableDel(bool bEnable)
{
    m_pUi->btnDel->setEnabled(bEnable);
}

void CPropertyTreePageContentsSettings::FocusNextInWizard()
{
    if (m_pNextButton && m_pNextButton->isEnabled())
        m_pNextButton->setFocus();
}

// ---------------------------------------------------------------------------------------------
// Mouse and keys

bool CPropertyTreePageContentsSettings::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    QCheckBox* pSelectAll = m_pUi->chkSelectAll;
    switch (pEvent->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (pWatched == m_pUi->extensionList->viewport()) {
            m_pUi->folderList->ClearSelectedRow();
            if (DisplayMode() >= kModeWizardFirst)
                QMetaObject::invokeMethod(
                    this, [this] { FocusNextInWizard(); }, Qt::QueuedConnection);
        } else if (pWatched == m_pUi->folderList->viewport()) {
            m_pUi->extensionList->clearSelection();
            m_pUi->extensionList->ClearClicked();
        } else if (pWatched == pSelectAll) {
            pSelectAll->setTristate(false);
        }
        break;
    case QEvent::KeyPress:
        if (pWatched == pSelectAll)
            pSelectAll->setTristate(false);
        if (HandleKey(pWatched, static_cast<QKeyEvent*>(pEvent)))
            return true;
        break;
    default: break;
    }
    return CPropertyTreePage::eventFilter(pWatched, pEvent);
}

bool CPropertyTreePageContentsSettings::HandleKey(QObject* pWatched, QKeyEvent* pEvent)
{
    const int nKey = pEvent->key();
    if (nKey == Qt::Key_Return || nKey == Qt::Key_Enter) {
        // Enter anywhere on the page is the wizard's Next; on Add or Del it is also that command.
        if (IMessageReceiver* pMainWnd = MainWindow())
            pMainWnd->PostMessage(CWindowMessage(WM_CONTENTS_NEXT));
        if (pWatched == m_pUi->btnAdd) {
            OnAdd();
            return true;
        }
        if (pWatched == m_pUi->btnDel) {
            OnDel();
            return true;
        }
        return false;
    }
    if (nKey == Qt::Key_Tab && pWatched == m_pUi->folderList)
        EnableDel(false);
    const bool bArrow = nKey == Qt::Key_Left || nKey == Qt::Key_Right || nKey == Qt::Key_Up || nKey == Qt::Key_Down;
    if (bArrow && (pWatched == m_pUi->btnAdd || pWatched == m_pUi->btnDel || pWatched == m_pUi->chkSelectAll))
        return true;
    return false;
}

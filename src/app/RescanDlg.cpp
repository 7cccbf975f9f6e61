#include "app/RescanDlg.h"

#include "ui_RescanDlg.h"

#include <QStyle>

#include "desktop/ITimerService.h"
#include "foundation/Log.h"
#include "foundation/StringTable.h"

namespace {

constexpr int kIconSize = 32;

} // namespace

CRescanDlg::CRescanDlg(IOfflineDialogHost& host, ITimerService& timers, QWidget* pParent)
    : CProgramDialog(pParent), m_host(host), m_timers(timers), m_pUi(std::make_unique<Ui::CRescanDlg>())
{
    m_pUi->setupUi(this);
    setObjectName("rescanDialog");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    SetTexts();
    layout()->setSizeConstraint(QLayout::SetMinimumSize);
    adjustSize();
    connect(m_pUi->btnRescan, &QPushButton::clicked, this, [this] { Rescan(); });
    connect(m_pUi->btnSelectDevice, &QPushButton::clicked, this, [this] { OnSelectDevice(); });
}

CRescanDlg::~CRescanDlg()
{
    m_bSearching = false;
    StopSearchThread();
    m_timers.KillAllTimers(this);
}

void CRescanDlg::SetTexts()
{
    setWindowTitle(LoadStringText(101));
    m_sMessage = LoadStringText(147);
    m_sSearching = LoadStringText(181);
    m_pUi->iconLabel->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(kIconSize, kIconSize));
    m_pUi->message->setText(m_sMessage);
    SetDesignId(m_pUi->message, m_sMessage, 1038);
    // The searching line keeps its height while empty, so the window does not jump.
    m_pUi->searchText->setMinimumHeight(m_pUi->searchText->fontMetrics().height());
    m_pUi->btnRescan->setText(LoadStringText(145));
    SetDesignId(m_pUi->btnRescan, m_pUi->btnRescan->text(), 1036);
    m_pUi->btnSelectDevice->setText(LoadStringText(146));
    SetDesignId(m_pUi->btnSelectDevice, m_pUi->btnSelectDevice->text(), 1);
    for (QPushButton* pButton : {m_pUi->btnRescan, m_pUi->btnSelectDevice})
        FitButtonToText(pButton, pButton->text());
}

QString CRescanDlg::MessageText() const
{
    return m_pUi->message->text();
}

QString CRescanDlg::SearchText() const
{
    return m_pUi->searchText->text();
}

void CRescanDlg::showEvent(QShowEvent* pEvent)
{
    CProgramDialog::showEvent(pEvent);
    m_pUi->message->setText(m_sMessage);
    m_pUi->searchText->clear();
    m_pUi->btnRescan->setEnabled(true);
    m_host.OnOfflineDialogStarted();
    m_pUi->btnRescan->setFocus();
    // The dots run only while a search runs (an idle dialog wakes up nothing).
    if (m_bSearchAtOnce) {
        m_pUi->btnSelectDevice->setFocus();
        StartSearching(true);
    }
}

void CRescanDlg::Rescan()
{
    if (!isVisible() || m_bSearching)
        return;
    m_pUi->btnSelectDevice->setFocus();
    StartSearching(false);
}

void CRescanDlg::StartSearching(bool bWithTimeout)
{
    m_pUi->btnRescan->setEnabled(false);
    m_bSearching = true;
    m_host.SetRescanning(true);
    m_nDots = 0;
    m_pUi->searchText->setText(m_sSearching);
    if (!m_timers.IsTimerRunning(this, kTimerDots))
        m_timers.SetTimer(this, kTimerDots, kDotsPeriodMs, [this] { OnDots(); });
    if (bWithTimeout)
        m_timers.SetTimer(this, kTimerTimeout, kTimeoutMs, [this] { OnTimeout(); });
    if (!m_searchThread.joinable()) {
        m_stopSearch.Reset();
        m_searchThread = std::thread([this] { SearchProc(); });
    }
}

void CRescanDlg::SearchProc()
{
    while (m_bSearching.load()) {
        if (m_host.IsCurrentDeviceListed()) {
            // The rest happens on the dialog's thread; the thread ends here.
            QMetaObject::invokeMethod(
                this, [this] { OnFound(); }, Qt::QueuedConnection);
            return;
        }
        if (Clock().WaitFor(m_stopSearch, kPollMs))
            return;
    }
}

void CRescanDlg::StopSearchThread()
{
    m_stopSearch.Set();
    if (m_searchThread.joinable())
        m_searchThread.join();
}

void CRescanDlg::OnFound()
{
    StopSearchThread();
    if (!m_bSearching || !isVisible())
        return;
    WriteLog("CRescanDlg: the device is back.\n");
    m_bSearching = false;
    m_timers.KillTimer(this, kTimerTimeout);
    StopDots();
    m_host.OnDeviceFoundAgain();
    done(kResultClosedItself);
}

void CRescanDlg::OnNotice()
{
    if (m_bSearching)
        OnTimeout();
}

void CRescanDlg::OnTimeout()
{
    m_timers.KillTimer(this, kTimerTimeout);
    m_bSearching = false;
    StopSearchThread();
    StopDots();
    m_pUi->btnRescan->setEnabled(true);
    m_pUi->message->clear();
    m_host.SetRescanning(false);
    m_host.OnSearchGivenUp();
    done(kResultClosedItself);
}

void CRescanDlg::OnSelectDevice()
{
    m_pUi->btnRescan->setEnabled(true);
    m_pUi->message->clear();
    m_timers.KillTimer(this, kTimerTimeout);
    m_bSearching = false;
    StopSearchThread();
    StopDots();
    m_host.SetRescanning(false);
    m_host.OnSelectDevice(m_host.IsCurrentDeviceListed());
    done(kResultSelectDevice);
}

void CRescanDlg::OnDots()
{
    if (!m_bSearching)
        return;
    m_nDots = (m_nDots + 1) % 4;
    m_pUi->searchText->setText(WithDots(m_sSearching, m_nDots));
}

void CRescanDlg::StopDots()
{
    m_timers.KillTimer(this, kTimerDots);
    m_pUi->searchText->clear();
}

void CRescanDlg::done(int nResult)
{
    // Whoever ends the dialog (CloseOpenMessageBox included) ends its search.
    if (m_bSearching.exchange(false))
        m_host.SetRescanning(false);
    StopSearchThread();
    m_timers.KillAllTimers(this);
    CProgramDialog::done(nResult);
}

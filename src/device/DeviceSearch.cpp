#include "device/DeviceSearch.h"

#include <exception>
#include <string>

#include <QStringList>

#include "device/DeviceDescription.h"
#include "device/DeviceWebApi.h"
#include "device/HttpClient.h"
#include "device/SsdpFinder.h"
#include "foundation/Log.h"
#include "foundation/MessageIds.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "platform/TextCodec.h"

namespace {

// The players serve their description on this port, under this path.
const QString kDescriptionPort = QStringLiteral(":60100");
const QString kDescriptionPath = QStringLiteral("/tolva.xml");

QString DescriptionUrlFor(const QString& sIp)
{
    return QStringLiteral("http://") + sIp + kDescriptionPort + kDescriptionPath;
}

// The wait of a pass's message loop for the next message. It is no pause of the program (a pass
// lasts as long as the finder takes, in real time), so it runs on the machine's clock: a test's
// virtual clock, moved on to drive the pauses, must not turn it into a busy loop.
CRealClock& MessageWaitClock()
{
    static CRealClock clock;
    return clock;
}
constexpr std::int64_t kMessageWaitMs = 1000;

} // namespace

bool IsDottedIPv4Address(const QString& sText)
{
    const QStringList parts = sText.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& sPart : parts) {
        // "010" would be octal to some readers and decimal to others: refused rather than guessed.
        if (sPart.isEmpty() || sPart.size() > 3 || (sPart.size() > 1 && sPart[0] == QLatin1Char('0')))
            return false;
        for (const QChar c : sPart) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
        if (sPart.toInt() > 255)
            return false;
    }
    return true;
}

CDeviceSearch::CDeviceSearch(std::unique_ptr<IDeviceFinder> pFinder, SDeviceSearchTimes times)
    : m_pFinder(std::move(pFinder)), m_times(times)
{}

CDeviceSearch::~CDeviceSearch() = default;

bool CDeviceSearch::IsStopping()
{
    return m_pManager->IsSearchStopping() || m_pManager->SearchQueue().IsClosed();
}

void CDeviceSearch::Run(CDeviceManager& manager)
{
    m_pManager = &manager;
    const QString sLastIp = GetCurrentDevIP();
    if (!Pause(m_times.nStartDelayMs))
        return;
    // The last used player is asked once before the first pass; the answer is not needed.
    if (!sLastIp.isEmpty()) {
        QString sIgnored;
        GetDeviceUuid(DescriptionUrlFor(sLastIp), &sIgnored);
    }
    if (!m_pFinder)
        m_pFinder = std::make_unique<CUPnPDeviceFinder>(SsdpInterfaceSource(SsdpSearchInterfaces));
    try {
        while (!IsStopping()) {
            WriteLog(" start search on  times");
            bool bStopped = false;
            if (m_pFinder->StartAsyncFind(m_pManager->SearchQueue()))
                bStopped = !RunPassLoop();
            else
                WriteLog("DeviceManager: the device finder did not start a pass.");
            // Also after a failed start: a pass still running is ended and its worker joined.
            m_pFinder->CancelAsyncFind();
            if (bStopped || !Pause(m_times.nPassGapMs))
                break;
        }
    } catch (const std::exception&) {
        WriteLog(" search func exception ");
    }
    m_pFinder->CancelAsyncFind();
}

bool CDeviceSearch::RunPassLoop()
{
    CThreadMessageQueue& queue = m_pManager->SearchQueue();
    m_bPassEnded = false;
    while (!m_bPassEnded) {
        if (IsStopping())
            return false;
        CWindowMessage msg;
        if (queue.TryGet(msg)) {
            Dispatch(msg);
        } else {
            MessageWaitClock().WaitFor(queue.ArrivalEvent(), kMessageWaitMs);
        }
    }
    return !IsStopping();
}

void CDeviceSearch::Dispatch(CWindowMessage& msg)
{
    switch (msg.nMessage) {
    case WM_FINDER_DEVICE_ADDED:
        if (const SUPnPDevice* pDevice = msg.Payload<SUPnPDevice>())
            DeviceAdded(*pDevice);
        break;
    case WM_FINDER_SEARCH_COMPLETE: SearchComplete(msg.wParam != kPassSearchedNowhere); break;
    case WM_MANUAL_ADD_REQUEST:
        if (const QString* psIp = msg.Payload<QString>())
            DeviceAddedManual(*psIp);
        else
            WriteLog("DeviceManager: manual add request without an address ignored.");
        break;
    default: WriteLogF("DeviceManager: unknown search thread message %u ignored.", msg.nMessage); break;
    }
}

bool CDeviceSearch::Pause(std::int64_t nMs)
{
    // Only a stop ends the pause early; requests that arrive meanwhile wait in the queue for the
    // next pass's message loop.
    Clock().WaitFor(m_pManager->SearchStopEvent(), nMs);
    return !IsStopping();
}

void CDeviceSearch::DeviceAdded(const SUPnPDevice& device)
{
    IDeviceManagerListener* pListener = m_pManager->Listener();
    if (!pListener)
        return;
    const QString& sUuid = device.sUdn;
    if (sUuid.isEmpty()) {
        // The table is keyed by the UDN: a device without one could never be told apart.
        WriteLogF("DeviceManager: device at %s has no UDN, ignored.", ToUtf8(device.sDocumentUrl).constData());
        return;
    }
    if (!m_pManager->FindDevice(sUuid) && m_pManager->Table().GetCount() >= kMaxSearchedPlayers) {
        // Each new player costs requests, a folder and its pictures: a flood of forged answers
        // must not make the program fetch and store without end.
        WriteLogF("DeviceManager: %zu players are known already; %s is not taken.", kMaxSearchedPlayers,
                  ToUtf8(sUuid).constData());
        return;
    }
    QString sName;
    GetFriendlyName(device.sDocumentUrl, &sName);
    if (sName.isEmpty())
        sName = device.sFriendlyName;
    QString sHost;
    const bool bHasHost =
        !device.sPresentationUrl.isEmpty() && HostOfUrl(device.sPresentationUrl, &sHost) && !sHost.isEmpty();

    if (m_pManager->FindDevice(sUuid)) {
        // Known player: it is online; address and name are refreshed, nothing else.
        m_pManager->UpdateKnownDevice(sUuid, bHasHost ? sHost : QString(), sName);
        return;
    }

    QString sBaseUrl;
    if (!GetBaseUrl(device.sDocumentUrl, &sBaseUrl))
        return; // not a player, or its description cannot be read: asked again next pass
    auto pRecord = std::make_unique<CDeviceInfo>();
    pRecord->SetUuid(sUuid);
    pRecord->SetFriendlyName(sName);
    pRecord->SetJpegIconUrl(device.IconUrl(QStringLiteral("image/jpeg")));
    pRecord->SetPngIconUrl(device.IconUrl(QStringLiteral("image/png")));
    pRecord->SetOnline(true);
    pRecord->SetBaseUrl(sBaseUrl);
    UpdateSupportedFileTypes(*pRecord);
    if (!bHasHost) {
        WriteLogF("DeviceManager: device %s has no presentation address, ignored.", ToUtf8(sUuid).constData());
        return;
    }
    pRecord->SetIp(sHost);
    if (CreateDeviceFolder(sUuid))
        DownloadDeviceIcons(*pRecord);
    m_pManager->AddDevice(std::move(pRecord));
}

void CDeviceSearch::SearchComplete(bool bSearched)
{
    WriteLog(" search complete one time ");
    if (bSearched) {
        UpdateConnectState();
        WriteLog(" UpdateConnectState() finished ");
    } else {
        // No interface to search on (the network is down or changing its address): a pass that
        // could not ask anybody is no sign that the players went away.
        WriteLog("DeviceManager: the pass searched on no interface; every player is kept.");
    }
    IDeviceManagerListener* pListener = m_pManager->Listener();
    if (pListener)
        pListener->SearchFinishedOneTime();
    WriteLog(" m_pCommonManagerListener->SearchFinishedOneTime() finished ");
    m_nCompletedPasses.fetch_add(1);
    // Hold: no new pass (and no manual add) while the owner checks a player's power or wakes it.
    for (;;) {
        pListener = m_pManager->Listener();
        const bool bCheckingPower = pListener && pListener->IsCheckingPower();
        const bool bWaking = pListener && pListener->IsWakingForExplore();
        if (!bCheckingPower && !bWaking)
            break;
        if (bCheckingPower)
            WriteLog("because checking power status , pause device finder");
        if (bWaking)
            WriteLog("because OpenExplore flag , pause device finder");
        if (!Pause(m_times.nHoldStepMs))
            break;
    }
    m_bPassEnded = true;
    WriteLog(" OnSearchComplete  quit ");
}

void CDeviceSearch::UpdateConnectState()
{
    CThreadSafeMap<CDeviceInfo>& table = m_pManager->Table();
    std::size_t nCount = 0;
    {
        std::lock_guard lock(m_pManager->ManagerLock());
        nCount = table.GetCount();
    }
    for (std::size_t i = 0; i < nCount;) {
        QString sUuid;
        CDeviceInfo* pDevice = nullptr;
        {
            std::lock_guard lock(m_pManager->ManagerLock());
            pDevice = table.At(i, &sUuid);
        }
        if (!pDevice)
            break;
        // Used without the locks from here: only this thread erases records.
        IDeviceManagerListener* pListener = m_pManager->Listener();
        bool bKeep = pDevice->IsOnline() || (pListener && pListener->IsCheckingPower());
        if (!bKeep && pDevice->IsManualAdded()) {
            // The search never reports a player added by address: it stays while it answers.
            std::string response;
            bKeep = GetHttpData(DescriptionUrlFor(pDevice->Ip()), response) == 0;
        }
        if (bKeep) {
            pDevice->SetOnline(false);
            ++i;
            continue;
        }
        // The next record moves up to index i.
        if (m_pManager->RemoveOfflineDevice(sUuid)) {
            --nCount;
            // A player the user never set up leaves nothing behind but its pictures.
            RemoveUnusedDeviceFolder(sUuid);
        } else {
            ++i;
        }
    }
}

void CDeviceSearch::DeviceAddedManual(const QString& sIp)
{
    IDeviceManagerListener* pListener = m_pManager->Listener();
    if (!pListener)
        return;
    if (!IsDottedIPv4Address(sIp)) {
        // The text becomes part of a URL: anything but an address could point the request
        // elsewhere. Reported like an address without a description.
        WriteLogF("DeviceAddedManual: '%s' is not an IPv4 address, nothing added.", ToUtf8(sIp).constData());
        pListener->NotifyManualAddNoDescription(MANUAL_ADD_NO_ANSWER, 0);
        return;
    }
    const QString sUrl = DescriptionUrlFor(sIp);
    const SDescriptionCheck check = CheckDeviceDescription(sUrl);
    if (!check.bAnswered) {
        pListener->NotifyManualAddNoDescription(MANUAL_ADD_NO_ANSWER, 0);
        return;
    }
    const QString sUuid = check.sUuid;
    if (sUuid.isEmpty()) {
        // The table is keyed by the UDN; a record under the empty key could never be told apart
        // from another player without one, and would have no folder of its own.
        WriteLogF("DeviceAddedManual: the description at %s has no UDN, nothing added.", ToUtf8(sUrl).constData());
        const EManualAddProblem eProblem = check.nHttpStatus >= 400 ? MANUAL_ADD_HTTP_ERROR
                                           : !check.bParsed         ? MANUAL_ADD_NOT_XML
                                                                    : MANUAL_ADD_NO_UDN;
        pListener->NotifyManualAddNoDescription(eProblem, check.nHttpStatus);
        return;
    }
    if (const std::optional<SDeviceSnapshot> known = m_pManager->FindDevice(sUuid)) {
        m_pManager->SelectDevice(sUuid);
        pListener->SelectDeviceManual(sUuid, known->sIp);
        pListener->NotifyManualAddFinished();
        return;
    }
    WriteLog(" bbbbbbbbbbb DeviceAddedManual");
    const QString sIconBase = QStringLiteral("http://") + sIp + kDescriptionPort;
    QString sBaseUrl;
    GetBaseUrlFromUrl(sUrl, &sBaseUrl); // an empty base URL is accepted
    QString sJpegIcon;
    QString sPngIcon;
    GetIconUrl(sUrl, &sJpegIcon);
    GetIconUrl(sUrl, &sPngIcon);
    QString sName;
    GetFriendlyName(sUrl, &sName);

    auto pRecord = std::make_unique<CDeviceInfo>();
    pRecord->SetUuid(sUuid);
    pRecord->SetFriendlyName(sName);
    // No icon in the description: no URL, rather than the player's bare address as a picture.
    pRecord->SetJpegIconUrl(sJpegIcon.isEmpty() ? QString() : sIconBase + sJpegIcon);
    pRecord->SetPngIconUrl(sPngIcon.isEmpty() ? QString() : sIconBase + sPngIcon);
    pRecord->SetOnline(true);
    pRecord->SetBaseUrl(sBaseUrl);
    UpdateSupportedFileTypes(*pRecord);
    pRecord->SetManualAdded(true);
    QString sHost;
    if (!HostOfUrl(sUrl, &sHost) || sHost.isEmpty()) {
        pListener->NotifyManualAddFinished();
        return;
    }
    pRecord->SetIp(sHost);
    if (CreateDeviceFolder(sUuid))
        DownloadDeviceIcons(*pRecord);
    // Selected, then announced: the window never sees the new player as not yet current.
    m_pManager->AddDevice(std::move(pRecord), true);
    pListener->NotifyManualAddFinished();
}

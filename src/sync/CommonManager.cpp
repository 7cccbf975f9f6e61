#include "sync/CommonManager.h"

#include "device/DeviceWebApi.h"
#include "foundation/Log.h"
#include "foundation/MessageIds.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "platform/ShareFileSystem.h"
#include "sync/DeviceLists.h"

namespace {
constexpr std::int64_t kFilesReadyDelayMs = 2000;
constexpr int kExploreShareTries = 5;
constexpr std::int64_t kExploreSharePauseMs = 5000;
} // namespace

CCommonManager::CCommonManager() : m_contentsManager(this), m_pDevicePower(std::make_shared<CDeviceWebApi>())
{
    m_deviceManager.SetListener(this);
    m_transferManager.Initialize(this, &m_deviceManager, &m_contentsManager);
}

CCommonManager::~CCommonManager()
{
    // From here on no outcome is sent: the window is going away and must not be waited for.
    m_bClosing.store(true);
    m_closingEvent.Set();
    m_bCheckingPower.store(false);
    m_contentsManager.SetStop(true);
    m_transferManager.RequestStop();
    // The scan may still start a power check, and a power check may still start the transfer
    // thread; so end them in that order.
    m_contentsManager.JoinScan();
    {
        std::shared_ptr<IDevicePower> pDevicePower;
        {
            std::lock_guard lock(m_powerMutex);
            pDevicePower = std::move(m_pDevicePower);
        }
        pDevicePower.reset(); // joins the power threads
    }
    m_transferManager.Shutdown();
    m_deviceManager.StopSearch();
    m_deviceManager.SetListener(nullptr);
}

void CCommonManager::Initialize(IMessageReceiver* pMainWnd, IDeviceEventReceiver* pDeviceEvents)
{
    if (pMainWnd)
        m_pMainWnd.store(pMainWnd);
    if (pDeviceEvents)
        m_pDeviceEvents.store(pDeviceEvents);
}

void CCommonManager::SetDevicePower(std::unique_ptr<IDevicePower> pDevicePower)
{
    std::shared_ptr<IDevicePower> pOld;
    std::lock_guard lock(m_powerMutex);
    pOld = std::move(m_pDevicePower);
    m_pDevicePower = std::move(pDevicePower);
}

bool CCommonManager::StartDeviceSearch(std::unique_ptr<IDeviceFinder> pFinder, SDeviceSearchTimes times)
{
    if (m_bClosing.load())
        return false;
    return m_deviceManager.StartSearch(std::make_unique<CDeviceSearch>(std::move(pFinder), times));
}

void CCommonManager::Pause(std::int64_t nMs)
{
    Clock().WaitFor(m_closingEvent, nMs);
}

void CCommonManager::PostToMainWindow(CWindowMessage msg)
{
    if (IMessageReceiver* pMainWnd = m_pMainWnd.load())
        pMainWnd->PostMessage(std::move(msg));
}

bool CCommonManager::CheckCurrentDevice(SDeviceSnapshot* pDevice)
{
    const std::optional<SDeviceSnapshot> device = m_deviceManager.CurrentDevice();
    if (!device) {
        TransferFinished(EC_NO_DEVICE);
        WriteLog("StartSync: Get current device's information failure!");
        return false;
    }
    if (device->sUuid.isEmpty()) {
        TransferFinished(EC_NO_UUID);
        WriteLog("StartSync: The device's UIID which selected is null!");
        return false;
    }
    if (device->sIp.isEmpty()) {
        TransferFinished(EC_NO_IP);
        WriteLog("StartSync: The device's IP which selected is null!");
        return false;
    }
    *pDevice = *device;
    return true;
}

void CCommonManager::StartSync()
{
    WriteLog("Start sync!!!!!!!!!!");
    m_contentsManager.SetStop(false);
    m_bSomeFilesFailed.store(false);
    m_transferManager.ClearStop();

    SDeviceSnapshot device;
    if (!CheckCurrentDevice(&device))
        return;
    if (!HasTickedListLine(ReadListFile(device.sUuid, kSyncFolderListName))) {
        TransferFinished(EC_NO_FOLDER);
        WriteLog("StartSync: no folder selected!");
        return;
    }
    if (!HasTickedListLine(ReadListFile(device.sUuid, kCapabilityListName))) {
        TransferFinished(EC_NO_FORMAT);
        WriteLog("StartSync: no format checked!");
        return;
    }
    // A scan that still runs keeps its device and goes on; no second scan is started.
    if (m_contentsManager.IsScanRunning())
        return;
    m_contentsManager.SetDevice(device.sUuid, device.sIp);
    m_bDeviceWoken.store(false);
    m_contentsManager.StartScan();
}

void CCommonManager::CancelSync()
{
    m_bCheckingPower.store(false);
    m_contentsManager.SetStop(true);
    m_transferManager.RequestStop();
}

bool CCommonManager::SelectDevice(const QString& sUuid)
{
    return m_deviceManager.SelectDevice(sUuid);
}

bool CCommonManager::StartDevicePowerCheck(const SDeviceSnapshot& device, bool bAllowWakeUp)
{
    SPowerCheckRequest request;
    request.sUuid = device.sUuid;
    request.sBaseUrl = device.sBaseUrl;
    request.bAllowWakeUp = bAllowWakeUp;
    request.pListener = this;
    std::lock_guard lock(m_powerMutex);
    if (!m_pDevicePower) {
        WriteLog("StartPowerCheck: no power check available!");
        return false;
    }
    // A check that already runs for this device reports for this run as well.
    m_pDevicePower->StartPowerCheck(request);
    return true;
}

void CCommonManager::RecheckPower()
{
    const std::optional<SDeviceSnapshot> device = m_deviceManager.CurrentDevice();
    if (!device) {
        TransferFinished(EC_NO_DEVICE);
        WriteLog("StartSync: Get current device's information failure!");
        return;
    }
    if (!StartDevicePowerCheck(*device, false))
        TransferFinished(EC_POWER_NOT_READY);
}

void CCommonManager::StartPowerCheck()
{
    if (m_bClosing.load())
        return;
    SDeviceSnapshot device;
    if (!CheckCurrentDevice(&device))
        return;
    m_bCheckingPower.store(true);
    if (!StartDevicePowerCheck(device, true)) {
        m_bCheckingPower.store(false);
        TransferFinished(EC_POWER_NOT_READY);
    }
}

void CCommonManager::OnPowerStateResult(bool bPowerOk)
{
    if (m_bClosing.load())
        return;
    // The check is over whatever its verdict: a flag left set would hold the device search and
    // its offline check for good.
    m_bCheckingPower.store(false);
    if (!bPowerOk) {
        TransferFinished(EC_POWER_NOT_READY);
        WriteLog("StartSync: The device's Power not OK!");
        return;
    }
    WriteLog("conmon manager: power cheking OK");

    SDeviceSnapshot device;
    if (!CheckCurrentDevice(&device))
        return;
    if (GetSyncFileSavePosition() == SAVE_POSITION_EXTERNAL) {
        CShareFileSystem fs;
        if (!fs.PathExists(ExternalSharePath(device.sIp))) {
            TransferFinished(EC_NO_EXTERNAL);
            return;
        }
    }
    // A transfer thread that still waits for the files-ready event takes this run.
    m_transferManager.StartThread();
    Pause(kFilesReadyDelayMs);
    m_contentsManager.FilesReadyEvent().Set();
}

void CCommonManager::TransferFinished(eErrorCode eCode)
{
    WriteLogF("CCommonManager::TransferFinished\teErrorCode = %d.\n", static_cast<int>(eCode));
    IMessageReceiver* pMainWnd = m_pMainWnd.load();
    if (!pMainWnd || m_bClosing.load())
        return;
    // Sent, not posted: the window resets its transfer state from the outcome before the
    // reporting thread may go on (and before the next run can start).
    pMainWnd->SendMessage(CWindowMessage(WM_TRANSFER_FINISHED, 0, static_cast<std::intptr_t>(eCode)));
}

bool CCommonManager::SetDevicePowerState()
{
    const std::optional<SDeviceSnapshot> device = m_deviceManager.CurrentDevice();
    if (!device)
        return false;
    // The web requests and the wake-up wait block; they run without the lock, so that the
    // scan's power check is not held up meanwhile.
    std::shared_ptr<IDevicePower> pPower;
    {
        std::lock_guard lock(m_powerMutex);
        pPower = m_pDevicePower;
    }
    if (!pPower)
        return false;
    EStandbyDetail eDetail = STANDBY_OTHER;
    EDevicePowerState eState = pPower->GetPowerState(device->sBaseUrl, &eDetail);
    if (IsPowerReady(eState, eDetail))
        return true;
    if (eState != POWER_STANDBY || eDetail != STANDBY_NETWORK_READY)
        return false;

    m_bWakingForExplore.store(true);
    pPower->SetPowerStateToDatabase(device->sBaseUrl);
    WriteLog("CommonManager SetDevicePowerState.");
    Pause(static_cast<std::int64_t>(GetPowerRebootWaitingTimeSecond()) * 1000);
    CShareFileSystem fs;
    for (int nTry = 0; nTry < kExploreShareTries && !m_bClosing.load(); ++nTry) {
        if (fs.PathExists(InternalSharePath(device->sIp)))
            break;
        Pause(kExploreSharePauseMs);
    }
    m_bWakingForExplore.store(false);

    eDetail = STANDBY_OTHER;
    eState = pPower->GetPowerState(device->sBaseUrl, &eDetail);
    return IsPowerReady(eState, eDetail);
}

void CCommonManager::addDeviceManual(const QString& sIp)
{
    WriteLog(" aaaaaaaaaaaa addDeviceManual");
    m_deviceManager.SearchQueue().Post(CWindowMessage::WithPayload(WM_MANUAL_ADD_REQUEST, QString(sIp)));
}

QStringList CCommonManager::GetHistoryLines() const
{
    return m_contentsManager.GetHistoryLines();
}

void CCommonManager::UpdateDeviceInfo(const SDeviceChange& change)
{
    if (IDeviceEventReceiver* pReceiver = m_pDeviceEvents.load())
        pReceiver->UpdateDeviceInfo(change);
}

void CCommonManager::UpdateDeviceRemoved(const QString& sUuid)
{
    WriteLogF("CCommonManager::UpdateDeviceRemoved\tuuid = %s.\n", sUuid.toUtf8().constData());
    PostToMainWindow(CWindowMessage::WithPayload(WM_DEVICE_REMOVED, QString(sUuid)));
}

void CCommonManager::SelectDeviceManual(const QString& sUuid, const QString& sIp)
{
    IDeviceEventReceiver* pReceiver = m_pDeviceEvents.load();
    if (!pReceiver)
        return;
    WriteLog("ddddddddddddddd SelectDeviceManual");
    pReceiver->SelectDeviceManual(sUuid, sIp);
}

void CCommonManager::NotifyManualAddFinished()
{
    // For the Connection page, which the main window owns and hands the message to.
    PostToMainWindow(CWindowMessage(WM_MANUAL_ADD_FINISHED));
}

void CCommonManager::NotifyManualAddNoDescription(EManualAddProblem eProblem, long nHttpStatus)
{
    PostToMainWindow(CWindowMessage(WM_MANUAL_ADD_NO_DESCRIPTION, static_cast<std::uintptr_t>(eProblem),
                                    static_cast<std::intptr_t>(nHttpStatus)));
}

void CCommonManager::OnWakeWaitStarted(unsigned nSeconds)
{
    PostToMainWindow(CWindowMessage(WM_POWER_WAKE_WAIT, nSeconds));
}

void CCommonManager::SearchFinishedOneTime()
{
    PostToMainWindow(CWindowMessage(WM_DEVICE_NOT_FOUND));
}

void CCommonManager::OnCurrentDeviceRemoved()
{
    // The state first: a copy that fails from now on sees a vanished device, not a file error.
    m_transferManager.SetDeviceState(EC_DEVICE_REMOVED);
    m_contentsManager.SetStop(true);
    m_transferManager.RequestStop();
}

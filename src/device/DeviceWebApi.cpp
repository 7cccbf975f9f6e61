#include "device/DeviceWebApi.h"

#include <algorithm>

#include "device/DeviceInfo.h"
#include "device/HttpClient.h"
#include "foundation/Log.h"
#include "foundation/Settings.h"
#include "platform/TextCodec.h"

namespace {

// Tries of the file-type query while the answer stays empty.
constexpr int kFileTypeTries = 3;
constexpr std::int64_t kWakeWaitStepMs = 1000;

} // namespace

void ExecuteRequest(QString& sContent, const QString& sUrl, const std::string& strBody)
{
    std::string strResponse;
    // A failed request leaves the response empty, which callers read as "no answer".
    GetHttpDataByPostData(strBody, sUrl, "POST", strResponse);
    // The whole answer is kept (the client bounds it); cutting it short could drop the closing
    // bracket of a long file-type list.
    sContent = FromLocaleCharset(QByteArray::fromStdString(strResponse));
    WriteLogF("ExecuteRequest: sContent = %s.\n", ToUtf8(sContent).constData());
}

void GetPowerStateFromBaseUrl(const QString& sBaseUrl, QString& sContent)
{
    WriteLog("Enter GetPowerStateFromBaseUrl.");
    const QString sUrl = sBaseUrl + "/system";
    WriteLogF("  strPostURL =   %s ", ToUtf8(sUrl).constData());
    ExecuteRequest(sContent, sUrl, kPowerQueryBody);
}

void GetCapabilityFromBaseUrl(const QString& sBaseUrl, QString& sContent)
{
    WriteLog("Enter GetCapabilityFromBaseUrl.");
    ExecuteRequest(sContent, sBaseUrl + "/avContent", kFileTypeQueryBody);
}

EDevicePowerState ClassifyPowerAnswer(const QString& sContent, EStandbyDetail* peDetail)
{
    if (sContent.contains(QLatin1String("\"active\"")))
        return POWER_ACTIVE;
    if (!sContent.contains(QLatin1String("\"standby\"")))
        return POWER_OTHER;
    EStandbyDetail eDetail = STANDBY_OTHER;
    if (sContent.contains(QLatin1String("\"databaseReady\"")))
        eDetail = STANDBY_DATABASE_READY;
    else if (sContent.contains(QLatin1String("\"networkReady\"")))
        eDetail = STANDBY_NETWORK_READY;
    if (peDetail)
        *peDetail = eDetail;
    return POWER_STANDBY;
}

EDevicePowerState GetPowerState(const QString& sBaseUrl, EStandbyDetail* peDetail)
{
    QString sContent;
    GetPowerStateFromBaseUrl(sBaseUrl, sContent);
    return ClassifyPowerAnswer(sContent, peDetail);
}

void SetPowerStateToDatabase(const QString& sBaseUrl)
{
    QString sContent;
    ExecuteRequest(sContent, sBaseUrl + "/system", kWakeRequestBody);
}

bool ParseSupportedFileTypes(const QString& sContent, QStringList* pTypes)
{
    const qsizetype nOpen = sContent.lastIndexOf('[');
    const qsizetype nClose = sContent.indexOf(']');
    if (nOpen < 0 || nClose < 0 || nOpen > nClose)
        return false;
    const QString s = sContent.mid(nOpen, nClose - nOpen + 1);
    QStringList types;
    // Entries without a '*' run from the last one (or the start), so they overlap; their total
    // is held to the list's own length, which a real list never comes near, so that a hostile
    // answer cannot multiply itself in memory.
    qsizetype nTotal = 0;
    qsizetype nStart = 0;
    for (qsizetype k = 1; k < s.size(); ++k) {
        const QChar c = s[k];
        if (c == '*') {
            nStart = k;
        } else if (c == ',' || c == ']') {
            // From the '*' to the character before the closing quote, without "*.".
            const QString sToken = s.mid(nStart, k - nStart - 1);
            if (sToken.size() >= 2) {
                const QString sExtension = sToken.mid(2);
                // An entry of just "*." names no extension; an empty one would match nothing
                // sensible in the folder scan.
                if (!sExtension.isEmpty()) {
                    nTotal += sExtension.size();
                    if (nTotal > s.size()) {
                        WriteLog("ParseSupportedFileTypes: the list is malformed; the rest is dropped.");
                        break;
                    }
                    types.append(sExtension);
                }
            }
        }
    }
    if (pTypes)
        *pTypes = types;
    return true;
}

void UpdateSupportedFileTypes(const QString& sBaseUrl, QStringList* pTypes)
{
    QString sContent;
    for (int nTry = 0; nTry < kFileTypeTries && sContent.isEmpty(); ++nTry)
        GetCapabilityFromBaseUrl(sBaseUrl, sContent);
    if (sContent.isEmpty()) {
        EStandbyDetail eDetail = STANDBY_OTHER;
        const EDevicePowerState eState = GetPowerState(sBaseUrl, &eDetail);
        WriteLogF(" get format failed  , device eDevicePowerState=   %u  , device standbyDetail=   %u ",
                  static_cast<unsigned>(eState), static_cast<unsigned>(eDetail));
        if (pTypes)
            pTypes->clear();
        return;
    }
    ParseSupportedFileTypes(sContent, pTypes);
}

void UpdateSupportedFileTypes(CDeviceInfo& device)
{
    QStringList types = device.SupportedTypes();
    UpdateSupportedFileTypes(device.BaseUrl(), &types);
    device.SetSupportedTypes(types);
}

bool CheckPowerReady(const SPowerCheckRequest& request, CEvent& eShutdown)
{
    IPowerCheckListener* pListener = request.pListener;
    EStandbyDetail eDetail = STANDBY_OTHER;
    const EDevicePowerState eState = GetPowerState(request.sBaseUrl, &eDetail);
    if (IsPowerReady(eState, eDetail))
        return true;
    if (eState != POWER_STANDBY || eDetail != STANDBY_NETWORK_READY || !request.bAllowWakeUp)
        return false;
    SetPowerStateToDatabase(request.sBaseUrl);
    WriteLog("Set device to database state ");
    // The player needs time to start its database; a cancelled transfer does not wait for it.
    const DWORD dwWaitSeconds = GetPowerRebootWaitingTimeSecond();
    if (pListener)
        pListener->OnWakeWaitStarted(dwWaitSeconds);
    const std::int64_t nDeadlineMs = Clock().NowMs() + static_cast<std::int64_t>(dwWaitSeconds) * kWakeWaitStepMs;
    bool bShutdown = false;
    for (;;) {
        const std::int64_t nLeftMs = nDeadlineMs - Clock().NowMs();
        if (nLeftMs <= 0 || (pListener && pListener->IsTransferStopRequested()))
            break;
        // One second at a time, so a stop request ends the wait within a second.
        if (Clock().WaitFor(eShutdown, std::min(nLeftMs, kWakeWaitStepMs))) {
            bShutdown = true;
            break;
        }
    }
    if (pListener)
        pListener->OnDeviceWoken();
    if (bShutdown)
        return false;
    EStandbyDetail eNewDetail = STANDBY_OTHER;
    const EDevicePowerState eNewState = GetPowerState(request.sBaseUrl, &eNewDetail);
    if (IsPowerReady(eNewState, eNewDetail))
        return true;
    WriteLogF("Power check: the player is not ready %u s after the wake request (state %u, standby detail %u).",
              static_cast<unsigned>(dwWaitSeconds), static_cast<unsigned>(eNewState), static_cast<unsigned>(eNewDetail));
    return false;
}

void PowerCheckProc(const SPowerCheckRequest& request, CEvent& eShutdown)
{
    const bool bReady = CheckPowerReady(request, eShutdown);
    if (request.pListener)
        request.pListener->OnPowerStateResult(bReady);
}

CDeviceWebApi::~CDeviceWebApi()
{
    {
        std::lock_guard lock(m_mutex);
        m_bShuttingDown = true;
    }
    m_eShutdown.Set();
    // No thread is added any more; each ends by taking m_mutex once, so join without it.
    for (auto& [sUuid, pThread] : m_threads) {
        if (pThread->thread.joinable())
            pThread->thread.join();
    }
    for (SEndedThread& ended : m_ended)
        ended.thread.join();
}

void CDeviceWebApi::JoinReturnedThreadsLocked()
{
    std::erase_if(m_ended, [](SEndedThread& ended) {
        if (!ended.pReturned->load())
            return false;
        ended.thread.join(); // past its last statement: returns at once
        return true;
    });
}

bool CDeviceWebApi::StartPowerCheck(const SPowerCheckRequest& request)
{
    if (!request.pListener)
        return false;
    std::lock_guard lock(m_mutex);
    if (m_bShuttingDown)
        return false;
    JoinReturnedThreadsLocked();
    std::unique_ptr<SPowerThread>& pThread = m_threads[request.sUuid];
    if (!pThread) {
        pThread = std::make_unique<SPowerThread>();
    } else if (pThread->bRunning) {
        // The running check reports for this request as well. One that may not wake the player
        // cannot answer for a transfer that may: it asks once more with waking allowed before
        // it reports, if the player was not ready.
        if (request.bAllowWakeUp && !pThread->bAllowWakeUp)
            pThread->bWakeAsked = true;
        return false;
    } else if (pThread->thread.joinable()) {
        // The previous check has reported but may still be inside its report: this very call
        // may come from the report's handler (a recheck after "not ready"). It is joined once
        // it has returned, never waited for here.
        m_ended.push_back({std::move(pThread->thread), pThread->pReturned});
    }
    pThread->bRunning = true;
    pThread->bAllowWakeUp = request.bAllowWakeUp;
    pThread->bWakeAsked = false;
    pThread->pReturned = std::make_shared<std::atomic<bool>>(false);
    SPowerThread* pEntry = pThread.get();
    pThread->thread = std::thread([this, request, pEntry, pReturned = pThread->pReturned] {
        SPowerCheckRequest current = request;
        bool bReady = false;
        for (;;) {
            bReady = CheckPowerReady(current, m_eShutdown);
            std::lock_guard threadLock(m_mutex);
            if (pEntry->bWakeAsked && !bReady && !m_bShuttingDown) {
                pEntry->bWakeAsked = false;
                pEntry->bAllowWakeUp = true;
                current.bAllowWakeUp = true;
                continue;
            }
            // Ended before the report: a check started from the report's handler is a new one.
            pEntry->bRunning = false;
            break;
        }
        if (current.pListener)
            current.pListener->OnPowerStateResult(bReady);
        pReturned->store(true);
    });
    return true;
}

EDevicePowerState CDeviceWebApi::GetPowerState(const QString& sBaseUrl, EStandbyDetail* peDetail)
{
    return ::GetPowerState(sBaseUrl, peDetail);
}

void CDeviceWebApi::SetPowerStateToDatabase(const QString& sBaseUrl)
{
    ::SetPowerStateToDatabase(sBaseUrl);
}

bool CDeviceWebApi::IsPowerCheckRunning(const QString& sUuid) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_threads.find(sUuid);
    return it != m_threads.end() && it->second->bRunning;
}

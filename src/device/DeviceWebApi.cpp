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

QByteArray Utf8(const QString& s)
{
    return s.toUtf8();
}

} // namespace

void ExecuteRequest(QString& sContent, const QString& sUrl, const std::string& strBody)
{
    std::string strResponse;
    // A failed request leaves the response empty, which callers read as "no answer".
    GetHttpDataByPostData(strBody, sUrl, "POST", strResponse);
    // The whole answer is kept (the client bounds it); cutting it short could drop the closing
    // bracket of a long file-type list.
    sContent = FromLocaleCharset(QByteArray::fromStdString(strResponse));
    WriteLogF("ExecuteRequest: sContent = %s.\n", Utf8(sContent).constData());
}

void GetPowerStateFromBaseUrl(const QString& sBaseUrl, QString& sContent)
{
    WriteLog("Enter GetPowerStateFromBaseUrl.");
    const QString sUrl = sBaseUrl + "/system";
    WriteLogF("  strPostURL =   %s ", Utf8(sUrl).constData());
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

void PowerCheckProc(const SPowerCheckRequest& request, CEvent& eShutdown)
{
    IPowerCheckListener* pListener = request.pListener;
    bool bReady = false;
    EStandbyDetail eDetail = STANDBY_OTHER;
    const EDevicePowerState eState = GetPowerState(request.sBaseUrl, &eDetail);
    if (IsPowerReady(eState, eDetail)) {
        bReady = true;
    } else if (eState == POWER_STANDBY && eDetail == STANDBY_NETWORK_READY && request.bAllowWakeUp) {
        SetPowerStateToDatabase(request.sBaseUrl);
        WriteLog("Set device to database state ");
        // The player needs time to start its database; a cancelled transfer does not wait for it.
        const std::int64_t nDeadlineMs =
            Clock().NowMs() + static_cast<std::int64_t>(GetPowerRebootWaitingTimeSecond()) * kWakeWaitStepMs;
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
        if (!bShutdown) {
            EStandbyDetail eNewDetail = STANDBY_OTHER;
            const EDevicePowerState eNewState = GetPowerState(request.sBaseUrl, &eNewDetail);
            bReady = IsPowerReady(eNewState, eNewDetail);
        }
    }
    if (pListener)
        pListener->OnPowerStateResult(bReady);
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
}

bool CDeviceWebApi::StartPowerCheck(const SPowerCheckRequest& request)
{
    if (!request.pListener)
        return false;
    std::lock_guard lock(m_mutex);
    if (m_bShuttingDown)
        return false;
    std::unique_ptr<SPowerThread>& pThread = m_threads[request.sUuid];
    if (!pThread) {
        pThread = std::make_unique<SPowerThread>();
    } else {
        if (pThread->bRunning)
            return false;
        // The previous thread has cleared its flag under this lock and only returns now.
        if (pThread->thread.joinable())
            pThread->thread.join();
    }
    pThread->bRunning = true;
    SPowerThread* pEntry = pThread.get();
    pThread->thread = std::thread([this, request, pEntry] {
        PowerCheckProc(request, m_eShutdown);
        std::lock_guard threadLock(m_mutex);
        pEntry->bRunning = false;
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

#include "cli/PlayerSession.h"

#include <chrono>
#include <climits>

#include <QFile>
#include <QFileInfo>

#include "device/DeviceSearch.h"
#include "cli/CliSupport.h"
#include "device/DeviceWebApi.h"
#include "foundation/MessageIds.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "sync/DeviceLists.h"
#include "sync/WatchedFolderRules.h"

namespace {

// The command starts its first pass at once; later passes keep the desktop program's rhythm.
constexpr SDeviceSearchTimes kCliSearchTimes{0, 2000, 1000};

std::int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

CPlayerSession::CPlayerSession()
    : m_window([this](CWindowMessage& msg) { return Handle(msg); }), m_pManager(std::make_unique<CCommonManager>())
{
    m_window.ProcessPending(0); // this thread serves the window
    m_pManager->Initialize(&m_window, this);
}

CPlayerSession::~CPlayerSession()
{
    m_window.Quit();
    m_pManager.reset();
}

bool CPlayerSession::StartSearch()
{
    return m_pManager->StartDeviceSearch(nullptr, kCliSearchTimes);
}

std::intptr_t CPlayerSession::Handle(CWindowMessage& msg)
{
    switch (msg.nMessage) {
    case WM_TRANSFER_FINISHED: {
        std::lock_guard lock(m_mutex);
        m_outcomes.push_back(static_cast<eErrorCode>(msg.lParam));
        break;
    }
    case WM_DEVICE_REMOVED:
        if (const QString* psUuid = msg.Payload<QString>()) {
            std::lock_guard lock(m_mutex);
            m_removed.push_back(*psUuid);
        }
        break;
    case WM_DEVICE_NOT_FOUND: ++m_nPasses; break; // posted after every pass
    case WM_MANUAL_ADD_FINISHED: m_bManualAddEnded.store(true); break;
    case WM_MANUAL_ADD_NO_DESCRIPTION:
        m_nManualAddProblem.store(static_cast<int>(msg.wParam));
        m_nManualAddHttpStatus.store(static_cast<long>(msg.lParam));
        m_bManualAddFoundNothing.store(true);
        m_bManualAddEnded.store(true);
        break;
    case WM_POWER_WAKE_WAIT: m_nWakeWaitSeconds.store(static_cast<int>(msg.wParam)); break;
    default: break;
    }
    return 0;
}

void CPlayerSession::SelectDeviceManual(const QString& sUuid, const QString& sIp)
{
    (void)sUuid, (void)sIp; // the player is in the table; the command looks it up there
}

void CPlayerSession::Serve(std::int64_t nMs)
{
    const std::int64_t nEnd = NowMs() + nMs;
    for (std::int64_t nLeft = nMs; nLeft > 0; nLeft = nEnd - NowMs())
        m_window.ProcessPending(nLeft);
}

bool CPlayerSession::ServeUntil(const std::function<bool()>& done, std::int64_t nTimeoutMs,
                                const std::function<bool()>& stop)
{
    const std::int64_t nEnd = NowMs() + nTimeoutMs;
    for (;;) {
        if (done())
            return true;
        if ((stop && stop()) || NowMs() >= nEnd)
            return false;
        m_window.ProcessPending(std::min<std::int64_t>(100, std::max<std::int64_t>(1, nEnd - NowMs())));
    }
}

std::vector<SDeviceSnapshot> CPlayerSession::Players()
{
    std::vector<SDeviceSnapshot> players;
    CDeviceManager& devices = m_pManager->DeviceManager();
    std::lock_guard lock(devices.ManagerLock());
    devices.Table().ForEach([&](const QString&, const CDeviceInfo* pDevice) {
        if (pDevice)
            players.push_back(pDevice->Snapshot());
    });
    return players;
}

std::optional<SDeviceSnapshot> CPlayerSession::FindPlayer(const QString& sUuidOrIp)
{
    for (const SDeviceSnapshot& player : Players()) {
        if (player.sUuid == sUuidOrIp || (IsDottedIPv4Address(sUuidOrIp) && player.sIp == sUuidOrIp))
            return player;
    }
    return std::nullopt;
}

QString CPlayerSession::ManualAddProblemText(const QString& sIp) const
{
    if (!m_bManualAddFoundNothing.load())
        return QString();
    switch (m_nManualAddProblem.load()) {
    case MANUAL_ADD_HTTP_ERROR: return CliText(1100, {sIp, QString::number(m_nManualAddHttpStatus.load())});
    case MANUAL_ADD_NOT_XML: return CliText(1101, {sIp});
    case MANUAL_ADD_NO_UDN: return CliText(1102, {sIp});
    default: return QString();
    }
}

std::optional<unsigned> CPlayerSession::TakeWakeWait()
{
    const int nSeconds = m_nWakeWaitSeconds.exchange(-1);
    if (nSeconds < 0)
        return std::nullopt;
    return static_cast<unsigned>(nSeconds);
}

void CPlayerSession::AddByAddress(const QString& sIp)
{
    m_bManualAddEnded.store(false);
    m_bManualAddFoundNothing.store(false);
    m_nManualAddProblem.store(MANUAL_ADD_NO_ANSWER);
    m_pManager->addDeviceManual(sIp);
}

std::optional<SDeviceSnapshot> CPlayerSession::WaitForPlayer(const QString& sUuidOrIp, const QString& sAddress,
                                                             std::int64_t nTimeoutMs, const std::function<bool()>& stop)
{
    std::optional<SDeviceSnapshot> found;
    bool bAsked = false;
    ServeUntil(
        [&] {
            found = FindPlayer(sUuidOrIp);
            if (!found && !bAsked && !sAddress.isEmpty() && CompletedPasses() > 0) {
                bAsked = true;
                AddByAddress(sAddress);
            }
            return found.has_value();
        },
        nTimeoutMs, stop);
    return found;
}

std::optional<eErrorCode> CPlayerSession::TakeOutcome()
{
    std::lock_guard lock(m_mutex);
    if (m_outcomes.empty())
        return std::nullopt;
    const eErrorCode eCode = m_outcomes.front();
    m_outcomes.erase(m_outcomes.begin());
    return eCode;
}

bool CPlayerSession::WasRemoved(const QString& sUuid)
{
    std::lock_guard lock(m_mutex);
    return std::find(m_removed.begin(), m_removed.end(), sUuid) != m_removed.end();
}

QString PowerStateText(const SDeviceSnapshot& player)
{
    QString sAnswer;
    GetPowerStateFromBaseUrl(player.sBaseUrl, sAnswer);
    EStandbyDetail eDetail = STANDBY_OTHER;
    switch (ClassifyPowerAnswer(sAnswer, &eDetail)) {
    case POWER_ACTIVE: return QStringLiteral("on");
    case POWER_STANDBY:
        if (eDetail == STANDBY_DATABASE_READY)
            return QStringLiteral("standby (database ready)");
        if (eDetail == STANDBY_NETWORK_READY)
            return QStringLiteral("standby (network ready)");
        return QStringLiteral("standby");
    case POWER_OTHER: break;
    }
    if (sAnswer.isEmpty())
        return QStringLiteral("unknown (no answer)");
    // The player answered, but with nothing the program can read (the answer is in the log).
    return CliText(1103);
}

void TellManualAddProblem(ICliIo& io, const CPlayerSession& session, const QString& sIp)
{
    const QString sProblem = session.ManualAddProblemText(sIp);
    if (!sProblem.isEmpty())
        io.Err(sProblem + "\n");
}

bool HasUsableFolderName(const SDeviceSnapshot& player)
{
    return QFile::encodeName(FixName(player.sUuid)).size() <= NAME_MAX;
}

bool MergePlayerTypes(const SDeviceSnapshot& player)
{
    const QStringList lines = ReadListFile(player.sUuid, kCapabilityListName);
    const QStringList merged = MergeSupportedTypes(lines, player.supportedTypes);
    return merged == lines || SaveListFile(player.sUuid, kCapabilityListName, merged);
}

bool CommitPlayerSelection(const SDeviceSnapshot& player)
{
    if (!SetCurrentDevId(player.sUuid) || !SetCurrentDevIP(player.sIp))
        return false;
    bool bOk = MergePlayerTypes(player);
    const QString sMusic = MyMusicFolder();
    if (!QFileInfo::exists(DeviceFolder(player.sUuid) + kSyncFolderListName) && QFileInfo(sMusic).isDir())
        bOk = AppendFolderLine(player.sUuid, WatchedFolderEntryPath(sMusic), "1") && bOk;
    return bOk;
}

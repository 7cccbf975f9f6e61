// `tolva transfer`: one transfer to the selected player, as the desktop program runs it from its
// Start button: the player is looked for, selected in the core and StartSync runs; a player that
// is not ready is asked again every 5 seconds as often as "DevicePowerFrequency" says; the
// outcome is told in the desktop program's words and becomes the exit status.
#include "cli/CliSupport.h"

#include <atomic>
#include <csignal>

#include "cli/PlayerSession.h"
#include "cli/TransferProgress.h"
#include "foundation/Settings.h"
#include "sync/TransferHistory.h"
#include "sync/TransferLock.h"

namespace {

const unsigned kIdsTransferHelp = 1040;
const unsigned kIdsHistoryNotWritten = 1150;
const unsigned kIdsNothingToTransfer = 1153;
const unsigned kIdsTransferRunning = 1154;
const unsigned kIdsRefusedInARow = 1160;
constexpr int kDefaultWaitSeconds = 20;
constexpr std::int64_t kNotReadyRetryMs = 5000;

std::atomic<bool> g_bInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void OnInterruptSignal(int)
{
    g_bInterrupted.store(true);
}

// Ctrl+C (and SIGTERM) cancel the transfer instead of ending the program, while it lives.
class CInterruptGuard
{
public:
    CInterruptGuard()
    {
        g_bInterrupted.store(false);
        struct sigaction action = {};
        action.sa_handler = &OnInterruptSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_oldInt);
        sigaction(SIGTERM, &action, &m_oldTerm);
    }
    ~CInterruptGuard()
    {
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
    }
    CInterruptGuard(const CInterruptGuard&) = delete;
    CInterruptGuard& operator=(const CInterruptGuard&) = delete;

    static bool Interrupted() { return g_bInterrupted.load(); }

private:
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
};

// The desktop program's message for a run's code; 0 for a code it shows nothing for.
unsigned OutcomeStringId(eErrorCode eCode, bool bSomeFilesFailed)
{
    switch (eCode) {
    case EC_OK: return bSomeFilesFailed ? 157 : 156;
    case EC_NO_DEVICE:
    case EC_DEVICE_OFFLINE:
    case EC_NO_UUID:
    case EC_NO_IP: return 185;
    case EC_NO_FILES: return kIdsNothingToTransfer; // the window's text names its list; this names the command
    case EC_DEVICE_FULL: return 151;
    case EC_ACCESS_DENIED:
    case EC_TARGET_ERROR: return 154;
    case EC_CANCELLED: return 150;
    case EC_POWER_NOT_READY: return 187;
    case EC_NO_FORMAT: return 159;
    case EC_NO_FOLDER: return 158;
    case EC_NO_EXTERNAL: return 173;
    default: return 0;
    }
}

bool IsErrorOutcome(eErrorCode eCode)
{
    switch (eCode) {
    case EC_OK:
    case EC_NO_FILES:
    case EC_CANCELLED:
    case EC_POWER_NOT_READY:
    case EC_NO_FORMAT:
    case EC_NO_FOLDER:
    case EC_NO_EXTERNAL: return false;
    default: return true;
    }
}

// Runs StartSync and serves the run until its final outcome, retrying "not ready".
eErrorCode RunOneTransfer(ICliIo& io, CPlayerSession& session, CTransferProgress& progress)
{
    CCommonManager& manager = session.Manager();
    DWORD dwRetriesLeft = GetDevicePowerFrequency();
    bool bCancelSent = false;
    auto checkInterrupt = [&] {
        if (CInterruptGuard::Interrupted() && !bCancelSent) {
            bCancelSent = true;
            progress.Draw();
            io.Err("\n" + CliText(1044) + "\n");
            manager.CancelSync();
        }
    };
    std::optional<eErrorCode> outcome;
    auto waitForOutcome = [&] {
        session.ServeUntil(
            [&] {
                checkInterrupt();
                if (const std::optional<unsigned> nWakeWait = session.TakeWakeWait())
                    CliSay(io, 1104, {QString::number(*nWakeWait)});
                progress.Draw();
                outcome = session.TakeOutcome();
                return outcome.has_value();
            },
            INT64_MAX / 4);
    };

    manager.StartSync();
    for (;;) {
        waitForOutcome();
        if (*outcome != EC_POWER_NOT_READY || dwRetriesLeft == 0 || bCancelSent)
            return *outcome;
        --dwRetriesLeft;
        CliSay(io, 1043, {QString::number(dwRetriesLeft + 1)});
        if (session.ServeUntil(&CInterruptGuard::Interrupted, kNotReadyRetryMs)) {
            checkInterrupt(); // nothing runs during the pause: the cancel ends the run here
            return EC_CANCELLED;
        }
        manager.RecheckPower();
    }
}

} // namespace

int RunTransferCommand(const QStringList& arguments, ICliIo& io)
{
    SCliArguments args;
    if (!ParseCliArguments(io, "transfer", arguments, {}, {"--wait"}, &args))
        return CLI_EXIT_USAGE;
    if (args.bHelp) {
        CliSay(io, kIdsTransferHelp);
        return CLI_EXIT_OK;
    }
    if (!args.positional.isEmpty()) {
        CliError(io, 1005, {"transfer"});
        return CLI_EXIT_USAGE;
    }
    std::int64_t nWaitMs = kDefaultWaitSeconds * 1000;
    if (const std::optional<QString> sWait = args.Value("--wait")) {
        const std::optional<int> nSeconds = ParseCliNumber(io, *sWait, 1, 600);
        if (!nSeconds)
            return CLI_EXIT_INVALID_INPUT;
        nWaitMs = static_cast<std::int64_t>(*nSeconds) * 1000;
    }
    QString sUuid;
    if (const int nExit = RequireSelectedPlayer(io, &sUuid))
        return nExit;
    // Before anything is searched or scanned: a second run on the profile would copy every file
    // again and write every history line twice.
    CTransferLock transferLock;
    QString sHolder;
    if (!transferLock.TryLock(&sHolder)) {
        CliError(io, kIdsTransferRunning, {sHolder});
        return CLI_EXIT_FAILED;
    }

    const CInterruptGuard interruptGuard;
    CPlayerSession session;
    session.StartSearch();
    CliSay(io, 1041, {sUuid});
    const std::optional<SDeviceSnapshot> player =
        session.WaitForPlayer(sUuid, GetCurrentDevIP(), nWaitMs, &CInterruptGuard::Interrupted);
    if (!player) {
        if (CInterruptGuard::Interrupted()) {
            CliSay(io, 150);
            return CLI_EXIT_TRANSFER_BASE + static_cast<int>(EC_CANCELLED);
        }
        CliError(io, 1038, {sUuid});
        TellManualAddProblem(io, session, GetCurrentDevIP());
        return CLI_EXIT_NOT_FOUND;
    }
    // As the desktop program does for a player it finds: the address follows the player, and
    // newly reported file types join its list.
    if (player->sIp != GetCurrentDevIP())
        SetCurrentDevIP(player->sIp);
    MergePlayerTypes(*player);

    CCommonManager& manager = session.Manager();
    manager.SelectDevice(sUuid);
    CTransferProgress progress(io);
    manager.TransferManager().SetProgressListener(&progress);
    CliSay(io, 1042, {player->sFriendlyName, player->sIp});
    const eErrorCode eCode = RunOneTransfer(io, session, progress);
    progress.Finish();
    manager.TransferManager().SetProgressListener(nullptr);

    // A player dropped as offline during the run: the desktop program says so instead of the
    // run's own message.
    if (session.WasRemoved(sUuid) || manager.TransferManager().DeviceState() == EC_DEVICE_REMOVED) {
        CliError(io, 153);
        return CLI_EXIT_TRANSFER_BASE + static_cast<int>(EC_DEVICE_LOST);
    }
    const bool bSomeFailed = manager.IsSomeFilesFailed();
    const unsigned nMessage = OutcomeStringId(eCode, bSomeFailed);
    const eErrorCode eRefusal = manager.TransferManager().RepeatedRefusal();
    if (eRefusal != EC_OK)
        CliError(io, kIdsRefusedInARow,
                 {QString::number(CTransferManager::kRefusalsInARow), CTransferProgress::ReasonWords(eRefusal, true)});
    else if (nMessage == 0)
        CliError(io, 1045, {QString::number(eCode)});
    else if (IsErrorOutcome(eCode))
        CliError(io, nMessage);
    else
        CliSay(io, nMessage);
    // Files copied without their history lines would be copied again by every later run.
    const bool bHistoryNotWritten = manager.TransferManager().IsHistoryNotWritten();
    if (bHistoryNotWritten)
        CliError(io, kIdsHistoryNotWritten, {HistoryPathFor(sUuid)});
    if (eCode == EC_OK)
        return bSomeFailed || bHistoryNotWritten ? CLI_EXIT_FAILED : CLI_EXIT_OK;
    return CLI_EXIT_TRANSFER_BASE + static_cast<int>(eCode);
}

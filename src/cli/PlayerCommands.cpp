// `tolva players`, `add`, `select` and `power`: the players on the network, found by the
// program's own device search (or asked at an address), and the choice of the transfer target.
#include "cli/CliSupport.h"

#include "cli/PlayerSession.h"
#include "foundation/Settings.h"

namespace {

const unsigned kIdsPlayersHelp = 1030;
const unsigned kIdsAddHelp = 1034;
const unsigned kIdsSelectHelp = 1037;
const unsigned kIdsPowerHelp = 1039;
constexpr int kDefaultWaitSeconds = 20;

void PrintPlayer(ICliIo& io, const SDeviceSnapshot& player, const QString& sSelectedUuid)
{
    const QString sTypes = player.supportedTypes.isEmpty() ? CliText(1033) : player.supportedTypes.join(", ");
    CliSay(io, 1032,
           {player.sUuid == sSelectedUuid ? "*" : " ", player.sFriendlyName, player.sIp, player.sUuid,
            PowerStateText(player), sTypes});
}

// The "--wait N" option in milliseconds (default 20 s); nullopt after telling the user.
std::optional<std::int64_t> WaitOption(ICliIo& io, const SCliArguments& args)
{
    const std::optional<QString> sWait = args.Value("--wait");
    if (!sWait)
        return kDefaultWaitSeconds * 1000;
    const std::optional<int> nSeconds = ParseCliNumber(io, *sWait, 1, 600);
    if (!nSeconds)
        return std::nullopt;
    return static_cast<std::int64_t>(*nSeconds) * 1000;
}

// Parses "<command> [--wait N] <word>": the word (empty when bNeedsWord is false) and the wait.
int ParseWaitCommand(ICliIo& io, const char* pszCommand, unsigned nHelpId, const QStringList& arguments,
                     bool bNeedsWord, QString* psWord, std::int64_t* pnWaitMs)
{
    SCliArguments args;
    if (!ParseCliArguments(io, pszCommand, arguments, {}, {"--wait"}, &args))
        return CLI_EXIT_USAGE;
    if (args.bHelp) {
        CliSay(io, nHelpId);
        return -1;
    }
    const int nWords = bNeedsWord ? 1 : 0;
    if (args.positional.size() < nWords) {
        CliError(io, 1004, {pszCommand});
        return CLI_EXIT_USAGE;
    }
    if (args.positional.size() > nWords) {
        CliError(io, 1005, {pszCommand});
        return CLI_EXIT_USAGE;
    }
    const std::optional<std::int64_t> nWait = WaitOption(io, args);
    if (!nWait)
        return CLI_EXIT_INVALID_INPUT;
    *pnWaitMs = *nWait;
    if (bNeedsWord)
        *psWord = args.positional.front();
    return CLI_EXIT_OK;
}

int SelectFoundPlayer(ICliIo& io, const SDeviceSnapshot& player)
{
    if (!HasUsableFolderName(player)) {
        CliError(io, 1105, {QString::number(player.sUuid.size())});
        return CLI_EXIT_FAILED;
    }
    if (!CommitPlayerSelection(player)) {
        CliError(io, 1046);
        return CLI_EXIT_FAILED;
    }
    CliSay(io, 1036, {player.sFriendlyName, player.sIp, player.sUuid});
    PrintPlayer(io, player, player.sUuid);
    return CLI_EXIT_OK;
}

} // namespace

int RunPlayersCommand(const QStringList& arguments, ICliIo& io)
{
    SCliArguments args;
    if (!ParseCliArguments(io, "players", arguments, {}, {"--seconds"}, &args))
        return CLI_EXIT_USAGE;
    if (args.bHelp) {
        CliSay(io, kIdsPlayersHelp);
        return CLI_EXIT_OK;
    }
    if (!args.positional.isEmpty()) {
        CliError(io, 1005, {"players"});
        return CLI_EXIT_USAGE;
    }
    std::optional<int> nSeconds;
    if (const std::optional<QString> sSeconds = args.Value("--seconds")) {
        nSeconds = ParseCliNumber(io, *sSeconds, 1, 600);
        if (!nSeconds)
            return CLI_EXIT_INVALID_INPUT;
    }
    if (const int nExit = CheckSettingsReadable(io))
        return nExit;

    CPlayerSession session;
    session.StartSearch();
    if (nSeconds)
        session.Serve(static_cast<std::int64_t>(*nSeconds) * 1000);
    else
        session.ServeUntil([&] { return session.CompletedPasses() > 0; }, 60000);
    const std::vector<SDeviceSnapshot> players = session.Players();
    if (players.empty()) {
        CliSay(io, 1031);
        return CLI_EXIT_NOT_FOUND;
    }
    const QString sSelected = GetCurrentDevId();
    for (const SDeviceSnapshot& player : players)
        PrintPlayer(io, player, sSelected);
    return CLI_EXIT_OK;
}

int RunAddCommand(const QStringList& arguments, ICliIo& io)
{
    QString sText;
    std::int64_t nWaitMs = 0;
    if (const int nExit = ParseWaitCommand(io, "add", kIdsAddHelp, arguments, true, &sText, &nWaitMs))
        return nExit < 0 ? CLI_EXIT_OK : nExit;
    QString sIp;
    if (!ParseCliIpAddress(io, sText, &sIp))
        return CLI_EXIT_INVALID_INPUT;
    if (const int nExit = CheckSettingsReadable(io))
        return nExit;

    CPlayerSession session;
    session.StartSearch();
    session.AddByAddress(sIp);
    session.ServeUntil([&] { return session.ManualAddEnded(); }, nWaitMs);
    // The manual add leaves the player it found current in the device manager.
    const std::optional<SDeviceSnapshot> player = session.Manager().DeviceManager().CurrentDevice();
    if (session.ManualAddFoundNothing() || !player) {
        const QString sProblem = session.ManualAddProblemText(sIp);
        if (sProblem.isEmpty())
            CliError(io, 1035, {sIp});
        else
            io.Err(sProblem + "\n");
        return CLI_EXIT_NOT_FOUND;
    }
    return SelectFoundPlayer(io, *player);
}

int RunSelectCommand(const QStringList& arguments, ICliIo& io)
{
    QString sTarget;
    std::int64_t nWaitMs = 0;
    if (const int nExit = ParseWaitCommand(io, "select", kIdsSelectHelp, arguments, true, &sTarget, &nWaitMs))
        return nExit < 0 ? CLI_EXIT_OK : nExit;
    // Something that looks like an address must be one; anything else is taken as a UUID.
    const bool bLooksLikeAddress = !sTarget.isEmpty() && sTarget.front().isDigit() && !sTarget.contains(':');
    QString sIp;
    if (bLooksLikeAddress && !ParseCliIpAddress(io, sTarget, &sIp))
        return CLI_EXIT_INVALID_INPUT;
    if (const int nExit = CheckSettingsReadable(io))
        return nExit;

    CPlayerSession session;
    session.StartSearch();
    const std::optional<SDeviceSnapshot> player =
        session.WaitForPlayer(bLooksLikeAddress ? sIp : sTarget, sIp, nWaitMs);
    if (!player) {
        CliError(io, 1038, {sTarget});
        TellManualAddProblem(io, session, sIp);
        return CLI_EXIT_NOT_FOUND;
    }
    return SelectFoundPlayer(io, *player);
}

int RunPowerCommand(const QStringList& arguments, ICliIo& io)
{
    QString sUnused;
    std::int64_t nWaitMs = 0;
    if (const int nExit = ParseWaitCommand(io, "power", kIdsPowerHelp, arguments, false, &sUnused, &nWaitMs))
        return nExit < 0 ? CLI_EXIT_OK : nExit;
    QString sUuid;
    if (const int nExit = RequireSelectedPlayer(io, &sUuid))
        return nExit;

    CPlayerSession session;
    session.StartSearch();
    const std::optional<SDeviceSnapshot> player = session.WaitForPlayer(sUuid, GetCurrentDevIP(), nWaitMs);
    if (!player) {
        CliError(io, 1038, {sUuid});
        TellManualAddProblem(io, session, GetCurrentDevIP());
        return CLI_EXIT_NOT_FOUND;
    }
    PrintPlayer(io, *player, sUuid);
    return CLI_EXIT_OK;
}

// `tolva history`: the transfer history of the selected player, shown as path, result and time,
// or cleared.
#include "cli/CliSupport.h"

#include <QFileInfo>

#include "foundation/Paths.h"
#include "sync/TransferHistory.h"

namespace {

const unsigned kIdsHistoryHelp = 1026;

// "<path>(<file time>) | DeviceName:<name> <share> | Result: <text> | Time:<time>" shown as
// "<time>  <result>  <path>". The fields are found from the end, as a path may hold " | ".
QString DescribeHistoryLine(const QString& sLine)
{
    const qsizetype nTime = sLine.lastIndexOf(" | Time:");
    const qsizetype nResult = sLine.lastIndexOf(" | Result: ", nTime < 0 ? -1 : nTime);
    if (nTime < 0 || nResult < 0)
        return sLine;
    const QString sTime = sLine.mid(nTime + 8);
    const QString sResult = sLine.mid(nResult + 11, nTime - nResult - 11).trimmed();
    QString sPath = TransferredKeyOf(sLine);
    if (sPath.endsWith(')') && sPath.lastIndexOf('(') > 0)
        sPath.truncate(sPath.lastIndexOf('('));
    return QString("%1  %2  %3").arg(sTime, sResult, sPath);
}

} // namespace

int RunHistoryCommand(const QStringList& arguments, ICliIo& io)
{
    SCliArguments args;
    if (!ParseCliArguments(io, "history", arguments, {"--yes"}, {"--limit"}, &args))
        return CLI_EXIT_USAGE;
    if (args.bHelp) {
        CliSay(io, kIdsHistoryHelp);
        return CLI_EXIT_OK;
    }
    const QString sAction = args.positional.value(0, "show");
    if ((sAction != "show" && sAction != "clear") || args.positional.size() > 1) {
        CliError(io, args.positional.size() > 1 ? 1005 : 1002, {"history " + sAction});
        return CLI_EXIT_USAGE;
    }
    int nLimit = 0;
    if (const std::optional<QString> sLimit = args.Value("--limit")) {
        const std::optional<int> n = ParseCliNumber(io, *sLimit, 1, kHistoryMaxLines);
        if (!n)
            return CLI_EXIT_INVALID_INPUT;
        nLimit = *n;
    }
    QString sUuid;
    if (const int nExit = RequireSelectedPlayer(io, &sUuid))
        return nExit;
    const QString sPath = HistoryPathFor(sUuid);
    if (const int nExit = CheckStateFileReadable(io, sPath))
        return nExit;

    if (sAction == "clear") {
        if (!args.HasFlag("--yes")) {
            io.Out(CliText(1018, {sPath}) + " ");
            const QString sAnswer = io.ReadLine().toLower();
            if (sAnswer != "y" && sAnswer != "yes") {
                CliSay(io, 1020);
                return CLI_EXIT_FAILED;
            }
        }
        if (!ResetHistory(sUuid)) {
            CliError(io, 1016, {sPath});
            return CLI_EXIT_FAILED;
        }
        CliSay(io, 1019);
        return CLI_EXIT_OK;
    }

    // The lines as the scan reads them (a line ends with CR LF only); a missing file is not
    // created: showing the history changes nothing.
    QStringList lines;
    if (QFileInfo::exists(sPath)) {
        CTransferHistory history;
        history.Load(sPath);
        lines = history.Lines();
    }
    if (lines.isEmpty()) {
        CliSay(io, 1017);
        return CLI_EXIT_OK;
    }
    const qsizetype nFirst = nLimit > 0 && lines.size() > nLimit ? lines.size() - nLimit : 0;
    if (nFirst > 0)
        CliSay(io, 1029, {QString::number(nFirst)});
    for (qsizetype i = nFirst; i < lines.size(); ++i)
        io.Out(HistoryFieldText(DescribeHistoryLine(lines[i])) + "\n"); // one line on screen too
    return CLI_EXIT_OK;
}

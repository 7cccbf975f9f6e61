// `tolva folders` and `tolva types`: the watched folders and file types of the selected player,
// in the same list files and by the same rules as the desktop program's Contents Settings page.
#include "cli/CliSupport.h"

#include <QFileInfo>

#include "foundation/Paths.h"
#include "sync/DeviceLists.h"
#include "sync/WatchedFolderRules.h"

namespace {

const unsigned kIdsFoldersHelp = 1024;
const unsigned kIdsTypesHelp = 1025;
const unsigned kIdsTooManyFolders = 148;

void PrintEntries(ICliIo& io, const QStringList& entries)
{
    for (const QString& sEntry : entries)
        io.Out(QString("[%1] %2\n").arg(IsListLineTicked(sEntry) ? "x" : " ", ListLineText(sEntry)));
}

// Reads a list file of the player, refusing an unreadable one.
int ReadEntries(ICliIo& io, const QString& sUuid, const QString& sListName, QStringList* pEntries)
{
    if (const int nExit = CheckStateFileReadable(io, DeviceFolder(sUuid) + sListName))
        return nExit;
    *pEntries = ReadListFile(sUuid, sListName);
    return CLI_EXIT_OK;
}

int SaveEntries(ICliIo& io, const QString& sUuid, const QString& sListName, const QStringList& entries)
{
    if (SaveListFile(sUuid, sListName, entries))
        return CLI_EXIT_OK;
    CliError(io, 1016, {DeviceFolder(sUuid) + sListName});
    return CLI_EXIT_FAILED;
}

} // namespace

int RunFoldersCommand(const QStringList& arguments, ICliIo& io)
{
    SCliArguments args;
    if (!ParseCliArguments(io, "folders", arguments, {}, {}, &args))
        return CLI_EXIT_USAGE;
    if (args.bHelp) {
        CliSay(io, kIdsFoldersHelp);
        return CLI_EXIT_OK;
    }
    const QString sAction = args.positional.value(0, "list");
    const bool bList = sAction == "list";
    if (!bList && sAction != "add" && sAction != "remove" && sAction != "tick" && sAction != "untick") {
        CliError(io, 1002, {"folders " + sAction});
        return CLI_EXIT_USAGE;
    }
    if (args.positional.size() > (bList ? 1 : 2)) {
        CliError(io, 1005, {"folders"});
        return CLI_EXIT_USAGE;
    }
    if (!bList && args.positional.size() < 2) {
        CliError(io, 1004, {"folders"});
        return CLI_EXIT_USAGE;
    }
    QString sUuid;
    if (const int nExit = RequireSelectedPlayer(io, &sUuid))
        return nExit;
    QStringList entries;
    if (const int nExit = ReadEntries(io, sUuid, kSyncFolderListName, &entries))
        return nExit;
    if (bList) {
        if (entries.isEmpty())
            CliSay(io, 1013);
        PrintEntries(io, entries);
        return CLI_EXIT_OK;
    }

    const QString sFolder = args.positional[1];
    const QString sPath = WatchedFolderEntryPath(sFolder);
    if (sAction == "add") {
        if (!QFileInfo(sFolder).isDir()) {
            CliError(io, 1008, {sFolder});
            return CLI_EXIT_INVALID_INPUT;
        }
        switch (AddWatchedFolder(&entries, sFolder)) {
        case FOLDER_LIST_FULL: CliError(io, kIdsTooManyFolders); return CLI_EXIT_INVALID_INPUT;
        case FOLDER_DUPLICATE: CliSay(io, 1010, {sPath}); return CLI_EXIT_OK;
        case FOLDER_ADDED: break;
        }
        if (const int nExit = SaveEntries(io, sUuid, kSyncFolderListName, entries))
            return nExit;
        CliSay(io, 1009, {sPath});
        return CLI_EXIT_OK;
    }
    const int nIndex = FindWatchedFolder(entries, sFolder);
    if (nIndex < 0) {
        CliError(io, 1012, {sPath});
        return CLI_EXIT_INVALID_INPUT;
    }
    if (sAction == "remove")
        entries.removeAt(nIndex);
    else
        entries[nIndex] = SetListLineFlag(entries[nIndex], sAction == "tick" ? "1" : "0");
    if (const int nExit = SaveEntries(io, sUuid, kSyncFolderListName, entries))
        return nExit;
    if (sAction == "remove")
        CliSay(io, 1011, {sPath});
    else
        PrintEntries(io, {entries[nIndex]});
    return CLI_EXIT_OK;
}

int RunTypesCommand(const QStringList& arguments, ICliIo& io)
{
    SCliArguments args;
    if (!ParseCliArguments(io, "types", arguments, {}, {}, &args))
        return CLI_EXIT_USAGE;
    if (args.bHelp) {
        CliSay(io, kIdsTypesHelp);
        return CLI_EXIT_OK;
    }
    const QString sAction = args.positional.value(0, "list");
    const bool bList = sAction == "list";
    if (!bList && sAction != "tick" && sAction != "untick") {
        CliError(io, 1002, {"types " + sAction});
        return CLI_EXIT_USAGE;
    }
    if (bList && args.positional.size() > 1) {
        CliError(io, 1005, {"types"});
        return CLI_EXIT_USAGE;
    }
    if (!bList && args.positional.size() < 2) {
        CliError(io, 1004, {"types"});
        return CLI_EXIT_USAGE;
    }
    QString sUuid;
    if (const int nExit = RequireSelectedPlayer(io, &sUuid))
        return nExit;
    QStringList entries;
    if (const int nExit = ReadEntries(io, sUuid, kCapabilityListName, &entries))
        return nExit;
    if (entries.isEmpty()) {
        CliError(io, 1014);
        return bList ? CLI_EXIT_OK : CLI_EXIT_INVALID_INPUT;
    }
    if (bList) {
        PrintEntries(io, entries);
        return CLI_EXIT_OK;
    }
    // Every named type must be one the player reported; nothing changes when one is not.
    const QString sFlag = sAction == "tick" ? "1" : "0";
    QStringList changed = entries;
    for (int i = 1; i < args.positional.size(); ++i) {
        QString sType = args.positional[i];
        if (sType.startsWith('.'))
            sType.remove(0, 1);
        bool bFound = false;
        for (QString& sEntry : changed) {
            if (sType == "all" || ListLineText(sEntry).compare(sType, Qt::CaseInsensitive) == 0) {
                sEntry = SetListLineFlag(sEntry, sFlag);
                bFound = true;
            }
        }
        if (!bFound) {
            CliError(io, 1015, {args.positional[i]});
            return CLI_EXIT_INVALID_INPUT;
        }
    }
    if (const int nExit = SaveEntries(io, sUuid, kCapabilityListName, changed))
        return nExit;
    PrintEntries(io, changed);
    return CLI_EXIT_OK;
}

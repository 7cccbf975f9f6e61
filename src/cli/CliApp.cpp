#include "cli/CliApp.h"

#include "cli/CliSupport.h"
#include "foundation/Environment.h"
#include "foundation/StringTable.h"
#include "platform/StandardFolders.h"

namespace {

const unsigned kIdsUsage = 1000;
const unsigned kIdsVersion = 1001;
const unsigned kIdsNoHomeFolder = 1152;

struct SCommand
{
    const char* pszName;
    int (*pRun)(const QStringList& arguments, ICliIo& io);
};

const SCommand kCommands[] = {
    {"players", &RunPlayersCommand}, {"add", &RunAddCommand},           {"select", &RunSelectCommand},
    {"power", &RunPowerCommand},     {"transfer", &RunTransferCommand}, {"folders", &RunFoldersCommand},
    {"types", &RunTypesCommand},     {"history", &RunHistoryCommand},
};

} // namespace

int RunTolva(const QStringList& arguments, ICliIo& io)
{
    SetStringLanguage(ChooseLanguage());
    if (arguments.isEmpty()) {
        io.Err(CliText(kIdsUsage) + "\n");
        return CLI_EXIT_USAGE;
    }
    const QString& sFirst = arguments.front();
    if (sFirst == "--help" || sFirst == "-h" || sFirst == "help") {
        CliSay(io, kIdsUsage);
        return CLI_EXIT_OK;
    }
    if (sFirst == "--version") {
        CliSay(io, kIdsVersion, {TOLVA_VERSION});
        return CLI_EXIT_OK;
    }
    for (const SCommand& command : kCommands) {
        if (sFirst != QLatin1String(command.pszName))
            continue;
        // Without a home folder the settings and the application data would land in the root
        // folder or wherever the program happens to run.
        if (UserConfigHome().isEmpty() || UserDataHome().isEmpty()) {
            CliError(io, kIdsNoHomeFolder);
            return CLI_EXIT_UNREADABLE;
        }
        return command.pRun(arguments.mid(1), io);
    }
    if (sFirst.startsWith('-'))
        CliError(io, 1003, {sFirst, "tolva"});
    else
        CliError(io, 1002, {sFirst});
    return CLI_EXIT_USAGE;
}

#pragma once

#include <initializer_list>
#include <optional>

#include <QString>
#include <QStringList>

#include "cli/CliApp.h"

// Pieces every `tolva` command uses.

// The text of a string id with %1, %2, ... filled in.
QString CliText(unsigned nId, const QStringList& args = {});
// Writes a message line to standard error / output.
void CliError(ICliIo& io, unsigned nId, const QStringList& args = {});
void CliSay(ICliIo& io, unsigned nId, const QStringList& args = {});

// A command's arguments split into options and positional words. Options are "--name" or
// "--name=value"/"--name value" for the options that take a value.
struct SCliArguments
{
    QStringList positional;
    QStringList flags;                     // options without a value that were given
    QList<QPair<QString, QString>> values; // options with a value
    bool bHelp = false;

    bool HasFlag(const QString& sName) const { return flags.contains(sName); }
    std::optional<QString> Value(const QString& sName) const;
};

// Splits the arguments of a command; false (after telling the user) on an unknown option or an
// option without its value.
bool ParseCliArguments(ICliIo& io, const QString& sCommand, const QStringList& arguments,
                       std::initializer_list<const char*> flagOptions, std::initializer_list<const char*> valueOptions,
                       SCliArguments* pParsed);
// A whole number in [nMin, nMax]; tells the user and returns nullopt otherwise.
std::optional<int> ParseCliNumber(ICliIo& io, const QString& sText, int nMin, int nMax);
// A dotted IPv4 address of four numbers 0-255; tells the user and returns false otherwise.
bool ParseCliIpAddress(ICliIo& io, const QString& sText, QString* psNormalized);

// CLI_EXIT_OK when the settings file is absent or readable; else tells the user and returns
// CLI_EXIT_UNREADABLE.
int CheckSettingsReadable(ICliIo& io);
// The selected player's UUID, or an exit code (no player, settings unreadable) after telling
// the user.
int RequireSelectedPlayer(ICliIo& io, QString* psUuid);
// CLI_EXIT_OK when the file is absent or readable; else tells the user.
int CheckStateFileReadable(ICliIo& io, const QString& sPath);

// The commands.
int RunFoldersCommand(const QStringList& arguments, ICliIo& io);
int RunTypesCommand(const QStringList& arguments, ICliIo& io);
int RunHistoryCommand(const QStringList& arguments, ICliIo& io);
int RunPlayersCommand(const QStringList& arguments, ICliIo& io);
int RunAddCommand(const QStringList& arguments, ICliIo& io);
int RunSelectCommand(const QStringList& arguments, ICliIo& io);
int RunPowerCommand(const QStringList& arguments, ICliIo& io);
int RunTransferCommand(const QStringList& arguments, ICliIo& io);

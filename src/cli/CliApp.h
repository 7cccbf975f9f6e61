#pragma once

#include <QStringList>

#include "cli/CliIo.h"

// Exit codes of `tolva`, which scripts may rely on.
enum ECliExitCode
{
    CLI_EXIT_OK = 0,
    CLI_EXIT_FAILED = 1,         // the operation failed; for a transfer: done, some files failed
    CLI_EXIT_USAGE = 2,          // unknown command or option, missing or extra argument
    CLI_EXIT_INVALID_INPUT = 3,  // an argument is not acceptable (address, folder, type)
    CLI_EXIT_NO_PLAYER = 4,      // no player is selected
    CLI_EXIT_UNREADABLE = 5,     // the settings file or a state file cannot be read
    CLI_EXIT_NOT_FOUND = 6,      // the player was not found on the network
    CLI_EXIT_TRANSFER_BASE = 10, // + the outcome code of a transfer that did not complete
};

// Runs one `tolva` command line (the arguments after the program name) and returns its exit
// code. Every message goes through io, in the language chosen for the user.
int RunTolva(const QStringList& arguments, ICliIo& io);

#pragma once

#include <QString>

// Where the platform keeps a user's things. Every path is absolute, or empty when it cannot be
// resolved (no home folder).

// The user's home folder: $HOME, or without it the account's home from the password database
// (empty when there is none, or when it is the root folder "/").
QString UserHomeFolder();
// $XDG_DATA_HOME (default ~/.local/share), without a trailing separator.
QString UserDataHome();
// $XDG_CONFIG_HOME (default ~/.config), without a trailing separator.
QString UserConfigHome();
// The user's music folder (XDG_MUSIC_DIR from the environment, else from user-dirs.dirs, else
// ~/Music), without a trailing separator.
QString UserMusicFolder();
// The full path of the running program, as the autostart entry must name it.
QString ProgramFilePath();
// The program path behind a process's exe link (/proc/<pid>/exe); empty when it cannot be read.
QString ProgramFilePathOf(const QString& sExeLink);
// The host name of the machine (the short name, as the local network knows the PC).
QString MachineName();

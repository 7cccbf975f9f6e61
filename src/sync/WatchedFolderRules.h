#pragma once

#include <QString>
#include <QStringList>

// The rules for editing a player's watched-folder list, shared by every front end that edits it:
// at most 100 folders, no two entries with exactly the same path (case-sensitive, with the
// trailing separator), nested folders allowed, and each folder stored with a trailing separator.

inline constexpr int kMaxWatchedFolders = 100;

enum EFolderAddResult
{
    FOLDER_ADDED,
    FOLDER_DUPLICATE, // nothing added, nothing to tell the user
    FOLDER_LIST_FULL, // nothing added; the user is told (string 148)
};

// The folder path as a list entry stores it: absolute, cleaned, with one trailing '/'.
QString WatchedFolderEntryPath(const QString& sFolder);
// Adds "<path>|<flag>" to the entries unless the rules refuse it.
EFolderAddResult AddWatchedFolder(QStringList* pEntries, const QString& sFolder, bool bTicked = true);
// Index of the entry with exactly this folder path, or -1.
int FindWatchedFolder(const QStringList& entries, const QString& sFolder);

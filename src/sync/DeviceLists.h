#pragma once

#include <QString>
#include <QStringList>

// The two per-device list files in the device folder (DeviceFolder(uuid)):
//   SyncFolderTemp.dat        the watched folders, "<folder path ending in '/'>|1" or "...|0"
//   DeviceCapabilityTemp.dat  the file types the device accepts, "flac|1" or "flac|0"
//   ShareNames.dat            files that were given another name on the share because their own
//                             was taken by another file, "<path on the share>|<source path>"
// Both are UTF-8 without a byte-order mark, one entry per line, each line ended by CR LF. Readers
// use only lines that end in CR LF and drop empty ones. There is no cache: every call reads or
// writes the file afresh, so the functions are safe from any thread (the main window thread and
// the scan thread use them). Rewrites are atomic (temporary file + rename).

inline constexpr const char* kSyncFolderListName = "SyncFolderTemp.dat";
inline constexpr const char* kCapabilityListName = "DeviceCapabilityTemp.dat";
inline constexpr const char* kShareNameListName = "ShareNames.dat";

// The lines of a list file of a device; empty for an empty UUID or a missing file.
QStringList ReadListFile(const QString& sUuid, const QString& sFileName);
// Rewrites the file with the lines (each followed by CR LF), creating the device folder when
// missing. An empty UUID does nothing and returns false. A failure is logged, and the old file
// stays as it was.
bool SaveListFile(const QString& sUuid, const QString& sFileName, const QStringList& lines);
// Adds a line at the end of a list file (atomically, keeping the lines already there).
bool AppendListLine(const QString& sUuid, const QString& sFileName, const QString& sLine);
// Adds the line folder + "|" + flag at the end of SyncFolderTemp.dat.
bool AppendFolderLine(const QString& sUuid, const QString& sFolder, const QString& sFlag);

// A list entry is "<text>|<flag>". The flag is the text after the last "|" (a folder path may
// itself hold a "|" on this platform; an extension never does). False for a line without "|".
bool SplitListLine(const QString& sLine, QString* psText, QString* psFlag);
// The line with the character after its last "|" replaced by the first character of the flag;
// a line without "|" is returned as it is.
QString SetListLineFlag(const QString& sLine, const QString& sFlag);
// A line is ticked when its last character is "1".
bool IsListLineTicked(const QString& sLine);
// The text of a line (before its last "|"; the whole line when it has none).
QString ListLineText(const QString& sLine);
// The texts of the ticked lines, in order.
QStringList TickedListTexts(const QStringList& lines);
bool HasTickedListLine(const QStringList& lines);

// The type list after the device reported its types: a type the list already holds keeps its
// line (and tick), a new type is added ticked at the end. Types the device no longer reports
// keep their lines, so a list is never shortened by a player's incomplete answer.
QStringList MergeSupportedTypes(const QStringList& lines, const QStringList& supportedTypes);

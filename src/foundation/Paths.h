#pragma once

#include <QString>
#include <QStringList>

// Paths on this PC and on the player. Local paths are native paths with '/'; the application
// data folder and the folder paths built from it end with '/'. Paths on the player keep their
// network form ("\\ip\Tolva_Internal", "OFFICE\Music\a.mp3"). No function keeps state; all are
// safe from any thread.

// "<user data folder>/Brenvik Corporation/TolvaMusicTransfer/", always with a trailing '/'.
// Just the suffix when the user's data folder cannot be resolved.
QString AppDataFolder();
bool CreateAppDataFolder();
// AppDataFolder + FixName(uuid) + "/"; the application data folder itself for an empty UUID.
QString DeviceFolder(const QString& sUuid);
QString CurrentDeviceFolder();
bool CreateDeviceFolder(const QString& sUuid);

// "\\<ip>\Tolva_Internal" and "\\<ip>\Tolva_External".
QString InternalSharePath(const QString& sIp);
QString ExternalSharePath(const QString& sIp);
inline constexpr const char* kInternalShareName = "Tolva_Internal";
inline constexpr const char* kExternalShareName = "Tolva_External";

// The long-path form: "\\?\" before a drive path, "\\?\UNC" before a network path (its double
// backslashes collapsed). Native POSIX paths (starting with '/') have no such form and are
// returned as they are.
QString ToLongPath(const QString& sPath);
// A text made safe as one file or folder name: \ / : * ? " < . > | become '_', except the last
// '.' that separates the extension.
QString FixName(const QString& sName);
// The text after the last '/', else after the last '\', else the whole path.
QString FileNameOf(const QString& sPath);
// From the first '\' to the last '\' of the path, both included (empty without a '\').
QString DirPartOf(const QString& sPath);
// sFolder + FileNameOf(sPath).
QString JoinFileName(const QString& sFolder, const QString& sPath);
// The text from the path's last '.' compared case-insensitively with the dotted extension.
bool HasExtension(const QString& sPath, const QString& sDottedExtension);
// True when the file or folder exists (local or on a share).
bool PathExists(const QString& sPath);
// Creates the folder and every missing parent; true when it exists afterwards. The second form
// works through a caller's share file layer (the copy's per-thread instance).
bool CreateDirectoryTree(const QString& sPath);
bool CreateDirectoryTreeOn(class IShareFileSystem& fs, const QString& sPath);
// True when an element equals the text exactly (case-sensitive).
bool ContainsString(const QStringList& list, const QString& sText);
// The PC's name as the network knows it.
QString GetComputerNameText();
// The user's music folder, without a trailing separator.
QString MyMusicFolder();

// A URL split into its parts; nScheme is 1 for http, 2 for https, 0 for anything else.
struct SUrlParts
{
    int nScheme = 0;
    QString sHost;
    int nPort = 0;
    QString sPath; // path and query, "/" at least
};
bool CrackUrl(const QString& sUrl, SUrlParts* pParts);
bool HostOfUrl(const QString& sUrl, QString* psHost);

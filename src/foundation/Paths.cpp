#include "foundation/Paths.h"

#include <QUrl>

#include "foundation/Log.h"
#include "foundation/Settings.h"
#include "platform/ShareFileSystem.h"
#include "platform/StandardFolders.h"

namespace {
const char* const kAppDataSuffix = "Brenvik Corporation/TolvaMusicTransfer/";

bool IsNameUnsafe(QChar c)
{
    switch (c.unicode()) {
    case '\\':
    case '/':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '.':
    case '>':
    case '|': return true;
    // Control characters (a line break in a Linux file name, say) cannot be part of a name on
    // the share; the server refuses them, and the copy would wait out every retry.
    default: return c.unicode() < 0x20 || c.unicode() == 0x7F;
    }
}

// Length of "\\host\share" at the start of a share path (the whole path when it has no
// folder below the share).
qsizetype ShareRootLength(const QString& sPath)
{
    const qsizetype nHostEnd = sPath.indexOf('\\', 2);
    if (nHostEnd < 0)
        return sPath.size();
    const qsizetype nShareEnd = sPath.indexOf('\\', nHostEnd + 1);
    return nShareEnd < 0 ? sPath.size() : nShareEnd;
}

QString ReplaceUnsafe(QString s)
{
    for (QChar& c : s) {
        if (IsNameUnsafe(c))
            c = '_';
    }
    return s;
}
} // namespace

QString AppDataFolder()
{
    const QString sData = UserDataHome();
    return sData.isEmpty() ? QString(kAppDataSuffix) : sData + "/" + kAppDataSuffix;
}

bool CreateAppDataFolder()
{
    const QString sFolder = AppDataFolder();
    if (CreateDirectoryTree(sFolder))
        return true;
    WriteLog("CreateAppDataFolder: the application data folder " + sFolder + " cannot be created.");
    return false;
}

QString DeviceFolder(const QString& sUuid)
{
    QString sFolder = AppDataFolder();
    const QString sName = FixName(sUuid);
    if (!sName.isEmpty())
        sFolder += sName + "/";
    return sFolder;
}

QString CurrentDeviceFolder()
{
    return DeviceFolder(GetCurrentDevId());
}

bool CreateDeviceFolder(const QString& sUuid)
{
    const QString sFolder = DeviceFolder(sUuid);
    if (CreateDirectoryTree(sFolder))
        return true;
    WriteLog("CreateDeviceFolder: the device folder " + sFolder + " cannot be created.");
    return false;
}

QString InternalSharePath(const QString& sIp)
{
    return "\\\\" + sIp + "\\" + kInternalShareName;
}

QString ExternalSharePath(const QString& sIp)
{
    return "\\\\" + sIp + "\\" + kExternalShareName;
}

QString ToLongPath(const QString& sPath)
{
    if (sPath.startsWith('/'))
        return sPath; // native paths have no long form
    if (sPath.startsWith(QLatin1String("\\\\?\\")))
        return sPath; // already in the long form; prefixing again would break it
    if (!sPath.startsWith(QLatin1String("\\\\")))
        return "\\\\?\\" + sPath;
    return "\\\\?\\UNC" + CollapseSeparators(sPath, '\\');
}

QString FixName(const QString& sName)
{
    const qsizetype nDot = sName.lastIndexOf('.');
    if (nDot < 0)
        return ReplaceUnsafe(sName);
    // "." alone would name the folder it is in (a device folder would be the whole application
    // data folder); every other input comes out with at most one '.' after a non-empty base or
    // as "_." and so is never "." or "..".
    if (sName == QLatin1String("."))
        return QStringLiteral("_");
    return ReplaceUnsafe(sName.left(nDot)) + "." + ReplaceUnsafe(sName.mid(nDot + 1));
}

QString FileNameOf(const QString& sPath)
{
    qsizetype nPos = sPath.lastIndexOf('/');
    if (nPos < 0)
        nPos = sPath.lastIndexOf('\\');
    return nPos < 0 ? sPath : sPath.mid(nPos + 1);
}

QString DirPartOf(const QString& sPath)
{
    const qsizetype nFirst = sPath.indexOf('\\');
    if (nFirst < 0)
        return QString();
    const qsizetype nLast = sPath.lastIndexOf('\\');
    return sPath.mid(nFirst, nLast - nFirst + 1);
}

QString JoinFileName(const QString& sFolder, const QString& sPath)
{
    return sFolder + FileNameOf(sPath);
}

bool HasExtension(const QString& sPath, const QString& sDottedExtension)
{
    const qsizetype nDot = sPath.lastIndexOf('.');
    if (nDot < 0)
        return false;
    return sPath.mid(nDot).compare(sDottedExtension, Qt::CaseInsensitive) == 0;
}

bool PathExists(const QString& sPath)
{
    return CShareFileSystem().PathExists(sPath);
}

bool CreateDirectoryTree(const QString& sPath)
{
    CShareFileSystem fs;
    return CreateDirectoryTreeOn(fs, sPath);
}

bool CreateDirectoryTreeOn(IShareFileSystem& fs, const QString& sPath)
{
    if (IsSharePath(sPath)) {
        // A share's root ("\\host\share") is reached, never made: a missing root is a share
        // (or disk) that is not there, and making a folder for it would hide that.
        QString sTrimmed = sPath;
        while (sTrimmed.endsWith('\\'))
            sTrimmed.chop(1);
        if (sTrimmed.size() <= ShareRootLength(sTrimmed))
            return fs.PathExists(sTrimmed);
    }
    const DWORD dwFirst = fs.CreateFolder(sPath);
    if (dwFirst == ERROR_SUCCESS || dwFirst == ERROR_ALREADY_EXISTS)
        return true;
    const bool bShare = IsSharePath(sPath);
    const qsizetype nLast = sPath.lastIndexOf(bShare ? '\\' : '/');
    if (nLast < 0)
        return false;
    // Never above a share's root: the parent of "\\host" would be a local folder named "\".
    if (bShare && nLast < ShareRootLength(sPath))
        return false;
    if (!CreateDirectoryTreeOn(fs, sPath.left(nLast)))
        return false;
    const DWORD dwSecond = fs.CreateFolder(sPath);
    return dwSecond == ERROR_SUCCESS || dwSecond == ERROR_ALREADY_EXISTS;
}

bool ContainsString(const QStringList& list, const QString& sText)
{
    for (const QString& sElement : list) {
        if (sElement.size() == sText.size() && sElement == sText)
            return true;
    }
    return false;
}

QString GetComputerNameText()
{
    return MachineName().left(255);
}

QString MyMusicFolder()
{
    return UserMusicFolder();
}

bool CrackUrl(const QString& sUrl, SUrlParts* pParts)
{
    // Tolerant parsing escapes what may not stand in a URL (a blank in an icon's path) instead of
    // refusing it, as the escaping splitter of the device side does.
    const QUrl url(sUrl, QUrl::TolerantMode);
    if (!url.isValid() || url.host().isEmpty() || !pParts)
        return false;
    const QString sScheme = url.scheme().toLower();
    int nScheme = 0;
    int nDefaultPort = 0;
    if (sScheme == "http") {
        nScheme = 1;
        nDefaultPort = 80;
    } else if (sScheme == "https") {
        nScheme = 2;
        nDefaultPort = 443;
    } else {
        return false;
    }
    // The path keeps its query, escaped as it would go on the wire.
    QString sPath =
        QString::fromLatin1(url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment));
    if (sPath.isEmpty())
        sPath = "/";
    const QString sHost = url.host(QUrl::FullyEncoded);
    // The host and path buffers of the splitter hold 255 characters each.
    if (sHost.size() > 255 || sPath.size() > 255)
        return false;
    pParts->nScheme = nScheme;
    pParts->sHost = sHost;
    pParts->nPort = url.port(nDefaultPort);
    pParts->sPath = sPath;
    return true;
}

bool HostOfUrl(const QString& sUrl, QString* psHost)
{
    SUrlParts parts;
    if (!CrackUrl(sUrl, &parts))
        return false;
    if (psHost)
        *psHost = parts.sHost;
    return true;
}

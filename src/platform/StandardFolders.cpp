#include "platform/StandardFolders.h"

#include <climits>
#include <pwd.h>
#include <unistd.h>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
QString XdgFolder(const char* pszVariable, const char* pszDefaultBelowHome)
{
    const QString sValue = qEnvironmentVariable(pszVariable);
    if (!sValue.isEmpty() && QDir::isAbsolutePath(sValue))
        return QDir::cleanPath(sValue);
    const QString sHome = UserHomeFolder();
    if (sHome.isEmpty())
        return QString();
    return QDir::cleanPath(sHome + "/" + pszDefaultBelowHome);
}
} // namespace

QString UserHomeFolder()
{
    // Not QDir::homePath(): without HOME it answers "/", and the program would keep its settings
    // in "/.config". The account's own entry is what a login would have set HOME from.
    const QString sHome = qEnvironmentVariable("HOME");
    if (!sHome.isEmpty() && QDir::isAbsolutePath(sHome))
        return QDir::cleanPath(sHome);
    long nSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<std::size_t>(nSize > 0 ? nSize : 16384));
    passwd entry{};
    passwd* pEntry = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &pEntry) != 0 || !pEntry || !pEntry->pw_dir)
        return QString();
    const QString sAccountHome = QFile::decodeName(pEntry->pw_dir);
    if (sAccountHome.isEmpty() || !QDir::isAbsolutePath(sAccountHome) || QDir::cleanPath(sAccountHome) == "/")
        return QString();
    return QDir::cleanPath(sAccountHome);
}

QString UserDataHome()
{
    return XdgFolder("XDG_DATA_HOME", ".local/share");
}

QString UserConfigHome()
{
    return XdgFolder("XDG_CONFIG_HOME", ".config");
}

QString UserMusicFolder()
{
    // A session that exports XDG_MUSIC_DIR has resolved it already; QStandardPaths only reads
    // user-dirs.dirs (falling back to ~/Music).
    const QString sExported = qEnvironmentVariable("XDG_MUSIC_DIR");
    if (!sExported.isEmpty() && QDir::isAbsolutePath(sExported))
        return QDir::cleanPath(sExported);
    QString sMusic = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (sMusic.isEmpty())
        sMusic = UserHomeFolder() + "/Music";
    return QDir::cleanPath(sMusic);
}

QString ProgramFilePath()
{
    return ProgramFilePathOf("/proc/self/exe");
}

QString ProgramFilePathOf(const QString& sExeLink)
{
    char szPath[PATH_MAX];
    const ssize_t n = ::readlink(QFile::encodeName(sExeLink).constData(), szPath, sizeof szPath - 1);
    if (n <= 0)
        return QString();
    QString sPath = QFile::decodeName(QByteArray(szPath, static_cast<qsizetype>(n)));
    // A program file replaced while it runs (a package update) reads as "<path> (deleted)". The
    // path itself, where the new program now is, is what a later start must run.
    const QLatin1String sDeleted(" (deleted)");
    if (sPath.endsWith(sDeleted) && !QFileInfo::exists(sPath))
        sPath.chop(sDeleted.size());
    return sPath;
}

QString MachineName()
{
    char szName[256] = {};
    if (::gethostname(szName, sizeof szName - 1) != 0)
        return QString();
    QString sName = QString::fromLocal8Bit(szName);
    return sName.section('.', 0, 0);
}

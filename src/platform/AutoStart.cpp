#include "platform/AutoStart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/AtomicFile.h"
#include "platform/StandardFolders.h"

namespace {
// Quotes a program path for an Exec key: inside double quotes, the characters " ` $ and \ are
// escaped with a backslash; and each backslash is doubled once more for the string value.
QString QuoteExecArgument(const QString& sArgument)
{
    QString sQuoted = "\"";
    for (const QChar c : sArgument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            sQuoted += '\\';
        sQuoted += c;
    }
    sQuoted += '"';
    sQuoted.replace("\\", "\\\\");
    return sQuoted;
}
} // namespace

QString CAutoStartEntry::DefaultFilePath()
{
    return UserConfigHome() + "/autostart/TolvaMusicTransfer.desktop";
}

CAutoStartEntry::CAutoStartEntry(QString sFilePath) : m_sFilePath(std::move(sFilePath))
{}

bool CAutoStartEntry::Exists() const
{
    return QFileInfo::exists(m_sFilePath);
}

bool CAutoStartEntry::Write(const QString& sProgramPath, const QString& sArguments) const
{
    if (!QDir().mkpath(QFileInfo(m_sFilePath).absolutePath()))
        return false;
    QString sEntry = "[Desktop Entry]\n"
                     "Type=Application\n"
                     "Name=Tolva Music Transfer\n"
                     "Comment=Copies your music to your network audio player\n";
    sEntry += "Exec=" + QuoteExecArgument(sProgramPath) + sArguments + "\n";
    sEntry += "Terminal=false\n"
              "X-GNOME-Autostart-enabled=true\n";
    return WriteFileAtomically(m_sFilePath, sEntry.toUtf8());
}

bool CAutoStartEntry::Remove() const
{
    return !Exists() || QFile::remove(m_sFilePath);
}

QString CAutoStartEntry::ExecLine() const
{
    QFile file(m_sFilePath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("Exec="))
            return QString::fromUtf8(line.mid(5));
    }
    return QString();
}

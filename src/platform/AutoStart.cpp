#include "platform/AutoStart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/AtomicFile.h"
#include "platform/StandardFolders.h"

namespace {
// Quotes a program path for an Exec key, in the three layers of the desktop entry format:
// inside double quotes the characters " ` $ and \ are escaped with a backslash; '%' is doubled
// (a single one would start a field code); and the result is escaped as a string value (each
// backslash doubled once more, line breaks and tabs written as \n \r \t).
QString QuoteExecArgument(const QString& sArgument)
{
    QString sQuoted = "\"";
    for (const QChar c : sArgument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            sQuoted += '\\';
        if (c == '%')
            sQuoted += '%';
        sQuoted += c;
    }
    sQuoted += '"';
    QString sValue;
    for (const QChar c : sQuoted) {
        switch (c.unicode()) {
        case '\\': sValue += "\\\\"; break;
        case '\n': sValue += "\\n"; break;
        case '\r': sValue += "\\r"; break;
        case '\t': sValue += "\\t"; break;
        default: sValue += c;
        }
    }
    return sValue;
}
} // namespace

QString CAutoStartEntry::DefaultFilePath()
{
    const QString sConfig = UserConfigHome();
    // Without a home folder there is no place for the entry (never "/autostart").
    return sConfig.isEmpty() ? QString() : sConfig + "/autostart/TolvaMusicTransfer.desktop";
}

CAutoStartEntry::CAutoStartEntry(QString sFilePath) : m_sFilePath(std::move(sFilePath))
{}

bool CAutoStartEntry::Exists() const
{
    return !m_sFilePath.isEmpty() && QFileInfo::exists(m_sFilePath);
}

bool CAutoStartEntry::Write(const QString& sProgramPath, const QString& sArguments) const
{
    if (m_sFilePath.isEmpty() || !QDir().mkpath(QFileInfo(m_sFilePath).absolutePath()))
        return false;
    QString sEntry = "[Desktop Entry]\n"
                     "Type=Application\n"
                     "Name=Tolva Music Transfer\n"
                     "Comment=Copies your music to your network audio player\n";
    sEntry += "Exec=" + QuoteExecArgument(sProgramPath) + sArguments + "\n";
    sEntry += "Icon=tolva-music-transfer\n"
              "Terminal=false\n"
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

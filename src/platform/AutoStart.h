#pragma once

#include <QString>

// The start-at-logon entry: an XDG autostart file, $XDG_CONFIG_HOME/autostart/
// TolvaMusicTransfer.desktop, whose Exec line is the command line given (program path and
// arguments). The desktop session starts it when the user logs on.
class CAutoStartEntry
{
public:
    static QString DefaultFilePath();

    explicit CAutoStartEntry(QString sFilePath = DefaultFilePath());

    bool Exists() const;
    // sProgramPath is quoted for the Exec line as the desktop entry format requires;
    // sArguments (" -auto") follows it unquoted.
    bool Write(const QString& sProgramPath, const QString& sArguments) const;
    bool Remove() const;
    // The Exec line of the entry, or empty when there is none.
    QString ExecLine() const;

private:
    QString m_sFilePath;
};

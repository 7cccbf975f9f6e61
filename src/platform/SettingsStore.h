#pragma once

#include <optional>

#include <QString>

#include "platform/WinTypes.h"

// One typed value of a settings key, as the registry holds it: a 32-bit number or a string.
struct SSettingValue
{
    enum EType
    {
        TYPE_DWORD,
        TYPE_SZ,
    };
    EType eType = TYPE_DWORD;
    DWORD dwValue = 0;
    QString sValue;
};

// A registry key stand-in: named, typed values with presence, kept in one per-user JSON file
// (keys of several paths can share the file; an empty file holds no values). There is no cache:
// every call reads the file, so a read sees the last write of any thread or process. Writes lock
// the file against other writers, then replace it atomically. A file that cannot be parsed reads
// as "every value absent" and is renamed aside (".corrupt-<time>") on the next write (or at once
// by CheckFile), so the user's file is never silently lost. A file that exists but cannot be read
// (a folder in its place, a read error) also reads as absent, but is never replaced: writes fail
// until it is readable again. Every such outcome is reported through ReportDiagnostic.
class CSettingsStore
{
public:
    CSettingsStore(QString sFilePath, QString sKeyPath);

    // The program's own key, in the per-user file under $XDG_CONFIG_HOME (default ~/.config).
    static CSettingsStore ProgramKey();
    // Path of the per-user settings file.
    static QString DefaultFilePath();

    enum ECheck
    {
        CHECK_OK,         // absent, empty or readable
        CHECK_SET_ASIDE,  // could not be parsed: renamed aside (*psAside), the values start afresh
        CHECK_UNREADABLE, // exists but cannot be read (or a damaged file cannot be renamed)
    };
    // Looks at a settings file before a program works with it, so that a damaged file is set aside
    // at once (and the user can be told where it went) rather than at the next write.
    static ECheck CheckFile(const QString& sPath, QString* psAside);

    std::optional<SSettingValue> Read(const QString& sName) const;
    bool Write(const QString& sName, const SSettingValue& value) const;
    bool Remove(const QString& sName) const;

    const QString& FilePath() const { return m_sFilePath; }
    const QString& KeyPath() const { return m_sKeyPath; }

private:
    QString m_sFilePath;
    QString m_sKeyPath;
};

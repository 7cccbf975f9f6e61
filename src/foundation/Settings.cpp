#include "foundation/Settings.h"

#include "foundation/Log.h"
#include "platform/AutoStart.h"
#include "platform/SettingsStore.h"
#include "platform/StandardFolders.h"

namespace {
const char* const kAutoArgument = " -auto";
}

bool ReadSettingDword(const QString& sName, DWORD* pdwValue)
{
    const std::optional<SSettingValue> value = CSettingsStore::ProgramKey().Read(sName);
    if (!value || !pdwValue)
        return false;
    if (value->eType == SSettingValue::TYPE_DWORD) {
        *pdwValue = value->dwValue;
        return true;
    }
    // A string read as a number gives its first four stored bytes (UTF-16 little-endian, NUL
    // terminated), as a registry query into a 4-byte buffer would.
    QByteArray bytes(reinterpret_cast<const char*>(value->sValue.utf16()), value->sValue.size() * 2);
    bytes.append(2, '\0');
    if (bytes.size() < 4)
        bytes.append(4 - bytes.size(), '\0');
    *pdwValue = static_cast<DWORD>(static_cast<unsigned char>(bytes[0])) |
                static_cast<DWORD>(static_cast<unsigned char>(bytes[1])) << 8 |
                static_cast<DWORD>(static_cast<unsigned char>(bytes[2])) << 16 |
                static_cast<DWORD>(static_cast<unsigned char>(bytes[3])) << 24;
    return true;
}

bool SettingExists(const QString& sName)
{
    return CSettingsStore::ProgramKey().Read(sName).has_value();
}

bool ReadSettingString(const QString& sName, QString* psValue)
{
    const std::optional<SSettingValue> value = CSettingsStore::ProgramKey().Read(sName);
    if (!value || value->eType != SSettingValue::TYPE_SZ || !psValue)
        return false;
    *psValue = value->sValue;
    return true;
}

bool WriteSettingString(const QString& sName, const QString& sValue)
{
    SSettingValue value;
    value.eType = SSettingValue::TYPE_SZ;
    value.sValue = sValue;
    return CSettingsStore::ProgramKey().Write(sName, value);
}

void WriteSettingDword(const QString& sName, DWORD dwValue)
{
    SSettingValue value;
    value.eType = SSettingValue::TYPE_DWORD;
    value.dwValue = dwValue;
    (void)CSettingsStore::ProgramKey().Write(sName, value);
}

QString GetCurrentDevId()
{
    QString sValue;
    ReadSettingString(kSettingCurrentDevId, &sValue);
    return sValue;
}

bool SetCurrentDevId(const QString& sUuid)
{
    return WriteSettingString(kSettingCurrentDevId, sUuid);
}

QString GetCurrentDevIP()
{
    QString sValue;
    ReadSettingString(kSettingCurrentDevIP, &sValue);
    return sValue;
}

bool SetCurrentDevIP(const QString& sIp)
{
    return WriteSettingString(kSettingCurrentDevIP, sIp);
}

void SetAutoTransfer(bool bOn)
{
    WriteSettingDword(kSettingAutoTransfer, bOn ? 1 : 0);
}

DWORD GetSyncFileSavePosition()
{
    DWORD dwValue = SAVE_POSITION_AUTO;
    ReadSettingDword(kSettingSyncFileSavePosition, &dwValue);
    return dwValue;
}

void SetSyncFileSavePosition(DWORD dwPosition)
{
    WriteSettingDword(kSettingSyncFileSavePosition, dwPosition);
}

DWORD GetPowerRebootWaitingTimeSecond()
{
    DWORD dwValue = 60;
    ReadSettingDword(kSettingPowerRebootWaitingTimeSecond, &dwValue);
    return dwValue;
}

bool IsFirstRunPending()
{
    // Absent: never set up. 1: a wizard was started and not finished. Any other value, or one
    // that is present but cannot be read as a number, means the setup is done.
    if (!SettingExists(kSettingFirstRun))
        return true;
    DWORD dwValue = 0;
    return ReadSettingDword(kSettingFirstRun, &dwValue) && dwValue == 1;
}

bool GetAutoTransfer()
{
    // Only 1 switches it on; the page writes 0 or 1, anything else is treated as off.
    DWORD dwValue = 0;
    return ReadSettingDword(kSettingAutoTransfer, &dwValue) && dwValue == 1;
}

DWORD GetAutoTransferTime()
{
    DWORD dwValue = 0;
    ReadSettingDword(kSettingAutoTransferTime, &dwValue);
    return dwValue;
}

DWORD GetProgressLevel()
{
    DWORD dwValue = PROGRESS_LEVEL_MID;
    ReadSettingDword(kSettingProgressLevel, &dwValue);
    return dwValue <= PROGRESS_LEVEL_HIGH ? dwValue : PROGRESS_LEVEL_MID;
}

DWORD GetDevicePowerFrequency()
{
    DWORD dwValue = 0;
    ReadSettingDword(kSettingDevicePowerFrequency, &dwValue);
    return dwValue;
}

bool AutoStartExists()
{
    return CAutoStartEntry().Exists();
}

bool WriteAutoStart(const QString& sCommandLine)
{
    QString sProgram = sCommandLine;
    QString sArguments;
    if (sCommandLine.endsWith(kAutoArgument)) {
        sProgram.chop(static_cast<qsizetype>(qstrlen(kAutoArgument)));
        sArguments = kAutoArgument;
    }
    // An entry without a program (the program's own path could not be read) would start nothing.
    if (sProgram.trimmed().isEmpty()) {
        WriteLog("WriteAutoStart: no program path, the start at logon is not registered.");
        return false;
    }
    const CAutoStartEntry entry;
    if (!entry.Write(sProgram, sArguments)) {
        WriteLog("WriteAutoStart: the autostart entry cannot be written.");
        return false;
    }
    return true;
}

bool DeleteAutoStart()
{
    if (!CAutoStartEntry().Remove()) {
        WriteLog("DeleteAutoStart: the autostart entry cannot be removed.");
        return false;
    }
    return true;
}

QString AutoStartCommandLine()
{
    return ProgramFilePath() + kAutoArgument;
}

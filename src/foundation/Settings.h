#pragma once

#include <QString>

#include "platform/WinTypes.h"

// The program's settings, read at the moment of use and written straight through; there is no
// settings object. Each accessor opens the settings key, does one query or write, and closes it.

// Value names.
inline constexpr const char* kSettingFirstRun = "FirstRun";
inline constexpr const char* kSettingCurrentDevId = "CurrentDevId";
inline constexpr const char* kSettingCurrentDevIP = "CurrentDevIP";
inline constexpr const char* kSettingAutoTransfer = "AutoTransfer";
inline constexpr const char* kSettingAutoTransferTime = "AutoTransferTime";
inline constexpr const char* kSettingProgressLevel = "ProgressLevel";
inline constexpr const char* kSettingDevicePowerFrequency = "DevicePowerFrequency";
inline constexpr const char* kSettingSyncFileSavePosition = "SyncFileSavePosition";
inline constexpr const char* kSettingPowerRebootWaitingTimeSecond = "PowerRebootWaitingTimeSecond";

// Destination disk on the player ("SyncFileSavePosition").
enum ESavePosition : DWORD
{
    SAVE_POSITION_AUTO = 0,
    SAVE_POSITION_INTERNAL = 1,
    SAVE_POSITION_EXTERNAL = 2,
};

// Process priority ("ProgressLevel").
enum EProgressLevel : DWORD
{
    PROGRESS_LEVEL_LOW = 0,
    PROGRESS_LEVEL_MID = 1,
    PROGRESS_LEVEL_HIGH = 2,
};

// True when the value could be read; *pdwValue is left untouched otherwise, so callers preset
// their default. A string value yields its first four bytes as stored (UTF-16, NUL-terminated).
bool ReadSettingDword(const QString& sName, DWORD* pdwValue);
bool SettingExists(const QString& sName);
bool ReadSettingString(const QString& sName, QString* psValue);
bool WriteSettingString(const QString& sName, const QString& sValue);
void WriteSettingDword(const QString& sName, DWORD dwValue);

QString GetCurrentDevId();
bool SetCurrentDevId(const QString& sUuid);
QString GetCurrentDevIP();
bool SetCurrentDevIP(const QString& sIp);
void SetAutoTransfer(bool bOn);
DWORD GetSyncFileSavePosition();
void SetSyncFileSavePosition(DWORD dwPosition);
DWORD GetPowerRebootWaitingTimeSecond();

// Readers' views of the other values, each with the default its readers use when the value is
// absent (the pages have their own display rules, e.g. an absent "AutoTransfer" shows as On).
bool IsFirstRunPending();        // "FirstRun" absent or 1: the setup wizard starts; any other value: not
bool GetAutoTransfer();          // on only when stored as 1; absent: off
DWORD GetAutoTransferTime();     // minutes; absent: 0 for the idle timer
DWORD GetProgressLevel();        // absent or out of range: Mid
DWORD GetDevicePowerFrequency(); // absent: 0, no retry

// Start at logon: the logon start value of the program (an autostart entry on this platform).
bool AutoStartExists();
// sCommandLine: the program's full path followed by " -auto".
bool WriteAutoStart(const QString& sCommandLine);
bool DeleteAutoStart();
// The command line WriteAutoStart is given for this program: its full path + " -auto".
QString AutoStartCommandLine();

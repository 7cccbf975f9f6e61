#pragma once

#include "platform/WinTypes.h"

// The one enumeration of outcomes of the sync pipeline: a refused start, the result of one file
// and the result of a whole run. The values are fixed: they travel as the lParam of
// WM_TRANSFER_FINISHED and appear in log lines.
enum eErrorCode : DWORD
{
    EC_OK = 0,                  // success; for a run every file was handled (some may have failed)
    EC_NO_DEVICE = 1,           // no device selected, or its record is gone
    EC_DEVICE_OFFLINE = 2,      // no device selected when the transfer thread starts
    EC_NO_UUID = 3,             // the selected device has an empty UUID
    EC_NO_IP = 4,               // the selected device has an empty IP address
    EC_NO_FILES = 5,            // the scan found nothing to transfer
    EC_DEVICE_FULL = 6,         // the disk of the device is full
    EC_ACCESS_DENIED = 7,       // writing on the device was refused
    EC_CANCELLED = 8,           // stopped by the user or by the offline handling
    EC_TARGET_ERROR = 9,        // another write error, or a target folder could not be created
    EC_FILE_FAILED = 10,        // the source could not be opened or the target file not created
    EC_POWER_NOT_READY = 11,    // the device is not awake enough
    EC_NO_FORMAT = 12,          // no file type ticked for the device
    EC_NO_FOLDER = 13,          // no watched folder ticked for the device
    EC_NO_EXTERNAL = 14,        // destination "External HDD" but the device has no external share
    EC_SOURCE_MISSING = 15,     // per file: the source file no longer exists (becomes 10)
    EC_DENIED_DEVICE_LOST = 16, // per file: access denied while the device went offline (becomes 7)
    EC_DEVICE_LOST = 17,        // per file: the device went offline during the file (becomes 9)
    EC_DEVICE_REMOVED = 18,     // device-presence state: the device was dropped as offline
    EC_DEVICE_PRESENT = 19,     // device-presence state: present
    EC_SHARE_NOT_READY = 20,    // after a wake-up the share of the device did not appear
};

inline constexpr DWORD kErrorCodeCount = 21;

// String ids of the texts the outcomes use.
enum EOutcomeStringId : unsigned
{
    IDS_TRANSFER_CANCELLED = 150,
    IDS_DEVICE_FULL = 151,
    IDS_DEVICE_NOT_CONNECTED = 153,
    IDS_TRANSFER_ERROR = 154,
    IDS_TRANSFER_FINISHED = 156,
    IDS_SOME_FILES_FAILED = 157,
    IDS_NO_FOLDER = 158,
    IDS_NO_FORMAT = 159,
    IDS_NO_EXTERNAL = 173,
    IDS_NAME_TOO_LONG = 183,
    IDS_SOURCE_NOT_FOUND = 184,
    IDS_FILE_NOT_TRANSFERRED = 185,
    IDS_POWER_NOT_READY = 187,
    IDS_NO_FILES = 200,
};

// The code a file's result carries on after its history line was written: the three "device
// lost / source missing" variants fold into the codes the run understands.
constexpr eErrorCode FileResultAfterRecording(eErrorCode eResult)
{
    switch (eResult) {
    case EC_SOURCE_MISSING: return EC_FILE_FAILED;
    case EC_DENIED_DEVICE_LOST: return EC_ACCESS_DENIED;
    case EC_DEVICE_LOST: return EC_TARGET_ERROR;
    default: return eResult;
    }
}

// The string id of a file's result text in the history; 0 for "OK" (a fixed text) and for a
// file stopped by the user while its device stayed present (no text).
constexpr unsigned FileResultStringId(eErrorCode eResult, bool bDeviceRemoved)
{
    switch (eResult) {
    case EC_OK: return 0;
    case EC_DEVICE_FULL: return IDS_DEVICE_FULL;
    case EC_CANCELLED: return bDeviceRemoved ? static_cast<unsigned>(IDS_DEVICE_NOT_CONNECTED) : 0u;
    case EC_SOURCE_MISSING: return IDS_SOURCE_NOT_FOUND;
    case EC_DENIED_DEVICE_LOST:
    case EC_DEVICE_LOST: return IDS_DEVICE_NOT_CONNECTED;
    default: return IDS_FILE_NOT_TRANSFERRED;
    }
}

// The message the main window shows for a run's code: its string id, 0 for no message.
constexpr unsigned OutcomeMessageStringId(eErrorCode eCode, bool bSomeFilesFailed)
{
    switch (eCode) {
    case EC_OK: return bSomeFilesFailed ? IDS_SOME_FILES_FAILED : IDS_TRANSFER_FINISHED;
    case EC_NO_DEVICE:
    case EC_DEVICE_OFFLINE:
    case EC_NO_UUID:
    case EC_NO_IP: return IDS_FILE_NOT_TRANSFERRED;
    case EC_NO_FILES: return IDS_NO_FILES;
    case EC_DEVICE_FULL: return IDS_DEVICE_FULL;
    case EC_ACCESS_DENIED:
    case EC_TARGET_ERROR: return IDS_TRANSFER_ERROR;
    case EC_CANCELLED: return IDS_TRANSFER_CANCELLED;
    case EC_POWER_NOT_READY: return IDS_POWER_NOT_READY;
    case EC_NO_FORMAT: return IDS_NO_FORMAT;
    case EC_NO_FOLDER: return IDS_NO_FOLDER;
    case EC_NO_EXTERNAL: return IDS_NO_EXTERNAL;
    default: return 0;
    }
}

// Whether that message carries the error icon.
constexpr bool OutcomeMessageIsError(eErrorCode eCode)
{
    switch (eCode) {
    case EC_NO_DEVICE:
    case EC_DEVICE_OFFLINE:
    case EC_NO_UUID:
    case EC_NO_IP:
    case EC_DEVICE_FULL:
    case EC_ACCESS_DENIED:
    case EC_TARGET_ERROR: return true;
    default: return false;
    }
}

// Why a file was refused, as words for a message: the player's share refuses writing (1157), it
// did not take the file (1158), or the file cannot be read on this computer (1159).
constexpr unsigned RefusalReasonStringId(eErrorCode eReason, bool bShareSide)
{
    if (!bShareSide)
        return 1159;
    return eReason == EC_ACCESS_DENIED || eReason == EC_DENIED_DEVICE_LOST ? 1157 : 1158;
}

// A code from a number (the lParam of WM_TRANSFER_FINISHED); false for a number out of range.
constexpr bool ErrorCodeFromNumber(DWORD dwNumber, eErrorCode* peCode)
{
    if (dwNumber >= kErrorCodeCount)
        return false;
    if (peCode)
        *peCode = static_cast<eErrorCode>(dwNumber);
    return true;
}

// The enumerator's name ("EC_DEVICE_FULL"), for logs and test output; "EC_UNKNOWN" out of range.
constexpr const char* ErrorCodeName(eErrorCode eCode)
{
    constexpr const char* kNames[kErrorCodeCount] = {
        "EC_OK",
        "EC_NO_DEVICE",
        "EC_DEVICE_OFFLINE",
        "EC_NO_UUID",
        "EC_NO_IP",
        "EC_NO_FILES",
        "EC_DEVICE_FULL",
        "EC_ACCESS_DENIED",
        "EC_CANCELLED",
        "EC_TARGET_ERROR",
        "EC_FILE_FAILED",
        "EC_POWER_NOT_READY",
        "EC_NO_FORMAT",
        "EC_NO_FOLDER",
        "EC_NO_EXTERNAL",
        "EC_SOURCE_MISSING",
        "EC_DENIED_DEVICE_LOST",
        "EC_DEVICE_LOST",
        "EC_DEVICE_REMOVED",
        "EC_DEVICE_PRESENT",
        "EC_SHARE_NOT_READY",
    };
    return static_cast<DWORD>(eCode) < kErrorCodeCount ? kNames[eCode] : "EC_UNKNOWN";
}

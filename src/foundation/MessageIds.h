#pragma once

#include "platform/WinTypes.h"

// The program's window messages, numbered from WM_USER. Each keeps its number and whether it is
// posted (returns at once) or sent (the sender waits until the receiver handled it).
enum EMessageId : unsigned
{
    WM_TRAY_NOTIFY = WM_USER + 1,                 // posted by the shell: notification-area icon mouse message
    WM_SELECT_DEVICE_CARD = WM_USER + 2,          // sent: a device card was clicked (payload: UUID)
    WM_TRANSFER_FINISHED = WM_USER + 3,           // sent by the common manager: lParam = eErrorCode
    WM_SET_TRAY_ICON = WM_USER + 4,               // sent: (re)register the tray icon, lParam = icon id
    WM_CHANGE_MODE = WM_USER + 5,                 // sent: wParam new display mode, lParam the second value
    WM_DEVICE_NOT_FOUND = WM_USER + 6,            // posted by the device manager: selected device not found
    WM_ENABLE_NEXT = WM_USER + 7,                 // sent: lParam 1 enable, 0 disable Next
    WM_SET_OFFLINE_PROMPT_DONE = WM_USER + 8,     // sent: lParam BOOL
    WM_SET_DEVICE_PICTURE_TEXT = WM_USER + 9,     // sent: payload std::pair<QString, QString> (model, IP)
    WM_CLOSE_WAIT_DIALOG = WM_USER + 10,          // sent
    WM_SET_TRANSFER_DEVICE_NAME = WM_USER + 11,   // sent: device name for the Transfer Settings page
    WM_REFRESH_CONTENTS = WM_USER + 12,           // sent: handled by the Contents Settings page
    WM_DISK_FULL = WM_USER + 13,                  // posted by NotifyDiskFull
    WM_RELOAD_SAVED_LISTS = WM_USER + 14,         // sent: payload UUID
    WM_ENABLE_CANCEL = WM_USER + 15,              // sent: lParam BOOL
    WM_SETTINGS_CHANGED = WM_USER + 16,           // sent: a page's settings changed
    WM_EXTENSION_LIST_CHANGED = WM_USER + 17,     // sent: lParam 0, 1 or 2
    WM_SHOW_EXPLORE = WM_USER + 18,               // sent: payload icon path, lParam 1 show / 0 hide
    WM_DEVICE_REMOVED = WM_USER + 19,             // posted by the common manager: payload UUID
    WM_CONTENTS_NEXT = WM_USER + 20,              // posted by the Contents Settings page
    WM_SET_START_TRANSFER_OFFER = WM_USER + 22,   // sent: lParam BOOL
    WM_SET_CONTENTS_DIALOG_OPEN = WM_USER + 23,   // sent: lParam BOOL
    WM_QUERY_CONTENTS_UNMODIFIED = WM_USER + 24,  // sent: query
    WM_SET_IN_TIMER = WM_USER + 25,               // posted: lParam BOOL
    WM_QUERY_MANUAL_TRANSFER_GREY = WM_USER + 26, // sent: query
    WM_REFRESH_CONTENTS_PAGE = WM_USER + 28,      // sent
    WM_QUERY_MODAL_OPEN = WM_USER + 29,           // sent: query
    WM_CLAMP_MINUTES = WM_USER + 30,              // posted
    WM_CONNECTION_PAGE_TEXT = WM_USER + 31,       // sent: payload string
    WM_MANUAL_ADD_NO_DESCRIPTION = WM_USER + 32,  // posted by the device manager
    WM_MANUAL_ADD_FINISHED = WM_USER + 33,        // posted
    WM_MANUAL_ADD_REQUEST = WM_USER + 34,         // posted thread message to the device search thread: payload IP
    WM_LOCK_WINDOW = WM_USER + 36,                // posted: payload "1" or "0"
    WM_FORWARD_TO_OFFLINE_DIALOG = WM_USER + 37,  // sent
    WM_OFFLINE_DIALOG_NOTICE = WM_USER + 38,      // sent: handled by the offline dialog
    WM_OFFLINE_DIALOG_RESCAN = WM_USER + 39,      // sent
};

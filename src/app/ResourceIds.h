#pragma once

// Control, command, menu and timer ids of the main window. Tests and assistive technology find a
// control by its id, which every control carries in its accessible name ("Apply (1002)").

enum EControlId : unsigned
{
    IDC_OK = 1,
    IDC_CANCEL = 2,
    IDC_EXPLORE = 4,
    IDC_HELP = 5,
    IDC_APPLY = 1002,
    IDC_NEXT = 1021,
    IDC_PREV = 1022,
    IDC_END = 1024,
    IDC_LABEL_CONNECTION = 1043,
    IDC_LABEL_CONTENTS = 1044,
    IDC_LABEL_TRANSFER = 1046,
    IDC_LABEL_FRAME = 1055,
};

enum ECommandId : unsigned
{
    ID_EXIT = 32772,
    ID_SETUP_CONSOLE = 32773,
    ID_HELP = 32776,
    ID_EXPLORE = 32777,
    ID_ABOUT = 32778,
    ID_MANUAL_TRANSFER = 32782,
    ID_PAGE_CONNECTION = 32784,
    ID_PAGE_CONTENTS = 32785,
    ID_PAGE_TRANSFER = 32786,
    ID_TO_FOREGROUND = 32787,
};

enum EResourceId : unsigned
{
    IDR_MAIN_MENU = 121,
    IDI_APPLICATION_ICON = 107,
    IDI_TRAY_AUTO_OFF = 210,
    IDI_TRAY_AUTO_ON = 219,
    IDI_TRAY_FRAME_FIRST = 211, // 211 to 218: the animation while a transfer runs
    IDB_DEFAULT_DEVICE = 186,
};

// The mouse messages of the notification-area icon (WM_TRAY_NOTIFY's lParam).
enum ETrayMouse : int
{
    TRAY_MOUSE_LEFT_DOWN = 513,
    TRAY_MOUSE_LEFT_DOUBLE = 515,
    TRAY_MOUSE_RIGHT_UP = 517,
};

enum ETimerId : unsigned
{
    TIMER_ID_IDLE = 100,
    TIMER_ID_TRAY_ANIMATION = 200,
    TIMER_ID_POWER_RETRY = 600,
    TIMER_ID_ON_SHOW_PANEL = 800,
};

// The page-label timer's period: a program started at logon keeps its selection this long.
constexpr int kShowPanelTimerMs = 60000;

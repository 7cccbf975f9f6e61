#pragma once

#include <QString>

// What the Transfer Settings page needs from the main window for a transfer: the display mode,
// the selected player, the settings of all pages, the start and cancel of a run, and idle
// detection. The main window implements it; tests of the page alone may give a double.
class ISyncPageHost
{
public:
    virtual ~ISyncPageHost() = default;
    // The main window's display mode (EDisplayMode).
    virtual int DisplayMode() const = 0;
    virtual bool HasSelectedDevice() const = 0;
    virtual bool IsAnySettingChanged() = 0;
    virtual void SaveAllSettings() = 0;
    // Switches the window to the transferring state and asks the common manager to start.
    virtual bool StartFileSync() = 0;
    // The user stopped the running transfer: no automatic retry, then the common manager's cancel.
    virtual void CancelFileSync() = 0;
    // A file of the current or last run failed.
    virtual bool SomeFilesFailed() const = 0;
    // Arms the idle timer with nMinutes (auto transfer on) or stops idle detection (off).
    virtual void StartIdleDetection(int nMinutes) = 0;
    virtual void StopIdleDetection() = 0;
};

#pragma once

#include <functional>

// Whether the desktop has a notification area (a tray host) for the program's icon.
//
// Qt decides once per process, at the first tray icon or isSystemTrayAvailable() call, whether
// a StatusNotifier host exists; a host that appears later (the panel starts after the program at
// logon) is never used. So the program creates its QSystemTrayIcon, and asks Qt anything about the
// tray, only after WhenAvailable has answered true.
class ITrayPresence
{
public:
    using Callback = std::function<void(bool bAvailable)>;
    virtual ~ITrayPresence() = default;
    // fn runs once, later, on the user interface thread: true as soon as a tray host exists (at
    // once when it already does), false when none appeared within nTimeoutMs; then the program
    // shows its settings window instead of staying hidden.
    virtual void WhenAvailable(Callback fn, int nTimeoutMs) = 0;
};

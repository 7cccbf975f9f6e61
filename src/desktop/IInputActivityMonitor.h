#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class ITimerService;

// What kind of input the user made.
enum EInputKind
{
    INPUT_KEYBOARD,      // a key was pressed
    INPUT_POINTER_MOVED, // the pointer moved to a new position (a click or wheel turn in place is no move)
    INPUT_UNKNOWN,       // some input; the desktop does not say which (treat it as a key)
};

// Watches the user's keyboard and pointer across the whole desktop for the automatic transfer:
// once armed with N ms, it reports OnIdle when N ms have passed since the arming or the last
// qualifying input (a key, a real pointer move), once per idle stretch, and reports every
// qualifying input as activity, which also starts the N ms over. Both reports run on the user
// interface thread; a handler may disarm or re-arm the monitor. Disarmed, it watches nothing and
// never wakes the program.
//
// Desktops that only say "idle" and "input again" (Wayland idle notification, GNOME's idle
// monitor, the screen saver's idle time) cannot tell keys from clicks: there any input, a click
// in place included, arrives as INPUT_UNKNOWN, postpones the idle report and counts as a key.
class IInputActivityMonitor
{
public:
    using IdleHandler = std::function<void()>;
    using ActivityHandler = std::function<void(EInputKind eKind)>;
    virtual ~IInputActivityMonitor() = default;

    virtual void SetHandlers(IdleHandler onIdle, ActivityHandler onActivity) = 0;
    // Starts watching, or starts the countdown over when already armed (also with a new period).
    virtual void Arm(std::int64_t nIdleMs) = 0;
    // Stops watching; no report follows.
    virtual void Disarm() = 0;
    virtual bool IsArmed() const = 0;
    // Which desktop interface delivers the input ("XInput2", "none", ...), for the log.
    virtual const char* BackendName() const = 0;
};

// The monitor for this session, chosen by the session type and what the session bus offers:
// an X11 session uses XInput2 raw events (the X screen saver's idle time where XInput2 is
// missing); Wayland the compositor's ext-idle-notify; then GNOME's idle monitor; then the
// freedesktop screen saver's idle time, read every second while armed. Without any of them the
// countdown still runs out, but input cannot postpone it (logged once). Timers run on `timers`,
// which must outlive the monitor. Create and use on the user interface thread.
std::unique_ptr<IInputActivityMonitor> CreateActivityMonitor(ITimerService& timers);

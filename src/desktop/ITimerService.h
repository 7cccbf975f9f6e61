#pragma once

#include <cstdint>
#include <functional>

// The windows' numbered timers (100, 200, 300, 400, 500, 600, 800, 900), kept on the user
// interface thread and measured by the program's clock, so tests run them in virtual time. A timer
// fires every period until it is killed; setting a running timer again restarts it with the new
// period. A timer that is not running costs nothing: an idle program wakes up zero times a second.
class ITimerService
{
public:
    using Callback = std::function<void()>;
    virtual ~ITimerService() = default;
    // Starts or restarts timer nId of pOwner; fn runs on the user interface thread.
    virtual void SetTimer(const void* pOwner, unsigned nId, std::int64_t nPeriodMs, Callback fn) = 0;
    // Stops it; does nothing when it is not running. Safe to call from its own callback.
    virtual void KillTimer(const void* pOwner, unsigned nId) = 0;
    virtual bool IsTimerRunning(const void* pOwner, unsigned nId) const = 0;
    // Stops every timer of pOwner (a window that is destroyed).
    virtual void KillAllTimers(const void* pOwner) = 0;
};

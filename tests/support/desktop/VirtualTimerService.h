#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "desktop/ITimerService.h"

class CVirtualClock;

// The windows' timers in virtual time, for tests: nothing fires by itself. Advance(ms) moves the
// test's virtual clock and, on the calling (user interface) thread, fires every timer that falls
// due on the way, in deadline order (timers due at the same moment in the order they were set),
// with the clock standing at each timer's deadline while its callback runs. Callbacks may set,
// kill or restart any timer, their own included; a timer started from a callback fires within the
// same Advance when its deadline is inside the step.
class CVirtualTimerService final : public ITimerService
{
public:
    explicit CVirtualTimerService(CVirtualClock& clock);

    void SetTimer(const void* pOwner, unsigned nId, std::int64_t nPeriodMs, Callback fn) override;
    void KillTimer(const void* pOwner, unsigned nId) override;
    bool IsTimerRunning(const void* pOwner, unsigned nId) const override;
    void KillAllTimers(const void* pOwner) override;

    // Moves the clock by nMs, firing the timers due on the way.
    void Advance(std::int64_t nMs);
    // Advances to the next deadline of timer nId of pOwner and fires everything due until then;
    // false (and no time passes) when that timer is not running.
    bool AdvanceToNextTick(const void* pOwner, unsigned nId);
    int RunningCount() const { return static_cast<int>(m_timers.size()); }
    // Period of a running timer.
    std::optional<std::int64_t> Period(const void* pOwner, unsigned nId) const;

private:
    using Key = std::pair<const void*, unsigned>;
    struct STimer
    {
        std::int64_t nPeriodMs = 0;
        std::int64_t nDeadlineMs = 0;
        std::uint64_t nOrder = 0; // set order, breaks ties between equal deadlines
        Callback fn;
    };

    CVirtualClock& m_clock;
    std::map<Key, STimer> m_timers;
    std::uint64_t m_nNextOrder = 0;
};

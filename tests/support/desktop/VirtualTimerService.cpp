#include "support/desktop/VirtualTimerService.h"

#include <algorithm>

#include "platform/VirtualClock.h"

namespace {
constexpr std::int64_t kMinPeriodMs = 1; // as the real service: a zero period is one millisecond
}

CVirtualTimerService::CVirtualTimerService(CVirtualClock& clock) : m_clock(clock)
{}

void CVirtualTimerService::SetTimer(const void* pOwner, unsigned nId, std::int64_t nPeriodMs, Callback fn)
{
    STimer& timer = m_timers[Key(pOwner, nId)];
    timer.nPeriodMs = std::max(nPeriodMs, kMinPeriodMs);
    timer.nDeadlineMs = m_clock.NowMs() + timer.nPeriodMs;
    timer.nOrder = m_nNextOrder++;
    timer.fn = std::move(fn);
}

void CVirtualTimerService::KillTimer(const void* pOwner, unsigned nId)
{
    m_timers.erase(Key(pOwner, nId));
}

bool CVirtualTimerService::IsTimerRunning(const void* pOwner, unsigned nId) const
{
    return m_timers.count(Key(pOwner, nId)) != 0;
}

void CVirtualTimerService::KillAllTimers(const void* pOwner)
{
    for (auto it = m_timers.lower_bound(Key(pOwner, 0)); it != m_timers.end() && it->first.first == pOwner;)
        it = m_timers.erase(it);
}

void CVirtualTimerService::Advance(std::int64_t nMs)
{
    const std::int64_t nTargetMs = m_clock.NowMs() + std::max<std::int64_t>(nMs, 0);
    for (;;) {
        // The earliest timer due by the target; searched afresh after every callback, because a
        // callback may have changed any timer.
        auto next = m_timers.end();
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
            if (it->second.nDeadlineMs > nTargetMs)
                continue;
            if (next == m_timers.end() || it->second.nDeadlineMs < next->second.nDeadlineMs ||
                (it->second.nDeadlineMs == next->second.nDeadlineMs && it->second.nOrder < next->second.nOrder))
                next = it;
        }
        if (next == m_timers.end())
            break;
        STimer& timer = next->second;
        const std::int64_t nNowMs = m_clock.NowMs();
        if (timer.nDeadlineMs > nNowMs)
            m_clock.Advance(timer.nDeadlineMs - nNowMs);
        // A deadline the clock has passed without this service (the test moved the clock itself)
        // counts from now, as a late tick of a real timer does.
        timer.nDeadlineMs = std::max(timer.nDeadlineMs, nNowMs) + timer.nPeriodMs;
        timer.nOrder = m_nNextOrder++;
        const Callback fn = timer.fn; // the callback may kill or restart its own timer
        if (fn)
            fn();
    }
    const std::int64_t nNowMs = m_clock.NowMs();
    if (nTargetMs > nNowMs)
        m_clock.Advance(nTargetMs - nNowMs);
}

bool CVirtualTimerService::AdvanceToNextTick(const void* pOwner, unsigned nId)
{
    const auto it = m_timers.find(Key(pOwner, nId));
    if (it == m_timers.end())
        return false;
    Advance(std::max<std::int64_t>(it->second.nDeadlineMs - m_clock.NowMs(), 0));
    return true;
}

std::optional<std::int64_t> CVirtualTimerService::Period(const void* pOwner, unsigned nId) const
{
    const auto it = m_timers.find(Key(pOwner, nId));
    if (it == m_timers.end())
        return std::nullopt;
    return it->second.nPeriodMs;
}

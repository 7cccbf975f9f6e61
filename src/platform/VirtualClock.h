#pragma once

#include <set>

#include "platform/Clock.h"

// A clock whose time is moved by code rather than by the machine, for tests and for benchmarks
// that skip the program's pauses. Waits block until the event is set or Advance() reaches their
// deadline; with auto-advance on, a wait that would block moves time straight to its deadline.
class CVirtualClock : public IClock
{
public:
    explicit CVirtualClock(QDateTime localStart = QDateTime(QDate(2014, 3, 7), QTime(9, 5, 2)));

    std::int64_t NowMs() override;
    QDateTime LocalTime() override;
    bool WaitFor(CEvent& event, std::int64_t nMs) override;
    void Sleep(std::int64_t nMs) override;

    void Advance(std::int64_t nMs);
    void SetAutoAdvance(bool bOn);
    void SetLocalTime(const QDateTime& localNow);
    // Number of threads blocked in WaitFor or Sleep right now.
    int WaiterCount();
    // Blocks the calling (test) thread until at least nCount threads wait on this clock, or
    // nRealTimeoutMs of real time passed; true when they do.
    bool WaitForWaiters(int nCount, std::int64_t nRealTimeoutMs = 10000);
    // Advances in steps of nStepMs until the predicate holds or nMaxMs of virtual time passed,
    // giving the woken threads real time to run between steps; true when the predicate held.
    template <class Pred>
    bool AdvanceUntil(Pred pred, std::int64_t nStepMs, std::int64_t nMaxMs);

private:
    static constexpr int kStepSettleMs = 50;
    static void SettleOneMillisecond();

    std::mutex m_mutex; // guards m_waiters and m_localStart; taken before any event's mutex
    std::condition_variable m_waitersChanged;
    std::multiset<CEvent*> m_waiters;
    std::atomic<std::int64_t> m_nNowMs{0};
    std::atomic<bool> m_bAutoAdvance{false};
    QDateTime m_localStart;
};

template <class Pred>
bool CVirtualClock::AdvanceUntil(Pred pred, std::int64_t nStepMs, std::int64_t nMaxMs)
{
    for (std::int64_t nDone = 0; !pred(); nDone += nStepMs) {
        if (nDone >= nMaxMs)
            return pred();
        Advance(nStepMs);
        // Give the threads the step woke real time to do their work before the next step; on a
        // loaded machine (sanitizers, parallel tests) they may need a while to be scheduled.
        for (int nPoll = 0; nPoll < kStepSettleMs && !pred(); ++nPoll)
            SettleOneMillisecond();
    }
    return true;
}

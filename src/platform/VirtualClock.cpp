#include "platform/VirtualClock.h"

#include <chrono>
#include <thread>

CVirtualClock::CVirtualClock(QDateTime localStart) : m_localStart(std::move(localStart))
{}

std::int64_t CVirtualClock::NowMs()
{
    return m_nNowMs.load();
}

QDateTime CVirtualClock::LocalTime()
{
    std::lock_guard lock(m_mutex);
    return m_localStart.addMSecs(m_nNowMs.load());
}

void CVirtualClock::SetLocalTime(const QDateTime& localNow)
{
    std::lock_guard lock(m_mutex);
    m_localStart = localNow.addMSecs(-m_nNowMs.load());
}

bool CVirtualClock::WaitFor(CEvent& event, std::int64_t nMs)
{
    const std::int64_t nDeadline = m_nNowMs.load() + (nMs < 0 ? 0 : nMs);
    {
        std::lock_guard lock(m_mutex);
        m_waiters.insert(&event);
    }
    m_waitersChanged.notify_all();
    bool bSignaled;
    {
        // Advance() changes the time before it takes the event's mutex to notify, and the time is
        // read here with that mutex held, so no wake-up is lost.
        std::unique_lock lock(event.m_mutex);
        for (;;) {
            if ((bSignaled = event.TakeSignalLocked()))
                break;
            if (m_nNowMs.load() >= nDeadline)
                break;
            if (m_bAutoAdvance.load()) {
                std::int64_t nNow = m_nNowMs.load();
                while (nNow < nDeadline && !m_nNowMs.compare_exchange_weak(nNow, nDeadline)) {
                }
                continue;
            }
            event.m_cv.wait(lock);
        }
    }
    {
        std::lock_guard lock(m_mutex);
        m_waiters.erase(m_waiters.find(&event));
    }
    m_waitersChanged.notify_all();
    return bSignaled;
}

void CVirtualClock::Sleep(std::int64_t nMs)
{
    CEvent never;
    WaitFor(never, nMs);
}

void CVirtualClock::Advance(std::int64_t nMs)
{
    std::lock_guard lock(m_mutex);
    m_nNowMs.fetch_add(nMs < 0 ? 0 : nMs);
    // The waiters stay registered while m_mutex is held, so every pointer here is alive.
    for (CEvent* pEvent : m_waiters) {
        std::lock_guard eventLock(pEvent->m_mutex);
        pEvent->m_cv.notify_all();
    }
}

void CVirtualClock::SetAutoAdvance(bool bOn)
{
    m_bAutoAdvance.store(bOn);
    if (bOn)
        Advance(0);
}

int CVirtualClock::WaiterCount()
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_waiters.size());
}

bool CVirtualClock::WaitForWaiters(int nCount, std::int64_t nRealTimeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_waitersChanged.wait_for(lock, std::chrono::milliseconds(nRealTimeoutMs),
                                     [&] { return static_cast<int>(m_waiters.size()) >= nCount; });
}

void CVirtualClock::SettleOneMillisecond()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

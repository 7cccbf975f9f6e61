#include "platform/Clock.h"

#include <chrono>
#include <thread>

CEvent::CEvent(bool bManualReset, bool bInitiallySet) : m_bSignaled(bInitiallySet), m_bManualReset(bManualReset)
{}

void CEvent::Set()
{
    std::lock_guard lock(m_mutex);
    m_bSignaled = true;
    m_cv.notify_all();
}

void CEvent::Reset()
{
    std::lock_guard lock(m_mutex);
    m_bSignaled = false;
}

bool CEvent::IsSet() const
{
    std::lock_guard lock(m_mutex);
    return m_bSignaled;
}

bool CEvent::TakeSignalLocked()
{
    if (!m_bSignaled)
        return false;
    if (!m_bManualReset)
        m_bSignaled = false;
    return true;
}

std::int64_t CRealClock::NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QDateTime CRealClock::LocalTime()
{
    return QDateTime::currentDateTime();
}

bool CRealClock::WaitFor(CEvent& event, std::int64_t nMs)
{
    std::unique_lock lock(event.m_mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs < 0 ? 0 : nMs);
    while (!event.TakeSignalLocked()) {
        if (event.m_cv.wait_until(lock, deadline) == std::cv_status::timeout)
            return event.TakeSignalLocked();
    }
    return true;
}

void CRealClock::Sleep(std::int64_t nMs)
{
    if (nMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
}

namespace {
CRealClock g_realClock;
std::atomic<IClock*> g_pClock{&g_realClock};
} // namespace

IClock& Clock()
{
    return *g_pClock.load();
}

void SetClock(IClock* pClock)
{
    g_pClock.store(pClock ? pClock : &g_realClock);
}

#include "desktop/TimerService.h"

#include <algorithm>

#include <QTimer>

namespace {
// A zero period would turn the timer into a busy loop; the shortest period is one millisecond.
constexpr std::int64_t kMinPeriodMs = 1;
// QTimer takes an int; nothing in the program waits longer than a few minutes.
constexpr std::int64_t kMaxPeriodMs = 24LL * 60 * 60 * 1000;
} // namespace

struct CTimerService::STimer
{
    QTimer* pQTimer = nullptr; // a child of the service; deleted later, as it may be killed from its own callback
    Callback fn;
};

CTimerService::CTimerService(QObject* pParent) : QObject(pParent)
{}

CTimerService::~CTimerService() = default; // the QTimers are children and go with the service

void CTimerService::SetTimer(const void* pOwner, unsigned nId, std::int64_t nPeriodMs, Callback fn)
{
    const Key key(pOwner, nId);
    auto it = m_timers.find(key);
    if (it == m_timers.end()) {
        auto pTimer = std::make_unique<STimer>();
        pTimer->pQTimer = new QTimer(this);
        // Precise: the program's periods are short animation ticks and time-outs that must not
        // end early; a coarse timer may fire up to 5 % of its period too soon.
        pTimer->pQTimer->setTimerType(Qt::PreciseTimer);
        const STimer* pRaw = pTimer.get();
        connect(pTimer->pQTimer, &QTimer::timeout, this, [this, key, pRaw] { Fire(key, pRaw); });
        it = m_timers.emplace(key, std::move(pTimer)).first;
    }
    it->second->fn = std::move(fn);
    it->second->pQTimer->start(static_cast<int>(std::clamp(nPeriodMs, kMinPeriodMs, kMaxPeriodMs)));
}

void CTimerService::KillTimer(const void* pOwner, unsigned nId)
{
    const auto it = m_timers.find(Key(pOwner, nId));
    if (it == m_timers.end())
        return;
    std::unique_ptr<STimer> pTimer = std::move(it->second);
    m_timers.erase(it);
    Release(std::move(pTimer));
}

bool CTimerService::IsTimerRunning(const void* pOwner, unsigned nId) const
{
    return m_timers.count(Key(pOwner, nId)) != 0;
}

void CTimerService::KillAllTimers(const void* pOwner)
{
    for (auto it = m_timers.lower_bound(Key(pOwner, 0)); it != m_timers.end() && it->first.first == pOwner;) {
        std::unique_ptr<STimer> pTimer = std::move(it->second);
        it = m_timers.erase(it);
        Release(std::move(pTimer));
    }
}

void CTimerService::Fire(const Key& key, const STimer* pTimer)
{
    // The timer may have been killed (and another started under its number) after this tick
    // was queued; only the timer that ticked runs its callback.
    const auto it = m_timers.find(key);
    if (it == m_timers.end() || it->second.get() != pTimer)
        return;
    // A copy: the callback may kill or restart its own timer, which replaces the stored one.
    const Callback fn = it->second->fn;
    if (fn)
        fn();
}

void CTimerService::Release(std::unique_ptr<STimer> pTimer)
{
    pTimer->pQTimer->stop();
    pTimer->pQTimer->disconnect();
    pTimer->pQTimer->deleteLater();
}

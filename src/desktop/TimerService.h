#pragma once

#include <map>
#include <memory>
#include <utility>

#include <QObject>

#include "desktop/ITimerService.h"

class QTimer;

// The windows' numbered timers in the running program: each running timer is one QTimer on the
// user interface thread, created when it starts and released when it is killed, so an idle program
// with no running timer has nothing that wakes it up. Create and use it on the user interface
// thread only.
class CTimerService final : public QObject, public ITimerService
{
    Q_OBJECT

public:
    explicit CTimerService(QObject* pParent = nullptr);
    ~CTimerService() override;

    void SetTimer(const void* pOwner, unsigned nId, std::int64_t nPeriodMs, Callback fn) override;
    void KillTimer(const void* pOwner, unsigned nId) override;
    bool IsTimerRunning(const void* pOwner, unsigned nId) const override;
    void KillAllTimers(const void* pOwner) override;

    // Number of running timers (for the idle checks of the tests and the benchmark).
    int RunningCount() const { return static_cast<int>(m_timers.size()); }

private:
    using Key = std::pair<const void*, unsigned>;
    struct STimer;

    void Fire(const Key& key, const STimer* pTimer);
    static void Release(std::unique_ptr<STimer> pTimer);

    std::map<Key, std::unique_ptr<STimer>> m_timers;
};

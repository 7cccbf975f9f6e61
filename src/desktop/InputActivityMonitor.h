#pragma once

#include <cstdint>
#include <memory>

#include "desktop/IInputActivityMonitor.h"

// Where a back end of the activity monitor reports to.
class IIdleSourceSink
{
public:
    virtual ~IIdleSourceSink() = default;
    // Qualifying input (threshold back ends: input after an idle report, INPUT_UNKNOWN).
    virtual void SourceActivity(EInputKind eKind) = 0;
    // A threshold back end: the desktop has seen no input for the armed period.
    virtual void SourceIdled() = 0;
};

// One way of learning about the user's input. Event back ends report every input and leave the
// countdown to the monitor; threshold back ends report "idle" and "input again" only.
class IIdleSource
{
public:
    virtual ~IIdleSource() = default;
    virtual const char* Name() const = 0;
    virtual bool IsThreshold() const = 0;
    // Starts reporting to sink (restarting the back end's own idle count); nIdleMs is the period.
    virtual void Start(std::int64_t nIdleMs) = 0;
    virtual void Stop() = 0;
};

// The monitor around one back end. It owns the countdown (timer kTimerCountdown of the timer
// service): the idle report comes when the countdown has run out and, for a threshold back end,
// the desktop also says idle. So the idle period always counts from the arming as well, even when
// the user had already been away longer, and a transfer that ends while the user is away is not
// followed at once by the next one.
class CInputActivityMonitor final : public IInputActivityMonitor, private IIdleSourceSink
{
public:
    static constexpr unsigned kTimerCountdown = 1;

    // makeSource gets the sink the back end reports to (this monitor).
    template <typename MakeSource>
    CInputActivityMonitor(ITimerService& timers, MakeSource makeSource) : m_timers(timers)
    {
        m_pSource = makeSource(static_cast<IIdleSourceSink&>(*this));
    }
    ~CInputActivityMonitor() override;

    void SetHandlers(IdleHandler onIdle, ActivityHandler onActivity) override;
    void Arm(std::int64_t nIdleMs) override;
    void Disarm() override;
    bool IsArmed() const override { return m_bArmed; }
    const char* BackendName() const override;

private:
    void SourceActivity(EInputKind eKind) override;
    void SourceIdled() override;
    void StartCountdown();
    void CountdownElapsed();
    void ReportIdleWhenDue();

    ITimerService& m_timers;
    std::unique_ptr<IIdleSource> m_pSource; // nullptr: no back end, the countdown alone
    IdleHandler m_onIdle;
    ActivityHandler m_onActivity;
    std::int64_t m_nIdleMs = 0;
    bool m_bArmed = false;
    bool m_bCountdownDone = false;
    bool m_bSourceIdle = false; // threshold back ends: the desktop says idle
    bool m_bIdleReported = false;
    bool m_bNoSourceLogged = false;
};

#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include <QDateTime>

class IClock;

// A wake-up signal between threads, the program's stand-in for a Windows event object.
// A manual-reset event stays set until Reset(); an auto-reset event is consumed by the one wait
// that sees it. Waiting always goes through a clock (IClock::WaitFor), so tests can run long
// waits in virtual time.
class CEvent
{
public:
    explicit CEvent(bool bManualReset = true, bool bInitiallySet = false);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;

private:
    friend class CRealClock;
    friend class CVirtualClock;

    // Consumes the signal of an auto-reset event; call with m_mutex held.
    bool TakeSignalLocked();

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bSignaled;
    const bool m_bManualReset;
};

// Time source for every delay of the program. Milliseconds are counted from an arbitrary start.
class IClock
{
public:
    virtual ~IClock() = default;

    // Monotonic milliseconds.
    virtual std::int64_t NowMs() = 0;
    // Local wall-clock time, for time stamps in files and the log.
    virtual QDateTime LocalTime() = 0;
    // Waits until the event is set or the time has passed; true when the event was set.
    virtual bool WaitFor(CEvent& event, std::int64_t nMs) = 0;
    // Waits the time out; nothing can end the wait early.
    virtual void Sleep(std::int64_t nMs) = 0;
};

// The clock of the running program: steady_clock and the system's local time.
class CRealClock final : public IClock
{
public:
    std::int64_t NowMs() override;
    QDateTime LocalTime() override;
    bool WaitFor(CEvent& event, std::int64_t nMs) override;
    void Sleep(std::int64_t nMs) override;
};

// The process-wide clock. It is the real clock unless a test installs another one; install
// before any thread of the program runs and remove after they have ended.
IClock& Clock();
void SetClock(IClock* pClock); // nullptr restores the real clock

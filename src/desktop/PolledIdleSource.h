#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QString>

#include "desktop/InputActivityMonitor.h"

class ITimerService;

// A threshold back end that reads the desktop's idle time (ms since the last input of any kind)
// every kPollMs while armed, and never while disarmed. Input shows as the moment of the last input
// moving on; idle time reaching the period is "idle". When the desktop cannot say its idle time,
// the back end logs it once and reports "idle", so the countdown alone decides from then on.
class CPolledIdleSource final : public IIdleSource
{
public:
    static constexpr std::int64_t kPollMs = 1000;
    static constexpr unsigned kTimerPoll = 3;
    // A later "last input" by less than this is the same input seen through timing jitter.
    static constexpr std::int64_t kJitterMs = 100;

    // Answers with the idle time in ms, or a negative value with a reason when there is none.
    using Answer = std::function<void(std::int64_t nIdleMs, const QString& sError)>;
    // Asks for the idle time; answer runs later or at once, on the user interface thread.
    using Reader = std::function<void(Answer answer)>;

    CPolledIdleSource(const char* pszName, Reader reader, ITimerService& timers, IIdleSourceSink& sink);
    ~CPolledIdleSource() override;

    const char* Name() const override { return m_pszName; }
    bool IsThreshold() const override { return true; }
    void Start(std::int64_t nIdleMs) override;
    void Stop() override;

    // The idle time of org.freedesktop.ScreenSaver on the session bus, asked without blocking.
    static Reader ScreenSaverReader();

private:
    void Poll();
    void OnAnswer(std::uint64_t nGeneration, std::int64_t nIdleMs, const QString& sError);

    const char* m_pszName;
    Reader m_reader;
    ITimerService& m_timers;
    IIdleSourceSink& m_sink;
    std::int64_t m_nIdleMs = 0;
    bool m_bStarted = false;
    bool m_bFailed = false;
    bool m_bIdleSaid = false;
    bool m_bHaveLastInput = false;
    std::int64_t m_nLastInputMs = 0; // on the program's clock
    std::uint64_t m_nGeneration = 0; // answers to an earlier start are dropped
    // Answers may outlive the source; they hold this flag, cleared by the destructor.
    std::shared_ptr<bool> m_pAlive = std::make_shared<bool>(true);
};

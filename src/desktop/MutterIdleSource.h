#pragma once

#include <cstdint>

#include <QObject>

#include "desktop/InputActivityMonitor.h"

// GNOME's idle monitor on the session bus (X11 and Wayland): an idle watch for the period gives
// "idle", a user-active watch gives "input again"; the user-active watch fires once, so it is
// added anew after each firing. Every call is asynchronous, so the user interface never waits for
// the desktop. When the monitor refuses a watch, the back end logs it and reports "idle", so the
// countdown alone decides.
class CMutterIdleSource final : public QObject, public IIdleSource
{
    Q_OBJECT

public:
    explicit CMutterIdleSource(IIdleSourceSink& sink);
    ~CMutterIdleSource() override;

    // Whether GNOME's idle monitor is on the session bus.
    static bool IsOffered();

    const char* Name() const override { return "Mutter IdleMonitor"; }
    bool IsThreshold() const override { return true; }
    void Start(std::int64_t nIdleMs) override;
    void Stop() override;

private slots:
    void OnWatchFired(uint nId);

private:
    enum EWatch
    {
        WATCH_IDLE,
        WATCH_ACTIVE,
    };
    void AddWatch(EWatch eWatch, std::int64_t nIdleMs);
    void RemoveWatch(uint nId);
    void Fail(const QString& sError);

    IIdleSourceSink& m_sink;
    bool m_bStarted = false;
    bool m_bConnected = false;
    std::uint64_t m_nGeneration = 0; // replies to an earlier start are dropped (their watches removed)
    uint m_nIdleWatch = 0;           // 0: none
    uint m_nActiveWatch = 0;
};

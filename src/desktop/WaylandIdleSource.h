#pragma once

#include <cstdint>
#include <memory>

#include <QObject>

#include "desktop/InputActivityMonitor.h"

class QSocketNotifier;
struct wl_display;
struct wl_registry;
struct wl_seat;
struct ext_idle_notifier_v1;
struct ext_idle_notification_v1;

// The Wayland compositor's idle notification (ext-idle-notify-v1), on a connection of its own:
// "idled" after the period without input, "resumed" at the next input. The compositor does not
// say which input it was, and an idle inhibitor (a playing video) holds "idled" back. The
// connection is read when it has data; disarmed, no notification exists.
class CWaylandIdleSource final : public QObject, public IIdleSource
{
public:
    // nullptr when there is no compositor or it lacks the idle notifier or a seat.
    static std::unique_ptr<CWaylandIdleSource> Open(IIdleSourceSink& sink);
    ~CWaylandIdleSource() override;

    const char* Name() const override { return "ext-idle-notify"; }
    bool IsThreshold() const override { return true; }
    void Start(std::int64_t nIdleMs) override;
    void Stop() override;

    // Called by the protocol listeners.
    void OnIdled();
    void OnResumed();
    void OnGlobal(wl_registry* pRegistry, std::uint32_t nName, const char* pszInterface, std::uint32_t nVersion);

private:
    CWaylandIdleSource(wl_display* pDisplay, IIdleSourceSink& sink);
    void ReadEvents();
    void Flush();

    wl_display* m_pDisplay;
    IIdleSourceSink& m_sink;
    wl_registry* m_pRegistry = nullptr;
    wl_seat* m_pSeat = nullptr;
    ext_idle_notifier_v1* m_pNotifier = nullptr;
    ext_idle_notification_v1* m_pNotification = nullptr;
    QSocketNotifier* m_pReadNotifier = nullptr; // child
    bool m_bBroken = false;
};

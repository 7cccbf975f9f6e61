#include "desktop/WaylandIdleSource.h"

#include <cstring>

#include <QSocketNotifier>

#include <wayland-client.h>

#include "ext-idle-notify-v1-client-protocol.h"
#include "foundation/Log.h"

namespace {
void Global(void* pData, wl_registry* pRegistry, std::uint32_t nName, const char* pszInterface, std::uint32_t nVersion)
{
    static_cast<CWaylandIdleSource*>(pData)->OnGlobal(pRegistry, nName, pszInterface, nVersion);
}

void GlobalRemove(void*, wl_registry*, std::uint32_t)
{}

const wl_registry_listener kRegistryListener = {Global, GlobalRemove};

void Idled(void* pData, ext_idle_notification_v1*)
{
    static_cast<CWaylandIdleSource*>(pData)->OnIdled();
}

void Resumed(void* pData, ext_idle_notification_v1*)
{
    static_cast<CWaylandIdleSource*>(pData)->OnResumed();
}

const ext_idle_notification_v1_listener kNotificationListener = {Idled, Resumed};
} // namespace

std::unique_ptr<CWaylandIdleSource> CWaylandIdleSource::Open(IIdleSourceSink& sink)
{
    wl_display* pDisplay = wl_display_connect(nullptr);
    if (!pDisplay)
        return nullptr;
    std::unique_ptr<CWaylandIdleSource> pSource(new CWaylandIdleSource(pDisplay, sink));
    pSource->m_pRegistry = wl_display_get_registry(pDisplay);
    wl_registry_add_listener(pSource->m_pRegistry, &kRegistryListener, pSource.get());
    // Once at start-up: the globals the compositor offers.
    if (wl_display_roundtrip(pDisplay) < 0 || !pSource->m_pNotifier || !pSource->m_pSeat)
        return nullptr;
    pSource->m_pReadNotifier = new QSocketNotifier(wl_display_get_fd(pDisplay), QSocketNotifier::Read, pSource.get());
    pSource->m_pReadNotifier->setEnabled(false);
    connect(pSource->m_pReadNotifier, &QSocketNotifier::activated, pSource.get(),
            [p = pSource.get()] { p->ReadEvents(); });
    return pSource;
}

CWaylandIdleSource::CWaylandIdleSource(wl_display* pDisplay, IIdleSourceSink& sink) : m_pDisplay(pDisplay), m_sink(sink)
{}

CWaylandIdleSource::~CWaylandIdleSource()
{
    Stop();
    delete m_pReadNotifier;
    if (m_pNotifier)
        ext_idle_notifier_v1_destroy(m_pNotifier);
    if (m_pSeat)
        wl_seat_destroy(m_pSeat);
    if (m_pRegistry)
        wl_registry_destroy(m_pRegistry);
    wl_display_disconnect(m_pDisplay);
}

void CWaylandIdleSource::OnGlobal(wl_registry* pRegistry, std::uint32_t nName, const char* pszInterface,
                                  std::uint32_t /*nVersion*/)
{
    if (std::strcmp(pszInterface, ext_idle_notifier_v1_interface.name) == 0 && !m_pNotifier)
        m_pNotifier =
            static_cast<ext_idle_notifier_v1*>(wl_registry_bind(pRegistry, nName, &ext_idle_notifier_v1_interface, 1));
    else if (std::strcmp(pszInterface, wl_seat_interface.name) == 0 && !m_pSeat)
        m_pSeat = static_cast<wl_seat*>(wl_registry_bind(pRegistry, nName, &wl_seat_interface, 1));
}

void CWaylandIdleSource::Start(std::int64_t nIdleMs)
{
    Stop();
    if (m_bBroken) {
        m_sink.SourceIdled(); // the countdown alone decides
        return;
    }
    const auto nTimeout =
        static_cast<std::uint32_t>(std::min<std::int64_t>(std::max<std::int64_t>(nIdleMs, 0), UINT32_MAX));
    m_pNotification = ext_idle_notifier_v1_get_idle_notification(m_pNotifier, nTimeout, m_pSeat);
    ext_idle_notification_v1_add_listener(m_pNotification, &kNotificationListener, this);
    Flush();
    m_pReadNotifier->setEnabled(true);
}

void CWaylandIdleSource::Stop()
{
    if (!m_pNotification)
        return;
    ext_idle_notification_v1_destroy(m_pNotification);
    m_pNotification = nullptr;
    m_pReadNotifier->setEnabled(false);
    Flush();
}

void CWaylandIdleSource::OnIdled()
{
    m_sink.SourceIdled();
}

void CWaylandIdleSource::OnResumed()
{
    m_sink.SourceActivity(INPUT_UNKNOWN);
}

void CWaylandIdleSource::ReadEvents()
{
    while (wl_display_prepare_read(m_pDisplay) != 0)
        wl_display_dispatch_pending(m_pDisplay);
    if (wl_display_read_events(m_pDisplay) < 0) {
        // The compositor has gone: from now on the countdown alone decides.
        m_bBroken = true;
        m_pReadNotifier->setEnabled(false);
        WriteLog(QStringLiteral("Input activity: the Wayland connection broke; input cannot postpone the idle timer"));
        m_sink.SourceIdled();
        return;
    }
    wl_display_dispatch_pending(m_pDisplay); // the listeners may stop this source
    Flush();
}

void CWaylandIdleSource::Flush()
{
    wl_display_flush(m_pDisplay);
}

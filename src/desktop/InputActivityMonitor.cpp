#include "desktop/InputActivityMonitor.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include "desktop/ITimerService.h"
#include "desktop/MutterIdleSource.h"
#include "desktop/PolledIdleSource.h"
#include "desktop/WaylandIdleSource.h"
#include "desktop/X11InputSource.h"
#include "foundation/Log.h"

namespace {
// The X11 back end is right only for an X11 session: on Wayland the X server (XWayland) sees
// only the input that goes to X11 programs. Qt's platform name does not tell, as Qt may run
// through XWayland.
bool IsX11Session()
{
    const QByteArray sType = qgetenv("XDG_SESSION_TYPE");
    if (sType == "x11")
        return true;
    if (sType == "wayland" || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    return !qEnvironmentVariableIsEmpty("DISPLAY");
}

bool IsWaylandSession()
{
    return qgetenv("XDG_SESSION_TYPE") == "wayland" || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

bool IsScreenSaverOffered()
{
    const QDBusConnectionInterface* pBus = QDBusConnection::sessionBus().interface();
    return pBus && pBus->isServiceRegistered(QStringLiteral("org.freedesktop.ScreenSaver")).value();
}

std::unique_ptr<IIdleSource> ChooseSource(ITimerService& timers, IIdleSourceSink& sink)
{
    if (IsX11Session()) {
        if (auto pX11 = CX11InputSource::Open(timers, sink))
            return pX11;
        auto pIdleTime = std::make_shared<CX11IdleTime>();
        if (pIdleTime->IsAvailable()) {
            return std::make_unique<CPolledIdleSource>(
                "X screen saver",
                [pIdleTime](const CPolledIdleSource::Answer& answer) {
                    const std::int64_t nIdleMs = pIdleTime->IdleMs();
                    answer(nIdleMs, nIdleMs < 0 ? QStringLiteral("no answer") : QString());
                },
                timers, sink);
        }
    }
    if (IsWaylandSession()) {
        if (auto pWayland = CWaylandIdleSource::Open(sink))
            return pWayland;
    }
    if (CMutterIdleSource::IsOffered())
        return std::make_unique<CMutterIdleSource>(sink);
    if (IsScreenSaverOffered())
        return std::make_unique<CPolledIdleSource>("org.freedesktop.ScreenSaver",
                                                   CPolledIdleSource::ScreenSaverReader(), timers, sink);
    return nullptr;
}
} // namespace

std::unique_ptr<IInputActivityMonitor> CreateActivityMonitor(ITimerService& timers)
{
    auto pMonitor = std::make_unique<CInputActivityMonitor>(
        timers, [&timers](IIdleSourceSink& sink) { return ChooseSource(timers, sink); });
    WriteLog(QStringLiteral("Input activity: watched through %1").arg(QString::fromLatin1(pMonitor->BackendName())));
    return pMonitor;
}

CInputActivityMonitor::~CInputActivityMonitor()
{
    Disarm();
}

void CInputActivityMonitor::SetHandlers(IdleHandler onIdle, ActivityHandler onActivity)
{
    m_onIdle = std::move(onIdle);
    m_onActivity = std::move(onActivity);
}

void CInputActivityMonitor::Arm(std::int64_t nIdleMs)
{
    if (!m_pSource && !m_bNoSourceLogged) {
        m_bNoSourceLogged = true;
        WriteLog(QStringLiteral("Input activity: this desktop reports no input; the idle timer runs out after "
                                "each period and input cannot postpone it or cancel an automatic transfer"));
    }
    const bool bRestartSource = m_pSource && (!m_bArmed || nIdleMs != m_nIdleMs);
    if (bRestartSource && m_bArmed)
        m_pSource->Stop();
    m_nIdleMs = nIdleMs;
    m_bArmed = true;
    StartCountdown();
    // After the countdown: a back end may say idle from within Start.
    if (bRestartSource) {
        m_bSourceIdle = false;
        m_pSource->Start(nIdleMs);
    }
}

void CInputActivityMonitor::Disarm()
{
    if (!m_bArmed)
        return;
    m_bArmed = false;
    m_timers.KillTimer(this, kTimerCountdown);
    if (m_pSource)
        m_pSource->Stop();
}

const char* CInputActivityMonitor::BackendName() const
{
    return m_pSource ? m_pSource->Name() : "none";
}

void CInputActivityMonitor::SourceActivity(EInputKind eKind)
{
    if (!m_bArmed)
        return;
    if (m_pSource->IsThreshold())
        m_bSourceIdle = false;
    StartCountdown();
    if (m_onActivity)
        m_onActivity(eKind); // last: the handler may disarm or re-arm
}

void CInputActivityMonitor::SourceIdled()
{
    if (!m_bArmed)
        return;
    m_bSourceIdle = true;
    ReportIdleWhenDue();
}

void CInputActivityMonitor::StartCountdown()
{
    m_bCountdownDone = false;
    m_bIdleReported = false;
    m_timers.SetTimer(this, kTimerCountdown, m_nIdleMs, [this] { CountdownElapsed(); });
}

void CInputActivityMonitor::CountdownElapsed()
{
    m_timers.KillTimer(this, kTimerCountdown); // once per stretch; input starts the next one
    m_bCountdownDone = true;
    ReportIdleWhenDue();
}

void CInputActivityMonitor::ReportIdleWhenDue()
{
    // Event back ends (and no back end) report every input, so the countdown alone decides.
    const bool bDesktopIdle = !m_pSource || !m_pSource->IsThreshold() || m_bSourceIdle;
    if (!m_bArmed || !m_bCountdownDone || !bDesktopIdle || m_bIdleReported)
        return;
    m_bIdleReported = true;
    if (m_onIdle)
        m_onIdle();
}

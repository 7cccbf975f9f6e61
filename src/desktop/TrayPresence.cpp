#include "desktop/TrayPresence.h"

#include <algorithm>
#include <string>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QSocketNotifier>

#include <X11/Xlib.h>

#include "desktop/ITimerService.h"

namespace {
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
} // namespace

CTrayPresence::CTrayPresence(ITimerService& timers, QObject* pParent) : QObject(pParent), m_timers(timers)
{}

CTrayPresence::~CTrayPresence()
{
    for (const SRequest& request : m_requests)
        m_timers.KillTimer(this, request.nId);
    StopWatching();
}

void CTrayPresence::WhenAvailable(Callback fn, int nTimeoutMs)
{
    const unsigned nId = m_nNextId++;
    m_requests.push_back({nId, std::move(fn)});
    m_timers.SetTimer(this, nId, std::max(nTimeoutMs, 0), [this, nId] { Answer(false, nId); });
    StartWatching();
    if (HasXEmbedTray())
        QMetaObject::invokeMethod(
            this, [this] { Answer(true); }, Qt::QueuedConnection);
    CheckWatcher();
}

void CTrayPresence::StartWatching()
{
    if (m_bWatching)
        return;
    m_bWatching = true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    m_pBusWatcher = new QDBusServiceWatcher(kWatcherService, bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(m_pBusWatcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { CheckWatcher(); });
    // From any sender: the watcher may not have its name yet.
    bus.connect(QString(), kWatcherPath, kWatcherService, QStringLiteral("StatusNotifierHostRegistered"), this,
                SLOT(OnHostRegistered()));

    // Qt uses the XEmbed tray only when it runs on X11.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    m_pDisplay = XOpenDisplay(nullptr);
    if (!m_pDisplay)
        return;
    const std::string sSelection = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(m_pDisplay));
    m_nTraySelection = XInternAtom(m_pDisplay, sSelection.c_str(), False);
    m_nManager = XInternAtom(m_pDisplay, "MANAGER", False);
    XSelectInput(m_pDisplay, DefaultRootWindow(m_pDisplay), StructureNotifyMask);
    XFlush(m_pDisplay);
    m_pX11Notifier = new QSocketNotifier(ConnectionNumber(m_pDisplay), QSocketNotifier::Read, this);
    connect(m_pX11Notifier, &QSocketNotifier::activated, this, [this] { ReadX11Events(); });
}

void CTrayPresence::StopWatching()
{
    if (!m_bWatching)
        return;
    m_bWatching = false;
    // Later: this may run inside a signal of either notifier.
    m_pBusWatcher->disconnect(this);
    m_pBusWatcher->deleteLater();
    m_pBusWatcher = nullptr;
    QDBusConnection::sessionBus().disconnect(QString(), kWatcherPath, kWatcherService,
                                             QStringLiteral("StatusNotifierHostRegistered"), this,
                                             SLOT(OnHostRegistered()));
    if (m_pX11Notifier) {
        m_pX11Notifier->setEnabled(false);
        m_pX11Notifier->disconnect(this);
        m_pX11Notifier->deleteLater();
    }
    m_pX11Notifier = nullptr;
    if (m_pDisplay)
        XCloseDisplay(m_pDisplay);
    m_pDisplay = nullptr;
}

void CTrayPresence::CheckWatcher()
{
    // Qt uses the watcher only when it has a host (IsStatusNotifierHostRegistered). Asked without
    // blocking; an error means there is no watcher yet.
    QDBusMessage call = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* pCall = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 5000), this);
    connect(pCall, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* pReply) {
        const QDBusPendingReply<QDBusVariant> reply = *pReply;
        pReply->deleteLater();
        if (!reply.isError() && reply.value().variant().toBool())
            Answer(true);
    });
}

void CTrayPresence::OnHostRegistered()
{
    Answer(true);
}

bool CTrayPresence::HasXEmbedTray() const
{
    return m_pDisplay && XGetSelectionOwner(m_pDisplay, m_nTraySelection) != 0;
}

void CTrayPresence::ReadX11Events()
{
    bool bAnnounced = false;
    while (m_pDisplay && XPending(m_pDisplay) > 0) {
        XEvent event;
        XNextEvent(m_pDisplay, &event);
        if (event.type == ClientMessage && event.xclient.message_type == m_nManager &&
            static_cast<unsigned long>(event.xclient.data.l[1]) == m_nTraySelection)
            bAnnounced = true;
    }
    if (bAnnounced)
        Answer(true);
}

void CTrayPresence::Answer(bool bAvailable, unsigned nOnlyId)
{
    std::vector<SRequest> answered;
    if (nOnlyId != 0) {
        const auto it = std::find_if(m_requests.begin(), m_requests.end(),
                                     [nOnlyId](const SRequest& request) { return request.nId == nOnlyId; });
        if (it == m_requests.end())
            return;
        answered.push_back(std::move(*it));
        m_requests.erase(it);
    } else {
        answered.swap(m_requests);
    }
    for (const SRequest& request : answered)
        m_timers.KillTimer(this, request.nId);
    if (m_requests.empty())
        StopWatching();
    // Last: a callback may ask again or create the tray icon.
    for (const SRequest& request : answered) {
        if (request.fn)
            request.fn(bAvailable);
    }
}

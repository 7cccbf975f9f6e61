#include "desktop/MutterIdleSource.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include "foundation/Log.h"

namespace {
const QString kService = QStringLiteral("org.gnome.Mutter.IdleMonitor");
const QString kPath = QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core");
const QString kInterface = QStringLiteral("org.gnome.Mutter.IdleMonitor");

QDBusMessage Call(const QString& sMethod, const QVariantList& args = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, sMethod);
    call.setArguments(args);
    return call;
}
} // namespace

CMutterIdleSource::CMutterIdleSource(IIdleSourceSink& sink) : m_sink(sink)
{}

CMutterIdleSource::~CMutterIdleSource()
{
    Stop();
}

bool CMutterIdleSource::IsOffered()
{
    const QDBusConnectionInterface* pBus = QDBusConnection::sessionBus().interface();
    return pBus && pBus->isServiceRegistered(kService).value();
}

void CMutterIdleSource::Start(std::int64_t nIdleMs)
{
    Stop();
    m_bStarted = true;
    ++m_nGeneration;
    if (!m_bConnected)
        m_bConnected = QDBusConnection::sessionBus().connect(kService, kPath, kInterface, QStringLiteral("WatchFired"),
                                                             this, SLOT(OnWatchFired(uint)));
    AddWatch(WATCH_IDLE, nIdleMs);
    AddWatch(WATCH_ACTIVE, 0);
}

void CMutterIdleSource::Stop()
{
    if (!m_bStarted)
        return;
    m_bStarted = false;
    ++m_nGeneration;
    RemoveWatch(m_nIdleWatch);
    RemoveWatch(m_nActiveWatch);
    m_nIdleWatch = m_nActiveWatch = 0;
    if (m_bConnected)
        QDBusConnection::sessionBus().disconnect(kService, kPath, kInterface, QStringLiteral("WatchFired"), this,
                                                 SLOT(OnWatchFired(uint)));
    m_bConnected = false;
}

void CMutterIdleSource::AddWatch(EWatch eWatch, std::int64_t nIdleMs)
{
    const QDBusMessage call = eWatch == WATCH_IDLE
                                  ? Call(QStringLiteral("AddIdleWatch"), {QVariant::fromValue(quint64(nIdleMs))})
                                  : Call(QStringLiteral("AddUserActiveWatch"));
    auto* pWatcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    const std::uint64_t nGeneration = m_nGeneration;
    connect(pWatcher, &QDBusPendingCallWatcher::finished, this,
            [this, eWatch, nGeneration](QDBusPendingCallWatcher* pCall) {
                const QDBusPendingReply<uint> reply = *pCall;
                pCall->deleteLater();
                if (reply.isError()) {
                    if (nGeneration == m_nGeneration)
                        Fail(reply.error().message());
                    return;
                }
                if (nGeneration != m_nGeneration) {
                    RemoveWatch(reply.value()); // stopped (or restarted) meanwhile
                    return;
                }
                (eWatch == WATCH_IDLE ? m_nIdleWatch : m_nActiveWatch) = reply.value();
            });
}

void CMutterIdleSource::RemoveWatch(uint nId)
{
    if (nId != 0)
        QDBusConnection::sessionBus().asyncCall(Call(QStringLiteral("RemoveWatch"), {QVariant::fromValue(nId)}));
}

void CMutterIdleSource::OnWatchFired(uint nId)
{
    if (!m_bStarted || nId == 0)
        return;
    if (nId == m_nIdleWatch) {
        m_sink.SourceIdled();
    } else if (nId == m_nActiveWatch) {
        m_nActiveWatch = 0;
        AddWatch(WATCH_ACTIVE, 0); // fires once: the next input needs a new one
        m_sink.SourceActivity(INPUT_UNKNOWN);
    }
}

void CMutterIdleSource::Fail(const QString& sError)
{
    WriteLog(QStringLiteral("Input activity: GNOME's idle monitor refused a watch (%1); input cannot postpone the "
                            "idle timer")
                 .arg(sError));
    Stop();
    m_bStarted = true; // still armed, but without watches
    m_sink.SourceIdled();
}

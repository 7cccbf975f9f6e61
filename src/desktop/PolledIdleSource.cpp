#include "desktop/PolledIdleSource.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include "desktop/ITimerService.h"
#include "foundation/Log.h"
#include "platform/Clock.h"

CPolledIdleSource::CPolledIdleSource(const char* pszName, Reader reader, ITimerService& timers, IIdleSourceSink& sink)
    : m_pszName(pszName), m_reader(std::move(reader)), m_timers(timers), m_sink(sink)
{}

CPolledIdleSource::~CPolledIdleSource()
{
    *m_pAlive = false;
    Stop();
}

void CPolledIdleSource::Start(std::int64_t nIdleMs)
{
    m_nIdleMs = nIdleMs;
    m_bStarted = true;
    m_bIdleSaid = false;
    m_bHaveLastInput = false;
    ++m_nGeneration;
    if (m_bFailed) {
        m_sink.SourceIdled();
        return;
    }
    m_timers.SetTimer(this, kTimerPoll, kPollMs, [this] { Poll(); });
    Poll();
}

void CPolledIdleSource::Stop()
{
    m_bStarted = false;
    ++m_nGeneration;
    m_timers.KillTimer(this, kTimerPoll);
}

void CPolledIdleSource::Poll()
{
    const std::uint64_t nGeneration = m_nGeneration;
    m_reader([this, nGeneration, pAlive = m_pAlive](std::int64_t nIdleMs, const QString& sError) {
        if (*pAlive)
            OnAnswer(nGeneration, nIdleMs, sError);
    });
}

void CPolledIdleSource::OnAnswer(std::uint64_t nGeneration, std::int64_t nIdleMs, const QString& sError)
{
    if (!m_bStarted || nGeneration != m_nGeneration)
        return;
    if (nIdleMs < 0) {
        m_bFailed = true;
        m_timers.KillTimer(this, kTimerPoll);
        WriteLog(QStringLiteral("Input activity: %1 gives no idle time (%2); input cannot postpone the idle timer")
                     .arg(QString::fromLatin1(m_pszName), sError));
        m_sink.SourceIdled();
        return;
    }
    const std::int64_t nLastInputMs = Clock().NowMs() - nIdleMs;
    const bool bNewInput = m_bHaveLastInput && nLastInputMs > m_nLastInputMs + kJitterMs;
    if (!m_bHaveLastInput || bNewInput) {
        m_bHaveLastInput = true;
        m_nLastInputMs = nLastInputMs;
    }
    if (bNewInput) {
        m_bIdleSaid = false;
        m_sink.SourceActivity(INPUT_UNKNOWN); // may stop this source
        if (!m_bStarted || nGeneration != m_nGeneration)
            return;
    }
    if (nIdleMs >= m_nIdleMs && !m_bIdleSaid) {
        m_bIdleSaid = true;
        m_sink.SourceIdled();
    }
}

CPolledIdleSource::Reader CPolledIdleSource::ScreenSaverReader()
{
    return [](Answer answer) {
        const QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
            QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("GetSessionIdleTime"));
        auto* pWatcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 2000));
        QObject::connect(pWatcher, &QDBusPendingCallWatcher::finished, pWatcher,
                         [answer = std::move(answer)](QDBusPendingCallWatcher* pCall) {
                             const QDBusPendingReply<uint> reply = *pCall;
                             pCall->deleteLater();
                             if (reply.isError())
                                 answer(-1, reply.error().message());
                             else
                                 answer(static_cast<std::int64_t>(reply.value()), QString());
                         });
    };
}

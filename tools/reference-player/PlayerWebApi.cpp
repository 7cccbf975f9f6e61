#include "PlayerWebApi.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QByteArray Answer(const QJsonValue& result, const QJsonValue& id)
{
    const QJsonObject o{{"result", result}, {"id", id}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray ErrorAnswer(int nCode, const char* pszText, const QJsonValue& id)
{
    const QJsonObject o{{"error", QJsonArray{nCode, pszText}}, {"id", id}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

const char* PowerStateName(EPowerState e)
{
    switch (e) {
    case POWER_STATE_ACTIVE: return "active";
    case POWER_STATE_NETWORK_READY: return "networkReady";
    case POWER_STATE_DATABASE_READY: return "databaseReady";
    case POWER_STATE_STANDBY_OTHER: return "standby";
    case POWER_STATE_OFF: return "off";
    }
    return "off";
}

CPlayerWebApi::CPlayerWebApi(SPlayerState& state) : m_state(state)
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { m_state.ePower = m_ePending; });
}

void CPlayerWebApi::SetPowerState(EPowerState e)
{
    m_timer.stop();
    m_state.ePower = e;
}

QJsonObject CPlayerWebApi::PowerStatus() const
{
    QJsonObject status;
    switch (m_state.ePower) {
    case POWER_STATE_ACTIVE: status = {{"status", "active"}}; break;
    case POWER_STATE_NETWORK_READY: status = {{"status", "standby"}, {"standbyDetail", "networkReady"}}; break;
    case POWER_STATE_DATABASE_READY: status = {{"status", "standby"}, {"standbyDetail", "databaseReady"}}; break;
    case POWER_STATE_STANDBY_OTHER: status = {{"status", "standby"}, {"standbyDetail", ""}}; break;
    case POWER_STATE_OFF: status = {{"status", "off"}}; break;
    }
    return status;
}

QByteArray CPlayerWebApi::Handle(const QByteArray& endpoint, const QByteArray& body)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    QByteArray answer;
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        answer = ErrorAnswer(2, "Invalid Request", QJsonValue::Null);
    } else {
        const QJsonObject request = doc.object();
        const QString sMethod = request.value("method").toString();
        const QJsonValue id = request.value("id");
        const QJsonArray params = request.value("params").toArray();
        if (endpoint == "/system" && sMethod == "getPowerStatus") {
            ++m_state.nPowerQueries;
            answer = Answer(QJsonArray{PowerStatus()}, id);
        } else if (endpoint == "/system" && sMethod == "setPowerStatus") {
            const QJsonObject p = params.isEmpty() ? QJsonObject() : params.at(0).toObject();
            const QString sStatus = p.value("status").toString();
            const QString sDetail = p.value("standbyDetail").toString();
            EPowerState eTarget;
            bool bKnown = true;
            if (sStatus == "active")
                eTarget = POWER_STATE_ACTIVE;
            else if (sStatus == "standby" && sDetail == "databaseReady")
                eTarget = POWER_STATE_DATABASE_READY;
            else if (sStatus == "standby" && sDetail == "networkReady")
                eTarget = POWER_STATE_NETWORK_READY;
            else
                bKnown = false;
            if (!bKnown) {
                answer = ErrorAnswer(3, "Illegal Argument", id);
            } else {
                ++m_state.nWakeRequests;
                if (!m_state.bWakeIgnored && eTarget != m_state.ePower) {
                    m_ePending = eTarget;
                    if (m_state.nWakeDelayMs <= 0) {
                        m_timer.stop();
                        m_state.ePower = eTarget;
                    } else {
                        m_timer.start(m_state.nWakeDelayMs);
                    }
                }
                answer = Answer(QJsonArray(), id);
            }
        } else if (endpoint == "/avContent" && sMethod == "getSupportedFileType") {
            ++m_state.nFileTypeQueries;
            QJsonArray types;
            for (const QString& sType : m_state.fileTypes)
                types.append("*." + sType);
            answer = Answer(QJsonArray{types}, id);
        } else {
            answer = ErrorAnswer(12, "No Such Method", id);
        }
    }
    if (m_state.bMalformedJson)
        answer.truncate(answer.size() / 2);
    return answer;
}

#include "HttpResponder.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include "PlayerWebApi.h"

namespace {

constexpr int kMaxHeaderBytes = 65536;
constexpr int kMaxBodyBytes = 1048576;

QByteArray ReasonPhrase(int nStatus)
{
    switch (nStatus) {
    case 100: return "Continue";
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QByteArray XmlEscape(const QString& s)
{
    return s.toHtmlEscaped().replace("'", "&apos;").toUtf8();
}

QByteArray ErrorPage(int nStatus)
{
    return "<html><body><h1>" + QByteArray::number(nStatus) + " " + ReasonPhrase(nStatus) + "</h1></body></html>";
}

struct SIcon
{
    const char* pszPath;
    const char* pszResource;
    const char* pszMime;
    int nSize;
};

// Listed in this order: a 120-pixel JPEG before the 48-pixel one, so a reader that takes the
// first JPEG instead of the 48-pixel one picks the wrong picture.
const SIcon kIcons[] = {
    {"/icons/player-120.jpg", ":/icons/player-120.jpg", "image/jpeg", 120},
    {"/icons/player-48.jpg", ":/icons/player-48.jpg", "image/jpeg", 48},
    {"/icons/player-48.png", ":/icons/player-48.png", "image/png", 48},
};

} // namespace

QByteArray SHttpRequest::Header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QByteArray BuildDescription(const SPlayerState& state)
{
    const QByteArray ip = state.sAddress.toUtf8();
    const QByteArray port = QByteArray::number(state.nPort);
    const QByteArray base = "http://" + ip + ":" + port;
    if (state.eDescription == DESCRIPTION_FILE) {
        QByteArray text = state.descriptionTemplate;
        text.replace("{ip}", ip).replace("{port}", port).replace("{udn}", state.sUdn.toUtf8());
        text.replace("{name}", XmlEscape(state.sFriendlyName));
        return text;
    }

    const QByteArray webApiService =
        "      <service>\r\n"
        "        <serviceType>urn:schemas-brenvik-com:service:TesselWebAPI:1</serviceType>\r\n"
        "        <serviceId>urn:schemas-brenvik-com:serviceId:TesselWebAPI</serviceId>\r\n"
        "        <SCPDURL>/TesselWebAPI.xml</SCPDURL>\r\n"
        "        <controlURL>/api</controlURL>\r\n"
        "        <eventSubURL></eventSubURL>\r\n"
        "      </service>\r\n";
    const QByteArray otherService =
        "      <service>\r\n"
        "        <serviceType>urn:schemas-upnp-org:service:ConnectionManager:1</serviceType>\r\n"
        "        <serviceId>urn:upnp-org:serviceId:ConnectionManager</serviceId>\r\n"
        "        <SCPDURL>/ConnectionManager.xml</SCPDURL>\r\n"
        "        <controlURL>/cm/control</controlURL>\r\n"
        "        <eventSubURL>/cm/event</eventSubURL>\r\n"
        "      </service>\r\n";

    QByteArray x;
    x += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
    if (state.eDescription == DESCRIPTION_DOCTYPE)
        x += "<!DOCTYPE root [\r\n  <!ENTITY maker \"Brenvik Corporation\">\r\n]>\r\n";
    x += "<root xmlns=\"urn:schemas-upnp-org:device-1-0\" xmlns:av=\"urn:schemas-brenvik-com:av\">\r\n";
    x += "  <specVersion>\r\n    <major>1</major>\r\n    <minor>0</minor>\r\n  </specVersion>\r\n";
    x += "  <device>\r\n";
    x += "    <deviceType>urn:schemas-brenvik-com:device:TesselPlayer:1</deviceType>\r\n";
    x += "    <friendlyName>" + XmlEscape(state.sFriendlyName) + "</friendlyName>\r\n";
    if (state.eDescription == DESCRIPTION_DOCTYPE)
        x += "    <manufacturer>&maker;</manufacturer>\r\n";
    else
        x += "    <manufacturer>Brenvik Corporation</manufacturer>\r\n";
    x += "    <modelName>" + XmlEscape(state.sModelName) + "</modelName>\r\n";
    x += "    <UDN>" + XmlEscape(state.sUdn) + "</UDN>\r\n";
    if (state.eDescription == DESCRIPTION_MALFORMED)
        return x + "    <presentationURL>" + base +
               "/</presentationURL>\r\n    <iconList>\r\n      <icon>\r\n        <mime";
    x += "    <presentationURL>" + base + "/</presentationURL>\r\n";
    if (state.eDescription != DESCRIPTION_NO_ICONS) {
        x += "    <iconList>\r\n";
        for (const SIcon& icon : kIcons) {
            const QByteArray size = QByteArray::number(icon.nSize);
            x += "      <icon>\r\n";
            x += "        <mimetype>" + QByteArray(icon.pszMime) + "</mimetype>\r\n";
            x += "        <width>" + size + "</width>\r\n        <height>" + size + "</height>\r\n";
            x += "        <depth>24</depth>\r\n";
            x += "        <url>" + QByteArray(icon.pszPath) + "</url>\r\n";
            x += "      </icon>\r\n";
        }
        x += "    </iconList>\r\n";
    }
    x += "    <serviceList>\r\n";
    if (state.eDescription == DESCRIPTION_OTHER_SERVICE_FIRST)
        x += otherService + webApiService;
    else
        x += webApiService;
    x += "    </serviceList>\r\n";
    if (state.eDescription != DESCRIPTION_NO_BASE_URL) {
        x += "    <av:X_TesselWebAPI_DeviceInfo>\r\n";
        x += "      <av:X_TesselWebAPI_Version>1.0</av:X_TesselWebAPI_Version>\r\n";
        x += "      <av:X_TesselWebAPI_BaseURL>" + base + "/api</av:X_TesselWebAPI_BaseURL>\r\n";
        x += "    </av:X_TesselWebAPI_DeviceInfo>\r\n";
    }
    x += "  </device>\r\n</root>\r\n";
    return x;
}

struct CHttpResponder::SConnection
{
    QTcpSocket* pSocket = nullptr;
    QByteArray buffer;
    bool bHeaderDone = false;
    bool bAnswered = false;
    bool bContinueSent = false;
    qsizetype nBodyStart = 0;
    qsizetype nBodyLength = 0;
    SHttpRequest request;
};

CHttpResponder::CHttpResponder(SPlayerState& state, CPlayerWebApi& api) : m_state(state), m_api(api)
{
    QObject::connect(&m_server, &QTcpServer::newConnection, [this] { OnNewConnection(); });
}

CHttpResponder::~CHttpResponder()
{
    Close();
}

bool CHttpResponder::Listen(QString* pError)
{
    if (m_server.isListening())
        return true;
    if (m_server.listen(QHostAddress(m_state.sAddress), m_state.nPort))
        return true;
    if (pError)
        *pError = m_server.errorString();
    return false;
}

void CHttpResponder::Close()
{
    m_server.close();
    const auto connections = m_connections;
    m_connections.clear();
    for (const auto& pConn : connections) {
        pConn->pSocket->abort();
        pConn->pSocket->deleteLater();
    }
}

void CHttpResponder::OnNewConnection()
{
    while (QTcpSocket* pSocket = m_server.nextPendingConnection()) {
        auto pConn = std::make_shared<SConnection>();
        pConn->pSocket = pSocket;
        m_connections.append(pConn);
        std::weak_ptr<SConnection> weak = pConn;
        QObject::connect(pSocket, &QTcpSocket::readyRead, pSocket, [this, weak] {
            if (auto p = weak.lock())
                OnReadable(p);
        });
        QObject::connect(pSocket, &QTcpSocket::disconnected, pSocket, [this, weak] {
            if (auto p = weak.lock()) {
                m_connections.removeAll(p);
                p->pSocket->deleteLater();
            }
        });
        if (pSocket->bytesAvailable() > 0)
            OnReadable(pConn);
    }
}

void CHttpResponder::OnReadable(const std::shared_ptr<SConnection>& pConn)
{
    if (pConn->bAnswered) {
        pConn->pSocket->readAll();
        return;
    }
    pConn->buffer += pConn->pSocket->readAll();
    auto finish = [this, pConn](SHttpAnswer answer) {
        pConn->bAnswered = true;
        QByteArray head =
            "HTTP/1.1 " + QByteArray::number(answer.nStatus) + " " + ReasonPhrase(answer.nStatus) + "\r\n";
        if (!answer.contentType.isEmpty())
            head += "Content-Type: " + answer.contentType + "\r\n";
        head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
        head += "Connection: close\r\n\r\n";
        QPointer<QTcpSocket> pSocket = pConn->pSocket;
        auto send = [pSocket, data = head + answer.body] {
            if (pSocket && pSocket->state() == QAbstractSocket::ConnectedState) {
                pSocket->write(data);
                pSocket->disconnectFromHost();
            }
        };
        if (m_state.nSlowMs > 0)
            QTimer::singleShot(m_state.nSlowMs, pSocket, send);
        else
            send();
    };

    if (!pConn->bHeaderDone) {
        qsizetype nEnd = pConn->buffer.indexOf("\r\n\r\n");
        qsizetype nSeparator = 4;
        const qsizetype nLfEnd = pConn->buffer.indexOf("\n\n");
        if (nLfEnd >= 0 && (nEnd < 0 || nLfEnd < nEnd)) {
            nEnd = nLfEnd;
            nSeparator = 2;
        }
        if (nEnd < 0) {
            if (pConn->buffer.size() > kMaxHeaderBytes)
                finish({400, "text/html", ErrorPage(400)});
            return;
        }
        const QList<QByteArray> lines = pConn->buffer.left(nEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        if (requestLine.size() < 2 || requestLine[0].isEmpty()) {
            finish({400, "text/html", ErrorPage(400)});
            return;
        }
        pConn->request.method = requestLine[0];
        pConn->request.path = requestLine[1];
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype nColon = line.indexOf(':');
            if (nColon > 0)
                pConn->request.headers.append({line.left(nColon).trimmed(), line.mid(nColon + 1).trimmed()});
        }
        bool bOk = true;
        const QByteArray length = pConn->request.Header("Content-Length");
        pConn->nBodyLength = length.isEmpty() ? 0 : length.toLongLong(&bOk);
        if (!bOk || pConn->nBodyLength < 0 || pConn->nBodyLength > kMaxBodyBytes) {
            finish({413, "text/html", ErrorPage(413)});
            return;
        }
        pConn->bHeaderDone = true;
        pConn->nBodyStart = nEnd + nSeparator;
        if (pConn->request.Header("Expect").compare("100-continue", Qt::CaseInsensitive) == 0 &&
            pConn->buffer.size() < pConn->nBodyStart + pConn->nBodyLength && !pConn->bContinueSent) {
            pConn->bContinueSent = true;
            pConn->pSocket->write("HTTP/1.1 100 Continue\r\n\r\n");
        }
    }
    if (pConn->buffer.size() < pConn->nBodyStart + pConn->nBodyLength)
        return;
    pConn->request.body = pConn->buffer.mid(pConn->nBodyStart, pConn->nBodyLength);
    ++m_state.nHttpRequests;
    LogRequest(pConn->request);
    finish(Route(pConn->request));
}

SHttpAnswer CHttpResponder::Route(const SHttpRequest& request)
{
    QByteArray path = request.path;
    if (path.startsWith("http://")) { // absolute form, as sent through a proxy
        const qsizetype nSlash = path.indexOf('/', 7);
        path = nSlash < 0 ? QByteArray("/") : path.mid(nSlash);
    }
    const qsizetype nQuery = path.indexOf('?');
    if (nQuery >= 0)
        path.truncate(nQuery);

    SHttpAnswer answer;
    const bool bGet = request.method.compare("GET", Qt::CaseInsensitive) == 0;
    const bool bPost = request.method.compare("POST", Qt::CaseInsensitive) == 0;
    if (bGet && path == "/tolva.xml") {
        answer.contentType = "text/xml; charset=\"utf-8\"";
        answer.body = BuildDescription(m_state);
    } else if (bGet && path == "/") {
        answer.contentType = "text/html";
        answer.body = "<html><body>" + XmlEscape(m_state.sFriendlyName) + "</body></html>";
    } else if (bGet && path.startsWith("/icons/")) {
        answer.nStatus = 404;
        for (const SIcon& icon : kIcons) {
            if (path == icon.pszPath) {
                QFile file(icon.pszResource);
                if (file.open(QIODevice::ReadOnly)) {
                    answer.nStatus = 200;
                    answer.contentType = icon.pszMime;
                    answer.body = file.readAll();
                }
            }
        }
    } else if (bPost && (path == "/api/system" || path == "/api/avContent")) {
        answer.contentType = "application/json";
        answer.body = m_api.Handle(path.mid(4), request.body);
    } else {
        answer.nStatus = bGet || bPost ? 404 : 400;
    }
    if (answer.nStatus != 200 && answer.body.isEmpty()) {
        answer.contentType = "text/html";
        answer.body = ErrorPage(answer.nStatus);
    }
    // A scripted status replaces the status and body: the program must treat a 404 or 500
    // answer as an answer, and its body is what a real server's error page would be.
    if (m_state.nHttpStatus != 200 &&
        (m_state.sHttpStatusPath.isEmpty() || path.startsWith(m_state.sHttpStatusPath.toUtf8()))) {
        answer.nStatus = m_state.nHttpStatus;
        answer.contentType = "text/html";
        answer.body = ErrorPage(answer.nStatus);
    }
    return answer;
}

void CHttpResponder::LogRequest(const SHttpRequest& request)
{
    if (m_state.sRequestLogPath.isEmpty())
        return;
    QJsonObject headers;
    for (const auto& [key, value] : request.headers)
        headers.insert(QString::fromLatin1(key).toLower(), QString::fromLatin1(value));
    QJsonObject line{{"method", QString::fromLatin1(request.method)},
                     {"path", QString::fromLatin1(request.path)},
                     {"headers", headers},
                     {"body", QString::fromLatin1(request.body)}};
    QFile file(m_state.sRequestLogPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + "\n");
}

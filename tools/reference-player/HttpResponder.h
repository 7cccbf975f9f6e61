#pragma once

#include <functional>
#include <memory>

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QTcpServer>

#include "PlayerState.h"

class CPlayerWebApi;

// One HTTP request as it arrived, for the routes and the request log.
struct SHttpRequest
{
    QByteArray method; // exactly as sent ("Get", "POST", ...)
    QByteArray path;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray Header(const QByteArray& name) const;
};

struct SHttpAnswer
{
    int nStatus = 200;
    QByteArray contentType;
    QByteArray body;
};

// The player's HTTP side on one address and port: the description, the icons it lists and the
// JSON web API. It reads each request whole (headers, then Content-Length bytes of body, also
// for a GET, because the program sends the URL as the body of its "Get"), answers once and
// closes the connection. Method names are matched without regard to letter case, and a POST
// needs no Content-Type, as the program sends none.
class CHttpResponder
{
public:
    CHttpResponder(SPlayerState& state, CPlayerWebApi& api);
    ~CHttpResponder();

    bool Listen(QString* pError);
    void Close(); // stops listening and drops every open connection
    bool IsListening() const { return m_server.isListening(); }

private:
    struct SConnection;
    void OnNewConnection();
    void OnReadable(const std::shared_ptr<SConnection>& pConn);
    SHttpAnswer Route(const SHttpRequest& request);
    void LogRequest(const SHttpRequest& request);
    QByteArray Description() const;

    SPlayerState& m_state;
    CPlayerWebApi& m_api;
    QTcpServer m_server;
    QList<std::shared_ptr<SConnection>> m_connections;
};

// The description text for a state (the variant chosen in it), filled with its current
// address, name and UDN.
QByteArray BuildDescription(const SPlayerState& state);

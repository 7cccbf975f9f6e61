#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QList>
#include <QString>

// A small HTTP server for tests: one thread with a listening socket on a loopback address and an
// ephemeral port. It records every request byte for byte and answers through a handler, one
// connection at a time (one request per connection). Handlers can answer in pieces, stall, close
// early or stream without end; every wait ends when the client goes away or the server stops.
class CTinyHttpServer
{
public:
    struct SRequest
    {
        QByteArray raw; // request line, headers and body exactly as received
        QByteArray method;
        QByteArray target;
        QByteArray version;
        QList<std::pair<QByteArray, QByteArray>> headers; // in order, names as sent
        QByteArray body;
        // Value of the first header of that name (case-insensitive); empty when absent.
        QByteArray Header(const QByteArray& name) const;
        bool HasHeader(const QByteArray& name) const;
    };

    // The handler's side of one connection.
    class CConnection
    {
    public:
        // Writes all bytes; false when the client is gone or the server stops.
        bool Send(const QByteArray& bytes);
        // One chunk of a chunked body ("Transfer-Encoding: chunked"); an empty chunk ends it.
        bool SendChunk(const QByteArray& bytes);
        // Waits up to nMs of real time; false when the client closed or the server stops first.
        bool WaitMs(int nMs);
        // Waits until the client closes the connection or the server stops.
        void WaitForClose();

    private:
        friend class CTinyHttpServer;
        CConnection(int fd, const std::atomic<bool>& bStop, int stopFd) : m_fd(fd), m_bStop(bStop), m_stopFd(stopFd) {}
        int m_fd;
        const std::atomic<bool>& m_bStop;
        int m_stopFd;
    };

    using Handler = std::function<void(const SRequest&, CConnection&)>;

    // Starts listening at once; the default handler answers 200 with an empty body.
    explicit CTinyHttpServer(Handler handler = {}, const QByteArray& address = "127.0.0.1");
    ~CTinyHttpServer();
    CTinyHttpServer(const CTinyHttpServer&) = delete;
    CTinyHttpServer& operator=(const CTinyHttpServer&) = delete;

    void SetHandler(Handler handler);
    bool IsListening() const { return m_listenFd >= 0; }
    quint16 Port() const { return m_nPort; }
    QByteArray Address() const { return m_address; }
    // "http://<address>:<port>" + sPath.
    QString Url(const QString& sPath) const;
    std::vector<SRequest> Requests() const;
    int RequestCount() const;

    // A complete answer with Content-Length and "Connection: close".
    static QByteArray Response(int nStatus, const QByteArray& body, const QByteArray& contentType = "text/xml");
    // The head of a chunked answer.
    static QByteArray ChunkedHead(int nStatus);

private:
    void Run();
    void Serve(int fd);
    bool ReadRequest(int fd, SRequest* pRequest);

    QByteArray m_address;
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
    quint16 m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    mutable std::mutex m_mutex; // guards the two members below
    Handler m_handler;
    std::vector<SRequest> m_requests;
    std::thread m_thread;
};

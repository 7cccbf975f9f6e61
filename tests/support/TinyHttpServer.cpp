#include "support/TinyHttpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A request the server records is at most this big; a test never sends more.
constexpr int kMaxRequestBytes = 4 * 1048576;

// Waits for the fd to become readable; 1 readable, 0 time out, -1 stop or error.
int WaitReadable(int fd, int stopFd, int nMs)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, nMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (fds[1].revents & POLLIN))
            return -1;
        if (n == 0)
            return 0;
        return 1;
    }
}

} // namespace

QByteArray CTinyHttpServer::SRequest::Header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QByteArray();
}

bool CTinyHttpServer::SRequest::HasHeader(const QByteArray& name) const
{
    for (const auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool CTinyHttpServer::CConnection::Send(const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype n = bytes.size();
    while (n > 0) {
        if (m_bStop.load())
            return false;
        pollfd pfd = {m_fd, POLLOUT, 0};
        const int nReady = ::poll(&pfd, 1, 100);
        if (nReady < 0 && errno != EINTR)
            return false;
        if (nReady <= 0)
            continue;
        const ssize_t nDone = ::send(m_fd, p, static_cast<size_t>(n), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (nDone < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return false;
        }
        p += nDone;
        n -= nDone;
    }
    return true;
}

bool CTinyHttpServer::CConnection::SendChunk(const QByteArray& bytes)
{
    return Send(QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n");
}

bool CTinyHttpServer::CConnection::WaitMs(int nMs)
{
    // Anything the client sends now (or its close) ends the wait early only on close.
    const int nResult = WaitReadable(m_fd, m_stopFd, nMs);
    if (nResult < 0)
        return false;
    if (nResult == 0)
        return true;
    char buffer[256];
    const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
    return n > 0;
}

void CTinyHttpServer::CConnection::WaitForClose()
{
    while (WaitMs(1000)) {
    }
}

CTinyHttpServer::CTinyHttpServer(Handler handler, const QByteArray& address)
    : m_address(address), m_handler(std::move(handler))
{
    if (::pipe2(m_stopPipe, O_CLOEXEC) != 0)
        return;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    const int nOn = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof nOn);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = 0;
    if (::inet_pton(AF_INET, address.constData(), &addr.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return;
    }
    socklen_t nLen = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &nLen);
    m_nPort = ntohs(addr.sin_port);
    m_listenFd = fd;
    m_thread = std::thread([this] { Run(); });
}

CTinyHttpServer::~CTinyHttpServer()
{
    m_bStop.store(true);
    if (m_stopPipe[1] >= 0)
        (void)::write(m_stopPipe[1], "x", 1);
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    for (int fd : m_stopPipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

void CTinyHttpServer::SetHandler(Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

QString CTinyHttpServer::Url(const QString& sPath) const
{
    return "http://" + QString::fromLatin1(m_address) + ":" + QString::number(m_nPort) + sPath;
}

std::vector<CTinyHttpServer::SRequest> CTinyHttpServer::Requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int CTinyHttpServer::RequestCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_requests.size());
}

QByteArray CTinyHttpServer::Response(int nStatus, const QByteArray& body, const QByteArray& contentType)
{
    return "HTTP/1.1 " + QByteArray::number(nStatus) + " Status\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray CTinyHttpServer::ChunkedHead(int nStatus)
{
    return "HTTP/1.1 " + QByteArray::number(nStatus) +
           " Status\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
}

void CTinyHttpServer::Run()
{
    while (!m_bStop.load()) {
        if (WaitReadable(m_listenFd, m_stopPipe[0], -1) <= 0)
            return;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        Serve(fd);
        ::close(fd);
    }
}

bool CTinyHttpServer::ReadRequest(int fd, SRequest* pRequest)
{
    QByteArray raw;
    qsizetype nHeaderEnd = -1;
    qsizetype nWanted = -1;
    char buffer[16384];
    for (;;) {
        if (nWanted >= 0 && raw.size() >= nWanted)
            break;
        if (WaitReadable(fd, m_stopPipe[0], 10000) <= 0)
            return false;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        raw.append(buffer, n);
        if (raw.size() > kMaxRequestBytes)
            return false;
        if (nHeaderEnd < 0) {
            nHeaderEnd = raw.indexOf("\r\n\r\n");
            if (nHeaderEnd < 0)
                continue;
            // Parse the head now to learn the body length.
            const QList<QByteArray> lines = raw.left(nHeaderEnd).split('\n');
            const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
            pRequest->method = requestLine.value(0);
            pRequest->target = requestLine.value(1);
            pRequest->version = requestLine.value(2);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
                const qsizetype nColon = line.indexOf(':');
                if (nColon > 0)
                    pRequest->headers.append({line.left(nColon), line.mid(nColon + 1).trimmed()});
            }
            nWanted = nHeaderEnd + 4 + pRequest->Header("Content-Length").toLongLong();
        }
    }
    pRequest->raw = raw;
    pRequest->body = raw.mid(nHeaderEnd + 4);
    return true;
}

void CTinyHttpServer::Serve(int fd)
{
    SRequest request;
    if (!ReadRequest(fd, &request))
        return;
    Handler handler;
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        handler = m_handler;
    }
    CConnection connection(fd, m_bStop, m_stopPipe[0]);
    if (handler) {
        handler(request, connection);
    } else {
        connection.Send(Response(200, QByteArray()));
    }
    ::shutdown(fd, SHUT_WR);
    // Let the client read everything before the socket goes away.
    connection.WaitMs(200);
}

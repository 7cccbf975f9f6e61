#include "desktop/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include "foundation/Log.h"
#include "platform/Clock.h"

namespace {

const char* const kLockName = "TolvaMusicTransferApp.lock";
const char* const kSocketName = "TolvaMusicTransferApp.socket";
const QByteArray kCommand = "ActiveApp";

// A second start keeps trying to reach the holder this long: the holder may have taken the lock
// a moment ago and not be listening yet.
constexpr std::int64_t kForwardWindowMs = 2000;
constexpr std::int64_t kForwardRetryMs = 100;
constexpr int kConnectWaitMs = 250;
constexpr int kWriteWaitMs = 1000;
// Connections served at once; more are cut off at once (only the user's own processes can
// connect, but a stuck one must not exhaust the program's file handles).
constexpr int kMaxOpenConnections = 8;
// Activation tokens are short printable strings; anything else is not passed on.
constexpr int kMaxTokenBytes = 256;

bool IsValidToken(const QByteArray& token)
{
    if (token.size() > kMaxTokenBytes)
        return false;
    for (char c : token) {
        if (c <= ' ' || c > '~')
            return false;
    }
    return true;
}

// "ActiveApp" alone or followed by a blank and a token (possibly empty); false for anything else.
bool ParseActivation(QByteArray line, QByteArray& token)
{
    if (line.endsWith('\r'))
        line.chop(1);
    if (line == kCommand) {
        token.clear();
        return true;
    }
    if (!line.startsWith(kCommand + " "))
        return false;
    token = line.mid(kCommand.size() + 1);
    return IsValidToken(token);
}

// Marks a connection as served or refused, so its time-out and late signals leave it alone.
const char* const kClosedProperty = "tolvaClosed";

bool Close(QLocalSocket* pSocket)
{
    if (pSocket->property(kClosedProperty).toBool())
        return false;
    pSocket->setProperty(kClosedProperty, true);
    pSocket->abort();
    pSocket->deleteLater();
    return true;
}

QByteArray ActivationToken()
{
    // Wayland hands the new process an activation token, X11 a start-up notification id; either
    // lets the first instance raise its window.
    QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    if (token.isEmpty())
        token = qgetenv("DESKTOP_STARTUP_ID");
    return IsValidToken(token) ? token : QByteArray();
}

} // namespace

CSingleInstance::CSingleInstance(QString sFolder, QObject* pParent)
    : QObject(pParent), m_sFolder(sFolder.isEmpty() ? DefaultFolder() : std::move(sFolder))
{}

CSingleInstance::~CSingleInstance() = default; // the lock is released, the server closes with its parent

QString CSingleInstance::DefaultFolder()
{
    const QString sRuntime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!sRuntime.isEmpty())
        return sRuntime;
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/TolvaMusicTransfer";
}

QString CSingleInstance::LockPath() const
{
    return m_sFolder + "/" + kLockName;
}

QString CSingleInstance::SocketPath() const
{
    return m_sFolder + "/" + kSocketName;
}

ESingleInstanceResult CSingleInstance::TryBecomePrimary()
{
    if (m_pLock && m_pLock->isLocked())
        return SINGLE_INSTANCE_PRIMARY;
    if (!QDir().mkpath(m_sFolder)) {
        WriteLog("Single instance: cannot create " + m_sFolder);
        return SINGLE_INSTANCE_FAILED;
    }
    m_pLock = std::make_unique<QLockFile>(LockPath());
    // Age never makes the lock stale (the program runs for days); only a holder that no longer
    // runs does, which QLockFile checks by the process id in the file.
    m_pLock->setStaleLockTime(0);
    if (m_pLock->tryLock(0)) {
        if (!Listen())
            WriteLog("Single instance: cannot listen on " + SocketPath() + "; a second start cannot reach this one");
        return SINGLE_INSTANCE_PRIMARY;
    }
    if (m_pLock->error() != QLockFile::LockFailedError) {
        WriteLogF("Single instance: cannot use the lock file (error %d)", static_cast<int>(m_pLock->error()));
        m_pLock.reset();
        return SINGLE_INSTANCE_FAILED;
    }
    m_pLock.reset();
    return Forward();
}

bool CSingleInstance::Listen()
{
    // A socket file left by a holder that was killed would make listen() fail; while we hold the
    // lock, no other instance can be using it.
    QLocalServer::removeServer(SocketPath());
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_pServer, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
    return m_pServer->listen(SocketPath());
}

ESingleInstanceResult CSingleInstance::Forward() const
{
    QByteArray line = kCommand;
    const QByteArray token = ActivationToken();
    if (!token.isEmpty())
        line += " " + token;
    line += "\n";
    const std::int64_t nStartMs = Clock().NowMs();
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(SocketPath(), QIODevice::WriteOnly);
        if (socket.waitForConnected(kConnectWaitMs)) {
            socket.write(line);
            while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(kWriteWaitMs)) {
            }
            const bool bSent = socket.bytesToWrite() == 0;
            socket.disconnectFromServer();
            if (bSent)
                return SINGLE_INSTANCE_FORWARDED;
        }
        if (Clock().NowMs() - nStartMs >= kForwardWindowMs)
            break;
        Clock().Sleep(kForwardRetryMs);
    }
    WriteLog("Single instance: another instance holds the lock but cannot be reached at " + SocketPath());
    return SINGLE_INSTANCE_FAILED;
}

void CSingleInstance::OnNewConnection()
{
    while (QLocalSocket* pSocket = m_pServer->nextPendingConnection()) {
        if (m_nOpenConnections >= kMaxOpenConnections) {
            WriteLog("Single instance: too many connections, one refused");
            pSocket->abort();
            pSocket->deleteLater();
            continue;
        }
        ++m_nOpenConnections;
        connect(pSocket, &QObject::destroyed, this, [this] { --m_nOpenConnections; });
        connect(pSocket, &QLocalSocket::readyRead, this, [this, pSocket] { OnReadyRead(pSocket); });
        connect(pSocket, &QLocalSocket::disconnected, pSocket, &QObject::deleteLater);
        pSocket->setReadBufferSize(kMaxLineBytes + 1);
        // A peer that never completes its line is cut off, so it holds nothing for long.
        QTimer::singleShot(m_nPeerTimeoutMs, pSocket, [this, pSocket] { Refuse(pSocket, "no complete line in time"); });
        if (pSocket->bytesAvailable() > 0)
            OnReadyRead(pSocket);
    }
}

void CSingleInstance::OnReadyRead(QLocalSocket* pSocket)
{
    if (pSocket->property(kClosedProperty).toBool())
        return;
    if (!pSocket->canReadLine()) {
        if (pSocket->bytesAvailable() >= kMaxLineBytes)
            Refuse(pSocket, "line too long");
        return;
    }
    QByteArray line = pSocket->readLine(kMaxLineBytes + 1);
    if (!line.endsWith('\n')) {
        Refuse(pSocket, "line too long");
        return;
    }
    // One line per connection; the peer has nothing more to say.
    Close(pSocket);
    line.chop(1);
    QByteArray token;
    if (!ParseActivation(line, token)) {
        WriteLog("Single instance: refused a malformed message");
        return;
    }
    // Queued: the handler may open windows or run a modal loop; it runs from the event loop, not
    // from inside the socket's signal.
    const QString sToken = QString::fromLatin1(token);
    QMetaObject::invokeMethod(
        this,
        [this, sToken] {
            if (m_handler)
                m_handler(sToken);
        },
        Qt::QueuedConnection);
}

void CSingleInstance::Refuse(QLocalSocket* pSocket, const char* pszWhy)
{
    if (Close(pSocket))
        WriteLogF("Single instance: refused a message: %s", pszWhy);
}

#pragma once

#include <memory>

#include <QObject>
#include <QString>

#include "desktop/ISingleInstance.h"

class QLocalServer;
class QLocalSocket;
class QLockFile;

// One running program per user. The lock file "TolvaMusicTransferApp.lock" in the user's runtime
// folder is the named mutex: QLockFile writes the holder's process id into it, so a lock left by a
// process that was killed is recognised and taken over. The holder listens on a local socket
// beside it, reachable by the same user only; a second start sends it one line,
// "ActiveApp <activation token>", and ends. Create and use it on the user interface thread.
class CSingleInstance final : public QObject, public ISingleInstance
{
    Q_OBJECT

public:
    // sFolder: where the lock and the socket live; empty: DefaultFolder().
    explicit CSingleInstance(QString sFolder = QString(), QObject* pParent = nullptr);
    ~CSingleInstance() override;

    // The user's runtime folder ($XDG_RUNTIME_DIR; without it a private per-user folder that Qt
    // creates with mode 0700, never the shared temporary folder itself).
    static QString DefaultFolder();

    ESingleInstanceResult TryBecomePrimary() override;
    void SetActivateHandler(ActivateHandler handler) override { m_handler = std::move(handler); }

    QString LockPath() const;
    QString SocketPath() const;
    // How long a peer may take to send its line before it is cut off.
    void SetPeerTimeoutMs(int nMs) { m_nPeerTimeoutMs = nMs; }

    // Longest line accepted from a peer, line feed included; longer input is refused.
    static constexpr int kMaxLineBytes = 512;

private:
    bool Listen();
    ESingleInstanceResult Forward() const;
    void OnNewConnection();
    void OnReadyRead(QLocalSocket* pSocket);
    void Refuse(QLocalSocket* pSocket, const char* pszWhy);

    QString m_sFolder;
    std::unique_ptr<QLockFile> m_pLock;
    QLocalServer* m_pServer = nullptr; // child
    ActivateHandler m_handler;
    int m_nPeerTimeoutMs = 2000;
    int m_nOpenConnections = 0;
};

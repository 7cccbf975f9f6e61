#pragma once

#include <cstdint>
#include <map>
#include <sys/types.h>

#include <QString>
#include <QTemporaryDir>

#include "platform/SmbShareFileSystem.h"

// A real Samba server (smbd) for tests, as a player would offer its shares: guest shares
// Tolva_Internal and Tolva_External on folders of the test, on one 127.0.0.x address and a port
// of the test's choice. It runs only inside the private network and mount namespace that
// tests/support/run-in-netns.sh makes (TOLVA_IN_NETNS=1), so it can add its address to the
// loopback device and mount a small tmpfs under a share without touching the machine.
//
// The server runs in the foreground in its own process group (smbd forks one child per client
// connection), so Kill and Pause reach the whole server. The destructor always stops it, and a
// small watchdog process kills it when the test process dies without its destructor (a crash).
class CSambaServer
{
public:
    explicit CSambaServer(QString sAddress = QStringLiteral("127.0.0.2"), std::uint16_t nPort = 4450);
    ~CSambaServer();
    CSambaServer(const CSambaServer&) = delete;
    CSambaServer& operator=(const CSambaServer&) = delete;

    // Why no server can run here (empty when one can): outside the private namespace, or no smbd.
    static QString UnavailableReason();
    // Where no Samba server can run, ends the test program with exit code 77 (a skip for CTest)
    // and the reason, instead of letting it pass with nothing tested or fail for the machine.
    static void ExitIfUnavailable();

    // Shares, applied by the next Start. Tolva_Internal and Tolva_External exist from the start.
    void AddShare(const QString& sName);
    void RemoveShare(const QString& sName);
    void SetReadOnly(const QString& sName, bool bReadOnly);
    // Backs the share's folder with a tmpfs of this size, so that it fills up (takes effect at
    // once; the folder's contents are hidden under the mount).
    bool LimitShareSize(const QString& sName, qint64 nBytes, QString* psError);

    // Writes the configuration, starts smbd and waits until it accepts connections.
    bool Start(QString* psError);
    // SIGKILL to every server process; connections break at once. Returns when all are gone.
    void Kill();
    // SIGSTOP / SIGCONT to every server process: connections stay open and go silent.
    void Pause();
    void Resume();
    bool Restart(QString* psError);
    bool IsRunning() const { return m_pid > 0; }

    QString Address() const { return m_sAddress; }
    std::uint16_t Port() const { return m_nPort; }
    // "\\<address>\<share>"
    QString SharePath(const QString& sShare) const;
    // The local folder behind a share.
    QString ShareFolder(const QString& sShare) const;
    // A client configuration that reaches this server (its port), with the given time-out.
    SSmbConfig ClientConfig(int nTimeoutMs = 10000) const;
    // The end of the server's log, for failure messages.
    QString LogTail() const;

private:
    struct SShare
    {
        bool bReadOnly = false;
        bool bMounted = false;
    };

    bool WriteConfig(QString* psError);
    bool WaitUntilAccepting(QString* psError);
    void SignalAll(int nSignal);
    void WaitUntilGone();
    // The watchdog waits on a pipe whose only writer is this process: when the pipe closes (Kill,
    // or the end of the process), it kills the server's process group.
    void StartWatchdog();
    void StopWatchdog();

    QString m_sAddress;
    std::uint16_t m_nPort;
    QTemporaryDir m_dir;
    std::map<QString, SShare> m_shares;
    pid_t m_pid = -1;
    bool m_bPaused = false;
    pid_t m_watchdog = -1;
    int m_nLifeline = -1;
};

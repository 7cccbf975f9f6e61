#include "PlayerShares.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>

namespace {

constexpr char kFillerName[] = ".tolva-reference-filler";

QString ErrnoText(const char* pszWhat, const QString& sPath)
{
    return QString("%1 %2: %3").arg(pszWhat, sPath, std::strerror(errno));
}

} // namespace

CPlayerShares::~CPlayerShares()
{
    Teardown();
}

bool CPlayerShares::Setup(const QString& sInternalDir, const QString& sExternalDir, qint64 nTmpfsKib, QString* pError)
{
    const QPair<QString, QString> shares[] = {{sInternalDir, kInternalShare}, {sExternalDir, kExternalShare}};
    for (const auto& [sDir, sName] : shares) {
        if (sDir.isEmpty())
            continue;
        const QString sPath = QDir(sDir).absolutePath();
        if (!QDir().mkpath(sPath)) {
            *pError = "cannot create " + sPath;
            return false;
        }
        if (nTmpfsKib > 0) {
            const QByteArray options = "size=" + QByteArray::number(nTmpfsKib) + "k,mode=0777";
            if (mount("tolva-share", QFile::encodeName(sPath).constData(), "tmpfs", 0, options.constData()) != 0) {
                *pError = ErrnoText("cannot mount a tmpfs on", sPath);
                return false;
            }
            m_mounted.append(sPath);
        }
        m_folders.append(sPath);
        m_names.append(sName);
    }
    return true;
}

bool CPlayerShares::StartSamba(const QString& sAddress, quint16 nPort, const QString& sStateDir, QString* pError)
{
    const QString smbd = QStandardPaths::findExecutable("smbd", {"/usr/sbin", "/usr/local/sbin", "/sbin"});
    if (smbd.isEmpty()) {
        *pError = "smbd not found";
        return false;
    }
    const passwd* pUser = getpwuid(geteuid());
    const QString sUser = pUser ? QString::fromLocal8Bit(pUser->pw_name) : QString("root");
    // Every address of 127/8 is local, but smbd binds only addresses that an interface carries.
    if (!sAddress.startsWith("127.0.0.1") && sAddress.startsWith("127."))
        QProcess::execute("ip", {"addr", "add", sAddress + "/8", "dev", "lo"});
    QDir state(sStateDir);
    for (const char* pszSub : {"lock", "state", "cache", "pid", "private", "ncalrpc", "log"}) {
        if (!state.mkpath(pszSub)) {
            *pError = "cannot create " + state.filePath(pszSub);
            return false;
        }
    }
    // Guest access to writable shares, bound to the player's address only, no printing, no
    // name service: a player's shares as the program sees them, and nothing else.
    QString conf;
    conf += "[global]\n";
    conf += "  interfaces = " + sAddress + "\n";
    conf += "  bind interfaces only = yes\n";
    conf += "  smb ports = " + QString::number(nPort) + "\n";
    conf += "  disable netbios = yes\n";
    conf += "  server role = standalone server\n";
    conf += "  map to guest = Bad User\n";
    conf += "  guest account = " + sUser + "\n";
    conf += "  load printers = no\n  printing = bsd\n  printcap name = /dev/null\n  disable spoolss = yes\n";
    conf += "  lock directory = " + state.filePath("lock") + "\n";
    conf += "  state directory = " + state.filePath("state") + "\n";
    conf += "  cache directory = " + state.filePath("cache") + "\n";
    conf += "  pid directory = " + state.filePath("pid") + "\n";
    conf += "  private dir = " + state.filePath("private") + "\n";
    conf += "  ncalrpc dir = " + state.filePath("ncalrpc") + "\n";
    conf += "  log file = " + state.filePath("log/smbd.log") + "\n";
    conf += "  max log size = 1000\n";
    conf += "  server min protocol = SMB2\n";
    for (int i = 0; i < m_folders.size(); ++i) {
        conf += "[" + m_names[i] + "]\n";
        conf += "  path = " + m_folders[i] + "\n";
        conf += "  read only = no\n  guest ok = yes\n  guest only = yes\n";
        // Started without root rights (in a user namespace that maps only this user), smbd runs
        // as that user, which is the guest account already; there a force user of the same name
        // gives a token that does not own the share folders, and every write is refused.
        if (geteuid() == 0)
            conf += "  force user = " + sUser + "\n";
    }
    m_sSambaConfig = state.filePath("smb.conf");
    QFile file(m_sSambaConfig);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(conf.toUtf8()) < 0) {
        *pError = "cannot write " + m_sSambaConfig;
        return false;
    }
    file.close();
    m_smbd.setProgram(smbd);
    m_smbd.setArguments({"--foreground", "--no-process-group", "--debug-stdout", "--configfile=" + m_sSambaConfig});
    m_smbd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_smbd.setStandardOutputFile(state.filePath("log/smbd.out"));
    // A process group of its own: smbd answers SIGTERM by signalling its whole group, which
    // must not be ours (nor the test's that started us); the group also holds its children.
    m_smbd.setChildProcessModifier([] { setpgid(0, 0); });
    m_smbd.start();
    if (!m_smbd.waitForStarted(5000)) {
        *pError = "smbd did not start: " + m_smbd.errorString();
        return false;
    }
    // Ready once it accepts connections on its port.
    for (int nTry = 0; nTry < 200; ++nTry) {
        QTcpSocket probe;
        probe.connectToHost(sAddress, nPort);
        if (probe.waitForConnected(100))
            return true;
        if (m_smbd.state() != QProcess::Running)
            break;
        QThread::msleep(25);
    }
    *pError = "smbd does not accept connections (see " + state.filePath("log") + ")";
    StopSamba();
    return false;
}

void CPlayerShares::StopSamba()
{
    if (m_smbd.state() == QProcess::NotRunning)
        return;
    const qint64 nGroup = m_smbd.processId();
    if (nGroup > 0)
        kill(static_cast<pid_t>(-nGroup), SIGTERM);
    if (!m_smbd.waitForFinished(5000)) {
        if (nGroup > 0)
            kill(static_cast<pid_t>(-nGroup), SIGKILL);
        m_smbd.waitForFinished(2000);
    }
}

bool CPlayerShares::SetFull(bool bFull, QString* pError)
{
    if (m_mounted.isEmpty()) {
        *pError = "full shares need --share-tmpfs-kib";
        return false;
    }
    for (const QString& sFolder : m_mounted) {
        const QByteArray path = QFile::encodeName(sFolder + "/" + kFillerName);
        if (!bFull) {
            unlink(path.constData());
            continue;
        }
        const int fd = open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) {
            *pError = ErrnoText("cannot create", sFolder + "/" + kFillerName);
            return false;
        }
        static const char block[65536] = {};
        // Whole blocks first, then single bytes, until the file system has no room left.
        for (std::size_t nChunk = sizeof block; nChunk > 0; nChunk /= 16) {
            while (write(fd, block, nChunk) == static_cast<ssize_t>(nChunk)) {
            }
        }
        close(fd);
    }
    return true;
}

bool CPlayerShares::SetReadOnly(bool bReadOnly, QString* pError)
{
    if (m_mounted.isEmpty()) {
        *pError = "read-only shares need --share-tmpfs-kib";
        return false;
    }
    for (const QString& sFolder : m_mounted) {
        const unsigned long nFlags = MS_REMOUNT | (bReadOnly ? MS_RDONLY : 0);
        if (mount("tolva-share", QFile::encodeName(sFolder).constData(), "tmpfs", nFlags, nullptr) != 0) {
            *pError = ErrnoText("cannot remount", sFolder);
            return false;
        }
    }
    return true;
}

void CPlayerShares::Teardown()
{
    StopSamba();
    for (const QString& sFolder : m_mounted) {
        mount("tolva-share", QFile::encodeName(sFolder).constData(), "tmpfs", MS_REMOUNT, nullptr);
        if (umount2(QFile::encodeName(sFolder).constData(), MNT_DETACH) != 0)
            unlink(QFile::encodeName(sFolder + "/" + kFillerName).constData());
    }
    m_mounted.clear();
}

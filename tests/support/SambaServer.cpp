#include "support/SambaServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

extern char** environ;

namespace {

const char* const kDefaultShares[] = {"Tolva_Internal", "Tolva_External"};

// The longest real time a starting server may take to accept connections.
constexpr auto kStartTimeout = std::chrono::seconds(20);

QString FindSmbd()
{
    QStringList dirs = {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/sbin")};
    dirs += QString::fromLocal8Bit(qgetenv("PATH")).split(':', Qt::SkipEmptyParts);
    for (const QString& sDir : dirs) {
        const QFileInfo info(sDir + QStringLiteral("/smbd"));
        if (info.isFile() && info.isExecutable())
            return info.filePath();
    }
    return QString();
}

bool InPrivateNamespace()
{
    return qgetenv("TOLVA_IN_NETNS") == "1";
}

// Runs a program and waits for it; its exit code, or -1 when it could not run.
int RunProgram(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& sArg : args)
        argv.push_back(const_cast<char*>(sArg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int nSpawn = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nSpawn != 0)
        return -1;
    int nStatus = 0;
    while (waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

QString CurrentUserName()
{
    // The reentrant form: the client library calls getpwuid() on the copy's thread meanwhile.
    passwd entry{};
    passwd* pEntry = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &pEntry) != 0 || !pEntry)
        return QStringLiteral("root");
    return QString::fromLocal8Bit(pEntry->pw_name);
}

bool WriteWholeFile(const QString& sPath, const QByteArray& data)
{
    QFile file(sPath);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size() && file.flush();
}

} // namespace

CSambaServer::CSambaServer(QString sAddress, std::uint16_t nPort) : m_sAddress(std::move(sAddress)), m_nPort(nPort)
{
    for (const char* pszShare : kDefaultShares)
        AddShare(QString::fromLatin1(pszShare));
}

CSambaServer::~CSambaServer()
{
    Kill();
    for (auto& [sName, share] : m_shares) {
        if (share.bMounted)
            ::umount2(QFile::encodeName(ShareFolder(sName)).constData(), MNT_DETACH);
    }
}

QString CSambaServer::UnavailableReason()
{
    if (!InPrivateNamespace())
        return QStringLiteral("the Samba tests run only inside the private network namespace of "
                              "tests/support/run-in-netns.sh (run them through ctest)");
    if (FindSmbd().isEmpty())
        return QStringLiteral("smbd is not installed (scripts/install-deps.sh installs the samba package)");
    // An unprivileged user namespace maps only this user and denies setgroups(), which smbd
    // calls for every connection (and dies of).
    QFile setgroups(QStringLiteral("/proc/self/setgroups"));
    if (setgroups.open(QIODevice::ReadOnly) && setgroups.readAll().startsWith("deny"))
        return QStringLiteral("smbd cannot run in an unprivileged user namespace (it needs setgroups(), which "
                              "such a namespace denies); run the Samba tests as root, as CI does");
    return QString();
}

void CSambaServer::ExitIfUnavailable()
{
    const QString sReason = UnavailableReason();
    if (sReason.isEmpty())
        return;
    std::fprintf(stderr, "SKIPPED: %s\n", sReason.toLocal8Bit().constData());
    std::fflush(nullptr);
    std::_Exit(77);
}

void CSambaServer::AddShare(const QString& sName)
{
    m_shares.emplace(sName, SShare());
    QDir().mkpath(ShareFolder(sName));
}

void CSambaServer::RemoveShare(const QString& sName)
{
    const auto it = m_shares.find(sName);
    if (it == m_shares.end())
        return;
    if (it->second.bMounted)
        ::umount2(QFile::encodeName(ShareFolder(sName)).constData(), MNT_DETACH);
    m_shares.erase(it);
}

void CSambaServer::SetReadOnly(const QString& sName, bool bReadOnly)
{
    m_shares[sName].bReadOnly = bReadOnly;
}

bool CSambaServer::LimitShareSize(const QString& sName, qint64 nBytes, QString* psError)
{
    if (!InPrivateNamespace()) {
        *psError = QStringLiteral("refusing to mount outside the private mount namespace");
        return false;
    }
    const auto it = m_shares.find(sName);
    if (it == m_shares.end()) {
        *psError = QStringLiteral("no share ") + sName;
        return false;
    }
    const QByteArray folder = QFile::encodeName(ShareFolder(sName));
    if (it->second.bMounted)
        ::umount2(folder.constData(), MNT_DETACH);
    const QByteArray options = "size=" + QByteArray::number(nBytes) + ",mode=0777";
    if (::mount("tmpfs", folder.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) != 0) {
        *psError =
            QStringLiteral("mount tmpfs on %1: %2").arg(ShareFolder(sName), QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    it->second.bMounted = true;
    return true;
}

QString CSambaServer::SharePath(const QString& sShare) const
{
    return QStringLiteral("\\\\") + m_sAddress + QStringLiteral("\\") + sShare;
}

QString CSambaServer::ShareFolder(const QString& sShare) const
{
    return m_dir.path() + QStringLiteral("/shares/") + sShare;
}

SSmbConfig CSambaServer::ClientConfig(int nTimeoutMs) const
{
    SSmbConfig config;
    config.nPort = m_nPort;
    config.nTimeoutMs = nTimeoutMs;
    return config;
}

QString CSambaServer::LogTail() const
{
    QString sText;
    for (const QString& sName : {QStringLiteral("/samba/smbd.out"), QStringLiteral("/samba/log/smbd.log")}) {
        QFile file(m_dir.path() + sName);
        if (file.open(QIODevice::ReadOnly))
            sText += QString::fromUtf8(file.readAll().right(4000));
    }
    return sText;
}

bool CSambaServer::WriteConfig(QString* psError)
{
    const QString sBase = m_dir.path() + QStringLiteral("/samba");
    for (const char* pszDir : {"private", "lock", "state", "cache", "pid", "ncalrpc", "log", "binddns"}) {
        if (!QDir().mkpath(sBase + "/" + pszDir)) {
            *psError = QStringLiteral("cannot create ") + sBase + "/" + pszDir;
            return false;
        }
    }
    const QString sUser = CurrentUserName();
    QString sConfig;
    sConfig += QStringLiteral("[global]\n"
                              "\tserver role = standalone server\n"
                              "\tworkgroup = WORKGROUP\n"
                              "\tnetbios name = TOLVAPLAYER\n"
                              "\tbind interfaces only = yes\n"
                              "\tinterfaces = %1\n"
                              "\tsmb ports = %2\n"
                              "\tdisable netbios = yes\n"
                              "\tmap to guest = Bad User\n"
                              "\tguest account = %3\n"
                              "\tload printers = no\n"
                              "\tprinting = bsd\n"
                              "\tprintcap name = /dev/null\n"
                              "\tdisable spoolss = yes\n"
                              "\tusershare max shares = 0\n"
                              "\tlog level = 1\n"
                              "\tmax log size = 0\n")
                   .arg(m_sAddress)
                   .arg(m_nPort)
                   .arg(sUser);
    for (const char* pszParam : {"private dir", "lock directory", "state directory", "cache directory", "pid directory",
                                 "ncalrpc dir", "binddns dir"}) {
        const QString sDir = QString::fromLatin1(pszParam).section(' ', 0, 0);
        sConfig += QStringLiteral("\t%1 = %2/%3\n").arg(QString::fromLatin1(pszParam), sBase, sDir);
    }
    sConfig += QStringLiteral("\tlog file = %1/log/smbd.log\n").arg(sBase);
    for (const auto& [sName, share] : m_shares) {
        sConfig +=
            QStringLiteral("[%1]\n"
                           "\tpath = %2\n"
                           "\tguest ok = yes\n"
                           "\tread only = %3\n"
                           "\tforce user = %4\n")
                .arg(sName, ShareFolder(sName), share.bReadOnly ? QStringLiteral("yes") : QStringLiteral("no"), sUser);
    }
    if (!WriteWholeFile(sBase + QStringLiteral("/smb.conf"), sConfig.toUtf8())) {
        *psError = QStringLiteral("cannot write the Samba configuration");
        return false;
    }
    return true;
}

bool CSambaServer::Start(QString* psError)
{
    QString sIgnored;
    QString& sError = psError ? *psError : sIgnored;
    const QString sReason = UnavailableReason();
    if (!sReason.isEmpty()) {
        sError = sReason;
        return false;
    }
    if (m_pid > 0) {
        sError = QStringLiteral("the server runs already");
        return false;
    }
    if (!m_dir.isValid() || !WriteConfig(&sError))
        return false;
    // Every address of 127/8 is local, but smbd binds only addresses that an interface carries.
    if (m_sAddress != QLatin1String("127.0.0.1"))
        RunProgram({"ip", "addr", "add", m_sAddress.toStdString() + "/8", "dev", "lo"});

    // Children that smbd forks outlive it by a moment when it is killed; as their subreaper this
    // process can reap them instead of leaving zombies to an init that may not.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const std::string sSmbd = FindSmbd().toStdString();
    const std::string sConfig = "--configfile=" + (m_dir.path() + QStringLiteral("/samba/smb.conf")).toStdString();
    const std::string sOutput = (m_dir.path() + QStringLiteral("/samba/smbd.out")).toStdString();
    std::vector<std::string> args = {sSmbd, "--foreground", "--no-process-group", sConfig, "--debuglevel=1"};
    std::vector<char*> argv;
    for (std::string& sArg : args)
        argv.push_back(sArg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, sOutput.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group: smbd and the children it forks get every signal together.
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    const int nSpawn = posix_spawn(&m_pid, sSmbd.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (nSpawn != 0) {
        m_pid = -1;
        sError = QStringLiteral("cannot start smbd: ") + QString::fromLocal8Bit(strerror(nSpawn));
        return false;
    }
    m_bPaused = false;
    StartWatchdog();
    return WaitUntilAccepting(&sError);
}

void CSambaServer::StartWatchdog()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    const pid_t serverGroup = m_pid;
    const pid_t watchdog = ::fork();
    if (watchdog == 0) {
        // Only async-signal-safe calls here: the test process has other threads.
        ::setsid(); // no terminal signal, no signal to the test's group reaches it
        if (fds[0] != 3) {
            ::dup2(fds[0], 3);
        }
        ::close(0);
        ::close(1);
        ::close(2);
        if (::syscall(SYS_close_range, 4u, ~0u, 0u) != 0) {
            for (int fd = 4; fd < 4096; ++fd)
                ::close(fd);
        }
        char c = 0;
        while (::read(3, &c, 1) < 0 && errno == EINTR) {
        }
        ::kill(-serverGroup, SIGKILL);
        ::_exit(0);
    }
    ::close(fds[0]);
    if (watchdog < 0) {
        ::close(fds[1]);
        return;
    }
    m_nLifeline = fds[1];
    m_watchdog = watchdog;
}

void CSambaServer::StopWatchdog()
{
    if (m_nLifeline >= 0) {
        ::close(m_nLifeline); // the watchdog kills the server group and ends
        m_nLifeline = -1;
    }
    if (m_watchdog > 0) {
        int nStatus = 0;
        while (waitpid(m_watchdog, &nStatus, 0) < 0 && errno == EINTR) {
        }
        m_watchdog = -1;
    }
}

bool CSambaServer::WaitUntilAccepting(QString* psError)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_nPort);
    inet_pton(AF_INET, m_sAddress.toLatin1().constData(), &address.sin_addr);
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int nStatus = 0;
        if (waitpid(m_pid, &nStatus, WNOHANG) == m_pid) {
            m_pid = -1;
            *psError = QStringLiteral("smbd ended at start-up:\n") + LogTail();
            return false;
        }
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool bAccepted =
            fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
        if (fd >= 0)
            ::close(fd);
        if (bAccepted)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    *psError = QStringLiteral("smbd did not accept connections in time:\n") + LogTail();
    Kill();
    return false;
}

void CSambaServer::SignalAll(int nSignal)
{
    if (m_pid > 0)
        ::kill(-m_pid, nSignal);
}

void CSambaServer::WaitUntilGone()
{
    int nStatus = 0;
    while (waitpid(m_pid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    // The per-connection children were handed to this process when their parent died (we are
    // their subreaper); reap them and wait until the group is empty, so the port is free again.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        const pid_t reaped = waitpid(-m_pid, &nStatus, WNOHANG);
        if (reaped > 0)
            continue;
        if (::kill(-m_pid, 0) != 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    m_pid = -1;
}

void CSambaServer::Kill()
{
    if (m_pid <= 0)
        return;
    SignalAll(SIGKILL);
    StopWatchdog();
    WaitUntilGone();
    m_bPaused = false;
}

void CSambaServer::Pause()
{
    SignalAll(SIGSTOP);
    m_bPaused = true;
}

void CSambaServer::Resume()
{
    SignalAll(SIGCONT);
    m_bPaused = false;
}

bool CSambaServer::Restart(QString* psError)
{
    Kill();
    return Start(psError);
}

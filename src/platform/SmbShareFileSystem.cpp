#include "platform/SmbShareFileSystem.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <pthread.h>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <vector>

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QUrl>

#include <libsmbclient.h>

#include "platform/Clock.h"
#include "platform/Diagnostics.h"

namespace {

// Every call into the library, from any instance, holds this lock: the library keeps a
// process-wide stack of temporary allocations (and its configuration) without any thread
// protection in the builds we link against.
std::mutex g_libraryMutex;

std::mutex g_configMutex;
SSmbConfig g_defaultConfig;

// Settings that would otherwise come from the user's ~/.smb/smb.conf or the system smb.conf,
// which the library reads when it starts: each one here changes how we talk to a player, so it
// is fixed. Host names are resolved through the system resolver only (no NetBIOS broadcasts),
// no Kerberos (a player has none), and signing or encryption only when the server asks for it.
const char kClientSettings[] = "[global]\n"
                               "\tclient signing = default\n"
                               "\tclient ipc signing = default\n"
                               "\tclient smb encrypt = default\n"
                               "\tclient use kerberos = off\n"
                               "\tclient ntlmv2 auth = yes\n"
                               "\tclient lanman auth = no\n"
                               "\tclient plaintext auth = no\n"
                               "\tname resolve order = host\n"
                               "\tsocket options = TCP_NODELAY\n"
                               "\tworkgroup = WORKGROUP\n";

// Oldest and newest protocol we offer. Players of this program's age may speak only NT1; newer
// ones negotiate SMB2 or SMB3 from the same offer.
const char kMinProtocol[] = "NT1";
const char kMaxProtocol[] = "SMB3";

void LibraryLog(void*, int nLevel, const char* pszMessage)
{
    QString sMessage = QString::fromUtf8(pszMessage).trimmed();
    if (!sMessage.isEmpty())
        ReportDiagnostic(QStringLiteral("smb(%1): %2").arg(nLevel).arg(sMessage));
}

// Loads kClientSettings over whatever the library read at start-up. The library takes a file
// name only, so the text goes through a temporary file.
void ApplyClientSettings(SMBCCTX* pCtx)
{
    QByteArray sTemplate = QFile::encodeName(QDir::tempPath() + QStringLiteral("/tolva-smbclient-XXXXXX"));
    const int fd = ::mkstemp(sTemplate.data());
    if (fd < 0) {
        ReportDiagnostic(QStringLiteral("smb: cannot write the client settings (%1)").arg(errno));
        return;
    }
    const std::size_t nLength = sizeof(kClientSettings) - 1;
    const bool bWritten = ::write(fd, kClientSettings, nLength) == static_cast<ssize_t>(nLength);
    ::close(fd);
    if (!bWritten || smbc_setConfiguration(pCtx, sTemplate.constData()) != 0)
        ReportDiagnostic(QStringLiteral("smb: the client settings were not applied"));
    ::unlink(sTemplate.constData());
}

// The library starts (reads its configuration, sets up its logging) when the first context is
// made and stops when the last one is freed; every new start leaks a little and reads the
// configuration files again. One context that is never used for a call nor freed keeps it
// started for the life of the process, with our settings applied once. Call with
// g_libraryMutex held.
SMBCCTX* g_pKeeper = nullptr;

void KeepLibraryStarted()
{
    if (g_pKeeper)
        return;
    SMBCCTX* pCtx = smbc_new_context();
    if (!pCtx)
        return;
    smbc_setLogCallback(pCtx, nullptr, LibraryLog);
    smbc_setDebug(pCtx, 0);
    ApplyClientSettings(pCtx);
    if (!smbc_init_context(pCtx)) {
        smbc_free_context(pCtx, 0);
        return;
    }
    g_pKeeper = pCtx;
}

// Writing to a connection that the server has closed raises SIGPIPE, whose default action ends
// the process. The library does not guard against it, so each call blocks the signal on the
// calling thread and takes back one that the call raised before unblocking it.
class CSigPipeGuard
{
public:
    CSigPipeGuard()
    {
        sigset_t pipeSet;
        sigemptyset(&pipeSet);
        sigaddset(&pipeSet, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_bWasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeSet, &m_oldMask);
    }
    ~CSigPipeGuard()
    {
        const int nSavedErrno = errno;
        sigset_t pending;
        sigpending(&pending);
        if (!m_bWasPending && sigismember(&pending, SIGPIPE) == 1) {
            sigset_t pipeSet;
            sigemptyset(&pipeSet);
            sigaddset(&pipeSet, SIGPIPE);
            const timespec zero{0, 0};
            while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
        errno = nSavedErrno;
    }

private:
    sigset_t m_oldMask;
    bool m_bWasPending = false;
};

// The server a call talks to, as the URL names it.
struct SServer
{
    QByteArray host;
    std::uint16_t nPort = 0;
};

SServer ServerOf(const QByteArray& url, std::uint16_t nPort)
{
    const qsizetype nStart = url.indexOf("://") + 3;
    const qsizetype nEnd = url.indexOf('/', nStart);
    return SServer{url.mid(nStart, nEnd < 0 ? -1 : nEnd - nStart), nPort};
}

// A request that timed out leaves its connection open in the library, which then waits out the
// time-out again for the close of the file and once more for the tree disconnect when it drops
// the connection. A server silent for that long is treated as gone: every connection of this
// process to it is shut down (the library still owns and closes the sockets), so that what
// follows fails at once and the next call connects afresh.
void ShutDownConnectionsTo(const SServer& server)
{
    in_addr address{};
    if (server.nPort == 0 || inet_pton(AF_INET, server.host.constData(), &address) != 1)
        return; // a host name: its connections cannot be told apart cheaply; they time out instead
    DIR* pDir = ::opendir("/proc/self/fd");
    if (!pDir)
        return;
    int nShutDown = 0;
    while (const dirent* pEntry = ::readdir(pDir)) {
        char* pszEnd = nullptr;
        const long nFd = std::strtol(pEntry->d_name, &pszEnd, 10);
        if (pszEnd == pEntry->d_name || *pszEnd != '\0' || nFd == ::dirfd(pDir))
            continue;
        sockaddr_in peer{};
        socklen_t nLength = sizeof(peer);
        if (::getpeername(static_cast<int>(nFd), reinterpret_cast<sockaddr*>(&peer), &nLength) != 0 ||
            peer.sin_family != AF_INET || peer.sin_addr.s_addr != address.s_addr ||
            peer.sin_port != htons(server.nPort))
            continue;
        if (::shutdown(static_cast<int>(nFd), SHUT_RDWR) == 0)
            ++nShutDown;
    }
    ::closedir(pDir);
    ReportDiagnostic(QStringLiteral("smb: %1 did not answer in time; %2 connection(s) closed")
                         .arg(QString::fromLatin1(server.host))
                         .arg(nShutDown));
}

// Whether a library call's result says it failed (then errno tells why).
template <class T>
bool IsFailure(T* pResult)
{
    return pResult == nullptr;
}
inline bool IsFailure(bool bResult)
{
    return !bResult;
}
template <class T>
requires(std::is_integral_v<T> && !std::is_same_v<T, bool>) bool IsFailure(T nResult)
{
    return nResult < 0;
}

// Runs one library call under the lock; *pnErrno receives the errno of a failed call, 0 after
// success (the library may leave errno set then).
template <class F>
auto LibraryCall(const SServer& server, int* pnErrno, F&& call)
{
    std::lock_guard lock(g_libraryMutex);
    CSigPipeGuard guard;
    errno = 0;
    auto result = call();
    if (!IsFailure(result)) {
        *pnErrno = 0;
        return result;
    }
    *pnErrno = errno;
    if (*pnErrno == ETIMEDOUT)
        ShutDownConnectionsTo(server);
    return result;
}

// Errors after which a server counts as unreachable for a moment (see kUnreachableHoldMs).
bool IsUnreachableErrno(int nErrno)
{
    switch (nErrno) {
    case ETIMEDOUT:
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENETUNREACH:
    case ENETDOWN: return true;
    default: return false;
    }
}

// Errors of a connection that broke (the server closed it, or it was shut down here): they say
// nothing about whether the server answers now.
bool IsBrokenConnectionErrno(int nErrno)
{
    switch (nErrno) {
    case ECONNRESET:
    case ENETRESET:
    case ECONNABORTED:
    case EPIPE:
    case ENOTCONN:
    case EIO: return true;
    default: return false;
    }
}

// Partial files that the copy deleted while their server was gone, by server ("host:port"). The
// next call to that server, from any instance, deletes them first, so that a failed copy leaves
// no partial file once the server is back. Guarded by g_libraryMutex.
std::map<QByteArray, std::set<QByteArray>> g_leftovers;

QByteArray ServerKey(const SServer& server)
{
    return server.host + ':' + QByteArray::number(server.nPort);
}

void RememberLeftover(const SServer& server, const QByteArray& url)
{
    std::lock_guard lock(g_libraryMutex);
    g_leftovers[ServerKey(server)].insert(url);
}

void ForgetLeftover(const SServer& server, const QByteArray& url)
{
    std::lock_guard lock(g_libraryMutex);
    const auto it = g_leftovers.find(ServerKey(server));
    if (it == g_leftovers.end())
        return;
    it->second.erase(url);
    if (it->second.empty())
        g_leftovers.erase(it);
}

std::vector<QByteArray> LeftoversOf(const SServer& server)
{
    std::lock_guard lock(g_libraryMutex);
    const auto it = g_leftovers.find(ServerKey(server));
    return it == g_leftovers.end() ? std::vector<QByteArray>()
                                   : std::vector<QByteArray>(it->second.begin(), it->second.end());
}

void CopyField(char* pszTarget, int nSize, const QString& sValue)
{
    if (nSize <= 0)
        return;
    const QByteArray utf8 = sValue.toUtf8();
    const std::size_t nCopy = std::min<std::size_t>(utf8.size(), static_cast<std::size_t>(nSize - 1));
    std::memcpy(pszTarget, utf8.constData(), nCopy);
    pszTarget[nCopy] = '\0';
}

// A "." or ".." between backslashes: a target path must not step out of its folder.
bool HasDotStep(const QString& sPath)
{
    const QStringList parts = sPath.split('\\');
    return parts.contains(QLatin1String(".")) || parts.contains(QLatin1String(".."));
}

bool IsPlainHost(const QString& sHost)
{
    if (sHost.isEmpty())
        return false;
    for (const QChar ch : sHost) {
        const char16_t c = ch.unicode();
        const bool bOk = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                         c == '-' || c == '_';
        if (!bOk)
            return false;
    }
    return true;
}

} // namespace

SSmbConfig DefaultSmbConfig()
{
    std::lock_guard lock(g_configMutex);
    return g_defaultConfig;
}

void SetDefaultSmbConfig(const SSmbConfig& config)
{
    std::lock_guard lock(g_configMutex);
    g_defaultConfig = config;
}

// One library context and the settings it was made with. Files opened through it hold it too,
// so it lives until the back end and all its files are gone.
class CSmbShareFileSystem::CContext
{
public:
    explicit CContext(const SSmbConfig& config) : m_config(config) {}
    ~CContext()
    {
        if (!m_pCtx)
            return;
        int nErrno = 0;
        // shutdown = 1: closes what is still open and ends the connections.
        LibraryCall(SServer(), &nErrno, [this] { return smbc_free_context(m_pCtx, 1); });
    }
    CContext(const CContext&) = delete;
    CContext& operator=(const CContext&) = delete;

    DWORD Start()
    {
        int nErrno = 0;
        const bool bOk = LibraryCall(SServer(), &nErrno, [this] {
            KeepLibraryStarted();
            m_pCtx = smbc_new_context();
            if (!m_pCtx)
                return false;
            smbc_setLogCallback(m_pCtx, nullptr, LibraryLog);
            smbc_setDebug(m_pCtx, 0);
            smbc_setOptionProtocols(m_pCtx, kMinProtocol, kMaxProtocol);
            smbc_setOptionUseCCache(m_pCtx, false);
            smbc_setOptionUseKerberos(m_pCtx, false);
            smbc_setOptionFallbackAfterKerberos(m_pCtx, true);
            smbc_setOptionNoAutoAnonymousLogin(m_pCtx, false);
            smbc_setOptionUserData(m_pCtx, this);
            smbc_setFunctionAuthDataWithContext(m_pCtx, &CContext::Authenticate);
            smbc_setPort(m_pCtx, m_config.nPort);
            smbc_setTimeout(m_pCtx, m_config.nTimeoutMs);
            if (!smbc_init_context(m_pCtx)) {
                const int nInitErrno = errno;
                smbc_free_context(m_pCtx, 0);
                m_pCtx = nullptr;
                errno = nInitErrno;
                return false;
            }
            return true;
        });
        if (bOk)
            return ERROR_SUCCESS;
        ReportDiagnostic(QStringLiteral("smb: the client library did not start (errno %1)").arg(nErrno));
        return nErrno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_UNEXP_NET_ERR;
    }

    SMBCCTX* Handle() const { return m_pCtx; }
    const SSmbConfig& Config() const { return m_config; }

    // One library call to the server; its outcome starts or ends the server's hold.
    template <class F>
    auto Call(const SServer& server, int* pnErrno, F&& call)
    {
        auto result = LibraryCall(server, pnErrno, std::forward<F>(call));
        if (IsUnreachableErrno(*pnErrno))
            m_holds[server.host] = SHold{Clock().NowMs() + CSmbShareFileSystem::kUnreachableHoldMs,
                                         CSmbShareFileSystem::ErrorFromSmbErrno(*pnErrno)};
        else if (!IsBrokenConnectionErrno(*pnErrno))
            m_holds.erase(server.host); // an answer, also a refusal of this request: it is there
        return result;
    }

    // Deletes one file; < 0 and *pnErrno when that failed.
    int Unlink(const SServer& server, const QByteArray& url, int* pnErrno)
    {
        return Call(server, pnErrno, [&] {
            if (const int nFault = m_config.deleteFault ? m_config.deleteFault(url) : 0) {
                errno = nFault;
                return -1;
            }
            return smbc_getFunctionUnlink(m_pCtx)(m_pCtx, url.constData());
        });
    }

    // Deletes the partial files left on the server while it was gone (see g_leftovers); stops at
    // the first sign that it is still gone.
    void DeleteLeftovers(const SServer& server)
    {
        for (const QByteArray& url : LeftoversOf(server)) {
            int nErrno = 0;
            const int nResult = Unlink(server, url, &nErrno);
            if (nResult != 0 && (IsUnreachableErrno(nErrno) || IsBrokenConnectionErrno(nErrno)))
                return;
            ForgetLeftover(server, url);
            if (nResult == 0)
                ReportDiagnostic(QStringLiteral("smb: deleted the partial file %1 left when the server was gone")
                                     .arg(QString::fromUtf8(QByteArray::fromPercentEncoding(url))));
        }
    }

    // True (and *pdwError, the error that started it) while the server is held off.
    bool IsHeldOff(const SServer& server, DWORD* pdwError)
    {
        const auto it = m_holds.find(server.host);
        if (it == m_holds.end())
            return false;
        if (Clock().NowMs() >= it->second.nUntilMs) {
            m_holds.erase(it);
            return false;
        }
        *pdwError = it->second.dwError;
        return true;
    }

private:
    struct SHold
    {
        std::int64_t nUntilMs = 0;
        DWORD dwError = ERROR_SUCCESS;
    };

    static void Authenticate(SMBCCTX* pCtx, const char* pszServer, const char* pszShare, char* pszWorkgroup,
                             int nWorkgroupSize, char* pszUser, int nUserSize, char* pszPassword, int nPasswordSize)
    {
        const auto* pSelf = static_cast<const CContext*>(smbc_getOptionUserData(pCtx));
        SSmbCredentials credentials;
        if (pSelf && pSelf->m_config.credentials)
            credentials = pSelf->m_config.credentials(QString::fromUtf8(pszServer), QString::fromUtf8(pszShare));
        CopyField(pszWorkgroup, nWorkgroupSize, credentials.sWorkgroup);
        CopyField(pszUser, nUserSize, credentials.sUser);
        CopyField(pszPassword, nPasswordSize, credentials.sPassword);
    }

    SSmbConfig m_config;
    SMBCCTX* m_pCtx = nullptr;
    std::map<QByteArray, SHold> m_holds; // by host
};

namespace {

class CSmbWriteFile final : public IShareWriteFile
{
public:
    CSmbWriteFile(std::shared_ptr<CSmbShareFileSystem::CContext> pContext, SMBCFILE* pFile, SServer server)
        : m_pContext(std::move(pContext)), m_pFile(pFile), m_server(std::move(server)),
          m_nGather(m_pContext->Config().nWriteGatherBytes)
    {
        if (m_nGather > 0)
            m_buffer.reserve(m_nGather);
    }
    ~CSmbWriteFile() override { Close(); }

    DWORD Write(const char* pData, std::size_t nBytes) override
    {
        if (m_dwError != ERROR_SUCCESS)
            return m_dwError;
        if (!m_pFile)
            return ERROR_INVALID_PARAMETER;
        if (!m_buffer.empty() && m_buffer.size() + nBytes > m_nGather) {
            if (!Send(m_buffer.data(), m_buffer.size()))
                return m_dwError;
            m_buffer.clear();
        }
        if (nBytes >= m_nGather)
            return Send(pData, nBytes) ? ERROR_SUCCESS : m_dwError;
        m_buffer.insert(m_buffer.end(), pData, pData + nBytes);
        return ERROR_SUCCESS;
    }

    DWORD Close() override
    {
        if (!m_pFile)
            return m_dwError;
        if (m_dwError == ERROR_SUCCESS && !m_buffer.empty())
            Send(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
        SMBCCTX* pCtx = m_pContext->Handle();
        SMBCFILE* pFile = m_pFile;
        m_pFile = nullptr;
        int nErrno = 0;
        const int nResult =
            m_pContext->Call(m_server, &nErrno, [&] { return smbc_getFunctionClose(pCtx)(pCtx, pFile); });
        if (nResult < 0 && m_dwError == ERROR_SUCCESS)
            m_dwError = CSmbShareFileSystem::ErrorFromSmbErrno(nErrno);
        return m_dwError;
    }

private:
    // Writes all bytes; false (and m_dwError set) when the server refused or the connection broke.
    bool Send(const char* pData, std::size_t nBytes)
    {
        SMBCCTX* pCtx = m_pContext->Handle();
        while (nBytes > 0) {
            int nErrno = 0;
            const ssize_t nDone = m_pContext->Call(
                m_server, &nErrno, [&] { return smbc_getFunctionWrite(pCtx)(pCtx, m_pFile, pData, nBytes); });
            if (nDone <= 0) {
                m_dwError = nDone < 0 ? CSmbShareFileSystem::ErrorFromSmbErrno(nErrno) : ERROR_WRITE_FAULT;
                return false;
            }
            pData += nDone;
            nBytes -= static_cast<std::size_t>(nDone);
        }
        return true;
    }

    std::shared_ptr<CSmbShareFileSystem::CContext> m_pContext;
    SMBCFILE* m_pFile;
    SServer m_server;
    std::size_t m_nGather;
    std::vector<char> m_buffer;
    DWORD m_dwError = ERROR_SUCCESS;
};

class CSmbReadFile final : public IShareReadFile
{
public:
    CSmbReadFile(std::shared_ptr<CSmbShareFileSystem::CContext> pContext, SMBCFILE* pFile, SServer server)
        : m_pContext(std::move(pContext)), m_pFile(pFile), m_server(std::move(server))
    {}
    ~CSmbReadFile() override
    {
        SMBCCTX* pCtx = m_pContext->Handle();
        int nErrno = 0;
        m_pContext->Call(m_server, &nErrno, [&] { return smbc_getFunctionClose(pCtx)(pCtx, m_pFile); });
    }

    DWORD Read(char* pData, std::size_t nBytes, std::size_t* pnRead) override
    {
        SMBCCTX* pCtx = m_pContext->Handle();
        int nErrno = 0;
        const ssize_t nDone = m_pContext->Call(
            m_server, &nErrno, [&] { return smbc_getFunctionRead(pCtx)(pCtx, m_pFile, pData, nBytes); });
        if (nDone < 0) {
            *pnRead = 0;
            return CSmbShareFileSystem::ErrorFromSmbErrno(nErrno);
        }
        *pnRead = static_cast<std::size_t>(nDone);
        return ERROR_SUCCESS;
    }

private:
    std::shared_ptr<CSmbShareFileSystem::CContext> m_pContext;
    SMBCFILE* m_pFile;
    SServer m_server;
};

// True when the URL names a share root ("smb://host/share") and nothing below it.
bool IsShareRootUrl(const QByteArray& url)
{
    return url.count('/') == 3;
}

} // namespace

CSmbShareFileSystem::CSmbShareFileSystem(SSmbConfig config) : m_config(std::move(config))
{}

CSmbShareFileSystem::~CSmbShareFileSystem() = default;

CSmbShareFileSystem::CContext* CSmbShareFileSystem::Context(DWORD* pdwError)
{
    if (!m_pContext) {
        auto pContext = std::make_shared<CContext>(m_config);
        const DWORD dwError = pContext->Start();
        if (dwError != ERROR_SUCCESS) {
            *pdwError = dwError;
            return nullptr;
        }
        m_pContext = std::move(pContext);
    }
    *pdwError = ERROR_SUCCESS;
    return m_pContext.get();
}

QByteArray CSmbShareFileSystem::SmbUrl(const QString& sSharePath)
{
    QString sPath = sSharePath;
    if (sPath.startsWith(QLatin1String("\\\\?\\UNC\\"), Qt::CaseInsensitive))
        sPath = QLatin1String("\\\\") + sPath.mid(8);
    if (!sPath.startsWith(QLatin1String("\\\\")))
        return QByteArray();
    const QStringList parts = sPath.mid(2).split('\\', Qt::SkipEmptyParts);
    if (parts.size() < 2 || !IsPlainHost(parts[0]))
        return QByteArray();
    QByteArray url = "smb://" + parts[0].toLatin1();
    for (qsizetype i = 1; i < parts.size(); ++i) {
        if (parts[i] == QLatin1String(".") || parts[i] == QLatin1String(".."))
            return QByteArray();
        url += '/' + QUrl::toPercentEncoding(parts[i]);
    }
    return url;
}

DWORD CSmbShareFileSystem::ErrorFromSmbErrno(int nErrno)
{
    switch (nErrno) {
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EBUSY: return ERROR_SHARING_VIOLATION;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENODEV:
    case ENXIO: return ERROR_BAD_NET_NAME;
    case ETIMEDOUT: return ERROR_SEM_TIMEOUT;
    case ECONNRESET:
    case ENETRESET:
    case ECONNABORTED:
    case EPIPE:
    case ENOTCONN:
    case EIO: return ERROR_NETNAME_DELETED;
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENETUNREACH:
    case ENETDOWN: return ERROR_BAD_NETPATH;
    default: return ERROR_UNEXP_NET_ERR;
    }
}

CSmbShareFileSystem::CContext* CSmbShareFileSystem::Prepare(const QString& sPath, bool bHonourHold, QByteArray* pUrl,
                                                            DWORD* pdwError)
{
    *pUrl = SmbUrl(sPath);
    if (pUrl->isEmpty()) {
        *pdwError = HasDotStep(sPath) ? ERROR_INVALID_NAME : ERROR_BAD_NETPATH;
        return nullptr;
    }
    CContext* pContext = Context(pdwError);
    if (!pContext)
        return nullptr;
    const SServer server = ServerOf(*pUrl, m_config.nPort);
    if (bHonourHold && pContext->IsHeldOff(server, pdwError))
        return nullptr;
    pContext->DeleteLeftovers(server);
    if (bHonourHold && pContext->IsHeldOff(server, pdwError))
        return nullptr; // the server turned out to be gone
    return pContext;
}

bool CSmbShareFileSystem::PathExists(const QString& sPath)
{
    QByteArray url;
    DWORD dwError = ERROR_SUCCESS;
    CContext* pContext = Prepare(sPath, true, &url, &dwError);
    if (!pContext)
        return false;
    SMBCCTX* pCtx = pContext->Handle();
    struct stat st
    {
    };
    int nErrno = 0;
    return pContext->Call(ServerOf(url, m_config.nPort), &nErrno,
                          [&] { return smbc_getFunctionStat(pCtx)(pCtx, url.constData(), &st); }) == 0;
}

DWORD CSmbShareFileSystem::CreateFolder(const QString& sPath)
{
    QByteArray url;
    DWORD dwError = ERROR_SUCCESS;
    CContext* pContext = Prepare(sPath, true, &url, &dwError);
    if (!pContext)
        return dwError;
    SMBCCTX* pCtx = pContext->Handle();
    const SServer server = ServerOf(url, m_config.nPort);
    int nErrno = 0;
    struct stat st
    {
    };
    const auto stat = [&] { return smbc_getFunctionStat(pCtx)(pCtx, url.constData(), &st); };
    if (IsShareRootUrl(url)) {
        // A share cannot be made; it is there or the path is wrong.
        if (pContext->Call(server, &nErrno, stat) == 0)
            return ERROR_ALREADY_EXISTS;
        return nErrno == ENOENT ? ERROR_BAD_NET_NAME : ErrorFromSmbErrno(nErrno);
    }
    if (pContext->Call(server, &nErrno, [&] { return smbc_getFunctionMkdir(pCtx)(pCtx, url.constData(), 0777); }) == 0)
        return ERROR_SUCCESS;
    if (nErrno == ENOENT)
        return ERROR_PATH_NOT_FOUND;
    if (nErrno != EEXIST)
        return ErrorFromSmbErrno(nErrno);
    if (pContext->Call(server, &nErrno, stat) != 0)
        return ErrorFromSmbErrno(nErrno);
    return S_ISDIR(st.st_mode) ? ERROR_ALREADY_EXISTS : ERROR_ACCESS_DENIED; // a file is in the way
}

std::unique_ptr<IShareWriteFile> CSmbShareFileSystem::CreateFile(const QString& sPath, DWORD* pdwError)
{
    DWORD dwIgnored = ERROR_SUCCESS;
    DWORD& dwError = pdwError ? *pdwError : dwIgnored;
    QByteArray url;
    CContext* pContext = Prepare(sPath, true, &url, &dwError);
    if (!pContext)
        return nullptr;
    if (IsShareRootUrl(url)) {
        dwError = ERROR_ACCESS_DENIED; // the share itself is no file
        return nullptr;
    }
    SMBCCTX* pCtx = pContext->Handle();
    const SServer server = ServerOf(url, m_config.nPort);
    int nErrno = 0;
    SMBCFILE* pFile = pContext->Call(server, &nErrno, [&] {
        return smbc_getFunctionOpen(pCtx)(pCtx, url.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    });
    if (!pFile) {
        dwError = nErrno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromSmbErrno(nErrno);
        return nullptr;
    }
    // The file was created afresh: a partial file of the same name, remembered for deletion while
    // the server was gone, no longer exists, and deleting it later would delete this new file.
    ForgetLeftover(server, url);
    dwError = ERROR_SUCCESS;
    return std::make_unique<CSmbWriteFile>(m_pContext, pFile, server);
}

std::unique_ptr<IShareReadFile> CSmbShareFileSystem::OpenForRead(const QString& sPath, DWORD* pdwError)
{
    DWORD dwIgnored = ERROR_SUCCESS;
    DWORD& dwError = pdwError ? *pdwError : dwIgnored;
    QByteArray url;
    CContext* pContext = Prepare(sPath, true, &url, &dwError);
    if (!pContext)
        return nullptr;
    SMBCCTX* pCtx = pContext->Handle();
    const SServer server = ServerOf(url, m_config.nPort);
    int nErrno = 0;
    SMBCFILE* pFile =
        pContext->Call(server, &nErrno, [&] { return smbc_getFunctionOpen(pCtx)(pCtx, url.constData(), O_RDONLY, 0); });
    if (!pFile) {
        dwError = ErrorFromSmbErrno(nErrno);
        return nullptr;
    }
    dwError = ERROR_SUCCESS;
    return std::make_unique<CSmbReadFile>(m_pContext, pFile, server);
}

DWORD CSmbShareFileSystem::DeleteFile(const QString& sPath)
{
    // Deleting is how a partial file leaves the share, so it is tried even while the server is
    // held off; when the server is gone, the file is deleted as soon as it is back.
    const QByteArray urlToDelete = SmbUrl(sPath);
    if (!urlToDelete.isEmpty())
        ForgetLeftover(ServerOf(urlToDelete, m_config.nPort), urlToDelete);
    QByteArray url;
    DWORD dwError = ERROR_SUCCESS;
    CContext* pContext = Prepare(sPath, false, &url, &dwError);
    if (!pContext)
        return dwError;
    const SServer server = ServerOf(url, m_config.nPort);
    int nErrno = 0;
    if (pContext->Unlink(server, url, &nErrno) == 0)
        return ERROR_SUCCESS;
    if (IsUnreachableErrno(nErrno) || IsBrokenConnectionErrno(nErrno))
        RememberLeftover(server, url);
    return ErrorFromSmbErrno(nErrno);
}

DWORD CSmbShareFileSystem::Rename(const QString& sFrom, const QString& sTo)
{
    QByteArray fromUrl;
    DWORD dwError = ERROR_SUCCESS;
    CContext* pContext = Prepare(sFrom, true, &fromUrl, &dwError);
    if (!pContext)
        return dwError;
    const QByteArray toUrl = SmbUrl(sTo);
    const SServer server = ServerOf(fromUrl, m_config.nPort);
    if (toUrl.isEmpty() || ServerOf(toUrl, m_config.nPort).host != server.host)
        return ERROR_NOT_SAME_DEVICE;
    SMBCCTX* pCtx = pContext->Handle();
    int nErrno = 0;
    const auto rename = [&] {
        return smbc_getFunctionRename(pCtx)(pCtx, fromUrl.constData(), pCtx, toUrl.constData());
    };
    if (pContext->Call(server, &nErrno, rename) == 0)
        return ERROR_SUCCESS;
    if (nErrno == EEXIST) {
        // Some servers refuse to rename over an existing file: it goes first.
        pContext->Unlink(server, toUrl, &nErrno);
        if (pContext->Call(server, &nErrno, rename) == 0)
            return ERROR_SUCCESS;
    }
    return ErrorFromSmbErrno(nErrno);
}

DWORD CSmbShareFileSystem::ListFiles(const QString& sFolder, QStringList* pNames)
{
    pNames->clear();
    QByteArray url;
    DWORD dwError = ERROR_SUCCESS;
    CContext* pContext = Prepare(sFolder, true, &url, &dwError);
    if (!pContext)
        return dwError;
    SMBCCTX* pCtx = pContext->Handle();
    const SServer server = ServerOf(url, m_config.nPort);
    int nErrno = 0;
    SMBCFILE* pDir =
        pContext->Call(server, &nErrno, [&] { return smbc_getFunctionOpendir(pCtx)(pCtx, url.constData()); });
    if (!pDir)
        return nErrno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromSmbErrno(nErrno);
    for (;;) {
        const smbc_dirent* pEntry =
            pContext->Call(server, &nErrno, [&] { return smbc_getFunctionReaddir(pCtx)(pCtx, pDir); });
        if (!pEntry)
            break;
        if (pEntry->smbc_type == SMBC_FILE)
            pNames->append(QString::fromUtf8(static_cast<const char*>(pEntry->name))); // not name[1]
    }
    pContext->Call(server, &nErrno, [&] { return smbc_getFunctionClosedir(pCtx)(pCtx, pDir); });
    return ERROR_SUCCESS;
}

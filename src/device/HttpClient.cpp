#include "device/HttpClient.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#include <QFile>

#include <curl/curl.h>

#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "platform/TextCodec.h"

namespace {

constexpr DWORD kErrorInvalidHandle = 6; // no transfer handle to set a proxy on

std::atomic<int> g_nTimeLimitMs{kHttpTimeLimitMs};

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::int64_t SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The names of the three calls and their log texts.
struct SLogTexts
{
    const char* pszName;
    const char* pszSendFailed;
};

// How far one send got, as the transfer's callbacks observed it.
struct SHttpCall
{
    CURL* hCurl = nullptr;
    const char* pszName = "";
    bool bThroughProxy = false; // this send is a proxy attempt's resend
    std::int64_t nBodySize = 0; // bytes of our request body
    bool bHeaderOut = false;    // the request line and headers left
    std::int64_t nBodyOut = 0;  // request body bytes that left
    bool bRequestSent = false;  // the whole request left
    bool bHeadersDone = false;  // the final response header arrived
    std::int64_t nHeaderBytes = 0;
    std::int64_t nBodyBytes = 0; // response body bytes received
    bool bTooLarge = false;
    bool bFileFailed = false;
    // Destination: memory or file.
    std::string* pResponse = nullptr;
    std::string received; // collected here, handed over on success only
    QString sDest;
    int fd = -1;
    // Stall detection, and the end of the whole request.
    std::int64_t nDeadlineMs = 0;
    bool bPastDeadline = false;
    std::int64_t nLastActivityMs = 0;
    curl_off_t nLastDl = 0;
    curl_off_t nLastUl = 0;
    bool bStalled = false;
};

void Touch(SHttpCall& call)
{
    call.nLastActivityMs = SteadyMs();
}

void CheckRequestSent(SHttpCall& call)
{
    if (call.bRequestSent || !call.bHeaderOut || call.nBodyOut < call.nBodySize)
        return;
    call.bRequestSent = true;
    if (call.bThroughProxy)
        WriteLogF("%s: Set proxy WinHttpSendRequest is success.\n", call.pszName);
    WriteLogF("%s: WinHttpSendRequest send is success.\n", call.pszName);
}

// Tells when the request has actually left: the library reports what it wrote to the socket.
int DebugCallback(CURL*, curl_infotype type, char*, size_t nSize, void* pUser)
{
    SHttpCall& call = *static_cast<SHttpCall*>(pUser);
    if (type == CURLINFO_HEADER_OUT) {
        call.bHeaderOut = true;
        Touch(call);
        CheckRequestSent(call);
    } else if (type == CURLINFO_DATA_OUT) {
        call.nBodyOut += static_cast<std::int64_t>(nSize);
        Touch(call);
        CheckRequestSent(call);
    }
    return 0;
}

bool CreateDestination(SHttpCall& call)
{
    const QByteArray path = QFile::encodeName(call.sDest);
    call.fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (call.fd < 0) {
        WriteLogF("%s: cannot create %s (errno %d).\n", call.pszName, path.constData(), errno);
        return false;
    }
    return true;
}

size_t HeaderCallback(char* pData, size_t nSize, size_t nCount, void* pUser)
{
    SHttpCall& call = *static_cast<SHttpCall*>(pUser);
    const size_t nBytes = nSize * nCount;
    Touch(call);
    // The library keeps every header line; an endless header must not grow memory without end.
    call.nHeaderBytes += static_cast<std::int64_t>(nBytes);
    if (call.nHeaderBytes > kMaxHttpResponseBytes) {
        call.bTooLarge = true;
        return 0;
    }
    // A late answer to a request that was only partly reported as sent still counts as sent.
    if (!call.bRequestSent) {
        call.bHeaderOut = true;
        call.nBodyOut = call.nBodySize;
        CheckRequestSent(call);
    }
    const bool bBlankLine = (nBytes == 2 && pData[0] == '\r' && pData[1] == '\n') || (nBytes == 1 && pData[0] == '\n');
    if (!bBlankLine || call.bHeadersDone)
        return nBytes;
    long nStatus = 0;
    curl_easy_getinfo(call.hCurl, CURLINFO_RESPONSE_CODE, &nStatus);
    if (nStatus >= 100 && nStatus < 200)
        return nBytes; // an interim answer; the real one follows
    call.bHeadersDone = true;
    WriteLogF("%s: WinHttpReceiveResponse is success.\n", call.pszName);
    if (!call.sDest.isEmpty() && !CreateDestination(call)) {
        call.bFileFailed = true;
        return 0;
    }
    return nBytes;
}

bool WriteAllToFile(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t nDone = ::write(fd, p, n);
        if (nDone < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += nDone;
        n -= static_cast<size_t>(nDone);
    }
    return true;
}

size_t WriteCallback(char* pData, size_t nSize, size_t nCount, void* pUser)
{
    SHttpCall& call = *static_cast<SHttpCall*>(pUser);
    const size_t nBytes = nSize * nCount;
    Touch(call);
    call.nBodyBytes += static_cast<std::int64_t>(nBytes);
    if (call.nBodyBytes > kMaxHttpResponseBytes) {
        call.bTooLarge = true;
        return 0;
    }
    if (call.fd >= 0) {
        // At most one block per write, exactly the bytes read.
        for (size_t nDone = 0; nDone < nBytes;) {
            const size_t nBlock = std::min(nBytes - nDone, static_cast<size_t>(kHttpFileBlockBytes));
            if (!WriteAllToFile(call.fd, pData + nDone, nBlock)) {
                WriteLogF("%s: writing the file failed (errno %d).\n", call.pszName, errno);
                call.bFileFailed = true;
                return 0;
            }
            nDone += nBlock;
        }
        return nBytes;
    }
    // Each block counts up to its first zero byte.
    const void* pZero = std::memchr(pData, 0, nBytes);
    const size_t nText = pZero ? static_cast<size_t>(static_cast<const char*>(pZero) - pData) : nBytes;
    call.received.append(pData, nText);
    return nBytes;
}

// Ends the transfer when nothing moved for the time limit: connecting, sending or waiting for
// the answer and each block of it.
int ProgressCallback(void* pUser, curl_off_t, curl_off_t nDlNow, curl_off_t, curl_off_t nUlNow)
{
    SHttpCall& call = *static_cast<SHttpCall*>(pUser);
    if (nDlNow != call.nLastDl || nUlNow != call.nLastUl) {
        call.nLastDl = nDlNow;
        call.nLastUl = nUlNow;
        Touch(call);
    }
    const std::int64_t nNowMs = SteadyMs();
    if (nNowMs - call.nLastActivityMs > g_nTimeLimitMs.load()) {
        call.bStalled = true;
        return 1;
    }
    if (nNowMs > call.nDeadlineMs) {
        call.bPastDeadline = true;
        return 1;
    }
    return 0;
}

// One request: the URL and what it carries, set up once and sent up to four times.
class CHttpRequest
{
public:
    CHttpRequest(const char* pszName, const QString& sSource, const QString& sVerb, std::string body)
        : m_pszName(pszName), m_body(std::move(body)),
          m_nDeadlineMs(SteadyMs() + static_cast<std::int64_t>(g_nTimeLimitMs.load()) * kHttpTotalLimitFactor)
    {
        InitCurlOnce();
        SUrlParts parts;
        if (!CrackUrl(sSource, &parts))
            return; // no request to send: every attempt fails
        m_hCurl = curl_easy_init();
        if (!m_hCurl)
            return;
        QString sHost = parts.sHost;
        if (sHost.contains(':') && !sHost.startsWith('['))
            sHost = "[" + sHost + "]";
        // Always plain HTTP to the URL's host and port.
        m_url = ToUtf8("http://" + sHost + ":" + QString::number(parts.nPort) + parts.sPath);
        m_verb = ToUtf8(sVerb);
        // No header of ours: drop the library's defaults that HTTP does not need.
        for (const char* pszHeader : {"Accept:", "Content-Type:", "Expect:", "Proxy-Connection:"})
            m_pHeaders = curl_slist_append(m_pHeaders, pszHeader);
        const long nLimit = g_nTimeLimitMs.load();
        curl_easy_setopt(m_hCurl, CURLOPT_URL, m_url.constData());
        curl_easy_setopt(m_hCurl, CURLOPT_PROTOCOLS_STR, "http");
        curl_easy_setopt(m_hCurl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(m_hCurl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(m_hCurl, CURLOPT_CUSTOMREQUEST, m_verb.constData());
        curl_easy_setopt(m_hCurl, CURLOPT_POST, 1L);
        curl_easy_setopt(m_hCurl, CURLOPT_POSTFIELDS, m_body.data());
        curl_easy_setopt(m_hCurl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_body.size()));
        curl_easy_setopt(m_hCurl, CURLOPT_HTTPHEADER, m_pHeaders);
        curl_easy_setopt(m_hCurl, CURLOPT_USERAGENT, kHttpUserAgent);
        curl_easy_setopt(m_hCurl, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(m_hCurl, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(m_hCurl, CURLOPT_BUFFERSIZE, static_cast<long>(kHttpFileBlockBytes));
        curl_easy_setopt(m_hCurl, CURLOPT_CONNECTTIMEOUT_MS, nLimit);
        // The first send goes straight to the host: an empty proxy also keeps the library from
        // taking one from the environment.
        curl_easy_setopt(m_hCurl, CURLOPT_PROXY, "");
        curl_easy_setopt(m_hCurl, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(m_hCurl, CURLOPT_DEBUGFUNCTION, DebugCallback);
        curl_easy_setopt(m_hCurl, CURLOPT_HEADERFUNCTION, HeaderCallback);
        curl_easy_setopt(m_hCurl, CURLOPT_WRITEFUNCTION, WriteCallback);
        curl_easy_setopt(m_hCurl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(m_hCurl, CURLOPT_XFERINFOFUNCTION, ProgressCallback);
    }
    ~CHttpRequest()
    {
        if (m_hCurl)
            curl_easy_cleanup(m_hCurl);
        curl_slist_free_all(m_pHeaders);
    }
    CHttpRequest(const CHttpRequest&) = delete;
    CHttpRequest& operator=(const CHttpRequest&) = delete;

    CURL* Handle() const { return m_hCurl; }

    // Sends the request and, once it is out, takes the whole answer. The call state tells how far
    // it got.
    CURLcode Send(SHttpCall& call, bool bThroughProxy, std::string* pResponse, const QString& sDest)
    {
        call = SHttpCall();
        call.hCurl = m_hCurl;
        call.pszName = m_pszName;
        call.bThroughProxy = bThroughProxy;
        call.nBodySize = static_cast<std::int64_t>(m_body.size());
        call.pResponse = pResponse;
        call.sDest = sDest;
        call.nDeadlineMs = m_nDeadlineMs;
        if (!m_hCurl)
            return CURLE_FAILED_INIT;
        if (SteadyMs() >= m_nDeadlineMs) {
            call.bPastDeadline = true;
            return CURLE_OPERATION_TIMEDOUT;
        }
        Touch(call);
        curl_easy_setopt(m_hCurl, CURLOPT_DEBUGDATA, &call);
        curl_easy_setopt(m_hCurl, CURLOPT_HEADERDATA, &call);
        curl_easy_setopt(m_hCurl, CURLOPT_WRITEDATA, &call);
        curl_easy_setopt(m_hCurl, CURLOPT_XFERINFODATA, &call);
        return curl_easy_perform(m_hCurl);
    }

private:
    const char* m_pszName;
    std::string m_body;
    std::int64_t m_nDeadlineMs; // steady clock: the whole request ends here
    QByteArray m_url;
    QByteArray m_verb;
    CURL* m_hCurl = nullptr;
    curl_slist* m_pHeaders = nullptr;
};

void CloseDestination(SHttpCall& call, bool bKeep)
{
    if (call.fd < 0)
        return;
    const bool bClosed = ::close(call.fd) == 0;
    call.fd = -1;
    if (!bClosed && bKeep) {
        WriteLogF("%s: closing the file failed (errno %d).\n", call.pszName, errno);
        bKeep = false;
    }
    if (!bKeep)
        ::unlink(QFile::encodeName(call.sDest).constData());
}

// The request sequence shared by the three calls.
int RunRequest(const char* pszName, const char* pszSendFailed, const QString& sSource, const QString& sVerb,
               std::string body, std::string* pResponse, const QString& sDest, long* pnStatus = nullptr)
{
    CHttpRequest request(pszName, sSource, sVerb, std::move(body));
    SHttpCall call;
    CURLcode rc = request.Send(call, false, pResponse, sDest);
    if (!call.bRequestSent) {
        WriteLog(QString::fromLatin1(pszSendFailed));
        for (int flagToProxy = 1; flagToProxy <= 3; ++flagToProxy) {
            WriteLogF("%s: flagToProxy count is %d.\n", pszName, flagToProxy);
            if (DealWithProxy(sSource, flagToProxy, request.Handle()) == 0) {
                WriteLogF("%s: DealWithProxy is success.\n", pszName);
                rc = request.Send(call, true, pResponse, sDest);
            }
            if (call.bRequestSent)
                break;
        }
        if (!call.bRequestSent) {
            CloseDestination(call, false);
            return 1;
        }
    }
    if (rc != CURLE_OK || !call.bHeadersDone) {
        const char* pszWhy = call.bStalled        ? "no data within the time limit"
                             : call.bPastDeadline ? "the request took longer than its total time limit"
                                                  : curl_easy_strerror(rc);
        if (call.bTooLarge)
            WriteLogF("%s: the response exceeds %lld bytes and is dropped.\n", pszName,
                      static_cast<long long>(kMaxHttpResponseBytes));
        else if (!call.bHeadersDone)
            WriteLogF("%s: no response received (%s).\n", pszName, pszWhy);
        else if (!call.bFileFailed)
            WriteLogF("%s: the response broke off (%s).\n", pszName, pszWhy);
        CloseDestination(call, false);
        return 1;
    }
    if (call.fd >= 0) {
        CloseDestination(call, true);
        if (!QFile::exists(sDest))
            return 1;
    }
    if (pResponse)
        pResponse->append(call.received);
    if (pnStatus)
        curl_easy_getinfo(request.Handle(), CURLINFO_RESPONSE_CODE, pnStatus);
    return 0;
}

QString EnvironmentValue(const char* pszLower, const char* pszUpper)
{
    QString sValue = qEnvironmentVariable(pszLower);
    if (sValue.isEmpty())
        sValue = qEnvironmentVariable(pszUpper);
    return sValue.trimmed();
}

} // namespace

int GetHttpData(const QString& sSource, std::string& strResponse, long* pnStatus)
{
    WriteLog("Enter GetHttpData.\n");
    WriteLogF("GetHttpData: Param sSource is %s, strMethod is %s.\n", ToUtf8(sSource).constData(), "Get");
    // The body is the URL text in the locale's character set, one byte per character of the URL.
    const QByteArray urlBytes = ToLocaleCharset(sSource).left(sSource.size());
    return RunRequest("GetHttpData", ".\n GetHttpData: WinHttpSendRequest is send failed.\n", sSource, "Get",
                      urlBytes.toStdString(), &strResponse, QString(), pnStatus);
}

int GetHttpDataByPostData(std::string strPostData, const QString& sSource, const QString& strMethod,
                          std::string& strResponse)
{
    WriteLog("Enter GetHttpDataByPostData.\n");
    WriteLogF("GetHttpDataByPostData: Param sSource is %s, strMethod is %s .\n", ToUtf8(sSource).constData(),
              ToUtf8(strMethod).constData());
    return RunRequest("GetHttpDataByPostData", "GetHttpDataByPostData: WinHttpSendRequest is send failed.\n", sSource,
                      strMethod, std::move(strPostData), &strResponse, QString());
}

int GetIconDataByHttp(const QString& sSource, const QString& sDest)
{
    WriteLog("Enter GetIconDataByHttp.\n");
    WriteLogF("GetIconDataByHttp: Param sSource is %s, strMethod is %s, sDest is %s.\n", ToUtf8(sSource).constData(),
              "Get", ToUtf8(sDest).constData());
    if (sDest.isEmpty()) {
        WriteLog("GetIconDataByHttp: no destination file.\n");
        return 1;
    }
    const QByteArray urlBytes = ToLocaleCharset(sSource).left(sSource.size());
    return RunRequest("GetIconDataByHttp", "GetIconDataByHttp: WinHttpSendRequest is send failed.\n", sSource, "Get",
                      urlBytes.toStdString(), nullptr, sDest);
}

SProxyConfig CurrentUserProxyConfig()
{
    SProxyConfig config;
    config.sProxy = EnvironmentValue("http_proxy", "HTTP_PROXY");
    config.sBypass = EnvironmentValue("no_proxy", "NO_PROXY");
    return config;
}

DWORD DealWithProxy(const QString& sSource, int flagToProxy, CURL* hRequest)
{
    Q_UNUSED(sSource);
    const SProxyConfig config = CurrentUserProxyConfig();
    switch (flagToProxy) {
    case 1: {
        if (config.sProxy.isEmpty())
            return 1;
        if (!hRequest)
            return kErrorInvalidHandle;
        const QByteArray proxy = ToUtf8(config.sProxy);
        const QByteArray bypass = ToUtf8(config.sBypass);
        CURLcode rc = curl_easy_setopt(hRequest, CURLOPT_PROXY, proxy.constData());
        if (rc == CURLE_OK)
            rc = curl_easy_setopt(hRequest, CURLOPT_NOPROXY, bypass.isEmpty() ? nullptr : bypass.constData());
        return rc == CURLE_OK ? 0 : static_cast<DWORD>(rc);
    }
    case 2:
        // A proxy-configuration script: none is ever configured here (see SProxyConfig).
        return config.sAutoConfigUrl.isEmpty() ? 1 : static_cast<DWORD>(CURLE_NOT_BUILT_IN);
    case 3:
        // Automatic detection: the same.
        return config.bAutoDetect ? static_cast<DWORD>(CURLE_NOT_BUILT_IN) : 1;
    default: return 1;
    }
}

int DoCopy(const QString& sUrl, const QString& sFile)
{
    WriteLog("Enter DoCopy.\n");
    return GetIconDataByHttp(sUrl, sFile);
}

void SetHttpTimeLimitMs(int nMs)
{
    g_nTimeLimitMs.store(nMs > 0 ? nMs : kHttpTimeLimitMs);
}

int HttpTimeLimitMs()
{
    return g_nTimeLimitMs.load();
}

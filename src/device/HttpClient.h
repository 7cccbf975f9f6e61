#pragma once

#include <cstdint>
#include <string>

#include <QString>

#include "platform/WinTypes.h"

// The program's HTTP client: everything it says to a player over HTTP goes through the three
// blocking calls below. Each call uses a fresh transfer handle of its own, keeps no state between
// calls and may run on any thread. Requests carry no header of ours beyond what HTTP needs
// (Host, Content-Length) and the fixed user agent; every request is plain HTTP to the URL's host
// and port, whatever its scheme. Any HTTP status counts as an answer. When the request cannot be
// sent directly, it is sent again through the user's proxy settings, tried in three ways
// (DealWithProxy). Results: 0 = success, 1 = failure; the details go to the diagnostic log.

// The handle type of the transfer library (a plain opaque handle there as well).
typedef void CURL;

// Largest answer the client accepts, in memory or into a file: device descriptions, web API
// answers and icons are all far smaller. A bigger or endless answer fails (result 1).
inline constexpr std::int64_t kMaxHttpResponseBytes = 1048576;
// The largest block written to a file in one go.
inline constexpr int kHttpFileBlockBytes = 10240;
// Default limit for name resolution plus connect, for sending, and for every wait for data.
inline constexpr int kHttpTimeLimitMs = 10000;
// A whole request (its proxy attempts included) ends after this many of those limits, however
// steadily the answer trickles in: a player sending a byte now and then would otherwise hold the
// calling thread, and the program's shutdown, for as long as it likes. A description or web API
// answer on the local network takes well under a second.
inline constexpr int kHttpTotalLimitFactor = 3;
inline constexpr const char* kHttpUserAgent = "WinHttp.WinHttpRequest.5.1";

// Sends "Get" with the URL text as body, straight to the host (no proxy on the first try), and
// appends the answer to strResponse. Each block of the answer contributes its bytes up to its
// first zero byte, so the result is text. On failure strResponse is left as it was. pnStatus,
// when given, gets the answer's HTTP status on success (for telling the user what a player did).
int GetHttpData(const QString& sSource, std::string& strResponse, long* pnStatus = nullptr);
// Sends strPostData byte for byte with the verb strMethod and appends the answer (zero-byte rule
// as above). On failure strResponse is left as it was.
int GetHttpDataByPostData(std::string strPostData, const QString& sSource, const QString& strMethod,
                          std::string& strResponse);
// Sends "Get" with the URL text as body and writes the answer's body into sDest (created or
// replaced only once the answer's header has arrived; no file is created when nothing answers).
// A download that breaks off leaves no file behind.
int GetIconDataByHttp(const QString& sSource, const QString& sDest);

// Sets a proxy of the user's configuration on the transfer handle for the next send.
// flagToProxy: 1 = the fixed proxy (http_proxy / HTTP_PROXY, bypass list no_proxy / NO_PROXY),
// 2 = a proxy-configuration script, 3 = automatic proxy detection. Returns 0 when a proxy was set,
// 1 when that kind of proxy is not configured (or flagToProxy is out of range), otherwise an
// error code.
DWORD DealWithProxy(const QString& sSource, int flagToProxy, CURL* hRequest);

// The user's proxy configuration as the three proxy attempts read it. This platform keeps a
// fixed proxy in the environment; it has no per-user proxy-script or automatic-detection setting
// that the client could evaluate, so sAutoConfigUrl stays empty and bAutoDetect false.
struct SProxyConfig
{
    bool bAutoDetect = false;
    QString sAutoConfigUrl;
    QString sProxy;  // e.g. "http://proxy:3128" or "proxy:3128"; empty when none
    QString sBypass; // comma-separated host list, "*" for all
};
SProxyConfig CurrentUserProxyConfig();

// Downloads a URL into a file (the device pictures): logs "Enter DoCopy." and returns the result
// of GetIconDataByHttp.
int DoCopy(const QString& sUrl, const QString& sFile);

// Changes the 10-second limits (and with them the total limit) for the whole process; tests use
// it to see a stalled answer fail without waiting ten seconds. nMs <= 0 restores the default.
void SetHttpTimeLimitMs(int nMs);
int HttpTimeLimitMs();

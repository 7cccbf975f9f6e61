#include <chrono>
#include <set>

#include <gtest/gtest.h>

#include <QFile>

#include "device/HttpClient.h"
#include "support/TestHome.h"
#include "support/TinyHttpServer.h"
#include "unit/device_http/DeviceHttpTestUtil.h"

namespace {

using CConnection = CTinyHttpServer::CConnection;
using SRequest = CTinyHttpServer::SRequest;

class HttpClientTest : public ::testing::Test
{
protected:
    void SetUp() override { m_home.EnableLog(); }
    void TearDown() override { SetHttpTimeLimitMs(0); }

    // Messages logged since the test began that contain the text.
    QStringList LogLinesWith(const QString& sText) const { return LogMessages(m_home).filter(sText); }

    CTestHome m_home;
    SNoProxyEnv m_noProxy;
};

std::set<QByteArray> HeaderNames(const SRequest& request)
{
    std::set<QByteArray> names;
    for (const auto& header : request.headers)
        names.insert(header.first.toLower());
    return names;
}

TEST_F(HttpClientTest, GetSendsMixedCaseVerbWithTheUrlAsBodyAndNoHeaderOfOurOwn)
{
    CTinyHttpServer server([](const SRequest&, CConnection& c) { c.Send(CTinyHttpServer::Response(200, "<root/>")); });
    const QString sUrl = server.Url("/tolva.xml");
    std::string strResponse = "kept:";
    ASSERT_EQ(GetHttpData(sUrl, strResponse), 0);
    EXPECT_EQ(strResponse, "kept:<root/>");

    ASSERT_EQ(server.RequestCount(), 1);
    const SRequest request = server.Requests().front();
    EXPECT_EQ(request.method, "Get");
    EXPECT_EQ(request.target, "/tolva.xml");
    EXPECT_EQ(request.version, "HTTP/1.1");
    EXPECT_EQ(request.body, sUrl.toLatin1());
    EXPECT_EQ(request.Header("Content-Length"), QByteArray::number(sUrl.size()));
    EXPECT_EQ(request.Header("User-Agent"), "WinHttp.WinHttpRequest.5.1");
    EXPECT_EQ(HeaderNames(request), (std::set<QByteArray>{"host", "user-agent", "content-length"}));

    const QStringList expected = {"Enter GetHttpData.", "GetHttpData: Param sSource is " + sUrl + ", strMethod is Get.",
                                  "GetHttpData: WinHttpSendRequest send is success.",
                                  "GetHttpData: WinHttpReceiveResponse is success."};
    EXPECT_EQ(LogMessages(m_home), expected);
}

TEST_F(HttpClientTest, PostSendsTheBodyByteForByteWithTheCallersVerb)
{
    CTinyHttpServer server([](const SRequest&, CConnection& c) { c.Send(CTinyHttpServer::Response(200, "{}")); });
    const std::string body("{\"a\":1}\0\xff\r\n tail", 15);
    std::string strResponse;
    ASSERT_EQ(GetHttpDataByPostData(body, server.Url("/api/system"), "POST", strResponse), 0);
    EXPECT_EQ(strResponse, "{}");
    const SRequest request = server.Requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/api/system");
    EXPECT_EQ(request.body, QByteArray(body.data(), static_cast<qsizetype>(body.size())));
    EXPECT_EQ(HeaderNames(request), (std::set<QByteArray>{"host", "user-agent", "content-length"}));
    EXPECT_EQ(LogLinesWith("Param").value(0),
              "GetHttpDataByPostData: Param sSource is " + server.Url("/api/system") + ", strMethod is POST .");
}

TEST_F(HttpClientTest, AnyHttpStatusIsAnAnswerAndAnyUrlSchemeGoesAsPlainHttp)
{
    int nStatus = 404;
    CTinyHttpServer server([&](const SRequest&, CConnection& c) {
        c.Send(CTinyHttpServer::Response(nStatus, "error page " + QByteArray::number(nStatus)));
    });
    std::string strResponse;
    EXPECT_EQ(GetHttpData(server.Url("/missing"), strResponse), 0);
    EXPECT_EQ(strResponse, "error page 404");
    nStatus = 500;
    strResponse.clear();
    EXPECT_EQ(GetHttpDataByPostData("x", server.Url("/api/system"), "POST", strResponse), 0);
    EXPECT_EQ(strResponse, "error page 500");

    // An https URL still goes to its host and port in plain HTTP.
    QString sHttps = server.Url("/x");
    sHttps.replace("http://", "https://");
    strResponse.clear();
    EXPECT_EQ(GetHttpData(sHttps, strResponse), 0);
    EXPECT_EQ(server.Requests().back().body, sHttps.toLatin1());
}

TEST_F(HttpClientTest, AZeroByteEndsOnlyItsOwnBlockOfTheAnswer)
{
    CTinyHttpServer server([](const SRequest&, CConnection& c) {
        c.Send(CTinyHttpServer::ChunkedHead(200));
        c.SendChunk(QByteArray("abc\0def", 7));
        c.SendChunk("ghi");
        c.SendChunk(QByteArray("\0lost", 5));
        c.SendChunk("jkl");
        c.SendChunk(QByteArray());
    });
    std::string strResponse;
    ASSERT_EQ(GetHttpData(server.Url("/z"), strResponse), 0);
    EXPECT_EQ(strResponse, "abcghijkl");
}

TEST_F(HttpClientTest, IconIsWrittenWholeInBlocksAfterTheHeaderArrived)
{
    QByteArray icon;
    for (int i = 0; i < 100000; ++i)
        icon.append(static_cast<char>((i * 7919) % 251));
    CTinyHttpServer server([&](const SRequest&, CConnection& c) {
        c.Send(CTinyHttpServer::ChunkedHead(200));
        for (qsizetype n = 0; n < icon.size(); n += 30000)
            c.SendChunk(icon.mid(n, 30000));
        c.SendChunk(QByteArray());
    });
    const QString sDest = m_home.Path("icon.jpg");
    ASSERT_EQ(GetIconDataByHttp(server.Url("/icons/a.jpg"), sDest), 0);
    EXPECT_EQ(ReadTestFile(sDest), icon);
    const SRequest request = server.Requests().front();
    EXPECT_EQ(request.method, "Get");
    EXPECT_EQ(request.body, server.Url("/icons/a.jpg").toLatin1());
    EXPECT_EQ(LogLinesWith("Param").value(0), "GetIconDataByHttp: Param sSource is " + server.Url("/icons/a.jpg") +
                                                  ", strMethod is Get, sDest is " + sDest + ".");

    // An empty body still gives a (now empty) file; an existing one is replaced.
    server.SetHandler([](const SRequest&, CConnection& c) { c.Send(CTinyHttpServer::Response(404, "")); });
    ASSERT_EQ(DoCopy(server.Url("/gone.jpg"), sDest), 0);
    EXPECT_TRUE(QFile::exists(sDest));
    EXPECT_EQ(ReadTestFile(sDest), QByteArray());
    EXPECT_EQ(LogLinesWith("Enter DoCopy.").size(), 1);
}

TEST_F(HttpClientTest, NoFileWhenTheRequestCannotBeSentOrNothingAnswers)
{
    const QString sDest = m_home.Path("icon.jpg");
    EXPECT_EQ(GetIconDataByHttp("http://127.0.0.1:" + QString::number(UnusedPort()) + "/a.jpg", sDest), 1);
    EXPECT_FALSE(QFile::exists(sDest));

    // The server reads the request and closes without a word.
    CTinyHttpServer server([](const SRequest&, CConnection&) {});
    EXPECT_EQ(GetIconDataByHttp(server.Url("/a.jpg"), sDest), 1);
    EXPECT_FALSE(QFile::exists(sDest));
    EXPECT_EQ(server.RequestCount(), 1);

    // A body that breaks off leaves no half picture behind.
    server.SetHandler([](const SRequest&, CConnection& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + QByteArray(1000, 'x'));
    });
    EXPECT_EQ(GetIconDataByHttp(server.Url("/a.jpg"), sDest), 1);
    EXPECT_FALSE(QFile::exists(sDest));
    EXPECT_EQ(LogLinesWith("GetIconDataByHttp: the response broke off").size(), 1);

    // A destination that cannot be created fails after the answer arrived.
    server.SetHandler([](const SRequest&, CConnection& c) { c.Send(CTinyHttpServer::Response(200, "img")); });
    EXPECT_EQ(GetIconDataByHttp(server.Url("/a.jpg"), m_home.Path("no/such/folder/a.jpg")), 1);
    EXPECT_EQ(LogLinesWith("GetIconDataByHttp: cannot create").size(), 1);
}

TEST_F(HttpClientTest, OversizedAndEndlessAnswersFailWithoutGrowingWithoutBound)
{
    const QByteArray big(kMaxHttpResponseBytes + 1, 'a');
    CTinyHttpServer server([&](const SRequest& request, CConnection& c) {
        if (request.target == "/big") {
            c.Send(CTinyHttpServer::Response(200, big));
            return;
        }
        if (request.target == "/headers") {
            c.Send("HTTP/1.1 200 OK\r\n");
            const QByteArray line = "X-Filler: " + QByteArray(1000, 'h') + "\r\n";
            while (c.Send(line)) {
            }
            return;
        }
        // Endless: chunks until the client gives up.
        c.Send(CTinyHttpServer::ChunkedHead(200));
        const QByteArray chunk(8192, 'e');
        while (c.SendChunk(chunk)) {
        }
    });
    std::string strResponse = "before";
    EXPECT_EQ(GetHttpData(server.Url("/big"), strResponse), 1);
    EXPECT_EQ(strResponse, "before");
    EXPECT_EQ(GetHttpDataByPostData("q", server.Url("/endless"), "POST", strResponse), 1);
    EXPECT_EQ(strResponse, "before");
    const QString sDest = m_home.Path("icon.jpg");
    EXPECT_EQ(GetIconDataByHttp(server.Url("/endless"), sDest), 1);
    EXPECT_FALSE(QFile::exists(sDest));
    // Endless headers: the transfer library's own header bound or ours ends them.
    EXPECT_EQ(GetHttpData(server.Url("/headers"), strResponse), 1);
    EXPECT_EQ(strResponse, "before");
    EXPECT_EQ(LogLinesWith("the response exceeds 1048576 bytes and is dropped.").size(), 3);

    // Exactly at the bound is still fine.
    server.SetHandler([&](const SRequest&, CConnection& c) {
        c.Send(CTinyHttpServer::Response(200, big.left(kMaxHttpResponseBytes)));
    });
    strResponse.clear();
    EXPECT_EQ(GetHttpData(server.Url("/edge"), strResponse), 0);
    EXPECT_EQ(strResponse.size(), static_cast<size_t>(kMaxHttpResponseBytes));
}

TEST_F(HttpClientTest, FailedSendTriesTheThreeProxyKindsAndEndsWithOne)
{
    const QString sUrl = "http://127.0.0.1:" + QString::number(UnusedPort()) + "/tolva.xml";
    std::string strResponse;
    EXPECT_EQ(GetHttpData(sUrl, strResponse), 1);
    EXPECT_EQ(GetHttpDataByPostData("{}", sUrl, "POST", strResponse), 1);
    EXPECT_EQ(GetIconDataByHttp(sUrl, m_home.Path("i.jpg")), 1);
    EXPECT_TRUE(strResponse.empty());

    const QStringList expected = {
        "Enter GetHttpData.",
        "GetHttpData: Param sSource is " + sUrl + ", strMethod is Get.",
        ".",
        " GetHttpData: WinHttpSendRequest is send failed.",
        "GetHttpData: flagToProxy count is 1.",
        "GetHttpData: flagToProxy count is 2.",
        "GetHttpData: flagToProxy count is 3.",
        "Enter GetHttpDataByPostData.",
        "GetHttpDataByPostData: Param sSource is " + sUrl + ", strMethod is POST .",
        "GetHttpDataByPostData: WinHttpSendRequest is send failed.",
        "GetHttpDataByPostData: flagToProxy count is 1.",
        "GetHttpDataByPostData: flagToProxy count is 2.",
        "GetHttpDataByPostData: flagToProxy count is 3.",
        "Enter GetIconDataByHttp.",
        "GetIconDataByHttp: Param sSource is " + sUrl + ", strMethod is Get, sDest is " + m_home.Path("i.jpg") + ".",
        "GetIconDataByHttp: WinHttpSendRequest is send failed.",
        "GetIconDataByHttp: flagToProxy count is 1.",
        "GetIconDataByHttp: flagToProxy count is 2.",
        "GetIconDataByHttp: flagToProxy count is 3.",
    };
    EXPECT_EQ(LogMessages(m_home), expected);

    // The three kinds report "not configured" one by one, and anything else is not a kind.
    for (int nFlag : {1, 2, 3, 0, 4})
        EXPECT_EQ(DealWithProxy(sUrl, nFlag, nullptr), 1u) << nFlag;
}

TEST_F(HttpClientTest, TheUsersFixedProxyCarriesTheRequestWhenTheDirectSendFails)
{
    CTinyHttpServer proxy([](const SRequest&, CConnection& c) { c.Send(CTinyHttpServer::Response(200, "via proxy")); });
    CScopedEnv env("http_proxy", "http://127.0.0.1:" + QByteArray::number(proxy.Port()));
    const QString sUrl = "http://127.0.0.1:" + QString::number(UnusedPort()) + "/tolva.xml";
    std::string strResponse;
    ASSERT_EQ(GetHttpData(sUrl, strResponse), 0);
    EXPECT_EQ(strResponse, "via proxy");
    ASSERT_EQ(proxy.RequestCount(), 1);
    const SRequest request = proxy.Requests().front();
    EXPECT_EQ(request.method, "Get");
    EXPECT_EQ(request.target, sUrl.toLatin1());
    EXPECT_EQ(request.body, sUrl.toLatin1());
    EXPECT_EQ(HeaderNames(request), (std::set<QByteArray>{"host", "user-agent", "content-length"}));

    const QStringList expected = {"Enter GetHttpData.",
                                  "GetHttpData: Param sSource is " + sUrl + ", strMethod is Get.",
                                  ".",
                                  " GetHttpData: WinHttpSendRequest is send failed.",
                                  "GetHttpData: flagToProxy count is 1.",
                                  "GetHttpData: DealWithProxy is success.",
                                  "GetHttpData: Set proxy WinHttpSendRequest is success.",
                                  "GetHttpData: WinHttpSendRequest send is success.",
                                  "GetHttpData: WinHttpReceiveResponse is success."};
    EXPECT_EQ(LogMessages(m_home), expected);
    // A URL that cannot be split has no request to put a proxy on.
    EXPECT_EQ(DealWithProxy("no url", 1, nullptr), 6u);
}

TEST_F(HttpClientTest, DirectSendIgnoresTheEnvironmentProxyAndTheBypassListIsHonoured)
{
    CTinyHttpServer proxy([](const SRequest&, CConnection& c) { c.Send(CTinyHttpServer::Response(200, "proxy")); });
    CTinyHttpServer player([](const SRequest&, CConnection& c) { c.Send(CTinyHttpServer::Response(200, "player")); });
    CScopedEnv env("HTTP_PROXY", "127.0.0.1:" + QByteArray::number(proxy.Port()));
    std::string strResponse;
    ASSERT_EQ(GetHttpData(player.Url("/tolva.xml"), strResponse), 0);
    EXPECT_EQ(strResponse, "player");
    strResponse.clear();
    ASSERT_EQ(GetHttpDataByPostData("{}", player.Url("/api/system"), "POST", strResponse), 0);
    EXPECT_EQ(strResponse, "player");
    EXPECT_EQ(proxy.RequestCount(), 0);

    // The proxy is set, but the address is on the bypass list: the resend goes direct and fails.
    CScopedEnv bypass("no_proxy", "localhost,127.0.0.1");
    const QString sUrl = "http://127.0.0.1:" + QString::number(UnusedPort()) + "/x";
    EXPECT_EQ(GetHttpData(sUrl, strResponse), 1);
    EXPECT_EQ(proxy.RequestCount(), 0);
    EXPECT_EQ(LogLinesWith("GetHttpData: DealWithProxy is success.").size(), 1);
    EXPECT_EQ(LogLinesWith("GetHttpData: flagToProxy count is 3.").size(), 1);
}

TEST_F(HttpClientTest, UnsplittableUrlFailsThroughAllProxyAttempts)
{
    CTinyHttpServer proxy;
    CScopedEnv env("http_proxy", "http://127.0.0.1:" + QByteArray::number(proxy.Port()));
    std::string strResponse;
    for (const QString& sUrl :
         {QString("not a url"), QString(), QString("ftp://127.0.0.1/x"), "http://127.0.0.1/" + QString(300, 'p')}) {
        EXPECT_EQ(GetHttpData(sUrl, strResponse), 1) << sUrl.toStdString();
    }
    EXPECT_EQ(proxy.RequestCount(), 0);
    EXPECT_EQ(LogLinesWith("flagToProxy count is 3.").size(), 4);
    EXPECT_TRUE(LogLinesWith("DealWithProxy is success").isEmpty());
}

TEST_F(HttpClientTest, StalledAnswersHitTheTimeLimit)
{
    SetHttpTimeLimitMs(300);
    CTinyHttpServer server([](const SRequest& request, CConnection& c) {
        if (request.target == "/partial") {
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nhalf");
        }
        c.WaitForClose();
    });
    const auto start = std::chrono::steady_clock::now();
    std::string strResponse;
    EXPECT_EQ(GetHttpData(server.Url("/silent"), strResponse), 1);
    EXPECT_EQ(GetHttpDataByPostData("{}", server.Url("/partial"), "POST", strResponse), 1);
    EXPECT_TRUE(strResponse.empty());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(6));
    EXPECT_EQ(LogLinesWith("GetHttpData: no response received (no data within the time limit).").size(), 1);
    EXPECT_EQ(LogLinesWith("GetHttpDataByPostData: the response broke off (no data within the time limit).").size(), 1);
    // The request itself went out and was answered late: no proxy attempt for it.
    EXPECT_TRUE(LogLinesWith("flagToProxy").isEmpty());
    EXPECT_EQ(HttpTimeLimitMs(), 300);
    SetHttpTimeLimitMs(0);
    EXPECT_EQ(HttpTimeLimitMs(), 10000);
}

// A byte now and then keeps every wait for data short, but the whole request still ends.
TEST_F(HttpClientTest, TricklingAnswerEndsAtTheTotalLimit)
{
    SetHttpTimeLimitMs(300);
    CTinyHttpServer server([](const SRequest&, CConnection& c) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 200\r\n\r\n");
        for (int i = 0; i < 200 && c.Send("x"); ++i) {
            if (!c.WaitMs(50))
                break;
        }
    });
    const auto start = std::chrono::steady_clock::now();
    std::string strResponse;
    EXPECT_EQ(GetHttpData(server.Url("/slow"), strResponse), 1);
    EXPECT_TRUE(strResponse.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_EQ(
        LogLinesWith("GetHttpData: the response broke off (the request took longer than its total time limit).").size(),
        1);
}

} // namespace

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "device/HttpClient.h"
#include "device/SsdpFinder.h"
#include "device/SsdpMessage.h"
#include "device/UPnPDeviceFinder.h"
#include "support/ReferencePlayer.h"
#include "support/TestHome.h"
#include "support/TinyHttpServer.h"

namespace {

constexpr char kPowerQuery[] = R"({"method":"getPowerStatus","params":[],"version":"1.1","id":1})";
constexpr char kWakeRequest[] =
    R"({"method":"setPowerStatus","params":[{"status":"standby","standbyDetail":"databaseReady"}],"version":"1.1","id":1})";
constexpr char kFileTypeQuery[] = R"({"method":"getSupportedFileType","params":[],"version":"1.0","id":11})";

// Short passes: the players answer at once (no MX spreading), so a pass of a few hundred
// milliseconds on loopback sees every answer.
SSsdpSearchOptions TestPass()
{
    SSsdpSearchOptions options;
    options.nMxSeconds = 1;
    options.nPassMs = 400;
    return options;
}

std::vector<SSsdpAnswer> SearchOnce(SSsdpSearchOptions options = TestPass())
{
    CSsdpFinder finder({"127.0.0.1"}, options);
    std::vector<SSsdpAnswer> answers;
    EXPECT_TRUE(finder.RunPass([&](const SSsdpAnswer& a) { answers.push_back(a); }));
    return answers;
}

std::string Post(const QString& sUrl, const std::string& body)
{
    std::string response;
    EXPECT_EQ(GetHttpDataByPostData(body, sUrl, "POST", response), 0) << sUrl.toStdString();
    return response;
}

std::string Get(const QString& sUrl)
{
    std::string response;
    EXPECT_EQ(GetHttpData(sUrl, response), 0) << sUrl.toStdString();
    return response;
}

bool WaitUntil(const std::function<bool()>& pred, int nRealMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nRealMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A socket that receives what is sent to the SSDP group on loopback (as a listening device
// does); -1 after failing the test.
int JoinSsdpGroupOnLoopback()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ADD_FAILURE() << "socket: " << std::strerror(errno);
        return -1;
    }
    const int nOne = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &nOne, sizeof nOne);
    sockaddr_in bindAddr{};
    bindAddr.sin_family = AF_INET;
    bindAddr.sin_port = htons(kSsdpPort);
    inet_pton(AF_INET, kSsdpGroupAddress, &bindAddr.sin_addr);
    ip_mreq membership{};
    inet_pton(AF_INET, kSsdpGroupAddress, &membership.imr_multiaddr);
    inet_pton(AF_INET, "127.0.0.1", &membership.imr_interface);
    if (bind(fd, reinterpret_cast<sockaddr*>(&bindAddr), sizeof bindAddr) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        ADD_FAILURE() << "joining the SSDP group: " << std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

class ReferencePlayerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Players bind to 127.0.0.x and the search multicasts: only inside the private
        // namespace that the test command makes.
        if (qgetenv("TOLVA_IN_NETNS") != "1")
            GTEST_SKIP() << "run through ctest (inside a private network namespace)";
    }

    CReferencePlayer& StartPlayer(const std::string& sAddress, std::vector<std::string> args = {})
    {
        m_players.push_back(std::make_unique<CReferencePlayer>(sAddress, std::move(args)));
        CReferencePlayer& player = *m_players.back();
        EXPECT_TRUE(player.Start()) << player.LastError();
        return player;
    }

    // Declared before the players, so it is removed after they have stopped (and unmounted
    // the share file systems they put into it).
    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<CReferencePlayer>> m_players;
};

} // namespace

TEST_F(ReferencePlayerTest, OnePassFindsEveryPlayerOnce)
{
    std::map<std::string, std::string> expected; // UDN -> address
    for (int i = 2; i <= 6; ++i) {
        CReferencePlayer& player = StartPlayer("127.0.0." + std::to_string(i));
        expected[player.Udn()] = player.Address();
    }
    // Every player gets the search twice and answers twice; each is still reported once.
    const std::vector<SSsdpAnswer> answers = SearchOnce();
    std::map<std::string, int> seen;
    for (const SSsdpAnswer& a : answers) {
        ++seen[a.sUdn];
        ASSERT_EQ(expected.count(a.sUdn), 1u) << a.sUdn;
        EXPECT_EQ(a.sLocation, "http://" + expected[a.sUdn] + ":60100/tolva.xml");
        EXPECT_EQ(a.sSender, expected[a.sUdn]);
        EXPECT_EQ(a.sSt, kTesselServiceType);
        EXPECT_EQ(a.sUsn, a.sUdn + "::" + kTesselServiceType);
    }
    EXPECT_EQ(seen.size(), expected.size());
    for (const auto& [udn, n] : seen)
        EXPECT_EQ(n, 1) << udn;
}

TEST_F(ReferencePlayerTest, OfflinePlayerIsMissingFromTheNextPassAndBackAfterOnline)
{
    CReferencePlayer& stays = StartPlayer("127.0.0.2");
    CReferencePlayer& leaves = StartPlayer("127.0.0.3");
    ASSERT_EQ(SearchOnce().size(), 2u);

    ASSERT_TRUE(leaves.Do("offline"));
    std::vector<SSsdpAnswer> answers = SearchOnce();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].sUdn, stays.Udn());
    // Offline means silent on HTTP as well: the description does not answer.
    std::string response;
    EXPECT_EQ(GetHttpData(leaves.DescriptionUrl(), response), 1);

    ASSERT_TRUE(leaves.Do("online"));
    EXPECT_EQ(SearchOnce().size(), 2u);

    // SSDP off alone: not found by the search, yet its description answers (a player behind a
    // router that drops multicast, added by address).
    ASSERT_TRUE(leaves.Do("ssdp off"));
    answers = SearchOnce();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].sUdn, stays.Udn());
    EXPECT_NE(Get(leaves.DescriptionUrl()).find(leaves.Udn()), std::string::npos);
}

TEST_F(ReferencePlayerTest, NewAddressAndNewNameShowInAnswerAndDescription)
{
    CReferencePlayer& player = StartPlayer("127.0.0.4", {"--name", "Living Room"});
    const std::string sUdn = player.Udn();

    ASSERT_TRUE(player.Do("address 127.0.0.14"));
    std::vector<SSsdpAnswer> answers = SearchOnce();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].sUdn, sUdn);
    EXPECT_EQ(answers[0].sLocation, "http://127.0.0.14:60100/tolva.xml");
    std::string response;
    EXPECT_EQ(GetHttpData("http://127.0.0.4:60100/tolva.xml", response), 1); // the old address is gone
    const std::string description = Get("http://127.0.0.14:60100/tolva.xml");
    EXPECT_NE(description.find("http://127.0.0.14:60100/api</av:X_TesselWebAPI_BaseURL>"), std::string::npos);

    ASSERT_TRUE(player.Do("rename Kitchen & <Hall>"));
    SUPnPDevice device;
    ASSERT_TRUE(
        ParseFoundDevice(Get("http://127.0.0.14:60100/tolva.xml"), "http://127.0.0.14:60100/tolva.xml", &device));
    EXPECT_EQ(device.sFriendlyName, "Kitchen & <Hall>");
    EXPECT_EQ(device.sUdn, QString::fromStdString(sUdn));
}

// The device finder as the search thread uses it: each device found arrives through the
// thread's queue with absolute URLs read from its description, then the pass completes once.
TEST_F(ReferencePlayerTest, AsyncFindPostsDevicesThenOneCompletion)
{
    CReferencePlayer& first = StartPlayer("127.0.0.2", {"--name", "First"});
    StartPlayer("127.0.0.3", {"--name", "Second"});
    StartPlayer("127.0.0.5", {"--description", "malformed"}); // answers SSDP, description unusable

    CUPnPDeviceFinder finder({"127.0.0.1"}, TestPass());
    CThreadMessageQueue queue;
    ASSERT_TRUE(finder.StartAsyncFind(queue));
    EXPECT_FALSE(finder.StartAsyncFind(queue)); // one pass at a time

    std::map<QString, SUPnPDevice> devices;
    int nComplete = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            CWindowMessage msg;
            while (queue.TryGet(msg)) {
                if (msg.nMessage == WM_FINDER_DEVICE_ADDED) {
                    EXPECT_EQ(nComplete, 0) << "a device after the completion";
                    const SUPnPDevice* p = msg.Payload<SUPnPDevice>();
                    EXPECT_NE(p, nullptr);
                    if (p)
                        devices[p->sFriendlyName] = *p;
                } else if (msg.nMessage == WM_FINDER_SEARCH_COMPLETE) {
                    ++nComplete;
                }
            }
            return nComplete > 0;
        },
        5000));
    finder.CancelAsyncFind();
    EXPECT_EQ(nComplete, 1);
    ASSERT_EQ(devices.size(), 2u);
    const SUPnPDevice& d = devices["First"];
    EXPECT_EQ(d.sUdn, QString::fromStdString(first.Udn()));
    EXPECT_EQ(d.sDocumentUrl, "http://127.0.0.2:60100/tolva.xml");
    EXPECT_EQ(d.sPresentationUrl, "http://127.0.0.2:60100/");
    // The player lists a 120-pixel JPEG before the 48-pixel one: the smallest is taken.
    EXPECT_EQ(d.IconUrl("image/jpeg"), "http://127.0.0.2:60100/icons/player-48.jpg");
    EXPECT_EQ(d.IconUrl("image/png"), "http://127.0.0.2:60100/icons/player-48.png");
    EXPECT_EQ(devices.count("Second"), 1u);

    // The icons it lists are served whole; the large JPEG needs more than one 10,240-byte read.
    QTemporaryDir dir;
    for (const QString& sUrl :
         {d.sJpegIconUrl, d.sPngIconUrl, QString("http://127.0.0.2:60100/icons/player-120.jpg")}) {
        const QString sFile = dir.filePath(sUrl.section('/', -1));
        ASSERT_EQ(GetIconDataByHttp(sUrl, sFile), 0) << sUrl.toStdString();
        QFile file(sFile);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        EXPECT_TRUE(data.startsWith(sUrl.endsWith(".png") ? "\x89PNG" : "\xFF\xD8\xFF")) << sUrl.toStdString();
        if (sUrl.contains("120")) {
            EXPECT_GT(data.size(), 10240);
        }
    }

    // A cancelled pass ends at once and still completes once.
    ASSERT_TRUE(finder.StartAsyncFind(queue));
    const auto start = std::chrono::steady_clock::now();
    finder.CancelAsyncFind();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    int nMessages = 0;
    CWindowMessage msg;
    while (queue.TryGet(msg))
        nMessages += msg.nMessage == WM_FINDER_SEARCH_COMPLETE ? 1 : 0;
    EXPECT_EQ(nMessages, 1);
}

TEST_F(ReferencePlayerTest, WebApiAnswersAndThePowerStateMachine)
{
    CReferencePlayer& player =
        StartPlayer("127.0.0.2", {"--power", "networkReady", "--wake-delay-ms", "300", "--file-types", "mp3,flac"});
    const QString sSystem = player.BaseUrl() + "/system";

    std::string answer = Post(sSystem, kPowerQuery);
    EXPECT_NE(answer.find("\"standby\""), std::string::npos) << answer;
    EXPECT_NE(answer.find("\"networkReady\""), std::string::npos) << answer;
    EXPECT_EQ(answer.find("\"active\""), std::string::npos) << answer;

    // The wake request is answered at once; the state changes only after the delay.
    answer = Post(sSystem, kWakeRequest);
    const QJsonObject wake = QJsonDocument::fromJson(QByteArray::fromStdString(answer)).object();
    EXPECT_TRUE(wake.contains("result")) << answer;
    EXPECT_EQ(wake.value("id").toInt(), 1);
    EXPECT_NE(Post(sSystem, kPowerQuery).find("\"networkReady\""), std::string::npos);
    ASSERT_TRUE(
        WaitUntil([&] { return Post(sSystem, kPowerQuery).find("\"databaseReady\"") != std::string::npos; }, 3000));
    EXPECT_EQ(player.StatusValue("wakes"), "1");
    EXPECT_EQ(player.StatusValue("power"), "databaseReady");

    ASSERT_TRUE(player.Do("active"));
    EXPECT_NE(Post(sSystem, kPowerQuery).find("\"active\""), std::string::npos);
    ASSERT_TRUE(player.Do("standby other"));
    answer = Post(sSystem, kPowerQuery);
    EXPECT_NE(answer.find("\"standby\""), std::string::npos);
    EXPECT_EQ(answer.find("Ready\""), std::string::npos) << answer;

    // With waking ignored the request is still answered, and nothing changes.
    ASSERT_TRUE(player.Do("standby networkReady"));
    ASSERT_TRUE(player.Do("wake-ignore on"));
    ASSERT_TRUE(player.Do("wake-delay 0"));
    Post(sSystem, kWakeRequest);
    EXPECT_NE(Post(sSystem, kPowerQuery).find("\"networkReady\""), std::string::npos);

    // File types: the innermost array holds "*.ext" strings in the configured order.
    answer = Post(player.BaseUrl() + "/avContent", kFileTypeQuery);
    EXPECT_NE(answer.find(R"([["*.mp3","*.flac"]])"), std::string::npos) << answer;
    EXPECT_NE(answer.find("\"id\":11"), std::string::npos) << answer;
    // A method at the wrong endpoint is an error answer, not a crash or a silent success.
    answer = Post(player.BaseUrl() + "/avContent", kPowerQuery);
    EXPECT_NE(answer.find("\"error\""), std::string::npos) << answer;
    EXPECT_EQ(answer.find("\"standby\""), std::string::npos) << answer;
}

// The requests exactly as the program sends them: verb "Get" with the URL as its body, and a
// POST without Content-Type. The request log shows what the player received.
TEST_F(ReferencePlayerTest, AcceptsTheProgramsRequestsAsSent)
{
    QTemporaryDir dir;
    const QString sLog = dir.filePath("requests.jsonl");
    CReferencePlayer& player = StartPlayer("127.0.0.2", {"--request-log", sLog.toStdString()});
    EXPECT_NE(Get(player.DescriptionUrl()).find("<UDN>" + player.Udn() + "</UDN>"), std::string::npos);
    EXPECT_NE(Post(player.BaseUrl() + "/system", kPowerQuery).find("\"active\""), std::string::npos);

    QFile file(sLog);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    const QJsonObject get = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(get.value("method").toString(), "Get");
    EXPECT_EQ(get.value("path").toString(), "/tolva.xml");
    EXPECT_EQ(get.value("body").toString(), player.DescriptionUrl());
    const QJsonObject post = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_EQ(post.value("method").toString(), "POST");
    EXPECT_EQ(post.value("body").toString(), kPowerQuery);
    EXPECT_FALSE(post.value("headers").toObject().contains("content-type"));
}

TEST_F(ReferencePlayerTest, ScriptedHttpFaults)
{
    CReferencePlayer& player = StartPlayer("127.0.0.2");
    const QString sSystem = player.BaseUrl() + "/system";

    // An error status is still an answer: the body is the error page.
    for (const char* pszStatus : {"404", "500"}) {
        ASSERT_TRUE(player.Do(std::string("http-status ") + pszStatus));
        const std::string page = Get(player.DescriptionUrl());
        EXPECT_NE(page.find(pszStatus), std::string::npos) << page;
        EXPECT_EQ(page.find("<UDN>"), std::string::npos);
        EXPECT_EQ(Post(sSystem, kPowerQuery).find("\"active\""), std::string::npos);
    }
    // Limited to one path, the rest answers normally.
    ASSERT_TRUE(player.Do("http-status 500 /api"));
    EXPECT_NE(Get(player.DescriptionUrl()).find("<UDN>"), std::string::npos);
    EXPECT_EQ(Post(sSystem, kPowerQuery).find("\"active\""), std::string::npos);
    ASSERT_TRUE(player.Do("http-status 200"));
    EXPECT_NE(Post(sSystem, kPowerQuery).find("\"active\""), std::string::npos);

    ASSERT_TRUE(player.Do("malformed-json"));
    std::string answer = Post(sSystem, kPowerQuery);
    EXPECT_FALSE(answer.empty());
    EXPECT_TRUE(QJsonDocument::fromJson(QByteArray::fromStdString(answer)).isNull()) << answer;
    answer = Post(player.BaseUrl() + "/avContent", kFileTypeQuery);
    EXPECT_EQ(answer.find(']'), std::string::npos) << answer; // cut before the array closes
    ASSERT_TRUE(player.Do("malformed-json off"));

    ASSERT_TRUE(player.Do("malformed-xml"));
    SUPnPDevice device;
    const std::string broken = Get(player.DescriptionUrl());
    EXPECT_NE(broken.find("<friendlyName>"), std::string::npos);
    EXPECT_FALSE(ParseFoundDevice(broken, player.DescriptionUrl(), &device));
    ASSERT_TRUE(player.Do("description other-service-first"));
    const std::string other = Get(player.DescriptionUrl());
    EXPECT_LT(other.find("ConnectionManager"), other.find("TesselWebAPI:1"));
    ASSERT_TRUE(player.Do("description normal"));
    EXPECT_TRUE(ParseFoundDevice(Get(player.DescriptionUrl()), player.DescriptionUrl(), &device));

    // Slow answers arrive late but whole; with a shorter client limit they fail.
    ASSERT_TRUE(player.Do("slow 300"));
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(Get(player.DescriptionUrl()).find("</root>"), std::string::npos);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
    SetHttpTimeLimitMs(100);
    std::string response;
    EXPECT_EQ(GetHttpData(player.DescriptionUrl(), response), 1);
    SetHttpTimeLimitMs(0);

    EXPECT_EQ(player.Command("no-such-command").rfind("error", 0), 0u);
    EXPECT_EQ(player.Command("http-status 99").rfind("error", 0), 0u);
}

// The player's NOTIFY announcements: alive when it comes online, byebye when it goes away.
TEST_F(ReferencePlayerTest, AnnouncesAliveAndByeBye)
{
    const int fd = JoinSsdpGroupOnLoopback();
    ASSERT_GE(fd, 0);

    auto collect = [fd](int nMs) {
        std::vector<SSsdpMessage> messages;
        pollfd p{fd, POLLIN, 0};
        while (poll(&p, 1, nMs) > 0) {
            char buffer[kMaxSsdpPacketBytes];
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            SSsdpMessage msg;
            if (n > 0 && ParseSsdpMessage(buffer, static_cast<std::size_t>(n), msg) &&
                msg.sStartLine == "NOTIFY * HTTP/1.1")
                messages.push_back(msg);
        }
        return messages;
    };
    CReferencePlayer& player = StartPlayer("127.0.0.7");
    std::vector<SSsdpMessage> alive = collect(200);
    bool bServiceAlive = false;
    for (const SSsdpMessage& m : alive) {
        ASSERT_NE(m.Header("nts"), nullptr);
        EXPECT_EQ(*m.Header("nts"), "ssdp:alive");
        if (*m.Header("nt") == kTesselServiceType) {
            bServiceAlive = true;
            EXPECT_EQ(*m.Header("location"), "http://127.0.0.7:60100/tolva.xml");
            EXPECT_EQ(*m.Header("usn"), player.Udn() + "::" + kTesselServiceType);
        }
    }
    EXPECT_TRUE(bServiceAlive);

    ASSERT_TRUE(player.Do("offline"));
    const std::vector<SSsdpMessage> bye = collect(200);
    ASSERT_FALSE(bye.empty());
    for (const SSsdpMessage& m : bye)
        EXPECT_EQ(*m.Header("nts"), "ssdp:byebye");
    close(fd);
}

// Forged and broken answers from a rogue responder cost nothing: the real player is still found
// once, and nothing of the forgeries is reported.
TEST_F(ReferencePlayerTest, FinderIgnoresHostileAnswers)
{
    CReferencePlayer& player = StartPlayer("127.0.0.2");
    const int fd = JoinSsdpGroupOnLoopback();
    ASSERT_GE(fd, 0);

    std::vector<std::string> hostile;
    for (const QString& sName : QDir(QString(TOLVA_TEST_DATA_DIR) + "/ssdp").entryList({"bad-*"}, QDir::Files)) {
        QFile file(QString(TOLVA_TEST_DATA_DIR) + "/ssdp/" + sName);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        hostile.push_back(file.readAll().toStdString());
    }
    hostile.push_back(std::string(9000, 'A')); // larger than any accepted datagram
    // A well-formed answer for another search target is not ours either.
    hostile.push_back("HTTP/1.1 200 OK\r\nLOCATION: http://127.0.0.9/x.xml\r\nST: upnp:rootdevice\r\n"
                      "USN: uuid:forged::upnp:rootdevice\r\n\r\n");
    std::thread rogue([&] {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0)
            return;
        sockaddr_in from{};
        socklen_t nLen = sizeof from;
        char buffer[2048];
        if (recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &nLen) <= 0)
            return;
        for (const std::string& s : hostile)
            sendto(fd, s.data(), s.size(), 0, reinterpret_cast<sockaddr*>(&from), nLen);
    });
    const std::vector<SSsdpAnswer> answers = SearchOnce();
    rogue.join();
    close(fd);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].sUdn, player.Udn());
}

// The copies of a pass's search go out spread over the pass, not back to back, so that one burst
// of loss on a wireless network does not take them all.
TEST_F(ReferencePlayerTest, SearchCopiesAreSpreadOverThePass)
{
    const int fd = JoinSsdpGroupOnLoopback();
    ASSERT_GE(fd, 0);
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    std::thread listener([&] {
        pollfd p{fd, POLLIN, 0};
        while (poll(&p, 1, 1500) > 0) {
            char buffer[kMaxSsdpPacketBytes];
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            SSsdpMessage msg;
            if (n > 0 && ParseSsdpMessage(buffer, static_cast<std::size_t>(n), msg) &&
                msg.sStartLine == "M-SEARCH * HTTP/1.1")
                arrivals.push_back(std::chrono::steady_clock::now());
        }
    });
    SSsdpSearchOptions options; // the program's copies and spacing
    options.nPassMs = 1500;
    SearchOnce(options);
    listener.join();
    close(fd);
    ASSERT_GE(arrivals.size(), 2u);
    for (std::size_t i = 1; i < arrivals.size(); ++i)
        EXPECT_GE(arrivals[i] - arrivals[i - 1], std::chrono::milliseconds(300)) << "copy " << i;
}

// Whoever answers may only send the program to its own description: an answer that names
// another host (here the real player's description, under a forged UDN) is dropped.
TEST_F(ReferencePlayerTest, AnswerPointingAtAnotherHostIsIgnored)
{
    CReferencePlayer& player = StartPlayer("127.0.0.2");
    StartPlayer("127.0.0.3", {"--location-host", "127.0.0.2", "--udn", "uuid:elsewhere"});
    CUPnPDeviceFinder finder(std::vector<std::string>{"127.0.0.1"}, TestPass());
    std::vector<std::string> udns;
    EXPECT_TRUE(finder.RunPass([&](const SUPnPDevice& device) { udns.push_back(device.sUdn.toStdString()); }));
    EXPECT_EQ(udns, std::vector<std::string>{player.Udn()});
    EXPECT_EQ(HttpUrlHost("http://127.0.0.2:60100/tolva.xml"), "127.0.0.2");
    EXPECT_EQ(HttpUrlHost("http://127.0.0.2/x"), "127.0.0.2");
    EXPECT_EQ(HttpUrlHost("HTTP://127.0.0.2"), "127.0.0.2");
    EXPECT_EQ(HttpUrlHost("http://127.0.0.3@127.0.0.2/x"), "");
    EXPECT_EQ(HttpUrlHost("https://127.0.0.2/x"), "");
}

namespace {

// A UDP socket bound to one address, for answers that must come from a given host.
int BoundSocket(const char* pszAddress)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, pszAddress, &local.sin_addr);
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string AnswerFor(const std::string& sHost, quint16 nPort, const std::string& sUdn)
{
    return "HTTP/1.1 200 OK\r\nLOCATION: http://" + sHost + ":" + std::to_string(nPort) + "/d.xml\r\nST: " +
           kTesselServiceType + "\r\nUSN: " + sUdn + "::" + kTesselServiceType + "\r\n\r\n";
}

} // namespace

// A description that comes slowly keeps neither the answers arriving on another interface
// meanwhile from being read, nor their descriptions from being fetched within the pass.
TEST_F(ReferencePlayerTest, SlowDescriptionDoesNotHideAnswersOnOtherInterfaces)
{
    auto description = [](const char* pszUdn) {
        return QByteArray("<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device><UDN>") +
               pszUdn + "</UDN></device></root>";
    };
    CTinyHttpServer slow(
        [&](const CTinyHttpServer::SRequest&, CTinyHttpServer::CConnection& c) {
            if (c.WaitMs(1200))
                c.Send(CTinyHttpServer::Response(200, description("uuid:slow")));
        },
        "127.0.0.2");
    CTinyHttpServer quick(
        [&](const CTinyHttpServer::SRequest&, CTinyHttpServer::CConnection& c) {
            c.Send(CTinyHttpServer::Response(200, description("uuid:quick")));
        },
        "127.0.0.3");
    const int fd = JoinSsdpGroupOnLoopback();
    const int slowFd = BoundSocket("127.0.0.2");
    const int quickFd = BoundSocket("127.0.0.3");
    ASSERT_TRUE(fd >= 0 && slowFd >= 0 && quickFd >= 0);
    // The slow player answers the search of the first interface at once, the quick one the
    // search of the second interface a moment later, while the slow description is fetched.
    std::thread responder([&] {
        std::map<std::string, sockaddr_in> searchers;
        pollfd p{fd, POLLIN, 0};
        while (searchers.size() < 2 && poll(&p, 1, 2000) > 0) {
            sockaddr_in from{};
            socklen_t nLen = sizeof from;
            char buffer[2048];
            if (recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &nLen) <= 0)
                return;
            char sz[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &from.sin_addr, sz, sizeof sz);
            searchers.emplace(sz, from);
        }
        if (searchers.count("127.0.0.1") == 0 || searchers.count("127.0.0.5") == 0)
            return;
        const std::string sSlow = AnswerFor("127.0.0.2", slow.Port(), "uuid:slow");
        sendto(slowFd, sSlow.data(), sSlow.size(), 0, reinterpret_cast<sockaddr*>(&searchers["127.0.0.1"]),
               sizeof(sockaddr_in));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const std::string sQuick = AnswerFor("127.0.0.3", quick.Port(), "uuid:quick");
        sendto(quickFd, sQuick.data(), sQuick.size(), 0, reinterpret_cast<sockaddr*>(&searchers["127.0.0.5"]),
               sizeof(sockaddr_in));
    });
    SSsdpSearchOptions options = TestPass();
    options.nPassMs = 900;
    CUPnPDeviceFinder finder(std::vector<std::string>{"127.0.0.1", "127.0.0.5"}, options);
    std::vector<std::string> udns;
    EXPECT_TRUE(finder.RunPass([&](const SUPnPDevice& device) { udns.push_back(device.sUdn.toStdString()); }));
    responder.join();
    for (const int n : {fd, slowFd, quickFd})
        close(n);
    std::sort(udns.begin(), udns.end());
    EXPECT_EQ(udns, (std::vector<std::string>{"uuid:quick", "uuid:slow"}));
}

// The player reads searches with a parser of its own, not the program's: a search with more
// extension headers than the program accepts in an answer is still a search.
TEST_F(ReferencePlayerTest, PlayerReadsSearchesWithItsOwnParser)
{
    CReferencePlayer& player = StartPlayer("127.0.0.2");
    std::string search = "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n";
    for (int i = 0; i < 70; ++i)
        search += "X-EXTRA-" + std::to_string(i) + ": " + std::to_string(i) + "\r\n";
    search += "MAN: \"ssdp:discover\"\r\nMX: 1\r\nST: " + std::string(kTesselServiceType) + "\r\n\r\n";
    SSsdpMessage unused;
    ASSERT_FALSE(ParseSsdpMessage(search.data(), search.size(), unused)) << "more headers than the program takes";
    const int fd = BoundSocket("127.0.0.1");
    ASSERT_GE(fd, 0);
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(kSsdpPort);
    inet_pton(AF_INET, kSsdpGroupAddress, &group.sin_addr);
    ASSERT_GT(sendto(fd, search.data(), search.size(), 0, reinterpret_cast<sockaddr*>(&group), sizeof group), 0);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1) << "no answer";
    char buffer[2048];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    close(fd);
    SSsdpAnswer answer;
    ASSERT_TRUE(n > 0 && ParseSsdpResponse(buffer, static_cast<std::size_t>(n), answer));
    EXPECT_EQ(answer.sUdn, player.Udn());
}

TEST_F(ReferencePlayerTest, FinderWithoutUsableInterfaceSendsNothing)
{
    CSsdpFinder finder({"not-an-address", "10.300.0.1"}, TestPass());
    int nCalls = 0;
    EXPECT_FALSE(finder.RunPass([&](const SSsdpAnswer&) { ++nCalls; }));
    EXPECT_EQ(nCalls, 0);
}

// Full and read-only shares: the player's folders on small file systems of its own.
TEST_F(ReferencePlayerTest, ShareFullAndReadOnly)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting the share file systems needs root inside the namespace";
    const std::string sInternal = m_dir.filePath("internal").toStdString();
    CReferencePlayer& player =
        StartPlayer("127.0.0.2", {"--internal-dir", sInternal, "--external-dir",
                                  m_dir.filePath("external").toStdString(), "--share-tmpfs-kib", "512"});
    auto write = [&](const std::string& sName, int nBytes) {
        QFile file(QString::fromStdString(sInternal + "/" + sName));
        if (!file.open(QIODevice::WriteOnly))
            return false;
        const QByteArray data(nBytes, 'x');
        return file.write(data) == nBytes && file.flush();
    };
    EXPECT_TRUE(write("a.mp3", 100000));
    ASSERT_TRUE(player.Do("share-full"));
    EXPECT_FALSE(write("b.mp3", 100000));
    ASSERT_TRUE(player.Do("share-space"));
    EXPECT_TRUE(write("b.mp3", 100000));
    ASSERT_TRUE(player.Do("share-readonly"));
    EXPECT_FALSE(write("c.mp3", 10));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(sInternal + "/a.mp3"))); // nothing lost
    ASSERT_TRUE(player.Do("share-writable"));
    EXPECT_TRUE(write("c.mp3", 10));
    player.Stop();
    // The player's file systems go with it; what was written stays out of the test's folder.
    EXPECT_FALSE(QFile::exists(QString::fromStdString(sInternal + "/a.mp3")));
}

// The shares over SMB, through the player's own Samba server (checked with the smbclient tool,
// so this test stays independent of the program's SMB back end), with the full-share fault
// showing as a full disk.
TEST_F(ReferencePlayerTest, SambaSharesAndFullShare)
{
    const QString sSmbclient = QStandardPaths::findExecutable("smbclient");
    if (geteuid() != 0 || QStandardPaths::findExecutable("smbd", {"/usr/sbin", "/usr/local/sbin"}).isEmpty() ||
        sSmbclient.isEmpty())
        GTEST_SKIP() << "needs root inside the namespace, smbd and smbclient";
    const QString sInternal = m_dir.filePath("internal");
    CReferencePlayer& player =
        StartPlayer("127.0.0.8", {"--internal-dir", sInternal.toStdString(), "--external-dir",
                                  m_dir.filePath("external").toStdString(), "--share-tmpfs-kib", "1024", "--samba",
                                  m_dir.filePath("samba").toStdString(), "--samba-port", "4452"});
    ASSERT_TRUE(player.IsRunning());
    const QString sSource = m_dir.filePath("a.mp3");
    WriteTestFile(sSource, QByteArray(200000, 'm'));
    auto smb = [&](const QString& sCommand, QByteArray* pOutput) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(sSmbclient, {"-p", "4452", "-N", "//127.0.0.8/Tolva_Internal", "-c", sCommand});
        process.waitForFinished(20000);
        *pOutput = process.readAll();
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 &&
               !pOutput->contains("NT_STATUS_");
    };
    QByteArray output;
    EXPECT_TRUE(smb("mkdir PC; put " + sSource + " PC\\a.mp3", &output)) << output.toStdString();
    EXPECT_EQ(QFileInfo(sInternal + "/PC/a.mp3").size(), 200000);
    ASSERT_TRUE(player.Do("share-full"));
    EXPECT_FALSE(smb("put " + sSource + " PC\\b.mp3", &output));
    EXPECT_TRUE(output.contains("NT_STATUS_DISK_FULL")) << output.toStdString();
    ASSERT_TRUE(player.Do("share-space"));
    EXPECT_TRUE(smb("put " + sSource + " PC\\b.mp3", &output)) << output.toStdString();
}

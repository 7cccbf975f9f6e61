#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "device/DeviceInfo.h"
#include "device/DeviceWebApi.h"
#include "foundation/Settings.h"
#include "support/TestHome.h"
#include "support/TinyHttpServer.h"
#include "unit/device_http/DeviceHttpTestUtil.h"

namespace {

using CConnection = CTinyHttpServer::CConnection;
using SRequest = CTinyHttpServer::SRequest;

// A player's web API with a power state that a wake request changes.
class CPowerPlayer
{
public:
    CPowerPlayer()
        : m_server([this](const SRequest& request, CConnection& c) {
              // A held player keeps its power answers back until it is let go.
              while (m_bHold.load() && request.body.contains("getPowerStatus") && c.WaitMs(5)) {
              }
              std::lock_guard lock(m_mutex);
              QByteArray answer;
              if (request.target == "/api/system" && request.body.contains("getPowerStatus"))
                  answer = m_powerAnswer;
              else if (request.target == "/api/system" && request.body.contains("setPowerStatus"))
                  answer = (m_powerAnswer = m_afterWakeAnswer, R"({"result":[],"id":1})");
              else if (request.target == "/api/avContent")
                  answer = m_fileTypeAnswer;
              c.Send(CTinyHttpServer::Response(200, answer, "application/json"));
          })
    {}
    void SetPowerAnswer(const QByteArray& now, const QByteArray& afterWake = QByteArray())
    {
        std::lock_guard lock(m_mutex);
        m_powerAnswer = now;
        m_afterWakeAnswer = afterWake.isEmpty() ? now : afterWake;
    }
    void SetFileTypeAnswer(const QByteArray& answer)
    {
        std::lock_guard lock(m_mutex);
        m_fileTypeAnswer = answer;
    }
    void Hold(bool bHold) { m_bHold.store(bHold); }
    QString BaseUrl() const { return m_server.Url("/api"); }
    std::vector<SRequest> Requests() const { return m_server.Requests(); }
    int CountBodies(const char* pszMethod) const
    {
        int n = 0;
        for (const SRequest& request : m_server.Requests())
            n += request.body.contains(pszMethod) ? 1 : 0;
        return n;
    }

private:
    std::atomic<bool> m_bHold{false};
    std::mutex m_mutex;
    QByteArray m_powerAnswer;
    QByteArray m_afterWakeAnswer;
    QByteArray m_fileTypeAnswer;
    CTinyHttpServer m_server;
};

const QByteArray kActive = R"({"result":[{"status":"active"}],"id":1})";
const QByteArray kNetworkReady = R"({"result":[{"status":"standby","standbyDetail":"networkReady"}],"id":1})";
const QByteArray kDatabaseReady = R"({"result":[{"status":"standby","standbyDetail":"databaseReady"}],"id":1})";

// Records what a power thread reports.
class CRecordingListener : public IPowerCheckListener
{
public:
    void OnPowerStateResult(bool bPowerOk) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_results.push_back(bPowerOk);
        }
        // The report's handler runs on the power thread, before the waiters learn of it.
        if (m_onResult)
            m_onResult(bPowerOk);
        m_changed.notify_all();
    }
    void SetOnResult(std::function<void(bool)> fn) { m_onResult = std::move(fn); }
    void OnDeviceWoken() override { m_bWoken = true; }
    bool IsTransferStopRequested() const override { return m_bStop.load(); }

    // Waits (real time) for the nth result.
    bool WaitForResults(size_t nCount, int nMs = 10000)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(nMs), [&] { return m_results.size() >= nCount; });
    }
    std::vector<bool> Results()
    {
        std::lock_guard lock(m_mutex);
        return m_results;
    }

    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bWoken{false};

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<bool> m_results;
    std::function<void(bool)> m_onResult;
};

class DeviceWebApiTest : public ::testing::Test
{
protected:
    void SetUp() override { m_home.EnableLog(); }

    SPowerCheckRequest Request(bool bAllowWakeUp)
    {
        return SPowerCheckRequest{"uuid:player-1", m_player.BaseUrl(), bAllowWakeUp, &m_listener};
    }

    CTestHome m_home;
    SNoProxyEnv m_noProxy;
    CPowerPlayer m_player;
    CRecordingListener m_listener;
};

TEST(DeviceWebApiBodies, RequestBodiesAreExact)
{
    EXPECT_EQ(std::string(kPowerQueryBody).size(), 62u);
    EXPECT_EQ(std::string(kWakeRequestBody).size(), 114u);
    EXPECT_EQ(std::string(kFileTypeQueryBody).size(), 69u);
    EXPECT_EQ(std::string(kFileTypeQueryBody),
              R"({"method":"getSupportedFileType","params":[],"version":"1.0","id":11})");
}

TEST(DeviceWebApiClassify, PowerAnswersAreReadByTheirQuotedTokens)
{
    struct SCase
    {
        const char* pszAnswer;
        EDevicePowerState eState;
        EStandbyDetail eDetail;
    };
    const SCase cases[] = {
        {R"({"status":"active"})", POWER_ACTIVE, STANDBY_NETWORK_READY}, // detail left as preset
        {R"("standby" "active")", POWER_ACTIVE, STANDBY_NETWORK_READY},  // active wins
        {R"({"status":"standby","standbyDetail":"databaseReady"})", POWER_STANDBY, STANDBY_DATABASE_READY},
        {R"({"status":"standby","standbyDetail":"networkReady"})", POWER_STANDBY, STANDBY_NETWORK_READY},
        {R"("standby" "networkReady" "databaseReady")", POWER_STANDBY, STANDBY_DATABASE_READY},
        {R"({"status":"standby","standbyDetail":"deepSleep"})", POWER_STANDBY, STANDBY_OTHER},
        {R"({"status":"Active"})", POWER_OTHER, STANDBY_NETWORK_READY}, // case matters
        {R"({"status":active})", POWER_OTHER, STANDBY_NETWORK_READY},   // quotes matter
        {"<html>active standby</html>", POWER_OTHER, STANDBY_NETWORK_READY},
        {R"({"error":[500,"standby broken"]})", POWER_OTHER, STANDBY_NETWORK_READY},
        {"", POWER_OTHER, STANDBY_NETWORK_READY},
    };
    for (const SCase& c : cases) {
        EStandbyDetail eDetail = STANDBY_NETWORK_READY;
        EXPECT_EQ(ClassifyPowerAnswer(QString::fromUtf8(c.pszAnswer), &eDetail), c.eState) << c.pszAnswer;
        EXPECT_EQ(eDetail, c.eDetail) << c.pszAnswer;
    }
    EXPECT_TRUE(IsPowerReady(POWER_ACTIVE, STANDBY_OTHER));
    EXPECT_TRUE(IsPowerReady(POWER_STANDBY, STANDBY_DATABASE_READY));
    EXPECT_FALSE(IsPowerReady(POWER_STANDBY, STANDBY_NETWORK_READY));
    EXPECT_FALSE(IsPowerReady(POWER_OTHER, STANDBY_DATABASE_READY));
}

TEST_F(DeviceWebApiTest, PowerQueryPostsToSystemAndNoAnswerIsOther)
{
    m_player.SetPowerAnswer(kDatabaseReady);
    EStandbyDetail eDetail = STANDBY_OTHER;
    EXPECT_EQ(GetPowerState(m_player.BaseUrl(), &eDetail), POWER_STANDBY);
    EXPECT_EQ(eDetail, STANDBY_DATABASE_READY);
    const SRequest request = m_player.Requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/api/system");
    EXPECT_EQ(request.body, QByteArray(kPowerQueryBody));
    const QStringList log = LogMessages(m_home);
    EXPECT_TRUE(log.contains("Enter GetPowerStateFromBaseUrl."));
    EXPECT_TRUE(log.contains("  strPostURL =   " + m_player.BaseUrl() + "/system "));
    EXPECT_TRUE(log.contains("ExecuteRequest: sContent = " + QString::fromLatin1(kDatabaseReady) + "."));

    // Nobody listening: empty content, POWER_OTHER, detail untouched.
    eDetail = STANDBY_NETWORK_READY;
    EXPECT_EQ(GetPowerState("http://127.0.0.1:" + QString::number(UnusedPort()) + "/api", &eDetail), POWER_OTHER);
    EXPECT_EQ(eDetail, STANDBY_NETWORK_READY);
    EXPECT_TRUE(LogMessages(m_home).contains("ExecuteRequest: sContent = ."));
}

TEST_F(DeviceWebApiTest, ReadyPlayerIsReportedReadyWithoutAWakeRequest)
{
    m_player.SetPowerAnswer(kActive);
    CEvent eShutdown;
    PowerCheckProc(Request(true), eShutdown);
    m_player.SetPowerAnswer(kDatabaseReady);
    PowerCheckProc(Request(true), eShutdown);
    EXPECT_EQ(m_listener.Results(), (std::vector<bool>{true, true}));
    EXPECT_EQ(m_player.CountBodies("setPowerStatus"), 0);
    EXPECT_FALSE(m_listener.m_bWoken.load());
}

TEST_F(DeviceWebApiTest, NetworkStandbyIsNotWokenWhenWakingIsNotAllowed)
{
    m_player.SetPowerAnswer(kNetworkReady, kDatabaseReady);
    CEvent eShutdown;
    PowerCheckProc(Request(false), eShutdown);
    // Other standbys and no answer are never woken either.
    m_player.SetPowerAnswer(R"({"status":"standby","standbyDetail":"deepSleep"})", kActive);
    PowerCheckProc(Request(true), eShutdown);
    PowerCheckProc(SPowerCheckRequest{"uuid:x", "http://127.0.0.1:" + QString::number(UnusedPort()), true, &m_listener},
                   eShutdown);
    EXPECT_EQ(m_listener.Results(), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(m_player.CountBodies("setPowerStatus"), 0);
    EXPECT_FALSE(m_listener.m_bWoken.load());
}

TEST_F(DeviceWebApiTest, WakeWithZeroWaitQueriesAgainAtOnce)
{
    WriteSettingDword(kSettingPowerRebootWaitingTimeSecond, 0);
    m_player.SetPowerAnswer(kNetworkReady, kDatabaseReady);
    CEvent eShutdown;
    PowerCheckProc(Request(true), eShutdown);
    EXPECT_EQ(m_listener.Results(), (std::vector<bool>{true}));
    EXPECT_TRUE(m_listener.m_bWoken.load());
    const std::vector<SRequest> requests = m_player.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].body, QByteArray(kWakeRequestBody));
    EXPECT_EQ(requests[1].target, "/api/system");
    EXPECT_EQ(requests[2].body, QByteArray(kPowerQueryBody));
    EXPECT_TRUE(LogMessages(m_home).contains("Set device to database state "));

    // A player that stays in network standby after the wake request is not ready.
    m_player.SetPowerAnswer(kNetworkReady);
    PowerCheckProc(Request(true), eShutdown);
    EXPECT_EQ(m_listener.Results(), (std::vector<bool>{true, false}));
}

TEST_F(DeviceWebApiTest, WakeWaitTakesTheSetSecondsAndEndsEarlyOnStop)
{
    m_player.SetPowerAnswer(kNetworkReady, kDatabaseReady);
    CDeviceWebApi api;
    // Missing setting: 60 seconds.
    ASSERT_TRUE(api.StartPowerCheck(Request(true)));
    EXPECT_FALSE(api.StartPowerCheck(Request(true))); // one per device
    EXPECT_TRUE(api.IsPowerCheckRunning("uuid:player-1"));
    ASSERT_TRUE(m_home.Clock().WaitForWaiters(1));
    m_home.Clock().Advance(59000);
    ASSERT_TRUE(m_home.Clock().WaitForWaiters(1));
    EXPECT_TRUE(m_listener.Results().empty());
    EXPECT_EQ(m_player.CountBodies("getPowerStatus"), 1);
    m_home.Clock().Advance(1000);
    ASSERT_TRUE(m_listener.WaitForResults(1));
    EXPECT_EQ(m_listener.Results(), (std::vector<bool>{true}));
    EXPECT_EQ(m_player.CountBodies("getPowerStatus"), 2);

    // Stop during the wait: at most one more second, and the second question still runs.
    // The first thread has reported; wait until it let go of its slot.
    for (int i = 0; i < 1000 && api.IsPowerCheckRunning("uuid:player-1"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    WriteSettingDword(kSettingPowerRebootWaitingTimeSecond, 600);
    m_player.SetPowerAnswer(kNetworkReady, kDatabaseReady);
    ASSERT_TRUE(api.StartPowerCheck(Request(true)));
    ASSERT_TRUE(m_home.Clock().WaitForWaiters(1));
    m_home.Clock().Advance(5000);
    ASSERT_TRUE(m_home.Clock().WaitForWaiters(1));
    m_listener.m_bStop = true;
    m_home.Clock().Advance(1000);
    ASSERT_TRUE(m_listener.WaitForResults(2));
    EXPECT_EQ(m_listener.Results(), (std::vector<bool>{true, true}));
    EXPECT_EQ(m_player.CountBodies("getPowerStatus"), 4);
}

// The handler of a "not ready" report asks again at once, as the main window's retry and the
// command line's do: the new check runs and reports, although the first thread has not yet
// returned from its report.
TEST_F(DeviceWebApiTest, CheckAskedForFromTheHandlerOfItsReportRuns)
{
    m_player.SetPowerAnswer(kNetworkReady);
    CDeviceWebApi api;
    std::atomic<int> nRestarts{0};
    std::atomic<bool> bRestartStarted{false};
    m_listener.SetOnResult([&](bool bReady) {
        if (!bReady && nRestarts++ == 0)
            bRestartStarted.store(api.StartPowerCheck(Request(false)));
    });
    ASSERT_TRUE(api.StartPowerCheck(Request(false)));
    ASSERT_TRUE(m_listener.WaitForResults(2));
    EXPECT_TRUE(bRestartStarted.load());
    EXPECT_EQ(m_listener.Results(), (std::vector<bool>{false, false}));
    EXPECT_EQ(m_player.CountBodies("getPowerStatus"), 2);
}

// A transfer's check that arrives while a recheck (which may not wake the player) runs is
// answered by one report; the player is woken for it, not reported "not ready".
TEST_F(DeviceWebApiTest, CheckThatMayWakeJoiningARecheckWakesThePlayer)
{
    WriteSettingDword(kSettingPowerRebootWaitingTimeSecond, 0);
    m_player.SetPowerAnswer(kNetworkReady, kDatabaseReady);
    m_player.Hold(true);
    CDeviceWebApi api;
    ASSERT_TRUE(api.StartPowerCheck(Request(false)));
    for (int i = 0; i < 1000 && m_player.Requests().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(api.StartPowerCheck(Request(true))) << "served by the running check";
    m_player.Hold(false);
    ASSERT_TRUE(m_listener.WaitForResults(1));
    for (int i = 0; i < 1000 && api.IsPowerCheckRunning("uuid:player-1"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(m_listener.Results(), (std::vector<bool>{true})) << "one report, after the wake-up";
    EXPECT_EQ(m_player.CountBodies("setPowerStatus"), 1);
    EXPECT_TRUE(m_listener.m_bWoken.load());
}

TEST_F(DeviceWebApiTest, ShutdownEndsAWakeWaitAtOnceAndReportsNotReady)
{
    m_player.SetPowerAnswer(kNetworkReady, kDatabaseReady);
    {
        CDeviceWebApi api;
        ASSERT_TRUE(api.StartPowerCheck(Request(true)));
        ASSERT_TRUE(m_home.Clock().WaitForWaiters(1));
    }
    EXPECT_EQ(m_listener.Results(), (std::vector<bool>{false}));
    EXPECT_EQ(m_player.CountBodies("getPowerStatus"), 1);
    // Without a listener nothing starts.
    CDeviceWebApi api;
    EXPECT_FALSE(api.StartPowerCheck(SPowerCheckRequest{"uuid:y", m_player.BaseUrl(), true, nullptr}));
}

TEST(DeviceWebApiParse, FileTypeListsFollowTheBracketAndStarRules)
{
    struct SCase
    {
        const char* pszAnswer;
        bool bParsed;
        QStringList types;
    };
    const SCase cases[] = {
        {R"({"result":[["*.mp3","*.flac"]],"id":11})", true, {"mp3", "flac"}},
        {R"({"result":[{"fileType":["*.mp3", "*.m4a","*.wav"]}],"id":11})", true, {"mp3", "m4a", "wav"}},
        {R"({"result":[[]],"id":11})", true, {}},
        {"[]", true, {}},
        // Entries without "*." lose their first two characters all the same.
        {R"(["mp3","flac"])", true, {"mp3", R"(mp3","flac)"}},
        // "*." alone names nothing.
        {R"(["*.","*.ogg"])", true, {"ogg"}},
        {R"(["*.mp3" ,"*.aac"])", true, {"mp3\"", "aac"}},
        // The last '[' after the first ']': no list.
        {R"([["*.mp3"],["*.wav"]])", false, {}},
        {R"({"result":"none"})", false, {}},
        {R"({"result":[["*.mp3",)", false, {}}, // broken off
        {R"(])", false, {}},
        {"", false, {}},
    };
    // Without stars every entry reaches back to the '[': the list stops at the answer's length.
    const QString sOverlapping = "[" + QString(1000, 'a') + QString(5000, ',') + "]";
    QStringList overlapping;
    ASSERT_TRUE(ParseSupportedFileTypes(sOverlapping, &overlapping));
    qsizetype nTotal = 0;
    for (const QString& sType : overlapping)
        nTotal += sType.size();
    EXPECT_LE(nTotal, sOverlapping.size());
    EXPECT_EQ(overlapping.value(0), QString(998, 'a')); // "[" and one 'a' dropped

    for (const SCase& c : cases) {
        QStringList types = {"previous"};
        EXPECT_EQ(ParseSupportedFileTypes(QString::fromUtf8(c.pszAnswer), &types), c.bParsed) << c.pszAnswer;
        EXPECT_EQ(types, c.bParsed ? c.types : QStringList{"previous"}) << c.pszAnswer;
    }
}

TEST_F(DeviceWebApiTest, FileTypesAreFetchedFromAvContentAndNoAnswerEmptiesTheList)
{
    m_player.SetFileTypeAnswer(R"({"result":[["*.mp3","*.flac"]],"id":11})");
    CDeviceInfo device;
    device.SetBaseUrl(m_player.BaseUrl());
    device.SetSupportedTypes({"old"});
    UpdateSupportedFileTypes(device);
    EXPECT_EQ(device.SupportedTypes(), (QStringList{"mp3", "flac"}));
    const SRequest request = m_player.Requests().front();
    EXPECT_EQ(request.target, "/api/avContent");
    EXPECT_EQ(request.body, QByteArray(kFileTypeQueryBody));
    EXPECT_TRUE(LogMessages(m_home).contains("Enter GetCapabilityFromBaseUrl."));

    // Malformed JSON without brackets: the list stays.
    m_player.SetFileTypeAnswer("{oops");
    UpdateSupportedFileTypes(device);
    EXPECT_EQ(device.SupportedTypes(), (QStringList{"mp3", "flac"}));

    // An empty answer three times in a row, then one power question: the list is emptied.
    m_player.SetFileTypeAnswer("");
    m_player.SetPowerAnswer(kNetworkReady);
    const int nBefore = m_player.CountBodies("getSupportedFileType");
    UpdateSupportedFileTypes(device);
    EXPECT_TRUE(device.SupportedTypes().isEmpty());
    EXPECT_EQ(m_player.CountBodies("getSupportedFileType") - nBefore, 3);
    EXPECT_EQ(m_player.Requests().back().body, QByteArray(kPowerQueryBody));
    EXPECT_TRUE(LogMessages(m_home).contains(
        " get format failed  , device eDevicePowerState=   1  , device standbyDetail=   1 "));
}

} // namespace

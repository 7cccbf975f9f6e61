#include <cstdio>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "DesktopTestChild.h"
#include "desktop/SingleInstance.h"
#include "support/QtPrinters.h"
#include "support/TestHome.h"

namespace {

const char* const kResultNames[] = {"PRIMARY", "FORWARDED", "FAILED"};

// A start of the program in another process: "<test> --desktop-test-child <folder> [hold]". It
// prints its result; a primary with "hold" stays and prints "ACTIVATED <token>" per request.
std::unique_ptr<QProcess> StartInstance(const QString& sFolder, bool bHold, const QByteArray& token = QByteArray())
{
    auto pProcess = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("XDG_ACTIVATION_TOKEN");
    environment.remove("DESKTOP_STARTUP_ID");
    if (!token.isEmpty())
        environment.insert("XDG_ACTIVATION_TOKEN", QString::fromLatin1(token));
    pProcess->setProcessEnvironment(environment);
    pProcess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{kTestChildFlag, sFolder};
    if (bHold)
        arguments << "hold";
    pProcess->start(QCoreApplication::applicationFilePath(), arguments);
    return pProcess;
}

// The next line the process prints, waiting at most a while for it.
QByteArray ReadLine(QProcess& process, int nTimeoutMs = 20000)
{
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; }, nTimeoutMs));
    return process.readLine().trimmed();
}

// Waits for the process to end (waitForFinished alone fails for one that has ended already).
bool WaitForEnd(QProcess& process)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(20000);
}

QByteArray Finish(QProcess& process)
{
    EXPECT_TRUE(WaitForEnd(process));
    return process.readAll().trimmed();
}

class SingleInstanceTest : public testing::Test
{
protected:
    QTemporaryDir m_dir;
    QStringList m_activations;

    std::unique_ptr<CSingleInstance> MakePrimary()
    {
        auto pInstance = std::make_unique<CSingleInstance>(m_dir.path());
        pInstance->SetActivateHandler([this](const QString& sToken) { m_activations << sToken; });
        EXPECT_EQ(pInstance->TryBecomePrimary(), SINGLE_INSTANCE_PRIMARY);
        return pInstance;
    }
};

TEST_F(SingleInstanceTest, SecondStartForwardsActiveAppWithItsToken)
{
    const auto pPrimary = MakePrimary();
    const auto pSecond = StartInstance(m_dir.path(), false, "token-42");
    EXPECT_EQ(Finish(*pSecond), "FORWARDED");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_activations.isEmpty(); }, 5000));
    const auto pThird = StartInstance(m_dir.path(), false);
    EXPECT_EQ(Finish(*pThird), "FORWARDED");
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_activations.size() == 2; }, 5000));
    EXPECT_EQ(m_activations, (QStringList{"token-42", ""}));
}

TEST_F(SingleInstanceTest, StartAfterTheHolderWasKilledBecomesPrimary)
{
    const auto pHolder = StartInstance(m_dir.path(), true);
    ASSERT_EQ(ReadLine(*pHolder), "PRIMARY");
    pHolder->kill(); // SIGKILL: the lock file and the socket file stay behind
    ASSERT_TRUE(WaitForEnd(*pHolder));
    ASSERT_TRUE(QFile::exists(m_dir.path() + "/TolvaMusicTransferApp.lock"));

    const auto pPrimary = MakePrimary();
    const auto pSecond = StartInstance(m_dir.path(), false, "after-crash");
    EXPECT_EQ(Finish(*pSecond), "FORWARDED");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_activations.isEmpty(); }, 5000));
    EXPECT_EQ(m_activations, QStringList{"after-crash"});
}

TEST_F(SingleInstanceTest, SixSimultaneousStartsLeaveOnePrimary)
{
    constexpr int kStarts = 6;
    std::vector<std::unique_ptr<QProcess>> starts;
    for (int i = 0; i < kStarts; ++i)
        starts.push_back(StartInstance(m_dir.path(), true, "start-" + QByteArray::number(i)));
    QProcess* pPrimary = nullptr;
    int nForwarded = 0;
    for (auto& pStart : starts) {
        const QByteArray result = ReadLine(*pStart);
        if (result == "PRIMARY") {
            EXPECT_EQ(pPrimary, nullptr) << "two primaries";
            pPrimary = pStart.get();
        } else {
            EXPECT_EQ(result, "FORWARDED");
            EXPECT_TRUE(WaitForEnd(*pStart));
            ++nForwarded;
        }
    }
    ASSERT_NE(pPrimary, nullptr);
    EXPECT_EQ(nForwarded, kStarts - 1);
    int nActivated = 0;
    while (nActivated < kStarts - 1) {
        const QByteArray line = ReadLine(*pPrimary);
        if (!line.startsWith("ACTIVATED start-"))
            break;
        ++nActivated;
    }
    EXPECT_EQ(nActivated, kStarts - 1);
    pPrimary->kill();
    WaitForEnd(*pPrimary);
}

TEST_F(SingleInstanceTest, RefusesMalformedOversizedAndStalledMessagesWithoutBlocking)
{
    CTestHome home;
    home.EnableLog();
    const auto pPrimary = MakePrimary();
    pPrimary->SetPeerTimeoutMs(1000);

    auto connectAndSend = [&](const QByteArray& data) {
        auto pSocket = std::make_unique<QLocalSocket>();
        pSocket->connectToServer(pPrimary->SocketPath());
        EXPECT_TRUE(pSocket->waitForConnected(5000));
        pSocket->write(data);
        pSocket->flush();
        return pSocket;
    };
    const auto pStalled = connectAndSend("ActiveA");
    std::vector<std::unique_ptr<QLocalSocket>> bad;
    for (const QByteArray& data :
         {QByteArray("Hello\n"), QByteArray("ActiveApp two words\n"), QByteArray("ActiveApp \x01\n"),
          QByteArray("ActiveAppX\n"), QByteArray(100000, 'A'), QByteArray(600, 'B') + "\n"})
        bad.push_back(connectAndSend(data));
    const auto pGood = connectAndSend("ActiveApp good\n");

    // The good request is served while the stalled peer is still connected.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_activations.isEmpty(); }, 5000));
    EXPECT_EQ(pStalled->state(), QLocalSocket::ConnectedState);
    for (const auto& pSocket : bad)
        EXPECT_TRUE(QTest::qWaitFor([&] { return pSocket->state() == QLocalSocket::UnconnectedState; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return pStalled->state() == QLocalSocket::UnconnectedState; }, 5000));
    EXPECT_EQ(m_activations, QStringList{"good"});

    const QByteArray log = home.ReadLog();
    EXPECT_EQ(log.count("refused a malformed message"), 4) << log.toStdString();
    EXPECT_EQ(log.count("refused a message: line too long"), 2) << log.toStdString();
    EXPECT_EQ(log.count("refused a message: no complete line in time"), 1) << log.toStdString();

    // Still serving afterwards.
    const auto pLater = connectAndSend("ActiveApp\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_activations.size() == 2; }, 5000));
}

TEST_F(SingleInstanceTest, FailsWhenTheHolderCannotBeReached)
{
    CTestHome home; // the two seconds of retries pass in virtual time
    home.Clock().SetAutoAdvance(true);
    // A holder that is alive (this process) but does not listen.
    QLockFile lock(m_dir.path() + "/TolvaMusicTransferApp.lock");
    ASSERT_TRUE(lock.tryLock(0));
    CSingleInstance second(m_dir.path());
    EXPECT_EQ(second.TryBecomePrimary(), SINGLE_INSTANCE_FAILED);
    EXPECT_GE(home.Clock().NowMs(), 2000);
}

TEST(SingleInstance, DefaultFolderIsTheUsersRuntimeFolder)
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    EXPECT_EQ(CSingleInstance::DefaultFolder(), runtime.path());
    qunsetenv("XDG_RUNTIME_DIR");
    const QString sFallback = CSingleInstance::DefaultFolder();
    EXPECT_FALSE(sFallback.isEmpty());
    EXPECT_NE(QDir::cleanPath(sFallback), QDir::cleanPath(QDir::tempPath()));
    if (saved.isEmpty())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", saved);
}

} // namespace

int RunTestChild(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 3)
        return 2;
    CSingleInstance instance(arguments[2]);
    instance.SetActivateHandler([](const QString& sToken) {
        std::printf("ACTIVATED %s\n", sToken.toUtf8().constData());
        std::fflush(stdout);
    });
    const ESingleInstanceResult eResult = instance.TryBecomePrimary();
    std::printf("%s\n", kResultNames[eResult]);
    std::fflush(stdout);
    if (eResult == SINGLE_INSTANCE_PRIMARY && arguments.value(3) == "hold")
        return app.exec(); // until the test kills it
    return 0;
}

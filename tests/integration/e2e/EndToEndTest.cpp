// The whole program from a user's terminal: the `tolva` binary against a reference player with
// its own Samba shares, inside the test's private network namespace. Each step runs the program
// as a user would (a fresh process, its exit status, its output) on a fresh profile, so the
// settings and state files carry everything from one command to the next. The program runs on
// real time here: its search pass, pauses and time limits are those a user meets.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "foundation/Settings.h"
#include "support/NetworkTestAids.h"
#include "support/QtPrinters.h"
#include "support/ReferencePlayer.h"
#include "support/SambaServer.h"
#include "support/TestHome.h"

namespace {

const char* const kPlayerIp = "127.0.0.2";

struct SRun
{
    int nExit = -1;
    QString sOut;
    QString sErr;
};

std::string Describe(const SRun& run)
{
    return "exit " + std::to_string(run.nExit) + "\n--- out\n" + run.sOut.toStdString() + "--- err\n" +
           run.sErr.toStdString();
}

class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CSambaServer::ExitIfUnavailable(); // the player serves its shares with an smbd of its own
        m_sShareDir = home.Path("player/internal");
        player = std::make_unique<CReferencePlayer>(
            kPlayerIp, std::vector<std::string>{"--name", "Den Player", "--internal-dir", m_sShareDir.toStdString(),
                                                "--external-dir", home.Path("player/external").toStdString(), "--samba",
                                                home.Path("player/samba").toStdString()});
        ASSERT_TRUE(player->Start(30000)) << player->LastError();
    }
    void TearDown() override
    {
        LimitLoopback(false);
        player->Stop();
    }

    QProcess* StartTolva(const QStringList& arguments)
    {
        auto* pProcess = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TOLVA_SSDP_INTERFACES", "127.0.0.1"); // the search stays on loopback
        pProcess->setProcessEnvironment(env);
        pProcess->start(QString(TOLVA_BINARY_DIR) + "/src/cli/tolva", arguments);
        pProcess->waitForStarted();
        pProcess->closeWriteChannel();
        return pProcess;
    }
    static SRun Finish(QProcess* pProcess, int nTimeoutMs = 120000)
    {
        SRun run;
        if (pProcess->waitForFinished(nTimeoutMs) && pProcess->exitStatus() == QProcess::NormalExit)
            run.nExit = pProcess->exitCode();
        else
            pProcess->kill(), pProcess->waitForFinished();
        run.sOut = QString::fromUtf8(pProcess->readAllStandardOutput());
        run.sErr = QString::fromUtf8(pProcess->readAllStandardError());
        delete pProcess;
        return run;
    }
    SRun Tolva(const QStringList& arguments) { return Finish(StartTolva(arguments)); }

    // Starts `tolva transfer` over a slowed loopback and returns once nBytes of the file are on
    // the share; null (after failing the test) when that does not happen.
    QProcess* StartSlowTransferOf(const QString& sSourcePath, qint64 nBytes)
    {
        if (!LimitLoopback(true)) {
            ADD_FAILURE() << "tc cannot limit loopback in this namespace";
            return nullptr;
        }
        QProcess* pTransfer = StartTolva({"transfer"});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (QFileInfo(PartialOnShare(sSourcePath)).size() < nBytes && std::chrono::steady_clock::now() < deadline &&
               !pTransfer->waitForFinished(20))
            ;
        if (PartialOnShare(sSourcePath).isEmpty()) {
            ADD_FAILURE() << "the large file never started: " << Describe(Finish(pTransfer));
            return nullptr;
        }
        return pTransfer;
    }

    // The file's copy on the player's internal share (below "<computer>/<source path>"), or
    // empty when there is none.
    QString OnShare(const QString& sSourcePath) const { return CopyOnShare(m_sShareDir, sSourcePath); }
    // The file's copy under way: a temporary file in the computer's hidden folder on the share,
    // named after the file; empty when there is none.
    QString PartialOnShare(const QString& sSourcePath) const
    {
        const QString sSuffix = "-" + QFileInfo(sSourcePath).fileName() + ".part";
        QDirIterator it(m_sShareDir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString sPath = it.next();
            if (sPath.endsWith(sSuffix))
                return sPath;
        }
        return {};
    }
    int FilesOnShare() const
    {
        int n = 0;
        QDirIterator it(m_sShareDir, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            it.next(), ++n;
        return n;
    }
    QStringList History()
    {
        const SRun run = Tolva({"history"});
        EXPECT_EQ(run.nExit, 0) << Describe(run);
        return run.sOut.split('\n', Qt::SkipEmptyParts);
    }
    int HistoryLinesFor(const QString& sPath, const QString& sResult)
    {
        int n = 0;
        for (const QString& sLine : History())
            n += sLine.endsWith("  " + sPath) && sLine.contains("  " + sResult + "  ") ? 1 : 0;
        return n;
    }
    QString Music(const QString& sRelative) const { return home.Path("Music Library/" + sRelative); }

    CTestHome home; // the profile of every tolva process started (HOME and XDG folders)
    std::unique_ptr<CReferencePlayer> player;
    QString m_sShareDir;
};

} // namespace

TEST_F(EndToEnd, DiscoverSelectWatchTransferAgainChangedAndPlayerLostMidFile)
{
    const QString sSong = Music("Album/01 Intro.mp3");
    const QString sLive = Music("Album/Live/02 Encore.flac");
    const QString sSkipped = Music("Album/03 Demo.ogg"); // a type left unticked
    const QString sNotes = Music("Album/notes.txt");     // a type the player does not take
    WriteTestFile(sSong, PseudoRandomBytes(700 * 1024 + 3, 1));
    WriteTestFile(sLive, PseudoRandomBytes(2 * 1024 * 1024, 2));
    WriteTestFile(sSkipped, PseudoRandomBytes(5000, 3));
    WriteTestFile(sNotes, "liner notes");

    // Discover: one search pass lists the player with its address, power and types.
    SRun run = Tolva({"players"});
    ASSERT_EQ(run.nExit, 0) << Describe(run);
    EXPECT_TRUE(run.sOut.contains("Den Player")) << Describe(run);
    EXPECT_TRUE(run.sOut.contains(QString("IP address  ") + kPlayerIp));
    EXPECT_TRUE(run.sOut.contains(QString::fromStdString(player->Udn())));
    EXPECT_TRUE(run.sOut.contains("power       on"));
    EXPECT_TRUE(run.sOut.contains("mp3, wma, m4a, flac"));

    // Select by address: the settings name the player, its types are in its list, all ticked.
    run = Tolva({"select", kPlayerIp});
    ASSERT_EQ(run.nExit, 0) << Describe(run);
    EXPECT_EQ(GetCurrentDevId(), QString::fromStdString(player->Udn()));
    EXPECT_EQ(GetCurrentDevIP(), kPlayerIp);

    run = Tolva({"folders", "add", home.Path("Music Library")});
    ASSERT_EQ(run.nExit, 0) << Describe(run);
    ASSERT_EQ(Tolva({"types", "untick", "all"}).nExit, 0);
    run = Tolva({"types", "tick", "mp3", "flac"});
    ASSERT_EQ(run.nExit, 0) << Describe(run);
    EXPECT_TRUE(run.sOut.contains("[x] mp3") && run.sOut.contains("[x] flac") && run.sOut.contains("[ ] ogg"));

    // Transfer: the two files of ticked types land byte for byte, with an OK line each.
    run = Tolva({"transfer"});
    ASSERT_EQ(run.nExit, 0) << Describe(run);
    EXPECT_TRUE(run.sOut.contains("The transfer is finished.")) << Describe(run);
    EXPECT_TRUE(run.sOut.contains("[1/2] OK") && run.sOut.contains("[2/2] OK")) << Describe(run);
    ASSERT_FALSE(OnShare(sSong).isEmpty());
    EXPECT_EQ(ReadTestFile(OnShare(sSong)), ReadTestFile(sSong));
    EXPECT_EQ(ReadTestFile(OnShare(sLive)), ReadTestFile(sLive));
    EXPECT_TRUE(OnShare(sSkipped).isEmpty());
    EXPECT_TRUE(OnShare(sNotes).isEmpty());
    EXPECT_EQ(FilesOnShare(), 2);
    EXPECT_EQ(HistoryLinesFor(sSong, "OK"), 1);
    EXPECT_EQ(HistoryLinesFor(sLive, "OK"), 1);

    // Again: nothing new, code 5 (exit 15), nothing copied or recorded.
    run = Tolva({"transfer"});
    EXPECT_EQ(run.nExit, 15) << Describe(run);
    EXPECT_TRUE(run.sOut.contains("File for transfer was not found.")) << Describe(run);
    EXPECT_TRUE(run.sOut.contains("tolva history clear")) << "the command-line user's way, not a window's list";
    EXPECT_FALSE(run.sOut.contains("Transferred Files List")) << Describe(run);
    EXPECT_EQ(History().size(), 2);

    // One file changed: only that one goes again.
    WriteTestFile(sSong, PseudoRandomBytes(650 * 1024, 4));
    QFile song(sSong);
    ASSERT_TRUE(song.open(QIODevice::ReadWrite));
    ASSERT_TRUE(song.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    song.close();
    run = Tolva({"transfer"});
    ASSERT_EQ(run.nExit, 0) << Describe(run);
    EXPECT_TRUE(run.sOut.contains("[1/1] OK  " + sSong)) << Describe(run);
    EXPECT_EQ(ReadTestFile(OnShare(sSong)), ReadTestFile(sSong));
    EXPECT_EQ(HistoryLinesFor(sSong, "OK"), 2);
    EXPECT_EQ(HistoryLinesFor(sLive, "OK"), 1);

    // The player stops answering during a large file: the run ends as "device lost", and the
    // part already written is removed from the share.
    const QString sLarge = Music("Album/04 Long Suite.flac");
    WriteTestFile(sLarge, PseudoRandomBytes(96 * 1024 * 1024, 5));
    QProcess* pTransfer = StartSlowTransferOf(sLarge, 4 * 1024 * 1024);
    ASSERT_TRUE(pTransfer);
    EXPECT_TRUE(player->Do("offline"));
    run = Finish(pTransfer);
    EXPECT_EQ(run.nExit, 27) << Describe(run);
    EXPECT_TRUE(run.sErr.contains("The selected device is not connected.")) << Describe(run);
    EXPECT_TRUE(OnShare(sLarge).isEmpty()) << "a partial file stayed on the share";
    EXPECT_TRUE(PartialOnShare(sLarge).isEmpty()) << "a partial file stayed on the share";

    // The player returns; the next run completes the large file.
    ASSERT_TRUE(LimitLoopback(false));
    EXPECT_TRUE(player->Do("online"));
    run = Tolva({"transfer"});
    ASSERT_EQ(run.nExit, 0) << Describe(run);
    ASSERT_FALSE(OnShare(sLarge).isEmpty());
    EXPECT_TRUE(ReadTestFile(OnShare(sLarge)) == ReadTestFile(sLarge)) << "the large file arrived whole";
    EXPECT_EQ(HistoryLinesFor(sLarge, "OK"), 1);
    EXPECT_EQ(FilesOnShare(), 3);
}

TEST_F(EndToEnd, AddByAddressNotReadyPlayerAndNobodyAtTheAddress)
{
    // Nobody at the address: one message, exit 6, no selection written.
    SRun run = Tolva({"add", "127.0.0.9"});
    EXPECT_EQ(run.nExit, 6) << Describe(run);
    EXPECT_TRUE(run.sErr.contains("127.0.0.9"));
    EXPECT_TRUE(GetCurrentDevId().isEmpty());

    // A player the search cannot see is found at its address and selected.
    ASSERT_TRUE(player->Do("ssdp off"));
    run = Tolva({"add", kPlayerIp});
    ASSERT_EQ(run.nExit, 0) << Describe(run);
    EXPECT_EQ(GetCurrentDevId(), QString::fromStdString(player->Udn()));

    // A player that does not wake: the run retries once ("DevicePowerFrequency" 1), 5 s later,
    // then reports it not ready (code 11, exit 21). The transfer finds it by its address.
    WriteTestFile(Music("a.mp3"), PseudoRandomBytes(1000, 6));
    ASSERT_EQ(Tolva({"folders", "add", home.Path("Music Library")}).nExit, 0);
    WriteSettingDword(kSettingDevicePowerFrequency, 1);
    WriteSettingDword("PowerRebootWaitingTimeSecond", 1);
    ASSERT_TRUE(player->Do("standby other"));
    run = Tolva({"transfer"});
    EXPECT_EQ(run.nExit, 21) << Describe(run);
    EXPECT_EQ(run.sOut.count("asking again in 5 seconds"), 1) << Describe(run);
    EXPECT_TRUE(run.sOut.contains("Transfer cannot start because the device has not been ready for it."));
    EXPECT_TRUE(OnShare(Music("a.mp3")).isEmpty());

    // In network standby it is woken and the run goes through.
    ASSERT_TRUE(player->Do("wake-delay 200"));
    ASSERT_TRUE(player->Do("standby networkReady"));
    run = Tolva({"transfer"});
    ASSERT_EQ(run.nExit, 0) << Describe(run);
    EXPECT_EQ(player->StatusValue("wakes"), "1");
    EXPECT_FALSE(OnShare(Music("a.mp3")).isEmpty());

    // Ctrl+C during a large file: the run is cancelled (code 8, exit 18), the part already
    // written is removed, and the file leaves no line in the history.
    const QString sLarge = Music("b.flac");
    WriteTestFile(sLarge, PseudoRandomBytes(64 * 1024 * 1024, 7));
    QProcess* pTransfer = StartSlowTransferOf(sLarge, 2 * 1024 * 1024);
    ASSERT_TRUE(pTransfer);
    ::kill(static_cast<pid_t>(pTransfer->processId()), SIGINT);
    run = Finish(pTransfer);
    EXPECT_EQ(run.nExit, 18) << Describe(run);
    EXPECT_TRUE(run.sOut.contains("The transfer is cancelled.")) << Describe(run);
    EXPECT_TRUE(OnShare(sLarge).isEmpty()) << "a partial file stayed on the share";
    EXPECT_TRUE(PartialOnShare(sLarge).isEmpty()) << "a partial file stayed on the share";
    EXPECT_EQ(HistoryLinesFor(sLarge, "OK"), 0);
    EXPECT_FALSE(History().join('\n').contains(sLarge));
}

namespace {

// Players that answer badly, without shares: what `tolva` tells the user (and the log) about what
// the player did.
class PlayerAnswers : public EndToEnd
{
protected:
    void SetUp() override { home.EnableLog(); }
    void TearDown() override {}

    CReferencePlayer& Start(const std::string& sAddress, std::vector<std::string> args)
    {
        m_players.push_back(std::make_unique<CReferencePlayer>(sAddress, std::move(args)));
        EXPECT_TRUE(m_players.back()->Start()) << m_players.back()->LastError();
        return *m_players.back();
    }

    std::vector<std::unique_ptr<CReferencePlayer>> m_players;
};

} // namespace

TEST_F(PlayerAnswers, AddAndPowerSayWhatThePlayerAnswered)
{
    Start("127.0.0.3", {"--no-ssdp", "--http-status", "500"});
    Start("127.0.0.4", {"--no-ssdp", "--malformed-xml"});
    SRun run = Tolva({"add", "127.0.0.3"});
    EXPECT_EQ(run.nExit, 6) << Describe(run);
    EXPECT_TRUE(run.sErr.contains("The player at 127.0.0.3 answered with HTTP status 500 instead of its description."))
        << Describe(run);
    EXPECT_TRUE(home.ReadLog().contains("answered with HTTP status 500"));
    run = Tolva({"add", "127.0.0.4"});
    EXPECT_EQ(run.nExit, 6) << Describe(run);
    EXPECT_TRUE(run.sErr.contains("The player at 127.0.0.4 answered, but its description is not valid XML."))
        << Describe(run);

    // A player whose web API answers are cut off: its power state is unreadable, not missing.
    CReferencePlayer& broken = Start("127.0.0.5", {"--no-ssdp"});
    ASSERT_EQ(Tolva({"add", "127.0.0.5"}).nExit, 0);
    ASSERT_TRUE(broken.Do("malformed-json on"));
    run = Tolva({"power"});
    EXPECT_EQ(run.nExit, 0) << Describe(run);
    EXPECT_TRUE(run.sOut.contains("unknown (the player's answer could not be read)")) << Describe(run);
}

TEST_F(PlayerAnswers, OverlongUuidAndAWakeThatDoesNotTakeAreNamed)
{
    Start("127.0.0.6", {"--no-ssdp", "--udn", "uuid:" + std::string(5000, 'x')});
    SRun run = Tolva({"add", "127.0.0.6"});
    EXPECT_EQ(run.nExit, 1) << Describe(run);
    EXPECT_TRUE(run.sErr.contains("The player's UUID is 5005 characters long")) << Describe(run);

    // The player takes the wake request and stays asleep: the user sees what is waited for.
    Start("127.0.0.7", {"--no-ssdp", "--power", "networkReady", "--wake-ignore"});
    ASSERT_EQ(Tolva({"add", "127.0.0.7"}).nExit, 0);
    WriteTestFile(Music("a.mp3"), PseudoRandomBytes(100, 8));
    ASSERT_EQ(Tolva({"folders", "add", home.Path("Music Library")}).nExit, 0);
    ASSERT_EQ(Tolva({"types", "tick", "mp3"}).nExit, 0);
    WriteSettingDword(kSettingDevicePowerFrequency, 0);
    WriteSettingDword(kSettingPowerRebootWaitingTimeSecond, 1);
    run = Tolva({"transfer"});
    EXPECT_EQ(run.nExit, 21) << Describe(run);
    EXPECT_TRUE(run.sOut.contains("The player was asked to wake up; waiting up to 1 s for it to get ready ..."))
        << Describe(run);
    EXPECT_TRUE(home.ReadLog().contains("is not ready 1 s after the wake request"));
}

// The sync pipeline (common manager, transfer thread, copy) writing into real Samba shares through
// the share file layer's SMB back end: the player's shares are smbd on 127.0.0.2.

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <QDir>
#include <QFileInfo>

#include "foundation/Paths.h"
#include "foundation/StringTable.h"
#include "platform/SmbShareFileSystem.h"
#include "support/SambaServer.h"
#include "support/SyncFixture.h"
#include "sync/CopyToShare.h"

namespace {

constexpr int kBlock = 262144;
const QString kInternal = QStringLiteral("Tolva_Internal");
const QString kExternal = QStringLiteral("Tolva_External");

QByteArray Bytes(qsizetype nSize, unsigned nSeed)
{
    QByteArray data(nSize, Qt::Uninitialized);
    std::uint64_t nState = 0x9e3779b97f4a7c15ull * (nSeed + 1);
    char* p = data.data();
    for (qsizetype nAt = 0; nAt < nSize; nAt += 8) {
        nState ^= nState << 13;
        nState ^= nState >> 7;
        nState ^= nState << 17;
        std::memcpy(p + nAt, &nState, static_cast<std::size_t>(std::min<qsizetype>(8, nSize - nAt)));
    }
    return data;
}

// The common manager of the sync tests, but with the shares on a real Samba server and the
// program's own share file layer (no mapping, no injected faults).
class SambaTransferTest : public SyncFixture
{
protected:
    void SetUp() override
    {
        const QString sReason = CSambaServer::UnavailableReason();
        if (!sReason.isEmpty())
            GTEST_SKIP() << sReason.toStdString();
        SyncFixture::SetUp();
        CShareFileSystem::UnmapAllShareRoots();
        pCm->TransferManager().SetFileSystemFactory([] { return std::make_unique<CShareFileSystem>(); });
        // Short enough that a test never waits long for a silent server.
        SetDefaultSmbConfig(server.ClientConfig(2000));
        AddPlayer();
    }
    void TearDown() override
    {
        JoinWatcher();
        if (pCm)
            SyncFixture::TearDown();
        SetDefaultSmbConfig(SSmbConfig());
    }

    void StartServer()
    {
        QString sError;
        ASSERT_TRUE(server.Start(&sError)) << sError.toStdString();
    }
    QByteArray OnShare(const QString& sShare, const QString& sRelative)
    {
        return ReadTestFile(server.ShareFolder(sShare) + "/" + sRelative);
    }
    bool ExistsOnShare(const QString& sShare, const QString& sRelative)
    {
        return QFileInfo::exists(server.ShareFolder(sShare) + "/" + sRelative);
    }
    // The history line of a source file, without its time stamp.
    QString LineOf(const QString& sName)
    {
        for (const QString& sLine : HistoryLines()) {
            if (sLine.startsWith(home.Path("src/" + sName) + "("))
                return sLine.left(sLine.indexOf(QLatin1String(" | Time:")));
        }
        return QString();
    }
    QString Expected(const QString& sName, const QString& sShare, const QString& sResult)
    {
        return home.Path("src/" + sName) + "(2014-03-07 09:05:02) | DeviceName:Living Room " + sShare +
               " | Result: " + sResult;
    }

    // Watches the file growing on the share and, once it holds nBytes, stops the server dead
    // (SIGSTOP first, so the copy cannot finish in between, then SIGKILL); then runs afterKill.
    void KillServerDuring(const QString& sRelative, qint64 nBytes, std::function<void()> afterKill)
    {
        m_watcher = std::thread([this, sRelative, nBytes, afterKill = std::move(afterKill)] {
            // The copy writes a temporary file in the computer's hidden folder, named after the
            // file; it gets the file's own name only once it is whole.
            const QDir partial(server.ShareFolder(kInternal) + "/PC/" + CCopyToShare::kPartialFolderName);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            auto written = [&] {
                for (const QFileInfo& file : partial.entryInfoList({"*" + sRelative + ".part"}, QDir::Files)) {
                    if (file.size() >= nBytes)
                        return true;
                }
                return false;
            };
            while (!written() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            // The copy waits in the clock from now on until afterKill lets time run again.
            home.Clock().SetAutoAdvance(false);
            server.Pause();
            server.Kill();
            m_bKilled.store(true);
            afterKill();
            home.Clock().SetAutoAdvance(true);
        });
    }
    void JoinWatcher()
    {
        if (m_watcher.joinable())
            m_watcher.join();
    }

    CSambaServer server;
    std::thread m_watcher;
    std::atomic<bool> m_bKilled{false};
};

TEST_F(SambaTransferTest, FullRunWritesNamesAndBytesAndReplacesAnExistingFile)
{
    WriteTestFile(server.ShareFolder(kInternal) + "/PC/Rock/b.mp3", "an older copy that is longer than the new one");
    StartServer();
    const QByteArray a = Bytes(3 * kBlock + 99, 1);
    const QByteArray b = Bytes(17, 2);
    const QByteArray c = Bytes(kBlock, 3);
    const QString sOdd = QString::fromUtf8("Jazz/Live at 100% #2/Jóga.flac");
    QueueFile("Rock/a.mp3", a);
    QueueFile("Rock/b.mp3", b);
    QueueFile(sOdd, c);
    QueueFile("empty.mp3", QByteArray());

    EXPECT_EQ(Transfer(), EC_OK);
    EXPECT_FALSE(pCm->IsSomeFilesFailed());
    EXPECT_EQ(OnShare(kInternal, "PC/Rock/a.mp3"), a);
    EXPECT_EQ(OnShare(kInternal, "PC/Rock/b.mp3"), b);
    EXPECT_EQ(OnShare(kInternal, "PC/" + sOdd), c);
    EXPECT_TRUE(ExistsOnShare(kInternal, "PC/empty.mp3"));
    EXPECT_FALSE(ExistsOnShare(kExternal, "PC"));
    EXPECT_EQ(HistoryLines().size(), 4);
    for (const QString& sName :
         {QStringLiteral("Rock/a.mp3"), QStringLiteral("Rock/b.mp3"), sOdd, QStringLiteral("empty.mp3")})
        EXPECT_EQ(LineOf(sName), Expected(sName, kInternal, "OK"));
}

TEST_F(SambaTransferTest, AutoModeMovesToTheExternalShareWhenTheInternalOneIsFull)
{
    QString sError;
    ASSERT_TRUE(server.LimitShareSize(kInternal, 1536 * 1024, &sError)) << sError.toStdString();
    StartServer();
    QueueFile("a.mp3", Bytes(1024 * 1024, 4));
    QueueFile("b.mp3", Bytes(1024 * 1024, 5)); // does not fit any more
    QueueFile("c.mp3", Bytes(kBlock, 6));

    EXPECT_EQ(Transfer(), EC_OK);
    EXPECT_EQ(OnShare(kInternal, "PC/a.mp3"), Bytes(1024 * 1024, 4));
    EXPECT_FALSE(ExistsOnShare(kInternal, "PC/b.mp3")) << "the partial file was deleted";
    EXPECT_EQ(OnShare(kExternal, "PC/b.mp3"), Bytes(1024 * 1024, 5));
    EXPECT_EQ(OnShare(kExternal, "PC/c.mp3"), Bytes(kBlock, 6));
    EXPECT_FALSE(ExistsOnShare(kInternal, "PC/c.mp3"));
    EXPECT_EQ(LineOf("a.mp3"), Expected("a.mp3", kInternal, "OK"));
    EXPECT_EQ(LineOf("b.mp3"), Expected("b.mp3", kExternal, "OK"));
    EXPECT_EQ(LineOf("c.mp3"), Expected("c.mp3", kExternal, "OK"));
}

TEST_F(SambaTransferTest, FullInternalShareWithoutAnExternalOneEndsWithSix)
{
    QString sError;
    ASSERT_TRUE(server.LimitShareSize(kInternal, 1536 * 1024, &sError)) << sError.toStdString();
    server.RemoveShare(kExternal);
    StartServer();
    QueueFile("a.mp3", Bytes(1024 * 1024, 7));
    QueueFile("b.mp3", Bytes(1024 * 1024, 8));
    QueueFile("c.mp3", Bytes(kBlock, 9));

    EXPECT_EQ(Transfer(), EC_DEVICE_FULL);
    EXPECT_EQ(OnShare(kInternal, "PC/a.mp3"), Bytes(1024 * 1024, 7));
    EXPECT_FALSE(ExistsOnShare(kInternal, "PC/b.mp3"));
    EXPECT_FALSE(ExistsOnShare(kInternal, "PC/c.mp3"));
    EXPECT_EQ(LineOf("b.mp3"), Expected("b.mp3", kInternal, LoadStringText(151)));
    EXPECT_TRUE(LineOf("c.mp3").isEmpty()) << "the run ended at the full disk";
}

// A read-only share refuses the creation of the file (as a Windows share does), which the copy
// counts as "file failed" (10): five attempts, then the next file; a run whose last file failed so
// ends with 0 and the some-files-failed notice.
TEST_F(SambaTransferTest, ReadOnlyShareFailsEachFileAfterFiveAttempts)
{
    server.SetReadOnly(kInternal, true);
    StartServer();
    QueueFile("a.mp3", Bytes(kBlock, 10));

    EXPECT_EQ(Transfer(), EC_OK);
    EXPECT_TRUE(pCm->IsSomeFilesFailed());
    EXPECT_FALSE(ExistsOnShare(kInternal, "PC/a.mp3"));
    EXPECT_EQ(LineOf("a.mp3"), Expected("a.mp3", kInternal, LoadStringText(185)));
    const QByteArray log = home.ReadLog();
    for (int nAttempt = 0; nAttempt < 5; ++nAttempt)
        EXPECT_TRUE(log.contains(QStringLiteral("temp errcode = 10  , this is  %1 times").arg(nAttempt).toUtf8()))
            << nAttempt;
    EXPECT_FALSE(log.contains("this is  5 times"));
}

TEST_F(SambaTransferTest, ServerKilledDuringALargeFileAndBackBeforeTheRetryGetsTheWholeFile)
{
    StartServer();
    const QByteArray big = Bytes(64 * 1024 * 1024, 11);
    QueueFile("big.flac", big);
    KillServerDuring("big.flac", 8 * 1024 * 1024, [this] {
        QString sError;
        EXPECT_TRUE(server.Start(&sError)) << sError.toStdString();
    });

    pCm->OnPowerStateResult(true);
    EXPECT_EQ(window.WaitForOutcome(60000), EC_OK);
    JoinWatcher();
    EXPECT_TRUE(m_bKilled.load());
    EXPECT_TRUE(OnShare(kInternal, "PC/big.flac") == big) << "the retry wrote the whole file";
    EXPECT_EQ(LineOf("big.flac"), Expected("big.flac", kInternal, "OK"));
    EXPECT_TRUE(home.ReadLog().contains("temp errcode = 9  , this is  0 times"));
}

TEST_F(SambaTransferTest, ServerKilledDuringALargeFileLeavesNoPartialFileOnceItIsBack)
{
    StartServer();
    QueueFile("big.flac", Bytes(64 * 1024 * 1024, 12));
    KillServerDuring("big.flac", 8 * 1024 * 1024, [] {});

    // Every attempt fails while the server is gone; the last one could not create the file.
    pCm->OnPowerStateResult(true);
    EXPECT_EQ(window.WaitForOutcome(60000), EC_OK);
    JoinWatcher();
    EXPECT_TRUE(pCm->IsSomeFilesFailed());
    EXPECT_EQ(LineOf("big.flac"), Expected("big.flac", kInternal, LoadStringText(185)));
    EXPECT_FALSE(ExistsOnShare(kInternal, "PC/big.flac")) << "never a broken song under the song's name";
    const QDir partial(server.ShareFolder(kInternal) + "/PC/" + CCopyToShare::kPartialFolderName);
    ASSERT_EQ(partial.entryList(QDir::Files).size(), 1) << "the delete could not reach the server";

    // The server returns; the next contact (here the share test a next run starts with) removes
    // the partial file before anything else.
    QString sError;
    ASSERT_TRUE(server.Start(&sError)) << sError.toStdString();
    EXPECT_TRUE(PathExists(InternalSharePath(kPlayerIp)));
    EXPECT_TRUE(partial.entryList(QDir::Files).isEmpty());
    EXPECT_FALSE(ExistsOnShare(kInternal, "PC/big.flac"));
}

TEST_F(SambaTransferTest, ACutCopyLeftByAnEarlierProcessIsRemovedAtTheNextRun)
{
    // A power cut ended another process in the middle of a file: its temporary file stays.
    const QString sPartial = server.ShareFolder(kInternal) + "/PC/" + CCopyToShare::kPartialFolderName;
    WriteTestFile(sPartial + "/99999999-1-cut.flac.part", Bytes(kBlock, 14));
    StartServer();
    QueueFile("a.mp3", Bytes(kBlock, 15));
    EXPECT_EQ(Transfer(), EC_OK);
    EXPECT_EQ(OnShare(kInternal, "PC/a.mp3"), Bytes(kBlock, 15));
    EXPECT_TRUE(QDir(sPartial).entryList(QDir::Files).isEmpty());
    EXPECT_FALSE(ExistsOnShare(kInternal, "PC/cut.flac"));
}

TEST_F(SambaTransferTest, ExternalDestinationNeedsAnExternalShare)
{
    SetSyncFileSavePosition(SAVE_POSITION_EXTERNAL);
    server.RemoveShare(kExternal);
    StartServer();
    QueueFile("a.mp3", Bytes(kBlock, 13));
    EXPECT_EQ(Transfer(), EC_NO_EXTERNAL);
    EXPECT_TRUE(HistoryLines().isEmpty());

    // With the share there, the same run goes to it.
    server.Kill();
    server.AddShare(kExternal);
    StartServer();
    EXPECT_EQ(Transfer(), EC_OK);
    EXPECT_EQ(OnShare(kExternal, "PC/a.mp3"), Bytes(kBlock, 13));
    EXPECT_EQ(LineOf("a.mp3"), Expected("a.mp3", kExternal, "OK"));
}

} // namespace

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <unistd.h>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "foundation/Settings.h"
#include "support/FaultyShareFileSystem.h"
#include "support/TestHome.h"
#include "sync/CopyToShare.h"

namespace {

const QString kIp = "127.0.0.2";
const QString kInternalRoot = "\\\\127.0.0.2\\Tolva_Internal";
const QString kExternalRoot = "\\\\127.0.0.2\\Tolva_External";

QByteArray RandomBytes(int nSize, unsigned nSeed)
{
    std::mt19937 random(nSeed);
    QByteArray bytes(nSize, Qt::Uninitialized);
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// The transfer manager's side of the copy: a stop flag, a device-removed state and pauses on
// the virtual clock.
class CTestControl final : public ITransferControl
{
public:
    bool IsStopRequested() const override { return m_bStop.load(); }
    bool IsDeviceRemoved() const override { return m_bRemoved.load(); }
    bool Pause(std::int64_t nMs) override { return Clock().WaitFor(m_stopEvent, nMs); }
    void ShowProgress(unsigned nDone, unsigned nTotal) override
    {
        std::lock_guard lock(m_mutex);
        progress.emplace_back(nDone, nTotal);
    }
    void Stop()
    {
        m_bStop.store(true);
        m_stopEvent.Set();
    }
    void DropDevice() { m_bRemoved.store(true); }

    std::vector<std::pair<unsigned, unsigned>> progress;

private:
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bRemoved{false};
    CEvent m_stopEvent{true, false};
    std::mutex m_mutex;
};

class CopyToShareTest : public testing::Test
{
protected:
    void SetUp() override
    {
        home.Clock().SetAutoAdvance(true);
        home.EnableLog();
        ASSERT_TRUE(QDir().mkpath(home.Path("internal")));
        ASSERT_TRUE(QDir().mkpath(home.Path("external")));
        CShareFileSystem::MapShareRoot(kInternalRoot, home.Path("internal"));
        CShareFileSystem::MapShareRoot(kExternalRoot, home.Path("external"));
        run.sDeviceIp = kIp;
        run.nTotal = 1;
        pFaults = std::make_shared<SShareFaults>();
    }

    CContent Source(const QString& sName, const QByteArray& data, const QString& sTarget)
    {
        CContent content;
        content.m_sSourcePath = home.Path("src/" + sName);
        WriteTestFile(content.m_sSourcePath, data);
        content.m_sTargetPath = sTarget;
        content.m_sModifiedTime = "(2014-03-07 09:05:02)";
        return content;
    }

    // Runs HandleContent and returns the virtual time it took.
    std::int64_t Handle(const CContent& content)
    {
        CFaultyShareFileSystem fs(pFaults);
        CCopyToShare copy(run, control, fs);
        const std::int64_t nStart = home.Clock().NowMs();
        copy.HandleContent(content);
        return home.Clock().NowMs() - nStart;
    }

    CTestHome home;
    STransferRun run;
    CTestControl control;
    std::shared_ptr<SShareFaults> pFaults;
};

} // namespace

TEST_F(CopyToShareTest, CopiesInBlocksIntoNewNestedFoldersAndReplacesAFileOfTheSameName)
{
    const QByteArray data = RandomBytes(3 * 262144 + 17, 1);
    WriteTestFile(home.Path("internal/PC/Music/keep.txt"), "kept");
    WriteTestFile(home.Path("internal/PC/Music/Rock/Live/a.mp3"), RandomBytes(1000000, 9));
    const CContent content = Source("a.mp3", data, "PC\\\\Music\\Rock\\Live\\a.mp3");
    std::vector<std::size_t> writes;
    pFaults->write = [&](const QString&, std::uint64_t, std::size_t nBytes) {
        writes.push_back(nBytes);
        return ERROR_SUCCESS;
    };

    EXPECT_EQ(Handle(content), 300) << "one attempt, after its 300 ms pause";
    EXPECT_EQ(run.eResult, EC_OK);
    EXPECT_EQ(ReadTestFile(home.Path("internal/PC/Music/Rock/Live/a.mp3")), data);
    EXPECT_EQ(ReadTestFile(home.Path("internal/PC/Music/keep.txt")), "kept");
    EXPECT_EQ(writes, (std::vector<std::size_t>{262144, 262144, 262144, 17}));
    EXPECT_EQ(run.nDone, 1u);
    EXPECT_EQ(control.progress, (std::vector<std::pair<unsigned, unsigned>>{{0, 1}, {1, 1}}));
}

TEST_F(CopyToShareTest, DestinationFollowsThePositionAndTheAutoSwitch)
{
    const CContent content = Source("b.mp3", "bee", "PC\\b.mp3");
    run.dwPosition = SAVE_POSITION_EXTERNAL;
    Handle(content);
    EXPECT_EQ(ReadTestFile(home.Path("external/PC/b.mp3")), "bee");
    EXPECT_EQ(CCopyToShare::ShareNameFor(run), "Tolva_External");

    run.dwPosition = SAVE_POSITION_AUTO;
    EXPECT_EQ(CCopyToShare::ShareRootFor(run), kInternalRoot);
    run.bSwitchedToExternal = true;
    EXPECT_EQ(CCopyToShare::ShareRootFor(run), kExternalRoot);
    run.dwPosition = SAVE_POSITION_INTERNAL;
    EXPECT_EQ(CCopyToShare::ShareRootFor(run), kInternalRoot) << "the switch only counts in Auto mode";
    EXPECT_EQ(CCopyToShare::ShareNameFor(run), "Tolva_Internal");
}

TEST_F(CopyToShareTest, NetworkSourcePathsAreOpenedThroughTheShareLayer)
{
    EXPECT_EQ(CCopyToShare::SourcePathForOpen("\\\\server\\\\music\\a.mp3"), "\\\\server\\music\\a.mp3");
    EXPECT_EQ(CCopyToShare::SourcePathForOpen("/home/ann/Music/a\\\\b.mp3"), "/home/ann/Music/a\\\\b.mp3");

    CShareFileSystem::MapShareRoot("\\\\server\\music", home.Path("nas"));
    WriteTestFile(home.Path("nas/Pop/c.mp3"), "from the nas");
    CContent content;
    content.m_sSourcePath = "\\\\server\\\\music\\Pop\\c.mp3";
    content.m_sTargetPath = "PC\\server\\music\\Pop\\c.mp3";
    Handle(content);
    EXPECT_EQ(run.eResult, EC_OK);
    EXPECT_EQ(ReadTestFile(home.Path("internal/PC/server/music/Pop/c.mp3")), "from the nas");
}

TEST_F(CopyToShareTest, SourceDeletedAfterTheScanIsNotRetried)
{
    CContent content = Source("gone.mp3", "x", "PC\\gone.mp3");
    QFile::remove(content.m_sSourcePath);
    EXPECT_EQ(Handle(content), 300);
    EXPECT_EQ(run.eResult, EC_SOURCE_MISSING);
    EXPECT_FALSE(QFile::exists(home.Path("internal/PC/gone.mp3")));
    EXPECT_EQ(run.nDone, 1u);
}

TEST_F(CopyToShareTest, SourceThatCannotBeOpenedIsTriedFiveTimes)
{
    const CContent content = Source("locked.mp3", "x", "PC\\locked.mp3");
    std::atomic<int> nOpens{0};
    pFaults->openForRead = [&](const QString&) {
        ++nOpens;
        return ERROR_SHARING_VIOLATION;
    };
    EXPECT_EQ(Handle(content), 300 + 4 * 5000);
    EXPECT_EQ(run.eResult, EC_FILE_FAILED);
    EXPECT_EQ(nOpens.load(), 5);
    EXPECT_FALSE(QFile::exists(home.Path("internal/PC/locked.mp3")));
    const QByteArray log = home.ReadLog();
    EXPECT_TRUE(log.contains("transfer manager: transfer finished , temp errcode = 10  , this is  0 times \r\n"));
    EXPECT_TRUE(log.contains("transfer manager: transfer finished , temp errcode = 10  , this is  4 times \r\n"));
    EXPECT_EQ(run.nDone, 1u) << "the attempts count as one file";
}

TEST_F(CopyToShareTest, FullDiskIsReportedAtOnceAndLeavesNoPartialFile)
{
    const CContent content = Source("big.flac", RandomBytes(600000, 2), "PC\\Music\\big.flac");
    pFaults->write = [](const QString&, std::uint64_t nOffset, std::size_t) {
        return nOffset >= 262144 ? ERROR_DISK_FULL : ERROR_SUCCESS;
    };
    EXPECT_EQ(Handle(content), 300) << "no offline wait and no retry for a full disk";
    EXPECT_EQ(run.eResult, EC_DEVICE_FULL);
    EXPECT_FALSE(QFile::exists(home.Path("internal/PC/Music/big.flac")));
    EXPECT_TRUE(QDir(home.Path("internal/PC/Music")).exists()) << "the folders stay";
}

TEST_F(CopyToShareTest, FullDiskNoticedOnlyWhenTheFileIsClosedCountsAsFull)
{
    const CContent content = Source("late.mp3", "late bytes", "PC\\late.mp3");
    pFaults->close = [](const QString&) { return ERROR_DISK_FULL; };
    Handle(content);
    EXPECT_EQ(run.eResult, EC_DEVICE_FULL);
    EXPECT_FALSE(QFile::exists(home.Path("internal/PC/late.mp3")));
}

TEST_F(CopyToShareTest, WriteErrorWhileTheDeviceIsDroppedIsADeviceLoss)
{
    const CContent content = Source("c.mp3", RandomBytes(300000, 3), "PC\\c.mp3");
    pFaults->write = [&](const QString&, std::uint64_t nOffset, std::size_t) {
        if (nOffset == 0)
            return ERROR_SUCCESS;
        control.DropDevice();
        return ERROR_NETNAME_DELETED;
    };
    EXPECT_EQ(Handle(content), 300 + 1000) << "the offline wait sees the drop within its first second";
    EXPECT_EQ(run.eResult, EC_DEVICE_LOST);
    EXPECT_EQ(run.nOfflineWait, 0u);
    EXPECT_FALSE(QFile::exists(home.Path("internal/PC/c.mp3")));

    pFaults->write = [&](const QString&, std::uint64_t, std::size_t) { return ERROR_ACCESS_DENIED; };
    Handle(content);
    EXPECT_EQ(run.eResult, EC_DENIED_DEVICE_LOST);
}

TEST_F(CopyToShareTest, WriteErrorOnAPresentDeviceWaitsTwentySecondsPerAttempt)
{
    const CContent content = Source("d.mp3", "dee", "PC\\d.mp3");
    std::atomic<int> nWrites{0};
    pFaults->write = [&](const QString&, std::uint64_t, std::size_t) {
        ++nWrites;
        return ERROR_ACCESS_DENIED;
    };
    EXPECT_EQ(Handle(content), 300 + 4 * 5000 + 5 * 20000);
    EXPECT_EQ(run.eResult, EC_ACCESS_DENIED);
    EXPECT_EQ(nWrites.load(), 5);
    EXPECT_EQ(run.nOfflineWait, 20u);
    EXPECT_FALSE(QFile::exists(home.Path("internal/PC/d.mp3")));

    pFaults->write = [&](const QString&, std::uint64_t, std::size_t) { return ERROR_GEN_FAILURE; };
    Handle(content);
    EXPECT_EQ(run.eResult, EC_TARGET_ERROR);
}

TEST_F(CopyToShareTest, ReadOnlyShareFailsTheFolderAndTheFile)
{
    const CContent content = Source("e.mp3", "eee", "PC\\Music\\e.mp3");
    pFaults->createFolder = [](const QString& sPath) {
        return IsUnderShareRoot(sPath, kInternalRoot) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    };
    pFaults->createFile = pFaults->createFolder;
    // Each attempt: the folder fails (offline wait), the copy is still tried, its file fails (wait).
    EXPECT_EQ(Handle(content), 300 + 4 * 5000 + 5 * (20000 + 20000));
    EXPECT_EQ(run.eResult, EC_FILE_FAILED);
    EXPECT_TRUE(home.ReadLog().contains("HandleContent: Create target folder to device fail!\r\n"));
    EXPECT_FALSE(QDir(home.Path("internal/PC")).exists());
}

TEST_F(CopyToShareTest, SourceThatBreaksOffMidwayIsNotCountedAsCopied)
{
    const CContent content = Source("f.mp3", RandomBytes(600000, 4), "PC\\f.mp3");
    pFaults->read = [](const QString&, std::uint64_t nOffset) {
        return nOffset >= 262144 ? ERROR_READ_FAULT : ERROR_SUCCESS;
    };
    Handle(content);
    EXPECT_EQ(run.eResult, EC_FILE_FAILED);
    EXPECT_FALSE(QFile::exists(home.Path("internal/PC/f.mp3")));
}

TEST_F(CopyToShareTest, SourceReadErrorIsTheSameCodeWithAndWithoutTheKernelCopy)
{
    const CContent content = Source("r.mp3", RandomBytes(300000, 9), "PC\\r.mp3");
    pFaults->read = [](const QString&, std::uint64_t) { return static_cast<DWORD>(ERROR_READ_FAULT); };
    // Read and write by hand: the source cannot be read, 10 at once on each attempt.
    EXPECT_EQ(Handle(content), 300 + 4 * 5000);
    EXPECT_EQ(run.eResult, EC_FILE_FAILED);
    // The kernel's copy fails the same way (it cannot tell which side failed): the same code,
    // without waiting for the device to vanish.
    pFaults->copyFrom = [](const QString&) { return static_cast<DWORD>(ERROR_READ_FAULT); };
    EXPECT_EQ(Handle(content), 300 + 4 * 5000);
    EXPECT_EQ(run.eResult, EC_FILE_FAILED);
    EXPECT_FALSE(QFile::exists(home.Path("internal/PC/r.mp3")));
    // A full disk is still a full disk when the kernel's copy is what noticed it.
    pFaults->read = nullptr;
    pFaults->copyFrom = [](const QString&) { return static_cast<DWORD>(ERROR_DISK_FULL); };
    pFaults->write = [](const QString&, std::uint64_t, std::size_t) { return static_cast<DWORD>(ERROR_DISK_FULL); };
    EXPECT_EQ(Handle(content), 300);
    EXPECT_EQ(run.eResult, EC_DEVICE_FULL);
}

TEST_F(CopyToShareTest, StopDuringTheCopyEndsItWithoutAPartialFile)
{
    const CContent content = Source("g.mp3", RandomBytes(600000, 5), "PC\\g.mp3");
    pFaults->write = [&](const QString&, std::uint64_t, std::size_t) {
        control.Stop();
        return ERROR_SUCCESS;
    };
    Handle(content);
    EXPECT_EQ(run.eResult, EC_CANCELLED);
    EXPECT_FALSE(QFile::exists(home.Path("internal/PC/g.mp3")));

    // Already stopped: no pause, no attempt.
    EXPECT_EQ(Handle(content), 0);
    EXPECT_EQ(run.eResult, EC_CANCELLED);
}

TEST_F(CopyToShareTest, StopEndsTheOfflineWaitAtOnce)
{
    const CContent content = Source("h.mp3", "aitch", "PC\\h.mp3");
    pFaults->write = [&](const QString&, std::uint64_t, std::size_t) {
        control.Stop();
        return ERROR_GEN_FAILURE;
    };
    // The stop came with the write's failure: the 20-second wait ends at its first look, and no
    // further attempt follows.
    EXPECT_EQ(Handle(content), 300);
    EXPECT_EQ(run.nOfflineWait, 1u);
    EXPECT_EQ(run.eResult, EC_CANCELLED);
}

TEST_F(CopyToShareTest, LocalFilesAreCopiedInsideTheKernelBlockByBlock)
{
    // The program's own layer (no fault wrapper): a mapped share is a local folder, so the
    // blocks are copied by the kernel.
    const QByteArray data = RandomBytes(5 * 262144 + 3, 6);
    WriteTestFile(home.Path("internal/PC/k.flac"), RandomBytes(2000000, 7));
    CContent content = Source("k.flac", data, "PC\\k.flac");
    CShareFileSystem fs;
    CCopyToShare copy(run, control, fs);
    copy.HandleContent(content);
    EXPECT_EQ(run.eResult, EC_OK);
    EXPECT_EQ(ReadTestFile(home.Path("internal/PC/k.flac")), data) << "replaced, not overwritten in part";

    content = Source("empty.mp3", QByteArray(), "PC\\empty.mp3");
    copy.HandleContent(content);
    EXPECT_EQ(run.eResult, EC_OK);
    EXPECT_TRUE(QFile::exists(home.Path("internal/PC/empty.mp3")));
}

TEST_F(CopyToShareTest, TheFileGetsItsNameOnlyWhenWholeAndCutCopiesAreRemovedLater)
{
    const QString sPartial = home.Path("internal/PC/.tolva-partial");
    // What cut copies left: of a process that is gone, of this process, and of one that runs.
    WriteTestFile(sPartial + "/99999999-3-old.mp3.part", "cut");
    WriteTestFile(sPartial + QString("/%1-777-mine.mp3.part").arg(::getpid()), "cut");
    const QString sRunning = sPartial + QString("/%1-5-busy.mp3.part").arg(::getppid());
    WriteTestFile(sRunning, "being written");
    WriteTestFile(home.Path("internal/PC/Music/p.mp3"), "older copy");

    const CContent content = Source("p.mp3", RandomBytes(600000, 11), "PC\\Music\\p.mp3");
    std::atomic<bool> bFinalSeenEarly{false};
    std::atomic<int> nPartialFiles{0};
    pFaults->write = [&](const QString& sPath, std::uint64_t, std::size_t) {
        if (ReadTestFile(home.Path("internal/PC/Music/p.mp3")) != "older copy")
            bFinalSeenEarly = true;
        if (sPath.contains("\\.tolva-partial\\"))
            nPartialFiles = static_cast<int>(QDir(sPartial).entryList(QDir::Files).size());
        return ERROR_SUCCESS;
    };
    Handle(content);
    EXPECT_EQ(run.eResult, EC_OK);
    EXPECT_FALSE(bFinalSeenEarly.load()) << "the old copy stays whole until the new one is";
    EXPECT_EQ(nPartialFiles.load(), 2) << "the running process's file and this copy's";
    EXPECT_EQ(ReadTestFile(home.Path("internal/PC/Music/p.mp3")), RandomBytes(600000, 11));
    EXPECT_EQ(QDir(sPartial).entryList(QDir::Files), QStringList{QFileInfo(sRunning).fileName()});

    // A copy whose last step, the rename, fails leaves neither the file nor its partial copy.
    pFaults->write = nullptr;
    pFaults->rename = [](const QString&) { return static_cast<DWORD>(ERROR_GEN_FAILURE); };
    const CContent other = Source("q.mp3", "queue", "PC\\Music\\q.mp3");
    Handle(other);
    EXPECT_EQ(run.eResult, EC_TARGET_ERROR);
    EXPECT_FALSE(QFile::exists(home.Path("internal/PC/Music/q.mp3")));
    EXPECT_EQ(QDir(sPartial).entryList(QDir::Files).size(), 1);
}

TEST_F(CopyToShareTest, FoldersAreAskedForOncePerRunAndMadeAgainWhenRemovedMeanwhile)
{
    std::mutex mutex;
    QStringList checked; // existence checks on the share: each costs the device round trips
    pFaults->pathExists = [&](const QString& sPath) {
        std::lock_guard lock(mutex);
        if (IsUnderShareRoot(sPath, kInternalRoot))
            checked.append(sPath);
    };
    CFaultyShareFileSystem fs(pFaults);
    CCopyToShare copy(run, control, fs);
    const auto handle = [&](const CContent& content) {
        const std::int64_t nStart = home.Clock().NowMs();
        copy.HandleContent(content);
        return home.Clock().NowMs() - nStart;
    };

    EXPECT_EQ(handle(Source("a.mp3", "first", "PC\\Rock\\Live\\a.mp3")), 300);
    EXPECT_EQ(run.eResult, EC_OK);
    const qsizetype nFirst = checked.size();
    EXPECT_GE(nFirst, 3) << "PC, Rock and Live looked for";
    EXPECT_EQ(handle(Source("b.mp3", "second", "PC\\Rock\\Live\\b.mp3")), 300);
    EXPECT_EQ(run.eResult, EC_OK);
    EXPECT_EQ(checked.size(), nFirst) << "the same folders are not asked for again in one run";

    // Someone removes the folders on the player between two files: the file still arrives at its
    // first attempt, with no wait.
    ASSERT_TRUE(QDir(home.Path("internal/PC")).removeRecursively());
    EXPECT_EQ(handle(Source("c.mp3", "third", "PC\\Rock\\Live\\c.mp3")), 300);
    EXPECT_EQ(run.eResult, EC_OK);
    EXPECT_EQ(ReadTestFile(home.Path("internal/PC/Rock/Live/c.mp3")), "third");
    EXPECT_EQ(QDir(home.Path("internal/PC/.tolva-partial")).entryList(QDir::Files), QStringList());

    // A failed attempt forgets the folders: the retry looks for them again.
    int nRenames = 0;
    pFaults->rename = [&](const QString&) { return ++nRenames == 1 ? ERROR_GEN_FAILURE : ERROR_SUCCESS; };
    checked.clear();
    handle(Source("d.mp3", "fourth", "PC\\Rock\\Live\\d.mp3"));
    EXPECT_EQ(run.eResult, EC_OK);
    EXPECT_EQ(ReadTestFile(home.Path("internal/PC/Rock/Live/d.mp3")), "fourth");
    EXPECT_GE(checked.size(), 3);
}

TEST_F(CopyToShareTest, AFolderThatCouldNotBeMadeNeverSendsTheFileIntoTheFolderAboveIt)
{
    // "Rock", a folder in the middle, cannot be made when the file's folders are prepared (a
    // passing fault: both tries of that folder fail).
    int nTries = 0;
    pFaults->createFolder = [&](const QString& sPath) {
        return sPath.endsWith("\\Rock") && ++nTries <= 2 ? ERROR_GEN_FAILURE : ERROR_SUCCESS;
    };
    Handle(Source("a.mp3", "song", "PC\\Rock\\Live\\a.mp3"));
    EXPECT_EQ(run.eResult, EC_OK);
    EXPECT_EQ(ReadTestFile(home.Path("internal/PC/Rock/Live/a.mp3")), "song");
    EXPECT_FALSE(QFileInfo::exists(home.Path("internal/PC/Rock/a.mp3")));
}

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include "FileAccess.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "platform/TextCodec.h"
#include "support/TestHome.h"
#include "sync/ContentsManager.h"
#include "sync/DeviceLists.h"
#include "sync/ErrorCode.h"

namespace {
const QString kUuid = "uuid:1234";
const time_t kTime = 1394183102; // a fixed last-write time for the test files

QString TimeText(time_t t)
{
    return FormatModifiedTime(QDateTime::fromSecsSinceEpoch(t));
}

// Records what the scan reports; TransferFinished can be held until the test lets it return,
// as the main window holds a sent message, and can run a handler on the reporting thread, as a
// send that is a direct call does.
class CRecordingOwner : public IContentsManagerOwner
{
public:
    void StartPowerCheck() override { ++m_nPowerChecks; }
    void TransferFinished(eErrorCode eCode) override
    {
        std::function<void(eErrorCode)> onCode;
        {
            std::lock_guard lock(m_mutex);
            m_codes.push_back(eCode);
            onCode = m_onCode;
            m_cv.notify_all();
        }
        if (onCode)
            onCode(eCode);
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [&] { return !m_bHold; });
    }
    void SetOnCode(std::function<void(eErrorCode)> fn)
    {
        std::lock_guard lock(m_mutex);
        m_onCode = std::move(fn);
    }
    std::vector<eErrorCode> Codes()
    {
        std::lock_guard lock(m_mutex);
        return m_codes;
    }
    bool WaitForCode()
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(20), [&] { return !m_codes.empty(); });
    }
    void SetHold(bool bHold)
    {
        std::lock_guard lock(m_mutex);
        m_bHold = bHold;
        m_cv.notify_all();
    }
    std::atomic<int> m_nPowerChecks{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<eErrorCode> m_codes;
    bool m_bHold = false;
    std::function<void(eErrorCode)> m_onCode;
};

struct SQueued
{
    QString sSource;
    QString sTarget;
    QString sTime;
    unsigned nFailStringId;
};

class ScanTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_home.EnableLog();
        ASSERT_TRUE(SetCurrentDevId(kUuid));
        m_contents.SetDevice(kUuid, "127.0.0.2");
        ASSERT_TRUE(SaveListFile(kUuid, kCapabilityListName, {"mp3|1", "flac|1", "wav|0"}));
    }

    QString Src(const QString& sRelative) const { return m_home.Path("src/" + sRelative); }
    void MakeFile(const QString& sRelative, time_t nTime = kTime)
    {
        WriteTestFile(Src(sRelative), "data");
        const struct timespec times[2] = {{nTime, 0}, {nTime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(Src(sRelative)).constData(), times, 0), 0);
    }
    void Watch(const QStringList& lines) { ASSERT_TRUE(SaveListFile(kUuid, kSyncFolderListName, lines)); }
    // The device path that the scan gives a source path below the test's profile.
    QString Target(const QString& sRelative) const
    {
        return GetComputerNameText() + QString(m_home.Root() + "/src/" + sRelative).replace('/', '\\');
    }
    static std::vector<SQueued> Drain(CThreadSafeQueue<CContent>& queue)
    {
        std::vector<SQueued> result;
        std::unique_ptr<CContent> p;
        while (queue.Pop(&p) == S_OK)
            result.push_back({p->m_sSourcePath, p->m_sTargetPath, p->m_sModifiedTime, p->m_nFailStringId});
        return result;
    }
    static std::vector<QString> Sources(const std::vector<SQueued>& queued)
    {
        std::vector<QString> result;
        for (const SQueued& q : queued)
            result.push_back(q.sSource);
        return result;
    }
    QString HistoryLine(const QString& sRelative, time_t nTime, const QString& sResult)
    {
        return MakeHistoryLine(Src(sRelative), TimeText(nTime), "Player", kInternalShareName, sResult,
                               QDateTime(QDate(2014, 3, 8), QTime(10, 11, 12)));
    }

    CTestHome m_home;
    CRecordingOwner m_owner;
    CContentsManager m_contents{&m_owner};
};
} // namespace

TEST_F(ScanTest, NestedFoldersExtensionsAndHistoryGiveEachNewFileOnce)
{
    MakeFile("Music/Rock/c.flac");
    MakeFile("Music/a.mp3");                     // in the history as OK, unchanged
    MakeFile("Music/changed.mp3", kTime + 3600); // OK in the history, but written since
    MakeFile("Music/older.mp3");                 // OK with a later time: unchanged
    MakeFile("Music/failed.mp3");                // only a failed line
    MakeFile("Music/b.WAV");                     // type not ticked
    MakeFile("Music/noext");                     // no extension
    MakeFile("Music/a.b.MP3");                   // extension case and a dotted name
    MakeFile("Music/Best: of/d?.flac");          // characters the share cannot hold
    MakeFile("Other/e.mp3");                     // folder not ticked
    Watch({Src("Music/Rock/") + "|1", Src("Music/") + "|1", Src("Other/") + "|0"});
    ASSERT_TRUE(CTransferHistory().Write(
        HistoryPathFor(kUuid), {HistoryLine("Music/a.mp3", kTime, "OK"), HistoryLine("Music/changed.mp3", kTime, "OK"),
                                HistoryLine("Music/older.mp3", kTime + 86400, "OK"),
                                HistoryLine("Music/failed.mp3", kTime, "The file could not be transferred.")}));

    m_contents.SearchProc();
    EXPECT_EQ(m_owner.m_nPowerChecks, 1);
    EXPECT_TRUE(m_owner.Codes().empty());
    EXPECT_EQ(m_contents.LongNameQueue().GetCount(), 0u);
    const std::vector<SQueued> queued = Drain(m_contents.ContentQueue());
    ASSERT_EQ(Sources(queued),
              (std::vector<QString>{Src("Music/Rock/c.flac"), Src("Music/Best: of/d?.flac"), Src("Music/a.b.MP3"),
                                    Src("Music/changed.mp3"), Src("Music/failed.mp3")}));
    EXPECT_EQ(queued[0].sTarget, Target("Music/Rock/c.flac"));
    EXPECT_EQ(queued[1].sTarget, Target("Music/Best_ of/d_.flac"));
    EXPECT_EQ(queued[2].sTarget, Target("Music/a_b.MP3"));
    EXPECT_EQ(queued[0].sTime, TimeText(kTime));
    EXPECT_EQ(queued[3].sTime, TimeText(kTime + 3600));
    EXPECT_EQ(queued[0].nFailStringId, 0u);
}

TEST_F(ScanTest, HistoryDecidesTheNextRuns)
{
    MakeFile("Music/a.mp3");
    MakeFile("Music/b.mp3");
    Watch({Src("Music/") + "|1"});
    m_contents.SearchProc();
    QStringList lines;
    for (const SQueued& q : Drain(m_contents.ContentQueue()))
        lines.append(MakeHistoryLine(q.sSource, q.sTime, "Player", kInternalShareName, "OK", Clock().LocalTime()));
    ASSERT_EQ(lines.size(), 2);
    ASSERT_TRUE(m_contents.WriteHistory(kUuid, lines));

    m_contents.SearchProc();
    EXPECT_EQ(m_owner.Codes(), std::vector<eErrorCode>{EC_NO_FILES}) << "everything is on the device already";
    MakeFile("Music/b.mp3", kTime + 1);
    m_contents.SearchProc();
    EXPECT_EQ(Sources(Drain(m_contents.ContentQueue())), std::vector<QString>{Src("Music/b.mp3")});
    ASSERT_TRUE(ClearHistory());
    m_contents.SearchProc();
    EXPECT_EQ(m_contents.ContentQueue().GetCount(), 2u) << "after clearing, every file goes again";
    EXPECT_EQ(m_owner.m_nPowerChecks, 3);
}

TEST(TargetPath, FolderLevelsAndLengthLimit)
{
    QString sRelative;
    for (int i = 1; i <= 120; ++i)
        sRelative += QString("\\f%1").arg(i);
    QString sTarget;
    ASSERT_TRUE(CContentsManager::MakeTargetPath(sRelative + "\\a.b.mp3", "OFFICE", 27, &sTarget));
    QString sExpected = "OFFICE";
    for (int i = 23; i <= 120; ++i)
        sExpected += QString("\\f%1").arg(i);
    EXPECT_EQ(sTarget, sExpected + "\\a_b.mp3") << "the innermost 98 folder levels";

    // Exactly at the limit the folders stay; one more and they are dropped; a name alone too long fails.
    const QString sName = QString(973 - 13 - 4, 'n') + ".mp3"; // "OFFICE\Music\" + name = 973 characters
    ASSERT_TRUE(CContentsManager::MakeTargetPath("\\Music\\" + sName, "OFFICE", 27, &sTarget));
    EXPECT_EQ(sTarget, "OFFICE\\Music\\" + sName);
    ASSERT_TRUE(CContentsManager::MakeTargetPath("\\Music\\x" + sName, "OFFICE", 27, &sTarget));
    EXPECT_EQ(sTarget, "OFFICE\\x" + sName);
    EXPECT_FALSE(CContentsManager::MakeTargetPath("\\Music\\" + QString(970, 'n'), "OFFICE", 27, &sTarget));

    EXPECT_EQ(CContentsManager::RelativePathOf("/home/a\\b:c/d\\e.mp3"), "\\home\\a_b_c\\d_e.mp3");
}

TEST_F(ScanTest, DeepTreesAndNamesTooLongForTheDevice)
{
    QString sDeep = "Music";
    for (int i = 0; i < 120; ++i)
        sDeep += "/d";
    MakeFile(sDeep + "/deep.mp3");
    Watch({Src("Music/") + "|1"});
    m_contents.SearchProc();
    const std::vector<SQueued> queued = Drain(m_contents.ContentQueue());
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].sTarget, GetComputerNameText() + QString("\\d").repeated(98) + "\\deep.mp3");

    // A long share root leaves too little room: the file goes to the name-too-long queue, alone
    // it still starts a run.
    m_contents.SetDevice(kUuid, QString(800, '9'));
    MakeFile("Long/" + QString(190, 'x') + ".mp3");
    Watch({Src("Long/") + "|1"});
    m_contents.SearchProc();
    EXPECT_EQ(m_contents.ContentQueue().GetCount(), 0u);
    const std::vector<SQueued> tooLong = Drain(m_contents.LongNameQueue());
    ASSERT_EQ(tooLong.size(), 1u);
    EXPECT_EQ(tooLong[0].nFailStringId, unsigned(IDS_NAME_TOO_LONG));
    EXPECT_EQ(m_owner.m_nPowerChecks, 2);
}

TEST_F(ScanTest, LinksBadNamesSpecialFilesAndUnreadableFolders)
{
    MakeFile("Music/Rock/c.mp3");
    MakeFile("Music/Locked/hidden.mp3");
    ASSERT_TRUE(QFile::link(Src("Music"), Src("Music/Rock/up")));            // a cycle
    ASSERT_TRUE(QFile::link(Src("Music/Rock"), Src("Music/alias")));         // the same folder twice
    ASSERT_TRUE(QFile::link("/nonexistent/x.mp3", Src("Music/broken.mp3"))); // a dangling link
    ASSERT_EQ(::mkfifo(QFile::encodeName(Src("Music/pipe.mp3")).constData(), 0644), 0);
    const QByteArray badName = QFile::encodeName(Src("Music/")) + "caf\xE9.mp3";
    const int fd = ::open(badName.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(::chmod(QFile::encodeName(Src("Music/Locked")).constData(), 0), 0);
    Watch({Src("Music/") + "|1"});
    {
        CObeyFilePermissions obey;
        m_contents.SearchProc();
    }
    ::chmod(QFile::encodeName(Src("Music/Locked")).constData(), 0755);
    ::unlink(badName.constData()); // the profile's clean-up cannot name it

    // The name that is not UTF-8 keeps its byte (so the file opens by its name) and is queued.
    const QString sBadName = Src("Music/caf") + QChar(0xDCE9) + ".mp3";
    EXPECT_EQ(Sources(Drain(m_contents.ContentQueue())), (std::vector<QString>{Src("Music/Rock/c.mp3"), sBadName}));
    EXPECT_EQ(NativeNameBytes(sBadName), badName);
    EXPECT_TRUE(Drain(m_contents.LongNameQueue()).empty());
    const QByteArray log = m_home.ReadLog();
    EXPECT_TRUE(log.contains("file name is not valid UTF-8: " + Src("Music/caf\\xE9.mp3").toUtf8()));
    EXPECT_TRUE(log.contains("cannot open folder " + Src("Music/Locked").toUtf8())) << log.toStdString();
    EXPECT_TRUE(log.contains("cannot read " + Src("Music/broken.mp3").toUtf8()));
}

TEST_F(ScanTest, StopDuringTheWalkQueuesNothingAndTheNextScanStartsWhileTheReportIsHeld)
{
    for (int nFolder = 0; nFolder < 20; ++nFolder) {
        for (int nFile = 0; nFile < 100; ++nFile)
            WriteTestFile(Src(QString("Music/%1/%2.mp3").arg(nFolder).arg(nFile)), QByteArray());
    }
    Watch({Src("Music/") + "|1"});
    m_owner.SetHold(true);
    ASSERT_TRUE(m_contents.StartScan());
    m_contents.SetStop(true);
    ASSERT_TRUE(m_owner.WaitForCode());
    EXPECT_EQ(m_owner.Codes(), std::vector<eErrorCode>{EC_CANCELLED});
    EXPECT_EQ(m_contents.ContentQueue().GetCount() + m_contents.LongNameQueue().GetCount(), 0u);

    // The stopped scan still waits in its report, yet it is over: the next one starts at once
    // and does a whole scan of its own.
    EXPECT_FALSE(m_contents.IsScanRunning());
    m_contents.SetStop(false);
    ASSERT_TRUE(m_contents.StartScan());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (m_owner.m_nPowerChecks.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(m_owner.m_nPowerChecks, 1);
    EXPECT_FALSE(m_contents.IsScanRunning());
    EXPECT_EQ(m_contents.ContentQueue().GetCount(), 2000u);
    m_owner.SetHold(false);
    m_contents.JoinScan();
    EXPECT_EQ(m_owner.Codes(), std::vector<eErrorCode>{EC_CANCELLED});
}

TEST_F(ScanTest, ScanStartedFromTheReportOnTheScanThreadRunsAndIsJoined)
{
    ASSERT_TRUE(QDir().mkpath(Src("Empty")));
    Watch({Src("Empty/") + "|1"});
    // As a send that is a direct call: the handler runs on the reporting scan thread itself.
    std::atomic<int> nReports{0};
    std::atomic<int> nRestarts{0};
    m_owner.SetOnCode([&](eErrorCode) {
        if (nReports.fetch_add(1) < 2 && m_contents.StartScan())
            ++nRestarts;
    });
    ASSERT_TRUE(m_contents.StartScan());
    ASSERT_TRUE(m_owner.WaitForCode());
    m_contents.JoinScan(); // joins the restarted scans too
    EXPECT_EQ(nRestarts.load(), 2);
    EXPECT_EQ(m_owner.Codes(), (std::vector<eErrorCode>{EC_NO_FILES, EC_NO_FILES, EC_NO_FILES}));
    EXPECT_FALSE(m_contents.IsScanRunning());

    // After the joins a plain start still works.
    m_owner.SetOnCode(nullptr);
    ASSERT_TRUE(m_contents.StartScan());
    m_contents.JoinScan();
    EXPECT_EQ(m_owner.Codes().size(), 4u);
}

TEST_F(ScanTest, NetworkFoldersOnTheDeviceAndBrokenListsAreSkipped)
{
    EXPECT_FALSE(m_contents.IsFolderUsable("\\\\127.0.0.2\\Music\\|1"));
    EXPECT_TRUE(m_contents.IsFolderUsable("\\\\127.0.0.3\\Music\\|1"));
    EXPECT_FALSE(m_contents.IsFolderUsable("\\\\\\Music\\|1"));
    EXPECT_TRUE(m_contents.IsFolderUsable(Src("Music/") + "|1"));
    m_contents.SetDevice(kUuid, "127.0.0.1");
    EXPECT_FALSE(m_contents.IsFolderUsable("\\\\localhost\\Music\\|1"));

    // Empty, relative and garbage folder lines are never walked (a relative one would be walked
    // from the current folder); the run ends with "nothing to transfer".
    ASSERT_TRUE(CreateDeviceFolder(kUuid));
    WriteTestFile(DeviceFolder(kUuid) + kSyncFolderListName,
                  ReadTestFile(QString(TOLVA_TEST_DATA_DIR) + "/history/corrupt_list.dat"));
    const QString sOldCurrent = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_home.Root()));
    WriteTestFile(m_home.Path("relative/folder/x.mp3"), "data");
    m_contents.SearchProc();
    QDir::setCurrent(sOldCurrent);
    EXPECT_EQ(m_owner.Codes(), std::vector<eErrorCode>{EC_NO_FILES});
    const QByteArray log = m_home.ReadLog();
    EXPECT_TRUE(log.contains("not an absolute folder, skipped: relative/folder/")) << log.toStdString();
}

TEST(DeviceLists, FormatAndTickedRule)
{
    CTestHome home;
    const QString sPath = DeviceFolder(kUuid) + kCapabilityListName;
    EXPECT_TRUE(ReadListFile(kUuid, kCapabilityListName).isEmpty());
    EXPECT_FALSE(SaveListFile("", kCapabilityListName, {"mp3|1"}));
    ASSERT_TRUE(SaveListFile(kUuid, kCapabilityListName, {"mp3|1", "flac|0"}));
    EXPECT_EQ(ReadTestFile(sPath), QByteArray("mp3|1\r\nflac|0\r\n"));

    // Readers skip empty lines and an unfinished last line; an append finishes it first.
    WriteTestFile(DeviceFolder(kUuid) + kSyncFolderListName, "/a/|1\r\n\r\n/b/|0");
    EXPECT_EQ(ReadListFile(kUuid, kSyncFolderListName), QStringList{"/a/|1"});
    ASSERT_TRUE(AppendFolderLine(kUuid, "/c|d/", "1"));
    EXPECT_EQ(ReadListFile(kUuid, kSyncFolderListName), (QStringList{"/a/|1", "/b/|0", "/c|d/|1"}));

    QString sText, sFlag;
    ASSERT_TRUE(SplitListLine("/c|d/|1", &sText, &sFlag));
    EXPECT_EQ(sText, "/c|d/");
    EXPECT_EQ(sFlag, "1");
    EXPECT_FALSE(SplitListLine("no bar", &sText, &sFlag));
    EXPECT_EQ(SetListLineFlag("/c|d/|1", "0"), "/c|d/|0");
    EXPECT_EQ(TickedListTexts({"/a/|1", "/b/|0", "x|1"}), (QStringList{"/a/", "x"}));
    EXPECT_FALSE(HasTickedListLine({"/a/|0", "/b/|0"}));
}

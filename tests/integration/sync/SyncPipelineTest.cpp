// The whole pipeline on real files: watched folders on disk, the scan, the power check (a
// double that answers like a player), the transfer thread and the copy into shares that the
// share layer maps to temporary folders. Outcomes are compared as the share's tree, the history
// file and the codes the main window receives.

#include "support/SyncFixture.h"

#include <map>

#include <QDirIterator>
#include <QFileInfo>

#include "foundation/Paths.h"
#include "foundation/StringTable.h"

namespace {

const QDateTime kFileTime(QDate(2014, 3, 7), QTime(9, 5, 2));

class SyncPipelineTest : public SyncFixture
{
protected:
    // A source file with a known last-write time.
    QString MakeFile(const QString& sRelative, const QByteArray& data, const QDateTime& time = kFileTime)
    {
        const QString sPath = home.Path(sRelative);
        WriteTestFile(sPath, data);
        QFile file(sPath);
        EXPECT_TRUE(file.open(QIODevice::ReadWrite));
        EXPECT_TRUE(file.setFileTime(time, QFileDevice::FileModificationTime));
        return sPath;
    }
    QString Folder(const QString& sRelative, bool bTicked)
    {
        return home.Path(sRelative) + "/|" + (bTicked ? "1" : "0");
    }

    // Every file below a folder, as relative paths.
    static QStringList FilesBelow(const QString& sFolder)
    {
        QStringList files;
        QDirIterator it(sFolder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(QDir(sFolder).relativeFilePath(it.next()));
        files.sort();
        return files;
    }
    // Where a source file lands below a share root: the computer's name, then its path.
    static QString OnShare(const QString& sSourcePath)
    {
        const QString sName = FileNameOf(sSourcePath);
        return GetComputerNameText() + sSourcePath.left(sSourcePath.size() - sName.size()) + FixName(sName);
    }
    static QStringList OnShare(const QStringList& sources)
    {
        QStringList files;
        for (const QString& sSource : sources)
            files.append(OnShare(sSource));
        files.sort();
        return files;
    }
    // The history lines after the first nSkip, as source path + time → result text.
    std::map<QString, QString> Results(int nSkip = 0)
    {
        std::map<QString, QString> results;
        const QStringList lines = HistoryLines();
        for (const QString& sLine : lines.mid(nSkip)) {
            EXPECT_TRUE(sLine.contains(" | DeviceName:Living Room Tolva_")) << sLine.toStdString();
            const qsizetype nResult = sLine.indexOf(" | Result: ");
            const qsizetype nTime = sLine.lastIndexOf(" | Time:");
            EXPECT_TRUE(nResult > 0 && nTime > nResult) << sLine.toStdString();
            EXPECT_EQ(sLine.size() - nTime, QString(" | Time:2014-03-07 09:05:02").size()) << sLine.toStdString();
            results[TransferredKeyOf(sLine)] = sLine.mid(nResult + 11, nTime - nResult - 11);
        }
        return results;
    }
    static QString Key(const QString& sPath, const QDateTime& time = kFileTime)
    {
        return sPath + FormatModifiedTime(time);
    }
    static QString HistoryLine(const QString& sPath, const QDateTime& time, const QString& sResult)
    {
        return MakeHistoryLine(sPath, FormatModifiedTime(time), "Living Room", "Tolva_Internal", sResult,
                               QDateTime(QDate(2014, 3, 6), QTime(20, 0, 0)));
    }
    // Starts a run and waits for its code.
    std::optional<eErrorCode> Run()
    {
        // The previous run's scan may still be on its way out after its report.
        pCm->ContentsManager().JoinScan();
        pCm->StartSync();
        return window.WaitForOutcome();
    }
};

} // namespace

TEST_F(SyncPipelineTest, WatchedFoldersToTheShareAndTheHistory)
{
    AddPlayer();
    const QString sA = MakeFile("Music/a.mp3", "a");
    const QString sUpper = MakeFile("Music/UPPER.MP3", "upper");
    MakeFile("Music/noext", "no extension");
    MakeFile("Music/d.wav", "unticked type");
    const QString sDotted = MakeFile("Music/x.b.mp3", "dotted");
    const QString sB = MakeFile("Music/Rock/b.mp3", "b in the inner watched folder");
    const QString sC = MakeFile("Music/Rock/c.flac", "c");
    const QString sOk = MakeFile("Music/ok.mp3", "already there");
    const QString sFailed = MakeFile("Music/failed.mp3", "failed last time");
    const QString sChanged = MakeFile("Music/changed.mp3", "changed since");
    const QString sDeleted = MakeFile("Music/Rock/deleted.mp3", "deleted after the scan");
    MakeFile("Other/o.mp3", "unticked folder");
    SetLists({Folder("Music", true), Folder("Music/Rock", true), Folder("Other", false)}, {"mp3|1", "flac|1", "wav|0"});

    const QStringList before = {
        HistoryLine(sOk, kFileTime, "OK"),
        HistoryLine(sFailed, kFileTime, LoadStringText(185)),
        HistoryLine(sChanged, kFileTime.addSecs(-60), "OK"),
    };
    WriteTestFile(HistoryPathFor(kPlayerUuid), (before.join("\r\n") + "\r\n").toUtf8());

    // The scan ends by asking for the power check: delete a queued file before answering.
    pPower->SetAnswer(false, true);
    pCm->StartSync();
    ASSERT_TRUE(pPower->WaitForRequests(1));
    pCm->ContentsManager().JoinScan();
    ASSERT_TRUE(QFile::remove(sDeleted));
    pCm->OnPowerStateResult(true);
    EXPECT_EQ(window.WaitForOutcome(), EC_OK);
    EXPECT_TRUE(pCm->IsSomeFilesFailed()) << "the deleted file failed";
    pPower->SetAnswer(true, true);

    EXPECT_EQ(FilesBelow(InternalDir()), OnShare({sA, sUpper, sDotted, sB, sC, sFailed, sChanged}));
    EXPECT_EQ(OnInternal(OnShare(sDotted)), "dotted");
    EXPECT_TRUE(OnShare(sDotted).endsWith("/x_b.mp3"));
    EXPECT_EQ(OnInternal(OnShare(sB)), "b in the inner watched folder");

    const QStringList lines = HistoryLines();
    ASSERT_EQ(lines.size(), 3 + 8) << "one line per attempt, after the lines that were there";
    EXPECT_EQ(lines.mid(0, 3), before);
    const std::map<QString, QString> expected = {
        {Key(sA), "OK"}, {Key(sUpper), "OK"},  {Key(sDotted), "OK"},  {Key(sB), "OK"},
        {Key(sC), "OK"}, {Key(sFailed), "OK"}, {Key(sChanged), "OK"}, {Key(sDeleted), LoadStringText(184)},
    };
    EXPECT_EQ(Results(3), expected);

    // Nothing left to copy: everything is in the history as copied and unchanged.
    EXPECT_EQ(Run(), EC_NO_FILES);
    EXPECT_EQ(HistoryLines().size(), 11);

    // One new file and one changed file: copied, and this time nothing failed.
    const QString sNew = MakeFile("Music/Rock/new.mp3", "new");
    MakeFile("Music/a.mp3", "a, edited", kFileTime.addDays(1));
    EXPECT_EQ(Run(), EC_OK);
    EXPECT_FALSE(pCm->IsSomeFilesFailed());
    EXPECT_EQ(OnInternal(OnShare(sNew)), "new");
    EXPECT_EQ(OnInternal(OnShare(sA)), "a, edited");
    EXPECT_EQ(Results(11), (std::map<QString, QString>{{Key(sNew), "OK"}, {Key(sA, kFileTime.addDays(1)), "OK"}}));
}

TEST_F(SyncPipelineTest, RefusedRunsCopyNothing)
{
    AddPlayer();
    MakeFile("Music/a.mp3", "a");
    SetLists({Folder("Music", false)}, {"mp3|0"});
    EXPECT_EQ(Run(), EC_NO_FOLDER);
    SetLists({Folder("Music", true)}, {"mp3|0"});
    EXPECT_EQ(Run(), EC_NO_FORMAT);

    // Destination "External HDD" on a device without an external disk.
    SetLists({Folder("Music", true)}, {"mp3|1"});
    SetSyncFileSavePosition(SAVE_POSITION_EXTERNAL);
    EXPECT_EQ(Run(), EC_NO_EXTERNAL);
    EXPECT_EQ(pPower->Requests().size(), 1u) << "refused after the power check";

    // A player that does not wake.
    SetSyncFileSavePosition(SAVE_POSITION_AUTO);
    pPower->SetAnswer(true, false);
    EXPECT_EQ(Run(), EC_POWER_NOT_READY);

    EXPECT_TRUE(FilesBelow(InternalDir()).isEmpty());
    EXPECT_TRUE(HistoryLines().isEmpty());
}

TEST_F(SyncPipelineTest, StopDuringTheWalkCopiesNothing)
{
    AddPlayer();
    for (int nFolder = 0; nFolder < 30; ++nFolder) {
        for (int nFile = 0; nFile < 100; ++nFile)
            WriteTestFile(home.Path(QString("Music/%1/%2.mp3").arg(nFolder).arg(nFile)), "x");
    }
    SetLists({Folder("Music", true)}, {"mp3|1"});
    pCm->StartSync();
    pCm->CancelSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_CANCELLED);
    pCm->ContentsManager().JoinScan();
    EXPECT_TRUE(pPower->Requests().empty());
    EXPECT_TRUE(FilesBelow(InternalDir()).isEmpty());
    EXPECT_TRUE(HistoryLines().isEmpty());
}

TEST_F(SyncPipelineTest, AutoModeFillsTheExternalDiskOnceTheInternalOneIsFull)
{
    AddPlayer();
    MapExternal();
    const QString sA = MakeFile("Music/a.mp3", "a");
    const QString sB = MakeFile("Music/b.mp3", "b");
    SetLists({Folder("Music", true)}, {"mp3|1"});
    // The internal disk takes the first file, then it is full.
    std::mutex mutex;
    QString sFirstInternal;
    pFaults->write = [&](const QString& sPath, std::uint64_t, std::size_t) {
        if (!IsUnderShareRoot(sPath, kInternalRoot))
            return ERROR_SUCCESS;
        std::lock_guard lock(mutex);
        if (sFirstInternal.isEmpty())
            sFirstInternal = sPath;
        return sPath == sFirstInternal ? ERROR_SUCCESS : ERROR_DISK_FULL;
    };
    EXPECT_EQ(Run(), EC_OK);
    const QStringList internalFiles = FilesBelow(InternalDir());
    const QStringList externalFiles = FilesBelow(ExternalDir());
    ASSERT_EQ(internalFiles.size(), 1);
    ASSERT_EQ(externalFiles.size(), 1);
    QStringList both = internalFiles + externalFiles;
    both.sort();
    EXPECT_EQ(both, OnShare({sA, sB}));
    const QStringList lines = HistoryLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains(" Tolva_Internal | Result: OK | "));
    EXPECT_TRUE(lines[1].contains(" Tolva_External | Result: OK | ")) << "after the switch";

    // Without the external disk the run ends at the full internal disk.
    CShareFileSystem::UnmapShareRoot(kExternalRoot);
    MakeFile("Music/c.mp3", "c");
    MakeFile("Music/d.mp3", "d");
    EXPECT_EQ(Run(), EC_DEVICE_FULL);
    const QStringList after = HistoryLines();
    ASSERT_EQ(after.size(), 3) << "the file that hit the full disk; the other one is not tried";
    EXPECT_TRUE(after[2].contains(" Tolva_Internal | Result: " + LoadStringText(151) + " | "));
}

TEST_F(SyncPipelineTest, ReadOnlyShareRecordsEveryFileAsFailed)
{
    AddPlayer();
    MakeFile("Music/a.mp3", "a");
    MakeFile("Music/b.mp3", "b");
    SetLists({Folder("Music", true)}, {"mp3|1"});
    pFaults->createFolder = [](const QString& sPath) {
        return IsUnderShareRoot(sPath, kInternalRoot) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    };
    pFaults->createFile = pFaults->createFolder;
    EXPECT_EQ(Run(), EC_OK);
    EXPECT_TRUE(pCm->IsSomeFilesFailed());
    EXPECT_TRUE(FilesBelow(InternalDir()).isEmpty());
    const std::map<QString, QString> results = Results();
    ASSERT_EQ(results.size(), 2u);
    for (const auto& [sKey, sResult] : results)
        EXPECT_EQ(sResult, LoadStringText(185)) << sKey.toStdString();
    // Failed lines do not count as copied: the next run tries again.
    pFaults->createFolder = nullptr;
    pFaults->createFile = nullptr;
    EXPECT_EQ(Run(), EC_OK);
    EXPECT_EQ(FilesBelow(InternalDir()).size(), 2);
}

TEST_F(SyncPipelineTest, DeviceDroppedDuringACopy)
{
    AddPlayer();
    MakeFile("Music/a.mp3", QByteArray(700000, 'a'));
    MakeFile("Music/b.mp3", QByteArray(700000, 'b'));
    SetLists({Folder("Music", true)}, {"mp3|1"});
    pFaults->write = [&](const QString&, std::uint64_t nOffset, std::size_t) {
        if (nOffset < 262144)
            return ERROR_SUCCESS;
        pCm->DeviceManager().RemoveOfflineDevice(kPlayerUuid);
        return ERROR_NETNAME_DELETED;
    };
    EXPECT_EQ(Run(), EC_TARGET_ERROR);
    EXPECT_TRUE(FilesBelow(InternalDir()).isEmpty()) << "no partial file stays behind";
    const std::map<QString, QString> results = Results();
    ASSERT_EQ(results.size(), 1u) << "the run ends with the file under way";
    EXPECT_EQ(results.begin()->second, LoadStringText(153));
    window.ProcessPending();
    EXPECT_EQ(window.RemovedDevices(), std::vector<QString>{kPlayerUuid});
    EXPECT_EQ(Run(), EC_NO_DEVICE) << "the player is gone";
}

TEST_F(SyncPipelineTest, FileWhoseDevicePathIsTooLongIsRecordedAndNotCopied)
{
    // A player whose address text leaves less than 200 characters for the path on its share.
    const QString sIp = "player-" + QString(773, 'x');
    const QString sRoot = InternalSharePath(sIp);
    CShareFileSystem::MapShareRoot(sRoot, InternalDir());
    AddPlayer(kPlayerUuid, sIp);
    const QString sLong = MakeFile("Music/" + QString(236, 'n') + ".mp3", "long");
    const QString sShort = MakeFile("Music/s.mp3", "short");
    SetLists({Folder("Music", true)}, {"mp3|1"});
    ASSERT_GT(GetComputerNameText().size() + 1 + 240, 1000 - (sRoot.size() + 1)) << "too long even without folders";

    EXPECT_EQ(Run(), EC_OK);
    EXPECT_TRUE(pCm->IsSomeFilesFailed());
    const QStringList files = FilesBelow(InternalDir());
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files[0].endsWith("/s.mp3"));
    const std::map<QString, QString> results = Results();
    EXPECT_EQ(results, (std::map<QString, QString>{{Key(sLong), LoadStringText(183)}, {Key(sShort), "OK"}}));
}

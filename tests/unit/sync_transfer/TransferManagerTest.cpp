#include "support/SyncFixture.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "foundation/Paths.h"
#include "foundation/StringTable.h"
#include "platform/TextCodec.h"

namespace {

using TransferManagerTest = SyncFixture;

// A full disk for every write below a share root.
std::function<DWORD(const QString&, std::uint64_t, std::size_t)> FullDiskUnder(const QString& sRoot)
{
    return [sRoot](const QString& sPath, std::uint64_t, std::size_t) {
        return IsUnderShareRoot(sPath, sRoot) ? ERROR_DISK_FULL : ERROR_SUCCESS;
    };
}

bool AllContain(const QStringList& lines, const QString& sText)
{
    for (const QString& sLine : lines) {
        if (!sLine.contains(sText))
            return false;
    }
    return !lines.isEmpty();
}

} // namespace

TEST_F(TransferManagerTest, CopiesTheQueueOneFileAfterTheOtherAndRecordsEachFile)
{
    AddPlayer();
    QueueFile("a.mp3", "alpha");
    QueueFile("Rock/b.mp3", "bravo");
    QueueFile("Rock/Live/c.flac", "charlie");
    EXPECT_EQ(Transfer(), EC_OK);
    EXPECT_FALSE(pCm->IsSomeFilesFailed());
    EXPECT_EQ(OnInternal("PC/a.mp3"), "alpha");
    EXPECT_EQ(OnInternal("PC/Rock/b.mp3"), "bravo");
    EXPECT_EQ(OnInternal("PC/Rock/Live/c.flac"), "charlie");
    EXPECT_EQ(progress.Calls(), (std::vector<std::pair<unsigned, unsigned>>{{0, 3}, {1, 3}, {2, 3}, {3, 3}}));

    const QStringList lines = HistoryLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith(home.Path("src/a.mp3") + "(2014-03-07 09:05:02) | DeviceName:Living Room "
                                                             "Tolva_Internal | Result: OK | Time:2014-03-07 09:05:"));
    EXPECT_TRUE(lines[2].startsWith(home.Path("src/Rock/Live/c.flac") + "(2014-03-07 09:05:02) |"));
    EXPECT_TRUE(AllContain(lines, "| Result: OK | Time:"));

    EXPECT_FALSE(pCm->DeviceManager().CurrentDevice()->bTransferring);
    const QByteArray log = home.ReadLog();
    EXPECT_TRUE(log.contains("transfer manager: data transfer start \r\n"));
    EXPECT_TRUE(log.contains("transfer manager:   will trans file number = 3 \r\n"));
    EXPECT_TRUE(log.contains("transfer manager: transfer finished , temp errcode =   0\r\n"));
}

TEST_F(TransferManagerTest, TheDeviceCannotBeSwitchedAwayDuringTheRun)
{
    AddPlayer();
    AddPlayer("uuid:other", "127.0.0.3", false);
    QueueFile("a.mp3", "alpha");
    std::atomic<int> nRefused{0};
    pFaults->write = [&](const QString&, std::uint64_t, std::size_t) {
        nRefused += !pCm->SelectDevice("uuid:other") + !pCm->SelectDevice(kPlayerUuid);
        return ERROR_SUCCESS;
    };
    EXPECT_EQ(Transfer(), EC_OK);
    EXPECT_EQ(nRefused.load(), 2);
    EXPECT_TRUE(pCm->SelectDevice("uuid:other")) << "free again after the run";
}

TEST_F(TransferManagerTest, AFileThatFailsDoesNotStopTheRunButIsReported)
{
    AddPlayer();
    QueueFile("denied.mp3", "x");
    QueueFile("b.mp3", "bravo");
    QueueFile("gone.mp3", "y");
    QFile::remove(home.Path("src/gone.mp3"));
    pFaults->write = [](const QString& sPath, std::uint64_t, std::size_t) {
        return sPath.contains("denied.mp3") ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    };
    // The last file is gone (10 after recording): the run counts as done, with failures.
    EXPECT_EQ(Transfer(), EC_OK);
    EXPECT_TRUE(pCm->IsSomeFilesFailed()) << "the denied file in the middle failed too";
    EXPECT_EQ(OnInternal("PC/b.mp3"), "bravo");
    EXPECT_FALSE(QFile::exists(InternalDir() + "/PC/denied.mp3"));

    const QStringList lines = HistoryLines();
    ASSERT_EQ(lines.size(), 3) << "one line per file, not per attempt";
    EXPECT_TRUE(lines[0].contains("| Result: " + LoadStringText(185) + " | "));
    EXPECT_TRUE(lines[1].contains("| Result: OK | "));
    EXPECT_TRUE(lines[2].contains("| Result: " + LoadStringText(184) + " | "));
    EXPECT_TRUE(home.ReadLog().contains("TransferProc: The select device access deny!\r\n"));
    // The progress display is told each file's own outcome, the one its history line records.
    const auto results = progress.Results();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].second, EC_ACCESS_DENIED);
    EXPECT_EQ(results[1].second, EC_OK);
    EXPECT_EQ(results[2], std::make_pair(home.Path("src/gone.mp3"), EC_SOURCE_MISSING));
}

TEST_F(TransferManagerTest, LastFileFailingOnAWriteErrorIsTheRunsCode)
{
    AddPlayer();
    QueueFile("a.mp3", "alpha");
    QueueFile("broken.mp3", "x");
    pFaults->write = [](const QString& sPath, std::uint64_t, std::size_t) {
        return sPath.contains("broken.mp3") ? ERROR_GEN_FAILURE : ERROR_SUCCESS;
    };
    EXPECT_EQ(Transfer(), EC_TARGET_ERROR);
    EXPECT_TRUE(home.ReadLog().contains("TransferProc: target  file error !\r\n"));
}

TEST_F(TransferManagerTest, AutoModeMovesToTheExternalDiskWhenTheInternalOneIsFull)
{
    AddPlayer();
    MapExternal();
    QueueFile("a.mp3", "alpha");
    QueueFile("b.mp3", "bravo");
    QueueFile("c.mp3", "charlie");
    pFaults->write = FullDiskUnder(kInternalRoot);
    EXPECT_EQ(Transfer(), EC_OK);
    EXPECT_EQ(OnExternal("PC/a.mp3"), "alpha") << "the file that hit the full disk is copied again";
    EXPECT_EQ(OnExternal("PC/b.mp3"), "bravo");
    EXPECT_EQ(OnExternal("PC/c.mp3"), "charlie");
    EXPECT_FALSE(QFile::exists(InternalDir() + "/PC/a.mp3"));
    const QStringList lines = HistoryLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(AllContain(lines, " Tolva_External | Result: OK | "));
    EXPECT_EQ(progress.Calls().back(), (std::pair<unsigned, unsigned>{3, 3})) << "the retried file counts once";
}

TEST_F(TransferManagerTest, FullDiskWithoutAWayOutEndsTheRun)
{
    // Auto mode, and the device has no external disk.
    AddPlayer();
    QueueFile("a.mp3", "alpha");
    QueueFile("b.mp3", "bravo");
    pFaults->write = FullDiskUnder(kInternalRoot);
    EXPECT_EQ(Transfer(), EC_DEVICE_FULL);
    QStringList lines = HistoryLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(" Tolva_Internal | Result: " + LoadStringText(151) + " | "));
    EXPECT_EQ(pCm->ContentsManager().ContentQueue().GetCount(), 1u) << "the rest is not tried";

    // Destination fixed to the internal disk: no switch even with an external disk.
    MapExternal();
    SetSyncFileSavePosition(SAVE_POSITION_INTERNAL);
    EXPECT_EQ(Transfer(), EC_DEVICE_FULL);
    EXPECT_FALSE(QFile::exists(ExternalDir() + "/PC/b.mp3"));

    // Auto mode whose external disk fills up too.
    SetSyncFileSavePosition(SAVE_POSITION_AUTO);
    QueueFile("c.mp3", "charlie");
    QueueFile("d.mp3", "delta");
    pFaults->write = [](const QString&, std::uint64_t, std::size_t) { return ERROR_DISK_FULL; };
    EXPECT_EQ(Transfer(), EC_DEVICE_FULL);
    lines = HistoryLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[2].contains(" Tolva_External | Result: " + LoadStringText(151) + " | "));
    EXPECT_EQ(pCm->ContentsManager().ContentQueue().GetCount(), 1u);
}

TEST_F(TransferManagerTest, FilesThatCouldNotBePlacedAreRecordedFirst)
{
    AddPlayer();
    for (const char* pszName : {"long1.mp3", "long2.mp3"}) {
        auto pContent = std::make_unique<CContent>();
        pContent->m_sSourcePath = home.Path(pszName);
        pContent->m_sModifiedTime = "(2014-03-07 09:05:02)";
        pContent->m_nFailStringId = 183;
        pCm->ContentsManager().LongNameQueue().Push(pContent);
    }
    // Only such files: nothing copied, the run counts as done with failures.
    EXPECT_EQ(Transfer(), EC_OK);
    EXPECT_TRUE(pCm->IsSomeFilesFailed());
    QStringList lines = HistoryLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(AllContain(lines, " Tolva_Internal | Result: " + LoadStringText(183) + " | "));
    EXPECT_FALSE(QDir(InternalDir() + "/PC").exists());
    // Named in the progress with their reason, not only counted.
    ASSERT_EQ(progress.notTransferred.size(), 2u);
    EXPECT_EQ(progress.notTransferred[1], std::make_pair(home.Path("long2.mp3"), LoadStringText(183)));
}

TEST_F(TransferManagerTest, StopDuringACopyLeavesNoLineAndNoPartialFile)
{
    AddPlayer();
    QueueFile("a.mp3", "alpha");
    QueueFile("big.mp3", QByteArray(600000, 'x'));
    QueueFile("c.mp3", "charlie");
    pFaults->write = [&](const QString& sPath, std::uint64_t, std::size_t) {
        if (sPath.contains("big.mp3"))
            pCm->CancelSync();
        return ERROR_SUCCESS;
    };
    EXPECT_EQ(Transfer(), EC_CANCELLED);
    EXPECT_EQ(OnInternal("PC/a.mp3"), "alpha");
    EXPECT_FALSE(QFile::exists(InternalDir() + "/PC/big.mp3"));
    EXPECT_FALSE(QFile::exists(InternalDir() + "/PC/c.mp3"));
    EXPECT_EQ(HistoryLines().size(), 1) << "a file stopped by the user leaves no line";
}

TEST_F(TransferManagerTest, StopBeforeTheFirstFileCopiesNothing)
{
    AddPlayer();
    QueueFile("a.mp3", "alpha");
    pCm->CancelSync();
    EXPECT_EQ(Transfer(), EC_CANCELLED);
    EXPECT_FALSE(QFile::exists(InternalDir() + "/PC/a.mp3"));
    EXPECT_TRUE(HistoryLines().isEmpty());
}

TEST_F(TransferManagerTest, DeviceDroppedDuringACopyIsRecordedAsNotConnected)
{
    AddPlayer();
    QueueFile("a.mp3", "alpha");
    QueueFile("b.mp3", QByteArray(600000, 'b'));
    QueueFile("c.mp3", "charlie");
    pFaults->write = [&](const QString& sPath, std::uint64_t nOffset, std::size_t) {
        if (!sPath.contains("-b.mp3") || nOffset == 0)
            return ERROR_SUCCESS;
        // The offline check drops the player (on the search thread in the program).
        pCm->DeviceManager().RemoveOfflineDevice(kPlayerUuid);
        return ERROR_NETNAME_DELETED;
    };
    // 17 becomes 9 once recorded; the stop set by the drop ends the run.
    EXPECT_EQ(Transfer(), EC_TARGET_ERROR);
    const QStringList lines = HistoryLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].contains("| Result: " + LoadStringText(153) + " | "));
    EXPECT_FALSE(QFile::exists(InternalDir() + "/PC/b.mp3"));
    EXPECT_FALSE(QFile::exists(InternalDir() + "/PC/c.mp3"));
    window.ProcessPending();
    EXPECT_EQ(window.RemovedDevices(), std::vector<QString>{kPlayerUuid});
    EXPECT_FALSE(pCm->DeviceManager().HasCurrentDevice());
}

TEST_F(TransferManagerTest, NoSelectedDeviceWhenTheThreadStarts)
{
    AddPlayer();
    QueueFile("a.mp3", "alpha");
    ASSERT_TRUE(pCm->TransferManager().StartThread());
    pCm->DeviceManager().ClearCurrentDevice();
    pCm->ContentsManager().FilesReadyEvent().Set();
    EXPECT_EQ(window.WaitForOutcome(), EC_DEVICE_OFFLINE);
    EXPECT_TRUE(home.ReadLog().contains("TransferProc: The selected device off line!\r\n"));
    EXPECT_FALSE(pCm->TransferManager().IsThreadRunning());
}

TEST_F(TransferManagerTest, TheNextRunCanStartFromTheOutcomeHandler)
{
    AddPlayer();
    WriteTestFile(home.Path("Music/a.mp3"), "alpha");
    SetLists({home.Path("Music") + "/|1"}, {"mp3|1"});
    bool bRestarted = false;
    window.SetOnOutcome([&](eErrorCode) {
        if (bRestarted)
            return;
        // While the first run's thread still waits for this handler.
        bRestarted = true;
        WriteTestFile(home.Path("Music/b.mp3"), "bravo");
        pCm->StartSync();
    });
    pCm->StartSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_OK);
    EXPECT_EQ(window.WaitForOutcome(), EC_OK) << "the second run found a thread to run on";
    const QString sComputer = GetComputerNameText();
    EXPECT_EQ(OnInternal(sComputer + home.Path("Music/b.mp3")), "bravo");
    EXPECT_EQ(HistoryLines().size(), 2) << "the first file was not copied twice";
}

TEST_F(TransferManagerTest, ShutdownWhileTheOutcomeHandlerStartsTheNextRunDoesNotHang)
{
    AddPlayer();
    QueueFile("a.mp3", "alpha");
    // Ends the test process if the shutdown below deadlocks: a hung test would never report.
    std::atomic<bool> bDone{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 1000 && !bDone.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!bDone.load()) {
            std::fprintf(stderr, "Shutdown deadlocked with the outcome handler\n");
            std::abort();
        }
    });
    std::thread shutdown;
    bool bStarted = true;
    window.SetOnOutcome([&](eErrorCode) {
        // The run's thread waits in this handler while the program shuts its transfers down;
        // the handler then tries to start the next run, as the main window may.
        shutdown = std::thread([&] { pCm->TransferManager().Shutdown(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        bStarted = pCm->TransferManager().StartThread();
    });
    EXPECT_EQ(Transfer(), EC_OK);
    shutdown.join();
    bDone.store(true);
    watchdog.join();
    EXPECT_FALSE(bStarted) << "no run starts after the shutdown";
}

TEST_F(TransferManagerTest, AHistoryThatCannotBeWrittenIsReported)
{
    AddPlayer();
    QueueFile("a.mp3", "alpha");
    // A folder in the place of the history file: no account, not even root, can write it.
    ASSERT_TRUE(QDir().mkpath(HistoryPathFor(kPlayerUuid)));
    EXPECT_EQ(Transfer(), EC_OK);
    EXPECT_EQ(OnInternal("PC/a.mp3"), "alpha");
    EXPECT_TRUE(pCm->TransferManager().IsHistoryNotWritten());
    EXPECT_TRUE(home.ReadLog().contains("TransferProc: the transfer history could not be written!"));

    // The next run starts clean and, with a writable history, reports nothing.
    ASSERT_TRUE(QDir(HistoryPathFor(kPlayerUuid)).removeRecursively());
    pCm->StartSync();
    EXPECT_FALSE(pCm->TransferManager().IsHistoryNotWritten());
    QueueFile("b.mp3", "bravo");
    window.WaitForOutcome(); // the scan of StartSync: no folder ticked
    EXPECT_EQ(Transfer(), EC_OK);
    EXPECT_FALSE(pCm->TransferManager().IsHistoryNotWritten());
    EXPECT_EQ(HistoryLines().size(), 1);
}

TEST_F(TransferManagerTest, LineBreaksInNamesKeepEachHistoryLineOneLineAndTheFileIsNotSentAgain)
{
    SDeviceSnapshot fields;
    fields.sUuid = kPlayerUuid;
    fields.sIp = kPlayerIp;
    fields.sFriendlyName = "Living\r\nRoom\n"; // as the network delivered it
    fields.supportedTypes = QStringList{"mp3"};
    ASSERT_TRUE(pCm->DeviceManager().AddDevice(std::make_unique<CDeviceInfo>(fields)));
    ASSERT_TRUE(pCm->SelectDevice(kPlayerUuid));
    WriteTestFile(home.Path("Music/two\r\nlines.mp3"), "crlf");
    WriteTestFile(home.Path("Music/tab\there.mp3"), "tab");
    SetLists({home.Path("Music") + "/|1"}, {"mp3|1"});

    pCm->StartSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_OK);
    EXPECT_FALSE(pCm->IsSomeFilesFailed());
    const QString sFolder = GetComputerNameText() + home.Path("Music") + "/";
    EXPECT_EQ(OnInternal(sFolder + "two__lines.mp3"), "crlf") << "no control character in a name on the share";
    EXPECT_EQ(OnInternal(sFolder + "tab_here.mp3"), "tab");
    const QStringList lines = HistoryLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].startsWith(home.Path("Music/two\\x0D\\x0Alines.mp3(")));
    EXPECT_TRUE(lines[1].contains(" | DeviceName:Living\\x0D\\x0ARoom\\x0A Tolva_Internal | Result: OK | Time:"));

    pCm->StartSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_NO_FILES) << "both files are known as transferred";
}

// A read-only share (or a file server that died while the player still answers): each file keeps
// its five attempts, the waits are shown as they come, and the run ends with its reason once the
// share has refused three files in a row, instead of taking minutes per file for every file.
TEST_F(TransferManagerTest, AShareThatRefusesFileAfterFileEndsTheRunWithItsReason)
{
    AddPlayer();
    for (const char* pszName : {"a.mp3", "b.mp3", "c.mp3", "d.mp3", "e.mp3"})
        QueueFile(pszName, "x");
    pFaults->createFolder = [](const QString& sPath) {
        return IsUnderShareRoot(sPath, kInternalRoot) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    };
    pFaults->createFile = pFaults->createFolder;
    EXPECT_EQ(Transfer(), EC_FILE_FAILED);
    EXPECT_EQ(pCm->TransferManager().RepeatedRefusal(), EC_FILE_FAILED);
    EXPECT_TRUE(pCm->IsSomeFilesFailed());
    EXPECT_EQ(HistoryLines().size(), 3) << "the other files are left for the next run";
    EXPECT_EQ(pCm->ContentsManager().ContentQueue().GetCount(), 2u);

    const std::vector<STransferWait> waits = progress.Waits();
    ASSERT_FALSE(waits.empty());
    EXPECT_EQ(waits[0].eKind, STransferWait::WAIT_DEVICE);
    EXPECT_EQ(waits[0].nWaitMs, 20000);
    EXPECT_TRUE(waits[0].bShareSide);
    const auto firstRetry = std::find_if(waits.begin(), waits.end(),
                                         [](const STransferWait& w) { return w.eKind == STransferWait::WAIT_RETRY; });
    ASSERT_NE(firstRetry, waits.end());
    EXPECT_EQ(firstRetry->sSourcePath, home.Path("src/a.mp3"));
    EXPECT_EQ(firstRetry->nAttempt, 1u);
    EXPECT_EQ(firstRetry->nAttempts, 5u);
    EXPECT_EQ(firstRetry->eReason, EC_FILE_FAILED);
    EXPECT_TRUE(firstRetry->bShareSide);
    EXPECT_EQ(firstRetry->nWaitMs, 5000);
    EXPECT_EQ(std::count_if(waits.begin(), waits.end(),
                            [](const STransferWait& w) { return w.eKind == STransferWait::WAIT_RETRY; }),
              3 * 4)
        << "four retries per file";

    // Sources that cannot be read are this computer's trouble, not the share's: the run goes on.
    pFaults->createFolder = nullptr;
    pFaults->createFile = nullptr;
    pFaults->openForRead = [](const QString&) { return static_cast<DWORD>(ERROR_ACCESS_DENIED); };
    pCm->ContentsManager().ContentQueue().Clear();
    pCm->TransferManager().ClearStop();
    for (const char* pszName : {"f.mp3", "g.mp3", "h.mp3", "i.mp3"})
        QueueFile(pszName, "x");
    EXPECT_EQ(Transfer(), EC_OK);
    EXPECT_EQ(pCm->TransferManager().RepeatedRefusal(), EC_OK);
    EXPECT_EQ(HistoryLines().size(), 3 + 4);
}

// Names are bytes on this platform: a name that is not UTF-8 (an old Latin-1 name) is opened by
// its bytes, gets a clean name on the share and a valid UTF-8 history line that finds it again.
TEST_F(TransferManagerTest, NamesThatAreNotUtf8AreTransferredAndFoundAgain)
{
    AddPlayer();
    const QByteArray music = QFile::encodeName(home.Path("Music"));
    ASSERT_TRUE(QDir().mkpath(home.Path("Music")));
    ASSERT_EQ(::mkdir((music + "/Caf\xE9").constData(), 0755), 0);
    for (const QByteArray& name : {QByteArray("/Caf\xE9/d\xE9j\xE0.mp3"), QByteArray("/ok.mp3")}) {
        const int fd = ::open((music + name).constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, name.constData(), static_cast<size_t>(name.size())), name.size());
        ::close(fd);
    }
    SetLists({home.Path("Music") + "/|1"}, {"mp3|1"});

    pCm->StartSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_OK);
    const QString sOnShare = GetComputerNameText() + home.Path("Music");
    EXPECT_EQ(OnInternal(sOnShare + QString::fromUtf8("/Café/déjà.mp3")), "/Caf\xE9/d\xE9j\xE0.mp3")
        << "opened by its bytes, named by their Latin-1 reading";
    const QByteArray history = ReadTestFile(HistoryPathFor(kPlayerUuid));
    EXPECT_TRUE(IsValidUtf8(history));
    EXPECT_TRUE(history.contains(ToUtf8(home.Path("Music")) + "/Caf\\xE9/d\\xE9j\\xE0.mp3("));
    EXPECT_EQ(HistoryLines().size(), 2);
    EXPECT_FALSE(pCm->IsSomeFilesFailed());
    const auto results = progress.Results();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].second, EC_OK);

    pCm->StartSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_NO_FILES) << "found again under the same text";
}

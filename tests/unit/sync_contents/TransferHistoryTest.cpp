#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "FileAccess.h"
#include "foundation/MessageIds.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "platform/WindowMessages.h"
#include "support/TestHome.h"
#include "sync/ContentsManager.h"
#include "sync/DeviceLists.h"
#include "sync/TransferHistory.h"

namespace {
const QString kUuid = "uuid:1234";

// A successful line for file n. The tests need tens of thousands of them, so one line is built
// by the program and the others follow its pattern.
QString OkLine(int n)
{
    static const QString sPattern =
        MakeHistoryLine("/home/ann/Music/%1.mp3", "(2014-03-07 09:05:02)", "Living Room", kInternalShareName, "OK",
                        QDateTime(QDate(2014, 3, 8), QTime(10, 11, 12)));
    return sPattern.arg(n);
}

QByteArray JoinCrLf(const QStringList& lines)
{
    QByteArray data;
    for (const QString& s : lines)
        data += s.toUtf8() + "\r\n";
    return data;
}

// Appends lines to the history of a device, as a run does.
bool Append(const QString& sUuid, const QStringList& lines)
{
    return CTransferHistory().Write(HistoryPathFor(sUuid), lines);
}

// The success rule of a line, as the scan applies it: the file of an "OK" line counts as
// transferred.
bool IsSuccess(const QString& sLine)
{
    CTransferredIndex index;
    index.Build({sLine.toUtf8()});
    const QString sKey = TransferredKeyOf(sLine);
    const qsizetype nOpen = sKey.lastIndexOf('(');
    return nOpen > 0 && index.IsAlreadyTransferred(sKey.left(nOpen), sKey.mid(nOpen));
}

QByteArray Fixture(const char* pszName)
{
    return ReadTestFile(QString(TOLVA_TEST_DATA_DIR) + "/history/" + pszName);
}
} // namespace

TEST(TransferHistory, LineLayoutKeyAndSuccessRule)
{
    const QString sLine = MakeHistoryLine("/home/ann/Music/a.mp3", "(2014-03-07 09:05:02)", "Living Room Player",
                                          kInternalShareName, "OK", QDateTime(QDate(2014, 3, 8), QTime(10, 11, 12)));
    EXPECT_EQ(sLine, "/home/ann/Music/a.mp3(2014-03-07 09:05:02) | DeviceName:Living Room Player Tolva_Internal | "
                     "Result: OK | Time:2014-03-08 10:11:12");
    EXPECT_EQ(TransferredKeyOf(sLine), "/home/ann/Music/a.mp3(2014-03-07 09:05:02)");
    EXPECT_TRUE(IsSuccess(sLine));
    EXPECT_EQ(FormatModifiedTime(QDateTime(QDate(999, 1, 2), QTime(3, 4, 5))), "( 999-01-02 03:04:05)");

    // Only the exact result "OK" is a success.
    for (const char* sResult : {"OK!", "The file could not be transferred.", "", "ok", " OK"})
        EXPECT_FALSE(IsSuccess(MakeHistoryLine("/a.mp3", "(2014-03-07 09:05:02)", "D", kInternalShareName, sResult,
                                               QDateTime(QDate(2014, 3, 8), QTime(10, 11, 12)))))
            << sResult;

    // Names on this PC may hold " |" and "Result: OK | Time"; neither cuts the key nor fakes a result.
    const QString sOdd =
        MakeHistoryLine("/m/a | b/Result: OK | Time.mp3", "(2014-03-07 09:05:02)", "D", kInternalShareName,
                        "The file could not be transferred.", QDateTime(QDate(2014, 3, 8), QTime(10, 11, 12)));
    EXPECT_EQ(TransferredKeyOf(sOdd), "/m/a | b/Result: OK | Time.mp3(2014-03-07 09:05:02)");
    EXPECT_FALSE(IsSuccess(sOdd));
    const QString sOddOk = MakeHistoryLine("/m/x | y.mp3", "(2014-03-07 09:05:02)", "Name | Result: bad | Time",
                                           kInternalShareName, "OK", QDateTime(QDate(2014, 3, 8), QTime(1, 2, 3)));
    EXPECT_TRUE(IsSuccess(sOddOk));
}

TEST(TransferHistory, ReadGivesUnfinishedLastLineAndLeavesFileUnchanged)
{
    CTestHome home;
    ASSERT_TRUE(SetCurrentDevId(kUuid));
    const QByteArray data = "\xEF\xBB\xBF" + OkLine(1).toUtf8() + "\r\n\r\n" + OkLine(2).toUtf8() + "\r\n" +
                            OkLine(3).toUtf8(); // no CR LF at the end
    WriteTestFile(HistoryPathFor(kUuid), data);
    CTransferHistory history;
    ASSERT_TRUE(history.Load(HistoryPathFor(kUuid)));
    const QStringList lines = history.Lines();
    ASSERT_EQ(lines.size(), 3) << "empty lines are dropped, the unfinished last one is kept";
    EXPECT_EQ(lines[2], OkLine(3));
    EXPECT_EQ(ReadTestFile(HistoryPathFor(kUuid)), data);

    // A set stop flag gives nothing; a missing history is created empty.
    std::atomic<bool> bStop{true};
    ASSERT_TRUE(history.Load(HistoryPathFor(kUuid), &bStop));
    EXPECT_TRUE(history.Lines().isEmpty());
    ASSERT_TRUE(CreateDeviceFolder("uuid:other"));
    ASSERT_TRUE(history.Load(HistoryPathFor("uuid:other")));
    EXPECT_TRUE(history.Lines().isEmpty());
    EXPECT_TRUE(QFile::exists(HistoryPathFor("uuid:other")));

    // An append after the unfinished line starts a line of its own.
    ASSERT_TRUE(Append(kUuid, {OkLine(4)}));
    EXPECT_EQ(ReadTestFile(HistoryPathFor(kUuid)), data + "\r\n" + OkLine(4).toUtf8() + "\r\n");
}

TEST(TransferHistory, ClearAndResetEmptyTheRightFile)
{
    CTestHome home;
    ASSERT_TRUE(Append(kUuid, {OkLine(1)}));
    ASSERT_TRUE(Append("uuid:5678", {OkLine(2)}));
    ASSERT_TRUE(Append("", {OkLine(3)}));
    EXPECT_EQ(HistoryPathFor(""), AppDataFolder() + "TransferHistory.txt");
    EXPECT_EQ(HistoryPathFor(kUuid), AppDataFolder() + "uuid_1234/TransferHistory.txt");

    ASSERT_TRUE(ClearHistory()); // no current device: the file in the application data folder
    EXPECT_EQ(ReadTestFile(HistoryPathFor("")), QByteArray());
    ASSERT_TRUE(SetCurrentDevId(kUuid));
    ASSERT_TRUE(ClearHistory());
    EXPECT_TRUE(QFile::exists(HistoryPathFor(kUuid)));
    EXPECT_EQ(ReadTestFile(HistoryPathFor(kUuid)), QByteArray());
    ASSERT_TRUE(ResetHistory("uuid:5678"));
    EXPECT_EQ(ReadTestFile(HistoryPathFor("uuid:5678")), QByteArray());
}

TEST(TransferHistory, TrimmingKeepsNewestLinesOfFileAndRunInOrder)
{
    CTestHome home;
    ASSERT_TRUE(SetCurrentDevId(kUuid));
    QStringList old;
    for (int i = 0; i < kHistoryMaxLines - 2; ++i)
        old.append(OkLine(i));
    ASSERT_TRUE(CreateDeviceFolder(kUuid));
    WriteTestFile(HistoryPathFor(kUuid), JoinCrLf(old));

    // The run's writes go through the contents manager, which holds the lines the scan read.
    CContentsManager contents;
    contents.SetDevice(kUuid, "127.0.0.2");
    QStringList run;
    for (int i = 0; i < 6; ++i)
        run.append(OkLine(100000 + i));
    // The scan found nothing here, so the writer reads the file itself first.
    ASSERT_TRUE(contents.WriteHistory(kUuid, {run[0], run[1]})); // 50,000 lines: appended
    EXPECT_EQ(ReadTestFile(HistoryPathFor(kUuid)), JoinCrLf(old + run.mid(0, 2)));
    for (int i = 2; i < 6; ++i)
        ASSERT_TRUE(contents.WriteHistory(kUuid, {run[i]})); // each one rewrites

    const QStringList expected = (old + run).mid(old.size() + run.size() - kHistoryMaxLines);
    EXPECT_EQ(ReadTestFile(HistoryPathFor(kUuid)), JoinCrLf(expected))
        << "the newest 50,000 lines, this run's earlier lines included";
    EXPECT_EQ(contents.GetHistoryLines(), expected);
    EXPECT_TRUE(QDir(DeviceFolder(kUuid)).entryList(QDir::Files).size() == 1) << "no temporary file left";

    // Clearing the list during a run: the next write starts from the empty file, nothing comes back.
    ASSERT_TRUE(ClearHistory());
    ASSERT_TRUE(contents.WriteHistory(kUuid, {OkLine(7)}));
    EXPECT_EQ(ReadTestFile(HistoryPathFor(kUuid)), JoinCrLf({OkLine(7)}));
    EXPECT_EQ(contents.GetHistoryLines(), QStringList{OkLine(7)});
}

TEST(TransferHistory, CorruptHistoryNeitherCrashesNorLosesBytes)
{
    CTestHome home;
    const QByteArray corrupt = Fixture("corrupt_history.txt");
    ASSERT_FALSE(corrupt.isEmpty());
    ASSERT_TRUE(CreateDeviceFolder(kUuid));
    WriteTestFile(HistoryPathFor(kUuid), corrupt);

    CTransferHistory history;
    ASSERT_TRUE(history.Load(HistoryPathFor(kUuid)));
    CTransferredIndex index;
    index.Build(history.RawLines());
    EXPECT_TRUE(index.IsAlreadyTransferred("/home/ann/Music/good.mp3", "(2014-03-07 09:05:02)"));
    EXPECT_TRUE(index.IsAlreadyTransferred("/home/ann/Music/bom.mp3", "(2014-03-07 09:05:02)"))
        << "a byte-order mark before the first line does not hide its path";
    EXPECT_TRUE(index.IsAlreadyTransferred("/home/ann/Music/unfinished.mp3", "(2014-03-07 09:05:02)"));
    for (const char* pszPath : {"/home/ann/Music/badtime.mp3", "/home/ann/Music/notime.mp3", "/home/ann/Music/cut.mp3"})
        EXPECT_FALSE(index.IsAlreadyTransferred(pszPath, "(2014-03-07 09:05:02)")) << pszPath;

    // Trimming rewrites the file: every kept line comes back byte for byte, the broken ones too.
    const qsizetype nOld = history.LineCount();
    QStringList fill;
    for (int i = 0; i < kHistoryMaxLines - nOld + 1; ++i)
        fill.append(OkLine(i));
    ASSERT_TRUE(history.Write(HistoryPathFor(kUuid), fill.mid(0, fill.size() - 1)));
    ASSERT_TRUE(history.Write(HistoryPathFor(kUuid), {fill.last()}));
    const QByteArray after = ReadTestFile(HistoryPathFor(kUuid));
    const qsizetype nFirstEnd = corrupt.indexOf("\r\n") + 2;
    QByteArray expected = corrupt.mid(nFirstEnd).replace("\r\n\r\n\r\n", "\r\n") + "\r\n" + JoinCrLf(fill);
    EXPECT_EQ(after.size(), expected.size());
    EXPECT_TRUE(after == expected) << "only the oldest line is gone";
}

TEST(TransferHistory, RewriteThatCannotReplaceTheFileAppendsInstead)
{
    CTestHome home;
    QStringList old;
    for (int i = 0; i < kHistoryMaxLines; ++i)
        old.append(OkLine(i));
    ASSERT_TRUE(CreateDeviceFolder(kUuid));
    WriteTestFile(HistoryPathFor(kUuid), JoinCrLf(old));
    CTransferHistory history;
    ASSERT_TRUE(history.Load(HistoryPathFor(kUuid)));
    // The folder takes no new file, so the atomic rewrite cannot happen; the file itself is writable.
    const QByteArray folder = QFile::encodeName(DeviceFolder(kUuid));
    ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
    {
        CObeyFilePermissions obey;
        EXPECT_TRUE(history.Write(HistoryPathFor(kUuid), {OkLine(-1)}));
    }
    ::chmod(folder.constData(), 0755);
    EXPECT_EQ(ReadTestFile(HistoryPathFor(kUuid)), JoinCrLf(old + QStringList{OkLine(-1)})) << "nothing lost";
    EXPECT_EQ(QDir(DeviceFolder(kUuid)).entryList(QDir::Files).size(), 1);
    ASSERT_TRUE(history.Write(HistoryPathFor(kUuid), {OkLine(-2)}));
    EXPECT_EQ(ReadTestFile(HistoryPathFor(kUuid)), JoinCrLf(old.mid(2) + QStringList{OkLine(-1), OkLine(-2)}));
}

TEST(TransferHistory, FailedWritesKeepTheFileAndReportDiskFull)
{
    CTestHome home;
    home.EnableLog();
    int nDiskFull = 0;
    CQueuedMessageReceiver window([&](CWindowMessage& msg) {
        nDiskFull += msg.nMessage == WM_DISK_FULL;
        return 0;
    });
    RegisterMainWindow(&window);
    // A history that is /dev/full: every write fails with "no space".
    ASSERT_TRUE(CreateDeviceFolder(kUuid));
    ASSERT_TRUE(QFile::link("/dev/full", HistoryPathFor(kUuid)));
    EXPECT_FALSE(Append(kUuid, {OkLine(1)}));
    window.ProcessPending(1000);
    EXPECT_EQ(nDiskFull, 1);
    UnregisterMainWindow(&window);
    EXPECT_TRUE(home.ReadLog().contains("AppendHistory: cannot write")) << home.ReadLog().toStdString();
}

#include <gtest/gtest.h>

#include <unistd.h>

#include <thread>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "foundation/Log.h"
#include "foundation/MessageIds.h"
#include "foundation/Paths.h"
#include "platform/WindowMessages.h"
#include "support/QtPrinters.h"
#include "support/TestHome.h"

namespace {

// A main window for the test: collects the numbers of the messages it is given.
class CCollectingWindow
{
public:
    CCollectingWindow()
        : m_receiver([this](CWindowMessage& msg) {
              m_messages.push_back(std::move(msg));
              return std::intptr_t{0};
          })
    {
        RegisterMainWindow(&m_receiver);
    }
    ~CCollectingWindow() { UnregisterMainWindow(&m_receiver); }

    // Handles what was posted so far (on this thread) and returns it.
    const std::vector<CWindowMessage>& Collect()
    {
        m_receiver.ProcessPending();
        return m_messages;
    }

private:
    std::vector<CWindowMessage> m_messages;
    CQueuedMessageReceiver m_receiver;
};

void MakeFileOfSize(const QString& sPath, qint64 nSize)
{
    QFile file(sPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_TRUE(file.resize(nSize));
}

} // namespace

TEST(Log, LineIsBlankPaddedPrefixMessageAndCrLf)
{
    CTestHome home; // the virtual clock starts at 2014-03-07 09:05:02
    home.EnableLog();
    WriteLog("Enter DoCopy.\n");
    home.Clock().SetLocalTime(QDateTime(QDate(2014, 12, 31), QTime(23, 59, 58)));
    WriteLog("StartSync: no folder selected!");
    EXPECT_EQ(home.ReadLog(), QByteArray("2014- 3- 7  9: 5: 2 | Enter DoCopy.\r\n\r\n"
                                         "2014-12-31 23:59:58 | StartSync: no folder selected!\r\n"));
}

TEST(Log, EveryCharacterIsOneByteAndWideOnesBecomeQuestionMarks)
{
    CTestHome home;
    home.EnableLog();
    // U+00E9 and U+00FF fit a byte; U+0100, a CJK character and a surrogate pair (one emoji)
    // do not; a line feed in the middle becomes CR LF.
    WriteLog(QString::fromUtf8("caf\u00e9 \u00ff|\u0100|\u4e2d|\U0001F600|a\nb"));
    EXPECT_EQ(home.ReadLog(), QByteArray("2014- 3- 7  9: 5: 2 | caf\xe9 \xff|?|?|?|a\r\nb\r\n"));
}

TEST(Log, FileAboveTheLimitIsEmptiedFirstAndOneAtTheLimitIsAppendedTo)
{
    CTestHome home;
    home.EnableLog();
    const QByteArray line("2014- 3- 7  9: 5: 2 | new line\r\n");

    MakeFileOfSize(LogFilePath(), kLogSizeLimit + 1);
    WriteLog("new line");
    EXPECT_EQ(home.ReadLog(), line);

    MakeFileOfSize(LogFilePath(), kLogSizeLimit);
    WriteLog("new line");
    EXPECT_EQ(QFileInfo(LogFilePath()).size(), kLogSizeLimit + line.size());
    EXPECT_TRUE(home.ReadLog().endsWith(line));
    EXPECT_EQ(home.ReadLog().left(16), QByteArray(16, '\0')) << "the old content must be kept";
}

TEST(Log, IsOnOnlyWhileTheFileExistsAndNeverCreatesIt)
{
    CTestHome home;
    ASSERT_TRUE(CreateAppDataFolder());
    for (int i = 0; i < 50; ++i)
        WriteLog("nobody reads this");
    WriteLogF("nor this %d", 1);
    EXPECT_FALSE(QFileInfo::exists(LogFilePath()));
    EXPECT_EQ(QDir(AppDataFolder()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 0);

    // The user switches logging on while the program runs ...
    WriteTestFile(LogFilePath(), QByteArray());
    WriteLogF("on %s %u", "now", 7u);
    EXPECT_EQ(home.ReadLog(), QByteArray("2014- 3- 7  9: 5: 2 | on now 7\r\n"));
    // ... and off again.
    ASSERT_TRUE(QFile::remove(LogFilePath()));
    WriteLog("off");
    EXPECT_FALSE(QFileInfo::exists(LogFilePath()));
    WriteTestFile(LogFilePath(), QByteArray());
    WriteLog("on again");
    EXPECT_EQ(home.ReadLog(), QByteArray("2014- 3- 7  9: 5: 2 | on again\r\n"));
}

TEST(Log, NoFolderNoFile)
{
    CTestHome home;
    WriteLog("the application data folder does not even exist");
    EXPECT_FALSE(QFileInfo::exists(AppDataFolder()));
}

TEST(Log, LinesOfTwoThreadsNeverMix)
{
    CTestHome home;
    home.EnableLog();
    constexpr int kLines = 300;
    const QString sA(180, 'A');
    const QString sB(180, 'B');
    std::thread first([&] {
        for (int i = 0; i < kLines; ++i)
            WriteLog(sA);
    });
    std::thread second([&] {
        for (int i = 0; i < kLines; ++i)
            WriteLog(sB);
    });
    first.join();
    second.join();

    const QByteArray log = home.ReadLog();
    ASSERT_TRUE(log.endsWith("\r\n"));
    const QList<QByteArray> lines = log.left(log.size() - 2).split('\n');
    ASSERT_EQ(lines.size(), 2 * kLines);
    const QByteArray prefix("2014- 3- 7  9: 5: 2 | ");
    int nA = 0;
    int nB = 0;
    for (const QByteArray& line : lines) {
        const QByteArray body = line.endsWith('\r') ? line.chopped(1) : line;
        if (body == prefix + sA.toLatin1())
            ++nA;
        else if (body == prefix + sB.toLatin1())
            ++nB;
        else
            ADD_FAILURE() << "mixed or broken line: " << body.left(80).constData();
    }
    EXPECT_EQ(nA, kLines);
    EXPECT_EQ(nB, kLines);
}

TEST(Log, FullDiskTellsTheMainWindowOncePerLostLine)
{
    CTestHome home;
    ASSERT_TRUE(CreateAppDataFolder());
    // Every write to /dev/full fails with "no space left on device".
    ASSERT_EQ(::symlink("/dev/full", QFile::encodeName(LogFilePath()).constData()), 0);

    WriteLog("before the main window exists");
    NotifyDiskFull(); // with no main window: nothing, and no crash

    CCollectingWindow window;
    EXPECT_TRUE(window.Collect().empty()) << "nothing may be queued from before the window existed";
    WriteLog("one");
    WriteLog("two\n");
    WriteLogF("three %d", 3);
    const std::vector<CWindowMessage>& messages = window.Collect();
    ASSERT_EQ(messages.size(), 3u);
    for (const CWindowMessage& msg : messages) {
        EXPECT_EQ(msg.nMessage, static_cast<unsigned>(WM_DISK_FULL));
        EXPECT_EQ(msg.nMessage, 0x40Du);
        EXPECT_EQ(msg.wParam, 0u);
        EXPECT_EQ(msg.lParam, 0);
    }
}

TEST(Log, AFileThatCannotBeOpenedIsSkippedQuietly)
{
    CTestHome home;
    ASSERT_TRUE(CreateAppDataFolder());
    // Tests may run as root, where missing permissions do not stop an open; a folder in the
    // log's place fails for everyone.
    ASSERT_TRUE(QDir().mkpath(LogFilePath()));
    CCollectingWindow window;
    WriteLog("lost");
    WriteLogF("lost %d", 2);
    EXPECT_TRUE(QFileInfo(LogFilePath()).isDir());
    EXPECT_TRUE(QDir(LogFilePath()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    EXPECT_TRUE(window.Collect().empty()) << "a failed open is not a full disk";

    // Once the file is back, logging works again.
    ASSERT_TRUE(QDir().rmdir(LogFilePath()));
    WriteTestFile(LogFilePath(), QByteArray());
    WriteLog("back");
    EXPECT_EQ(home.ReadLog(), QByteArray("2014- 3- 7  9: 5: 2 | back\r\n"));
}

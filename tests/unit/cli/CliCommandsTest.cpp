#include <gtest/gtest.h>

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include "cli/CliApp.h"
#include "cli/CliSupport.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "platform/SettingsStore.h"
#include "support/TestHome.h"
#include "sync/DeviceLists.h"
#include "sync/TransferHistory.h"
#include "sync/TransferLock.h"

namespace {

// Captures what a command writes and answers its questions.
class CBufferIo final : public ICliIo
{
public:
    void Out(const QString& sText) override { sOut += sText; }
    void Err(const QString& sText) override { sErr += sText; }
    QString ReadLine() override { return answers.isEmpty() ? QString() : answers.takeFirst(); }
    bool IsTerminal() const override { return false; }

    QString sOut;
    QString sErr;
    QStringList answers;
};

const char* const kUuid = "uuid:4a1d0c3e-0000-1000-8000-00a0de000001";

class CliCommands : public ::testing::Test
{
protected:
    int Run(const QStringList& arguments)
    {
        io = CBufferIo();
        return RunTolva(arguments, io);
    }
    void SelectPlayer()
    {
        ASSERT_TRUE(SetCurrentDevId(kUuid));
        ASSERT_TRUE(SetCurrentDevIP("127.0.0.2"));
    }
    QString MakeFolder(const QString& sName)
    {
        const QString sPath = home.Path(sName);
        EXPECT_TRUE(QDir().mkpath(sPath));
        return sPath;
    }

    CTestHome home;
    CBufferIo io;
};

} // namespace

TEST_F(CliCommands, UsageErrorsGiveOneMessageAndExitTwo)
{
    EXPECT_EQ(Run({}), CLI_EXIT_USAGE);
    EXPECT_EQ(Run({"bogus"}), CLI_EXIT_USAGE);
    EXPECT_TRUE(io.sErr.contains("bogus"));
    EXPECT_EQ(Run({"--frobnicate"}), CLI_EXIT_USAGE);
    EXPECT_EQ(Run({"folders", "--recursive"}), CLI_EXIT_USAGE);
    EXPECT_TRUE(io.sErr.contains("--recursive"));
    EXPECT_EQ(Run({"folders", "add"}), CLI_EXIT_USAGE);
    EXPECT_EQ(Run({"folders", "add", "a", "b"}), CLI_EXIT_USAGE);
    EXPECT_EQ(Run({"history", "--limit"}), CLI_EXIT_USAGE);
    EXPECT_EQ(Run({"history", "--limit", "many"}), CLI_EXIT_INVALID_INPUT);
    EXPECT_EQ(Run({"types", "shuffle"}), CLI_EXIT_USAGE);
    EXPECT_EQ(Run({"--version"}), CLI_EXIT_OK);
    EXPECT_TRUE(io.sOut.startsWith("tolva "));
    EXPECT_EQ(Run({"folders", "--help"}), CLI_EXIT_OK);
    EXPECT_TRUE(io.sOut.contains("100"));
    EXPECT_FALSE(QFile::exists(CSettingsStore::DefaultFilePath())) << "bad usage must change nothing";
}

TEST_F(CliCommands, NoPlayerSelectedAndUnreadableSettingsAreRefused)
{
    EXPECT_EQ(Run({"folders"}), CLI_EXIT_NO_PLAYER);
    EXPECT_FALSE(io.sErr.isEmpty());

    // A settings file that is no folder's business to be a folder cannot be read nor replaced.
    const QString sSettings = CSettingsStore::DefaultFilePath();
    ASSERT_TRUE(QDir().mkpath(sSettings));
    const QString sFolder = MakeFolder("Music");
    EXPECT_EQ(Run({"folders", "add", sFolder}), CLI_EXIT_UNREADABLE);
    EXPECT_TRUE(io.sErr.contains(sSettings));
    EXPECT_TRUE(QFileInfo(sSettings).isDir()) << "the unreadable file stays as it is";
}

TEST_F(CliCommands, ADamagedOrEmptySettingsFileIsSetAsideOnceAndLocksNobodyOut)
{
    const QString sSettings = CSettingsStore::DefaultFilePath();
    const QByteArray damaged("\x8f\x01{{not settings", 16);
    WriteTestFile(sSettings, damaged);
    EXPECT_EQ(Run({"folders"}), CLI_EXIT_NO_PLAYER) << "read as no values, not refused";
    EXPECT_TRUE(io.sErr.contains(sSettings + ".corrupt-"));
    const QStringList aside = QDir(QFileInfo(sSettings).absolutePath()).entryList({"*.corrupt-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(ReadTestFile(QFileInfo(sSettings).absolutePath() + "/" + aside[0]), damaged) << "kept byte for byte";
    EXPECT_TRUE(io.sErr.contains(aside[0]));

    SelectPlayer();
    EXPECT_EQ(Run({"folders", "add", MakeFolder("Music")}), CLI_EXIT_OK);
    EXPECT_FALSE(io.sErr.contains(".corrupt-")) << "told once";

    WriteTestFile(sSettings, QByteArray());
    EXPECT_EQ(Run({"folders"}), CLI_EXIT_NO_PLAYER) << "an empty file holds no values";
    EXPECT_FALSE(io.sErr.contains(".corrupt-"));
    EXPECT_TRUE(SetCurrentDevId(kUuid)) << "and can be written";
}

TEST_F(CliCommands, FoldersFollowTheListRules)
{
    SelectPlayer();
    const QString sMusic = MakeFolder("Music");
    const QString sInner = MakeFolder("Music/Rock");

    EXPECT_EQ(Run({"folders", "add", home.Path("missing")}), CLI_EXIT_INVALID_INPUT);
    EXPECT_TRUE(ReadListFile(kUuid, kSyncFolderListName).isEmpty());

    EXPECT_EQ(Run({"folders", "add", sMusic}), CLI_EXIT_OK);
    EXPECT_EQ(Run({"folders", "add", sInner + "/"}), CLI_EXIT_OK) << "nested folders are accepted";
    EXPECT_EQ(Run({"folders", "add", sMusic + "/./"}), CLI_EXIT_OK);
    EXPECT_EQ(ReadListFile(kUuid, kSyncFolderListName), QStringList({sMusic + "/|1", sInner + "/|1"}))
        << "each folder once, stored with its trailing separator";
    EXPECT_EQ(ReadTestFile(DeviceFolder(kUuid) + kSyncFolderListName),
              (sMusic + "/|1\r\n" + sInner + "/|1\r\n").toUtf8());

    EXPECT_EQ(Run({"folders", "untick", sInner}), CLI_EXIT_OK);
    EXPECT_EQ(Run({"folders", "remove", sMusic}), CLI_EXIT_OK);
    EXPECT_EQ(ReadListFile(kUuid, kSyncFolderListName), QStringList({sInner + "/|0"}));
    EXPECT_EQ(Run({"folders", "remove", sMusic}), CLI_EXIT_INVALID_INPUT);

    EXPECT_EQ(Run({"folders"}), CLI_EXIT_OK);
    EXPECT_EQ(io.sOut, "[ ] " + sInner + "/\n");
}

TEST_F(CliCommands, TheHundredAndFirstFolderIsRefused)
{
    SelectPlayer();
    QStringList entries;
    for (int i = 0; i < 100; ++i)
        entries << QString("%1/f%2/|1").arg(home.Root()).arg(i);
    ASSERT_TRUE(SaveListFile(kUuid, kSyncFolderListName, entries));
    EXPECT_EQ(Run({"folders", "add", MakeFolder("extra")}), CLI_EXIT_INVALID_INPUT);
    EXPECT_TRUE(io.sErr.contains("over 100"));
    EXPECT_EQ(ReadListFile(kUuid, kSyncFolderListName).size(), 100);
}

TEST_F(CliCommands, TypesAreTickedOnlyAmongThoseThePlayerReported)
{
    SelectPlayer();
    EXPECT_EQ(Run({"types", "tick", "flac"}), CLI_EXIT_INVALID_INPUT) << "no types reported yet";
    ASSERT_TRUE(SaveListFile(kUuid, kCapabilityListName, {"mp3|0", "flac|0", "wav|1"}));
    EXPECT_EQ(Run({"types", "tick", ".FLAC", "mp3"}), CLI_EXIT_OK);
    EXPECT_EQ(ReadListFile(kUuid, kCapabilityListName), QStringList({"mp3|1", "flac|1", "wav|1"}));
    EXPECT_EQ(Run({"types", "untick", "wav", "ogg"}), CLI_EXIT_INVALID_INPUT);
    EXPECT_EQ(ReadListFile(kUuid, kCapabilityListName), QStringList({"mp3|1", "flac|1", "wav|1"}))
        << "an unknown type leaves the list unchanged";
    EXPECT_EQ(Run({"types", "untick", "all"}), CLI_EXIT_OK);
    EXPECT_EQ(ReadListFile(kUuid, kCapabilityListName), QStringList({"mp3|0", "flac|0", "wav|0"}));
}

TEST_F(CliCommands, HistoryIsShownAndClearedOnlyWhenConfirmed)
{
    SelectPlayer();
    EXPECT_EQ(Run({"history"}), CLI_EXIT_OK);
    EXPECT_FALSE(QFile::exists(HistoryPathFor(kUuid))) << "showing the history creates nothing";

    const QString sLine = MakeHistoryLine("/home/ann/Music/a | b.mp3", "(2014-03-07 09:05:02)", "Living Room",
                                          "Tolva_Internal", "OK", QDateTime(QDate(2014, 3, 8), QTime(10, 11, 12)));
    ASSERT_TRUE(CTransferHistory().Write(HistoryPathFor(kUuid), {sLine}));
    EXPECT_EQ(Run({"history"}), CLI_EXIT_OK);
    EXPECT_EQ(io.sOut, "2014-03-08 10:11:12  OK  /home/ann/Music/a | b.mp3\n");

    // A line break without CR (an edited file) does not end a line for the scan, nor here.
    const QString sEdited = MakeHistoryLine("/home/ann/Music/c.mp3", "(2014-03-07 09:05:02)", "Den", "Tolva_Internal",
                                            "OK", QDateTime(QDate(2014, 3, 9), QTime(8, 0, 0)));
    ASSERT_TRUE(CTransferHistory().Write(HistoryPathFor(kUuid), {"note\n" + sEdited}));
    CTransferHistory history;
    ASSERT_TRUE(history.Load(HistoryPathFor(kUuid)));
    ASSERT_EQ(history.LineCount(), 2);
    EXPECT_EQ(Run({"history"}), CLI_EXIT_OK);
    EXPECT_EQ(io.sOut.count('\n'), 2) << io.sOut.toStdString();
    EXPECT_TRUE(io.sOut.endsWith("2014-03-09 08:00:00  OK  note\\x0A/home/ann/Music/c.mp3\n")) << io.sOut.toStdString();

    io.answers.clear();
    EXPECT_EQ(Run({"history", "clear"}), CLI_EXIT_FAILED) << "no answer means no";
    EXPECT_FALSE(ReadTestFile(HistoryPathFor(kUuid)).isEmpty());
    io = CBufferIo();
    io.answers = QStringList{"y"};
    EXPECT_EQ(RunTolva({"history", "clear"}, io), CLI_EXIT_OK);
    EXPECT_TRUE(ReadTestFile(HistoryPathFor(kUuid)).isEmpty());
    ASSERT_TRUE(CTransferHistory().Write(HistoryPathFor(kUuid), {sLine}));
    EXPECT_EQ(Run({"history", "clear", "--yes"}), CLI_EXIT_OK);
    EXPECT_TRUE(ReadTestFile(HistoryPathFor(kUuid)).isEmpty());
}

TEST(CliArguments, IpAddressesAreFourNumbersUpTo255)
{
    CBufferIo io;
    QString sIp;
    EXPECT_TRUE(ParseCliIpAddress(io, "127.0.0.2", &sIp));
    EXPECT_EQ(sIp, "127.0.0.2");
    for (const char* pszBad : {"127.0.0", "127.0.0.256", "a.b.c.d", "127.0.0.-1", "1.2.3.4.5", "", "127..0.1"}) {
        EXPECT_FALSE(ParseCliIpAddress(io, pszBad, &sIp)) << pszBad;
    }
}

// The network commands refuse bad input before they search: nothing is sent and nothing changes.
TEST_F(CliCommands, PlayerCommandsRefuseBadInputBeforeSearching)
{
    EXPECT_EQ(Run({"add", "300.1.2.3"}), CLI_EXIT_INVALID_INPUT);
    EXPECT_TRUE(io.sErr.contains("300.1.2.3"));
    EXPECT_EQ(Run({"add", "living-room"}), CLI_EXIT_INVALID_INPUT);
    EXPECT_EQ(Run({"add"}), CLI_EXIT_USAGE);
    EXPECT_EQ(Run({"add", "127.0.0.2", "127.0.0.3"}), CLI_EXIT_USAGE);
    EXPECT_EQ(Run({"select", "127.0.0.999"}), CLI_EXIT_INVALID_INPUT);
    EXPECT_EQ(Run({"select", "127.0.0.2", "--wait", "0"}), CLI_EXIT_INVALID_INPUT);
    EXPECT_EQ(Run({"players", "--seconds", "many"}), CLI_EXIT_INVALID_INPUT);
    EXPECT_EQ(Run({"players", "--all"}), CLI_EXIT_USAGE);
    EXPECT_EQ(Run({"transfer", "now"}), CLI_EXIT_USAGE);
    EXPECT_EQ(Run({"transfer", "--wait", "601"}), CLI_EXIT_INVALID_INPUT);
    EXPECT_EQ(Run({"transfer"}), CLI_EXIT_NO_PLAYER);
    EXPECT_TRUE(io.sErr.contains("tolva select"));
    EXPECT_EQ(Run({"power"}), CLI_EXIT_NO_PLAYER);
    EXPECT_FALSE(QFile::exists(CSettingsStore::DefaultFilePath())) << "nothing was written";

    EXPECT_EQ(Run({"--help"}), CLI_EXIT_OK);
    EXPECT_TRUE(io.sOut.contains("\n  transfer [--wait N] ")) << "every option of a command is listed";
    for (const char* pszCommand : {"players", "add", "select", "power", "transfer"}) {
        EXPECT_EQ(Run({pszCommand, "--help"}), CLI_EXIT_OK) << pszCommand;
        EXPECT_TRUE(io.sOut.startsWith("Usage: tolva " + QString(pszCommand))) << pszCommand;
    }

    // Settings that cannot be read (a folder in the file's place) stop every command before it
    // searches; a damaged file is set aside instead (ADamagedOrEmptySettingsFile...).
    ASSERT_TRUE(QDir().mkpath(CSettingsStore::DefaultFilePath()));
    for (const char* pszCommand : {"players", "transfer", "power"})
        EXPECT_EQ(Run({pszCommand}), CLI_EXIT_UNREADABLE) << pszCommand;
    EXPECT_EQ(Run({"select", "127.0.0.2"}), CLI_EXIT_UNREADABLE);
}

// A second transfer on the profile is refused before it searches, and names the one that runs.
TEST_F(CliCommands, ASecondTransferOnTheProfileIsToldWhoHoldsIt)
{
    SelectPlayer();
    CTransferLock running;
    ASSERT_TRUE(running.TryLock());
    EXPECT_EQ(Run({"transfer"}), CLI_EXIT_FAILED);
    EXPECT_TRUE(io.sErr.contains(QString("(process %1)").arg(::getpid()))) << io.sErr.toStdString();
    EXPECT_TRUE(io.sErr.contains("test_cli")) << io.sErr.toStdString();
    running.Unlock();

    // A lock that a process left when it ended (a crash, a power cut) is taken over.
    WriteTestFile(running.Path(), "99999999\ntolva\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    CTransferLock next;
    EXPECT_TRUE(next.TryLock());
    QString sHolder;
    EXPECT_FALSE(CTransferLock().TryLock(&sHolder));
    EXPECT_EQ(sHolder, QString("test_cli (process %1)").arg(::getpid()));
}

TEST(CliText, ArgumentsAreFilledInOnePass)
{
    // A player named "%2" must not pull the next argument into its name.
    EXPECT_EQ(CliText(1036, {"Den %2 100%", "127.0.0.2", "uuid:1"}), "Selected Den %2 100% (127.0.0.2, uuid:1).");
    EXPECT_EQ(CliText(1038, {}), "The player %1 was not found on the network.");
}

TEST(DeviceTypeList, MergeKeepsTicksAndAddsNewTypesTicked)
{
    const QStringList lines{"mp3|0", "flac|1", "dsf|0"};
    EXPECT_EQ(MergeSupportedTypes(lines, {"flac", "mp3", "ogg", ""}),
              (QStringList{"mp3|0", "flac|1", "dsf|0", "ogg|1"}));
    EXPECT_EQ(MergeSupportedTypes({}, {"mp3", "wav"}), (QStringList{"mp3|1", "wav|1"}));
    EXPECT_EQ(MergeSupportedTypes(lines, {}), lines) << "a player's empty answer shortens nothing";
}

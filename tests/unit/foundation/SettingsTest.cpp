#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "platform/AutoStart.h"
#include "platform/SettingsStore.h"
#include "platform/StandardFolders.h"
#include "support/QtPrinters.h"
#include "support/TestHome.h"

namespace {

QByteArray Fixture(const char* pszName)
{
    QFile file(QString(TOLVA_TEST_DATA_DIR) + "/settings/" + pszName);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << pszName;
    return file.readAll();
}

// Files set aside beside the settings file because they could not be parsed.
QStringList CorruptAsideFiles()
{
    const QFileInfo settings(CSettingsStore::DefaultFilePath());
    return QDir(settings.absolutePath()).entryList({settings.fileName() + ".corrupt-*"}, QDir::Files);
}

QByteArray ReadAside(const QString& sName)
{
    return ReadTestFile(QFileInfo(CSettingsStore::DefaultFilePath()).absolutePath() + "/" + sName);
}

} // namespace

TEST(Settings, FreshProfileGivesEveryDefault)
{
    CTestHome home;
    EXPECT_FALSE(SettingExists(kSettingFirstRun));
    EXPECT_TRUE(IsFirstRunPending()) << "the setup wizard starts";
    EXPECT_EQ(GetCurrentDevId(), QString()) << "no device selected";
    EXPECT_EQ(GetCurrentDevIP(), QString());
    EXPECT_FALSE(SettingExists(kSettingAutoTransfer)) << "the page shows On because it is absent";
    EXPECT_FALSE(GetAutoTransfer()) << "every other reader treats it as off";
    EXPECT_EQ(GetAutoTransferTime(), 0u) << "the idle timer readers use 0";
    EXPECT_EQ(GetProgressLevel(), static_cast<DWORD>(PROGRESS_LEVEL_MID));
    EXPECT_EQ(GetDevicePowerFrequency(), 0u) << "no not-ready retries until the first save";
    EXPECT_EQ(GetSyncFileSavePosition(), static_cast<DWORD>(SAVE_POSITION_AUTO));
    EXPECT_EQ(GetPowerRebootWaitingTimeSecond(), 60u);
    DWORD dwValue = 1234;
    EXPECT_FALSE(ReadSettingDword(kSettingAutoTransferTime, &dwValue));
    EXPECT_EQ(dwValue, 1234u) << "a failed read leaves the caller's default";
    EXPECT_FALSE(QFileInfo::exists(CSettingsStore::DefaultFilePath())) << "reading creates nothing";
}

TEST(Settings, PresenceAndTheReadersRulesForStoredValues)
{
    CTestHome home;
    WriteSettingDword(kSettingFirstRun, 0);
    EXPECT_TRUE(SettingExists(kSettingFirstRun)) << "0 is present, not absent";
    EXPECT_FALSE(IsFirstRunPending());
    WriteSettingDword(kSettingFirstRun, 1);
    EXPECT_TRUE(IsFirstRunPending()) << "a wizard that was not finished runs again";
    WriteSettingDword(kSettingFirstRun, 2);
    EXPECT_FALSE(IsFirstRunPending()) << "only absent or 1 start the wizard";

    SetAutoTransfer(true);
    DWORD dwValue = 0;
    ASSERT_TRUE(ReadSettingDword(kSettingAutoTransfer, &dwValue));
    EXPECT_EQ(dwValue, 1u);
    EXPECT_TRUE(GetAutoTransfer());
    SetAutoTransfer(false);
    EXPECT_TRUE(SettingExists(kSettingAutoTransfer));
    EXPECT_FALSE(GetAutoTransfer());
    WriteSettingDword(kSettingAutoTransfer, 2);
    EXPECT_FALSE(GetAutoTransfer()) << "only 1 means on";

    for (const DWORD dwLevel : {0u, 1u, 2u}) {
        WriteSettingDword(kSettingProgressLevel, dwLevel);
        EXPECT_EQ(GetProgressLevel(), dwLevel);
    }
    WriteSettingDword(kSettingProgressLevel, 7);
    EXPECT_EQ(GetProgressLevel(), static_cast<DWORD>(PROGRESS_LEVEL_MID));

    SetSyncFileSavePosition(SAVE_POSITION_EXTERNAL);
    EXPECT_EQ(GetSyncFileSavePosition(), static_cast<DWORD>(SAVE_POSITION_EXTERNAL));
    SetSyncFileSavePosition(7);
    EXPECT_EQ(GetSyncFileSavePosition(), 7u) << "no range check: the page keeps an unknown value";
    WriteSettingDword(kSettingPowerRebootWaitingTimeSecond, 0);
    EXPECT_EQ(GetPowerRebootWaitingTimeSecond(), 0u) << "0 means no wait, not the default";
    WriteSettingDword(kSettingAutoTransferTime, 0xFFFFFFFFu);
    EXPECT_EQ(GetAutoTransferTime(), 0xFFFFFFFFu) << "the full 32-bit range round-trips";
}

TEST(Settings, StringsRoundTripWhateverTheirLengthAndCharacters)
{
    CTestHome home;
    const QString sUuid = "uuid:0123456789abcdef0123456789abcdef012"; // 40 characters
    ASSERT_EQ(sUuid.size(), 40);
    ASSERT_TRUE(SetCurrentDevId(sUuid));
    EXPECT_EQ(GetCurrentDevId(), sUuid);
    ASSERT_TRUE(SetCurrentDevIP("127.0.0.2"));
    EXPECT_EQ(GetCurrentDevIP(), "127.0.0.2");

    QString sLong;
    for (int i = 0; sLong.size() < 100 * 1024; ++i)
        sLong += QString::number(i) + QString::fromUtf8(" \u00e9\u4e2d\U0001F3B5\"\\\t");
    ASSERT_TRUE(WriteSettingString("LongValue", sLong));
    QString sRead;
    ASSERT_TRUE(ReadSettingString("LongValue", &sRead));
    EXPECT_EQ(sRead, sLong);

    ASSERT_TRUE(WriteSettingString("Empty", QString()));
    EXPECT_TRUE(SettingExists("Empty")) << "an empty string is present";
    sRead = "x";
    EXPECT_TRUE(ReadSettingString("Empty", &sRead));
    EXPECT_EQ(sRead, QString());
    EXPECT_EQ(GetCurrentDevId(), sUuid) << "other values are untouched by later writes";
}

TEST(Settings, RandomBytesReadAsAbsentAndTheNextWriteIsKept)
{
    for (const char* pszFixture : {"random-bytes.conf", "truncated.conf", "key-not-object.conf"}) {
        SCOPED_TRACE(pszFixture);
        CTestHome home;
        home.EnableLog();
        const QByteArray broken = Fixture(pszFixture);
        WriteTestFile(CSettingsStore::DefaultFilePath(), broken);

        EXPECT_FALSE(SettingExists(kSettingFirstRun));
        EXPECT_TRUE(IsFirstRunPending());
        EXPECT_EQ(GetCurrentDevId(), QString());
        EXPECT_EQ(GetPowerRebootWaitingTimeSecond(), 60u);
        EXPECT_TRUE(home.ReadLog().contains("read as absent")) << home.ReadLog().constData();

        ASSERT_TRUE(SetCurrentDevId("uuid:after-the-damage"));
        EXPECT_EQ(GetCurrentDevId(), "uuid:after-the-damage");
        WriteSettingDword(kSettingFirstRun, 0);
        EXPECT_FALSE(IsFirstRunPending());
        EXPECT_EQ(GetCurrentDevId(), "uuid:after-the-damage");

        const QStringList aside = CorruptAsideFiles();
        ASSERT_EQ(aside.size(), 1) << "the damaged file is set aside once";
        EXPECT_EQ(ReadAside(aside.first()), broken) << "byte for byte";
        EXPECT_TRUE(home.ReadLog().contains(aside.first().toUtf8())) << "the log names where it went";
    }
}

TEST(Settings, WrongTypedValuesGiveTheReadersDefaultsAndSurviveOtherWrites)
{
    CTestHome home;
    home.EnableLog();
    const QByteArray fixture = Fixture("wrong-types.conf");
    WriteTestFile(CSettingsStore::DefaultFilePath(), fixture);

    // "FirstRun" is the string "0": present, and read as a number it is the text's first four
    // stored bytes ('0', NUL), which is not 1: the setup counts as done.
    EXPECT_TRUE(SettingExists(kSettingFirstRun));
    DWORD dwValue = 0;
    EXPECT_TRUE(ReadSettingDword(kSettingFirstRun, &dwValue));
    EXPECT_EQ(dwValue, 0x30u);
    EXPECT_FALSE(IsFirstRunPending());
    // "CurrentDevId" is a number: present, but no string.
    EXPECT_TRUE(SettingExists(kSettingCurrentDevId));
    EXPECT_EQ(GetCurrentDevId(), QString());
    // Values the file cannot hold as a number or string read as absent, each with a log line.
    EXPECT_EQ(GetProgressLevel(), static_cast<DWORD>(PROGRESS_LEVEL_MID));
    EXPECT_EQ(GetAutoTransferTime(), 0u);
    EXPECT_EQ(GetDevicePowerFrequency(), 0u);
    EXPECT_EQ(GetSyncFileSavePosition(), static_cast<DWORD>(SAVE_POSITION_AUTO));
    EXPECT_FALSE(GetAutoTransfer());
    EXPECT_FALSE(SettingExists(kSettingAutoTransfer));
    EXPECT_TRUE(home.ReadLog().contains("ProgressLevel"));
    EXPECT_TRUE(home.ReadLog().contains("malformed"));
    EXPECT_EQ(GetCurrentDevIP(), "127.0.0.2") << "the well-formed value still reads";

    WriteSettingDword(kSettingProgressLevel, PROGRESS_LEVEL_HIGH);
    EXPECT_EQ(GetProgressLevel(), static_cast<DWORD>(PROGRESS_LEVEL_HIGH));
    EXPECT_EQ(GetCurrentDevIP(), "127.0.0.2");
    EXPECT_TRUE(SettingExists(kSettingFirstRun));
    EXPECT_TRUE(CorruptAsideFiles().isEmpty()) << "a parseable file is not set aside";
}

TEST(Settings, AnUnreadableSettingsFileIsLeftAloneWithALogLine)
{
    CTestHome home;
    home.EnableLog();
    // Root may read any file, so a folder stands in the file's place.
    ASSERT_TRUE(QDir().mkpath(CSettingsStore::DefaultFilePath()));
    EXPECT_EQ(GetCurrentDevId(), QString());
    EXPECT_TRUE(IsFirstRunPending());
    EXPECT_FALSE(SetCurrentDevId("uuid:lost"));
    WriteSettingDword(kSettingFirstRun, 0);
    EXPECT_TRUE(QFileInfo(CSettingsStore::DefaultFilePath()).isDir()) << "nothing replaced it";
    EXPECT_TRUE(home.ReadLog().contains("cannot be read")) << home.ReadLog().constData();
}

TEST(Settings, AnUnusableSettingsFolderFailsWritesWithALogLine)
{
    CTestHome home;
    home.EnableLog();
    // A plain file where the settings folder should be.
    const QString sFolder = QFileInfo(CSettingsStore::DefaultFilePath()).absolutePath();
    WriteTestFile(sFolder, "not a folder");
    EXPECT_EQ(GetCurrentDevId(), QString());
    EXPECT_FALSE(SetCurrentDevId("uuid:lost"));
    EXPECT_EQ(ReadTestFile(sFolder), QByteArray("not a folder"));
    EXPECT_TRUE(home.ReadLog().contains("cannot be created")) << home.ReadLog().constData();
}

TEST(Settings, ValuesWrittenByManyThreadsAreAllKept)
{
    CTestHome home;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kPerThread; ++i)
                WriteSettingDword(QString("Value%1_%2").arg(t).arg(i), static_cast<DWORD>(t * 1000 + i));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kPerThread; ++i) {
            DWORD dwValue = 0;
            ASSERT_TRUE(ReadSettingDword(QString("Value%1_%2").arg(t).arg(i), &dwValue)) << t << " " << i;
            EXPECT_EQ(dwValue, static_cast<DWORD>(t * 1000 + i));
        }
    }
}

TEST(Settings, AutoStartEntryStartsTheProgramWithAuto)
{
    CTestHome home;
    EXPECT_FALSE(AutoStartExists());
    const QString sCommandLine = AutoStartCommandLine();
    EXPECT_EQ(sCommandLine, ProgramFilePath() + " -auto");
    EXPECT_TRUE(QFileInfo(ProgramFilePath()).isExecutable());

    ASSERT_TRUE(WriteAutoStart(sCommandLine));
    EXPECT_TRUE(AutoStartExists());
    EXPECT_TRUE(QFileInfo::exists(home.Path(".config/autostart/TolvaMusicTransfer.desktop")));
    EXPECT_EQ(CAutoStartEntry().ExecLine(), "\"" + ProgramFilePath() + "\" -auto");

    // Exit removes it; the next start in console mode writes it again.
    EXPECT_TRUE(DeleteAutoStart());
    EXPECT_FALSE(AutoStartExists());
    EXPECT_TRUE(DeleteAutoStart()) << "removing an absent entry is no failure";
    ASSERT_TRUE(WriteAutoStart(sCommandLine));
    EXPECT_TRUE(CAutoStartEntry().ExecLine().endsWith(" -auto"));
}

TEST(Settings, AutoStartWithoutAProgramIsRefused)
{
    CTestHome home;
    home.EnableLog();
    EXPECT_FALSE(WriteAutoStart(" -auto"));
    EXPECT_FALSE(AutoStartExists());
    EXPECT_TRUE(home.ReadLog().contains("WriteAutoStart")) << home.ReadLog().constData();
}

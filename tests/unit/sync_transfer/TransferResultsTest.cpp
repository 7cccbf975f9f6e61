#include <gtest/gtest.h>

#include <atomic>

#include "foundation/Settings.h"
#include "foundation/StringTable.h"
#include "support/TestHome.h"
#include "sync/ContentsManager.h"
#include "sync/TransferHistory.h"
#include "sync/TransferResults.h"

namespace {

class CStateControl final : public ITransferControl
{
public:
    bool IsStopRequested() const override { return false; }
    bool IsDeviceRemoved() const override { return bRemoved.load(); }
    bool Pause(std::int64_t) override { return false; }
    void ShowProgress(unsigned, unsigned) override {}
    std::atomic<bool> bRemoved{false};
};

class TransferResultsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        run.sDeviceUuid = "uuid:player-1";
        run.sDeviceName = "Living Room";
        run.sDeviceIp = "127.0.0.2";
        content.m_sSourcePath = "/home/ann/Music/a.mp3";
        content.m_sModifiedTime = "(2014-03-07 09:05:02)";
        content.m_sTargetPath = "PC\\home\\ann\\Music\\a.mp3";
        home.Clock().SetLocalTime(QDateTime(QDate(2014, 3, 8), QTime(10, 11, 12)));
    }
    QByteArray History() { return ReadTestFile(HistoryPathFor(run.sDeviceUuid)); }

    CTestHome home;
    STransferRun run;
    CStateControl control;
    CContentsManager contents;
    CContent content;
};

} // namespace

TEST_F(TransferResultsTest, EveryCodeHasItsHistoryTextAndFoldsIntoTheRunsCode)
{
    CTransferResults results(run, control, contents);
    const QString sNotConnected = LoadStringText(153);
    ASSERT_FALSE(sNotConnected.isEmpty());
    for (DWORD n = 0; n < kErrorCodeCount; ++n) {
        for (bool bRemoved : {false, true}) {
            control.bRemoved = bRemoved;
            run.eResult = static_cast<eErrorCode>(n);
            const QString sText = results.ResultText();
            QString sExpected = LoadStringText(185);
            eErrorCode eAfter = static_cast<eErrorCode>(n);
            switch (n) {
            case 0: sExpected = "OK"; break;
            case 6: sExpected = LoadStringText(151); break;
            case 8: sExpected = bRemoved ? sNotConnected : QString(); break;
            case 15:
                sExpected = LoadStringText(184);
                eAfter = EC_FILE_FAILED;
                break;
            case 16:
                sExpected = sNotConnected;
                eAfter = EC_ACCESS_DENIED;
                break;
            case 17:
                sExpected = sNotConnected;
                eAfter = EC_TARGET_ERROR;
                break;
            default: break;
            }
            EXPECT_EQ(sText, sExpected) << "code " << n << " removed " << bRemoved;
            EXPECT_EQ(run.eResult, eAfter) << "code " << n;
        }
    }
}

TEST_F(TransferResultsTest, OutcomeMessagesOfARun)
{
    EXPECT_EQ(OutcomeMessageStringId(EC_OK, false), 156u);
    EXPECT_EQ(OutcomeMessageStringId(EC_OK, true), 157u);
    for (eErrorCode e : {EC_NO_DEVICE, EC_DEVICE_OFFLINE, EC_NO_UUID, EC_NO_IP}) {
        EXPECT_EQ(OutcomeMessageStringId(e, false), 185u);
        EXPECT_TRUE(OutcomeMessageIsError(e));
    }
    EXPECT_EQ(OutcomeMessageStringId(EC_NO_FILES, false), 200u);
    EXPECT_EQ(OutcomeMessageStringId(EC_DEVICE_FULL, false), 151u);
    EXPECT_EQ(OutcomeMessageStringId(EC_ACCESS_DENIED, false), 154u);
    EXPECT_EQ(OutcomeMessageStringId(EC_TARGET_ERROR, false), 154u);
    EXPECT_EQ(OutcomeMessageStringId(EC_CANCELLED, false), 150u);
    EXPECT_EQ(OutcomeMessageStringId(EC_POWER_NOT_READY, false), 187u);
    EXPECT_EQ(OutcomeMessageStringId(EC_NO_FORMAT, false), 159u);
    EXPECT_EQ(OutcomeMessageStringId(EC_NO_FOLDER, false), 158u);
    EXPECT_EQ(OutcomeMessageStringId(EC_NO_EXTERNAL, false), 173u);
    for (DWORD n : {10u, 15u, 16u, 17u, 18u, 19u, 20u})
        EXPECT_EQ(OutcomeMessageStringId(static_cast<eErrorCode>(n), true), 0u) << n;
    EXPECT_FALSE(OutcomeMessageIsError(EC_CANCELLED));
    eErrorCode eCode = EC_OK;
    EXPECT_TRUE(ErrorCodeFromNumber(20, &eCode));
    EXPECT_EQ(eCode, EC_SHARE_NOT_READY);
    EXPECT_FALSE(ErrorCodeFromNumber(21, &eCode));
    EXPECT_STREQ(ErrorCodeName(EC_DEVICE_LOST), "EC_DEVICE_LOST");
}

TEST_F(TransferResultsTest, EachFileLeavesOneLineOnDiskAtOnce)
{
    CTransferResults results(run, control, contents);
    run.eResult = EC_OK;
    results.RecordResult(content);
    EXPECT_EQ(History(), "/home/ann/Music/a.mp3(2014-03-07 09:05:02) | DeviceName:Living Room Tolva_Internal | "
                         "Result: OK | Time:2014-03-08 10:11:12\r\n");

    // Auto mode after the switch names the external share; the fallback always the internal one.
    run.bSwitchedToExternal = true;
    run.eResult = EC_SOURCE_MISSING;
    results.RecordResult(content);
    EXPECT_EQ(run.eResult, EC_FILE_FAILED);
    run.eResult = EC_DEVICE_FULL;
    results.RecordFallbackResult(content);
    const QList<QByteArray> lines = History().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[1].contains(" Tolva_External | Result: File for transfer was not found. | Time:"))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[2].contains(" Tolva_Internal | Result: There is not enough space on the device. | "))
        << lines[2].toStdString();
    EXPECT_TRUE(run.resultLines.isEmpty());
    EXPECT_EQ(contents.GetHistoryLines().size(), 3);
}

TEST_F(TransferResultsTest, FileStoppedByTheUserLeavesNoTraceUnlessTheDeviceWentAway)
{
    home.EnableLog();
    CTransferResults results(run, control, contents);
    run.eResult = EC_CANCELLED;
    results.RecordResult(content);
    EXPECT_EQ(History(), QByteArray());
    EXPECT_TRUE(home.ReadLog().contains("before convert  errorcode= 8  , retrynum = 0 \r\n"));

    control.bRemoved = true;
    results.RecordResult(content);
    EXPECT_TRUE(History().contains("| Result: " + LoadStringText(153).toUtf8() + " | Time:"));
    EXPECT_EQ(run.eResult, EC_CANCELLED);
}

TEST_F(TransferResultsTest, NameTooLongFilesAreRecordedWithTheirOwnTexts)
{
    CThreadSafeQueue<CContent> queue;
    for (unsigned nId : {183u, 185u, 0u}) {
        auto pContent = std::make_unique<CContent>(content);
        pContent->m_sSourcePath = QString("/home/ann/%1.mp3").arg(nId);
        pContent->m_nFailStringId = nId;
        queue.Push(pContent);
    }
    SetSyncFileSavePosition(SAVE_POSITION_EXTERNAL);
    CTransferResults results(run, control, contents);
    EXPECT_EQ(results.RecordLongNameFiles(queue), 3u);
    EXPECT_EQ(queue.GetCount(), 0u);
    ASSERT_EQ(run.resultLines.size(), 3);
    EXPECT_EQ(History(), QByteArray()) << "written together by the caller";
    EXPECT_TRUE(results.WriteHistory());

    const QList<QByteArray> lines = History().split('\n');
    ASSERT_EQ(lines.size(), 4);
    const QByteArray sTooLong = LoadStringText(183).toUtf8();
    EXPECT_TRUE(lines[0].startsWith("/home/ann/183.mp3(2014-03-07 09:05:02) | DeviceName:Living Room Tolva_External"));
    EXPECT_TRUE(lines[0].contains("| Result: " + sTooLong + " | "));
    EXPECT_TRUE(lines[1].contains("| Result: " + LoadStringText(185).toUtf8() + " | "));
    EXPECT_TRUE(lines[2].contains("| Result: " + sTooLong + " | ")) << "no text of its own: the name was too long";
    for (const QByteArray& line : lines.mid(0, 3))
        EXPECT_FALSE(line.contains("| Result: OK |"));
}

#include <gtest/gtest.h>

#include "cli/TransferProgress.h"
#include "foundation/StringTable.h"
#include "support/TestHome.h"

namespace {

class CCapturedIo final : public ICliIo
{
public:
    explicit CCapturedIo(bool bTerminal) : m_bTerminal(bTerminal) {}
    void Out(const QString& sText) override { sOut += sText; }
    void Err(const QString& sText) override { sOut += sText; }
    QString ReadLine() override { return {}; }
    bool IsTerminal() const override { return m_bTerminal; }

    QString sOut;

private:
    bool m_bTerminal;
};

// The transfer thread's reports for a run of three files: two copied, one failed by a full disk.
void ReportRun(CTransferProgress& progress)
{
    progress.ShowTransferProgress(0, 3);
    progress.ShowFileCopying("/m/a.mp3", 0);
    progress.ShowFileCopying("/m/a.mp3", 1000);
    progress.ShowTransferProgress(1, 3);
    progress.ShowFileResult("/m/a.mp3", EC_OK);
    progress.ShowFileCopying("/m/b.flac", 0);
    progress.ShowFileCopying("/m/b.flac", 24);
    progress.ShowTransferProgress(2, 3);
    progress.ShowFileResult("/m/b.flac", EC_OK);
    progress.ShowFileCopying("/m/c.wav", 0);
    progress.ShowTransferProgress(3, 3);
    progress.ShowFileResult("/m/c.wav", EC_DEVICE_FULL);
}

} // namespace

TEST(TransferProgress, WithoutATerminalEachFileGetsOneLineWithItsPlaceAndOutcome)
{
    CTestHome home;
    CCapturedIo io(false);
    CTransferProgress progress(io);
    ReportRun(progress);
    progress.Draw();
    progress.Finish();
    EXPECT_EQ(io.sOut.section('\n', 0, 2),
              "[1/3] OK  /m/a.mp3\n[2/3] OK  /m/b.flac\n[3/3] " + LoadStringText(151) + "  /m/c.wav");
    EXPECT_TRUE(io.sOut.section('\n', 3, 3).startsWith("2 copied, 1 failed, 1.0 KiB in ")) << io.sOut.toStdString();
    EXPECT_FALSE(io.sOut.contains('\r'));
    EXPECT_EQ(progress.CopiedFiles(), 2u);
    EXPECT_EQ(progress.FailedFiles(), 1u);
}

TEST(TransferProgress, OnATerminalTheBarIsRedrawnAndOnlyFailuresGetALine)
{
    CTestHome home;
    CCapturedIo io(true);
    CTransferProgress progress(io);
    progress.ShowTransferProgress(0, 4);
    progress.ShowFileCopying("/music/album/a very long name.mp3", 3 * 1024 * 1024);
    progress.Draw();
    EXPECT_TRUE(io.sOut.startsWith("\r[--------------------] 0/4  3.0 MiB")) << io.sOut.toStdString();
    EXPECT_TRUE(io.sOut.contains("a very long name.mp3"));
    ReportRun(progress);
    progress.Finish();
    EXPECT_FALSE(io.sOut.contains("OK  /m/a.mp3")) << "copied files only move the bar";
    EXPECT_TRUE(io.sOut.contains(LoadStringText(151) + "  /m/c.wav\n"));
    EXPECT_TRUE(io.sOut.contains("[####################] 3/3"));
    EXPECT_TRUE(io.sOut.endsWith(" s.\n"));
}

TEST(TransferProgress, ByteSizesAreShownInBinaryUnits)
{
    EXPECT_EQ(CTransferProgress::FormatBytes(0), "0 B");
    EXPECT_EQ(CTransferProgress::FormatBytes(1023), "1023 B");
    EXPECT_EQ(CTransferProgress::FormatBytes(1536), "1.5 KiB");
    EXPECT_EQ(CTransferProgress::FormatBytes(5.0 * 1024 * 1024 * 1024), "5.0 GiB");
}

TEST(TransferProgress, AFailedFileIsShownWithTheTextOfItsHistoryLine)
{
    CTestHome home;
    CCapturedIo io(false);
    CTransferProgress progress(io);
    progress.ShowTransferProgress(0, 2);
    progress.ShowFileResult("/m/gone.mp3", EC_SOURCE_MISSING);
    progress.ShowTransferProgress(1, 2);
    progress.ShowFileResult("/m/lost.mp3", EC_DEVICE_LOST);
    progress.ShowTransferProgress(2, 2);
    progress.Finish();
    EXPECT_TRUE(io.sOut.contains("] " + LoadStringText(184) + "  /m/gone.mp3\n")) << io.sOut.toStdString();
    EXPECT_TRUE(io.sOut.contains("] " + LoadStringText(153) + "  /m/lost.mp3\n")) << io.sOut.toStdString();
    EXPECT_EQ(progress.FailedFiles(), 2u);
}

TEST(TransferProgress, WaitsAreShownAsTheyComeSoThatRetriesAreNotTakenForAHang)
{
    CTestHome home;
    CCapturedIo io(true);
    CTransferProgress progress(io);
    progress.ShowTransferProgress(0, 1);
    STransferWait wait;
    wait.eKind = STransferWait::WAIT_DEVICE;
    wait.sSourcePath = "/m/a.mp3";
    wait.nAttempt = 1;
    wait.nAttempts = 5;
    wait.eReason = EC_ACCESS_DENIED;
    wait.bShareSide = true;
    wait.nWaitMs = 20000;
    progress.ShowFileWaiting(wait);
    wait.eKind = STransferWait::WAIT_RETRY;
    wait.nWaitMs = 5000;
    progress.ShowFileWaiting(wait);
    progress.Draw();
    EXPECT_TRUE(io.sOut.contains("/m/a.mp3: the copy failed (the player's share refuses writing; it may be "
                                 "read-only); waiting up to 20 s to see whether the player is still there.\n"))
        << io.sOut.toStdString();
    EXPECT_TRUE(io.sOut.contains("/m/a.mp3: attempt 1 of 5 failed (the player's share refuses writing; it may be "
                                 "read-only); next try in 5 s.\n"))
        << io.sOut.toStdString();
}

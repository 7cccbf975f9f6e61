#include <gtest/gtest.h>

#include <optional>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "desktop/ShellOpener.h"
#include "support/QtPrinters.h"
#include "support/TestHome.h"
#include "support/desktop/TestShellOpener.h"

namespace {

class ShellOpenerTest : public testing::Test
{
protected:
    QTemporaryDir m_dir;

    // A stand-in for xdg-open: records its arguments, then runs the given shell commands.
    QString FakeOpener(const QByteArray& commands)
    {
        const QString sPath = m_dir.path() + "/fake-xdg-open";
        WriteTestFile(sPath, "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$0.args\"\n" + commands + "\n");
        QFile::setPermissions(sPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return sPath;
    }

    // Opens through the opener and waits for the answer, checking it did not come inside Open().
    static std::optional<bool> OpenAndWait(IShellOpener& opener, const QString& sUrl)
    {
        std::optional<bool> result;
        opener.Open(sUrl, [&](bool bOpened) { result = bOpened; });
        EXPECT_FALSE(result.has_value()) << "answered inside Open()";
        EXPECT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 10000)) << "no answer";
        return result;
    }
};

TEST_F(ShellOpenerTest, ExitStatusDecides)
{
    CShellOpener succeeding(FakeOpener("exit 0"));
    EXPECT_EQ(OpenAndWait(succeeding, "smb://127.0.0.1/Tolva Internal/"), true);
    EXPECT_EQ(ReadTestFile(m_dir.path() + "/fake-xdg-open.args"), "1\nsmb://127.0.0.1/Tolva Internal/\n");

    CShellOpener failing(FakeOpener("echo 'no handler' >&2; exit 3"));
    EXPECT_EQ(OpenAndWait(failing, "smb://127.0.0.1/"), false);

    CShellOpener killed(FakeOpener("kill -9 $$"));
    EXPECT_EQ(OpenAndWait(killed, "smb://127.0.0.1/"), false);

    CShellOpener missing(m_dir.path() + "/no-such-program");
    EXPECT_EQ(OpenAndWait(missing, "network:///"), false);
}

TEST_F(ShellOpenerTest, HandlerStillRunningCountsAsOpened)
{
    CShellOpener opener(FakeOpener("exec sleep 30"), 100);
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(OpenAndWait(opener, "https://127.0.0.1/help"), true);
    EXPECT_LT(elapsed.elapsed(), 5000);
    // The opener ends the lingering handler when it goes.
}

TEST_F(ShellOpenerTest, TestDoubleRecordsAndAnswersLater)
{
    CTestShellOpener opener;
    opener.QueueResults({false});
    std::vector<bool> results;
    opener.Open("smb://127.0.0.1/", [&](bool bOpened) { results.push_back(bOpened); });
    opener.Open("network:///", [&](bool bOpened) { results.push_back(bOpened); });
    EXPECT_TRUE(results.empty());
    EXPECT_EQ(opener.CompletePending(), 2);
    EXPECT_EQ(results, (std::vector<bool>{false, true}));
    EXPECT_EQ(opener.Opened(), (QStringList{"smb://127.0.0.1/", "network:///"}));
}

} // namespace

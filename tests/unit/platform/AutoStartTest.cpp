#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "platform/AutoStart.h"
#include "platform/StandardFolders.h"
#include "support/QtPrinters.h"
#include "support/TestHome.h"

namespace {

// What a desktop session makes of an Exec value: undo the string escapes (\\ \n \t \r \s),
// then split into arguments, honouring double quotes and the backslash escapes inside them,
// turn %% into % and drop field codes (%f, %u, ...), as a launcher without files does. Written
// from the desktop entry format, independently of the writer.
QStringList ArgumentsOfExec(const QString& sValue)
{
    QString sUnescaped;
    for (qsizetype i = 0; i < sValue.size(); ++i) {
        if (sValue[i] == '\\' && i + 1 < sValue.size()) {
            const QChar c = sValue[++i];
            sUnescaped += c == 'n'   ? QChar('\n')
                          : c == 't' ? QChar('\t')
                          : c == 'r' ? QChar('\r')
                          : c == 's' ? QChar(' ')
                                     : c;
        } else {
            sUnescaped += sValue[i];
        }
    }
    QStringList arguments;
    QString sCurrent;
    bool bInQuotes = false;
    bool bHaveArgument = false;
    for (qsizetype i = 0; i < sUnescaped.size(); ++i) {
        const QChar c = sUnescaped[i];
        if (bInQuotes) {
            if (c == '"') {
                bInQuotes = false;
            } else if (c == '\\' && i + 1 < sUnescaped.size() && QString("\"`$\\").contains(sUnescaped[i + 1])) {
                sCurrent += sUnescaped[++i];
            } else if (c == '%' && i + 1 < sUnescaped.size()) {
                if (sUnescaped[++i] == '%')
                    sCurrent += '%'; // any other %X is a field code, which a launcher replaces
            } else {
                sCurrent += c;
            }
        } else if (c == '"') {
            bInQuotes = true;
            bHaveArgument = true;
        } else if (c == ' ') {
            if (bHaveArgument)
                arguments << sCurrent;
            sCurrent.clear();
            bHaveArgument = false;
        } else if (c == '%' && i + 1 < sUnescaped.size()) {
            if (sUnescaped[++i] == '%') {
                sCurrent += '%';
                bHaveArgument = true;
            }
        } else {
            sCurrent += c;
            bHaveArgument = true;
        }
    }
    if (bHaveArgument)
        arguments << sCurrent;
    return arguments;
}

} // namespace

TEST(AutoStartEntry, WritesADesktopEntryWithTheQuotedProgramAndRemovesIt)
{
    QTemporaryDir dir;
    const CAutoStartEntry entry(dir.path() + "/autostart/TolvaMusicTransfer.desktop");
    EXPECT_FALSE(entry.Exists());
    EXPECT_EQ(entry.ExecLine(), QString());
    ASSERT_TRUE(entry.Write("/usr/bin/tolva-music-transfer", " -auto"));
    EXPECT_TRUE(entry.Exists());
    EXPECT_EQ(entry.ExecLine(), "\"/usr/bin/tolva-music-transfer\" -auto");
    const QByteArray content = ReadTestFile(dir.path() + "/autostart/TolvaMusicTransfer.desktop");
    EXPECT_TRUE(content.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(content.contains("\nType=Application\n"));
    EXPECT_TRUE(entry.Remove());
    EXPECT_FALSE(entry.Exists());
}

TEST(AutoStartEntry, AnyProgramPathComesBackAsTheFirstArgument)
{
    QTemporaryDir dir;
    const CAutoStartEntry entry(dir.path() + "/TolvaMusicTransfer.desktop");
    const QString paths[] = {
        "/opt/My Programs/tolva",
        "/home/ann/\"quoted\" dir/tolva",
        "/home/ann/back\\slash/tolva",
        "/home/ann/$HOME and `cmd`/tolva",
        "/home/ann/100% sure/tolva %f",
        QString::fromUtf8("/home/\u00e5sa/\u97f3\u697d/tolva"),
        "/home/ann/tab\there/line\nbreak/tolva",
    };
    for (const QString& sPath : paths) {
        SCOPED_TRACE(sPath.toStdString());
        ASSERT_TRUE(entry.Write(sPath, " -auto"));
        const QString sExec = entry.ExecLine();
        EXPECT_FALSE(sExec.contains('\n')) << "one Exec line whatever the path holds";
        EXPECT_EQ(ArgumentsOfExec(sExec), QStringList({sPath, "-auto"})) << sExec.toStdString();
    }
}

TEST(AutoStartEntry, DefaultPlaceIsTheUsersAutostartFolder)
{
    CTestHome home;
    EXPECT_EQ(CAutoStartEntry::DefaultFilePath(), home.Path(".config/autostart/TolvaMusicTransfer.desktop"));
}

TEST(AutoStartEntry, IsAValidDesktopEntryWhateverTheProgramPath)
{
    const QString sValidator = QStandardPaths::findExecutable("desktop-file-validate");
    if (sValidator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed (scripts/install-deps.sh installs it)";
    QTemporaryDir dir;
    const QString sFile = dir.path() + "/TolvaMusicTransfer.desktop";
    const CAutoStartEntry entry(sFile);
    for (const QString& sPath : {QString("/usr/bin/tolva-music-transfer"), QString("/opt/My Programs/tolva"),
                                 QString("/home/ann/$HOME \"q\" `c` back\\slash 100% %f/tolva")}) {
        SCOPED_TRACE(sPath.toStdString());
        ASSERT_TRUE(entry.Write(sPath, " -auto"));
        // popen, not QProcess: Qt's process launcher confuses ThreadSanitizer in later tests.
        const QByteArray command = "'" + QFile::encodeName(sValidator) + "' '" + QFile::encodeName(sFile) + "' 2>&1";
        FILE* pPipe = ::popen(command.constData(), "r");
        ASSERT_NE(pPipe, nullptr);
        QByteArray output;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pPipe)) > 0;)
            output.append(buffer, static_cast<qsizetype>(n));
        const int nStatus = ::pclose(pPipe);
        EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << output.toStdString();
        EXPECT_TRUE(output.isEmpty()) << "no warnings either: " << output.toStdString();
    }
}

// A package update replaces the program file while the program runs; the entry written
// afterwards must still name the program's path, not the kernel's "<path> (deleted)".
TEST(AutoStartEntry, ProgramReplacedWhileRunningIsNamedByItsPath)
{
    const QString sSleep = QStandardPaths::findExecutable("sleep");
    ASSERT_FALSE(sSleep.isEmpty());
    QTemporaryDir dir;
    const QString sProgram = dir.path() + "/tolva-music-transfer";
    ASSERT_TRUE(QFile::copy(sSleep, sProgram));
    const QByteArray program = QFile::encodeName(sProgram);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl(program.constData(), program.constData(), "600", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // The child ends with the test, whichever way the test ends.
    struct SReaper
    {
        pid_t pid;
        ~SReaper()
        {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } reaper{pid};
    // The exe link names the program once the child has replaced itself with it.
    const QString sLink = QString("/proc/%1/exe").arg(pid);
    while (ProgramFilePathOf(sLink) != sProgram && ::waitpid(pid, nullptr, WNOHANG) == 0)
        std::this_thread::yield();
    ASSERT_EQ(ProgramFilePathOf(sLink), sProgram);

    // The update: the old file goes, a new one takes its name.
    ASSERT_TRUE(QFile::remove(sProgram));
    EXPECT_EQ(ProgramFilePathOf(sLink), sProgram) << "the new program is where the old one was";
    ASSERT_TRUE(QFile::copy(sSleep, sProgram));
    EXPECT_EQ(ProgramFilePathOf(sLink), sProgram);
}

#include "foundation/Log.h"

#include <cerrno>
#include <cstdarg>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>

#include "foundation/MessageIds.h"
#include "foundation/Paths.h"
#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/Diagnostics.h"
#include "platform/WindowMessages.h"

namespace {

std::mutex g_logLock;

// The platform layer's own reports go to the log as well.
const bool g_bSinkInstalled = [] {
    SetDiagnosticSink(&WriteLog);
    return true;
}();

} // namespace

QString LogFilePath()
{
    return AppDataFolder() + "Tolvalog.txt";
}

QByteArray FormatLogLine(const QDateTime& localTime, const QString& sMessage)
{
    const QDate date = localTime.date();
    const QTime time = localTime.time();
    QByteArray line = QString::asprintf("%4d-%2d-%2d %2d:%2d:%2d | ", date.year(), date.month(), date.day(),
                                        time.hour(), time.minute(), time.second())
                          .toLatin1();
    line.reserve(line.size() + sMessage.size() + 8);
    // One byte per character: its code up to U+00FF, '?' above (a surrogate pair is one '?').
    for (qsizetype i = 0; i < sMessage.size(); ++i) {
        const QChar c = sMessage[i];
        if (c == '\n') {
            line += "\r\n";
        } else if (c.unicode() <= 0xFF) {
            line += static_cast<char>(c.unicode());
        } else {
            line += '?';
            if (c.isHighSurrogate() && i + 1 < sMessage.size() && sMessage[i + 1].isLowSurrogate())
                ++i;
        }
    }
    line += "\r\n";
    return line;
}

void WriteLog(const QString& sMessage)
{
    const QString sPath = LogFilePath();
    const QByteArray nativePath = QFile::encodeName(sPath);
    struct stat st
    {
    };
    if (::stat(nativePath.constData(), &st) != 0)
        return; // logging is off while the file does not exist

    std::lock_guard lock(g_logLock);
    // No O_CREAT: a file the user deleted since the test above stays deleted. O_NONBLOCK keeps a
    // FIFO put in the file's place from blocking every logging thread; regular files ignore it.
    const int fd = ::open(nativePath.constData(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return; // a folder of that name, no access: the next call tries again
    if (::fstat(fd, &st) == 0 && st.st_size > kLogSizeLimit)
        (void)::ftruncate(fd, 0);
    ::lseek(fd, 0, SEEK_END);
    const QByteArray line = FormatLogLine(Clock().LocalTime(), sMessage);
    int nErrno = 0;
    bool bDiskFull = !WriteAllToFd(fd, line.constData(), line.size(), &nErrno) && IsDiskFullErrno(nErrno);
    // Network file systems may report a full disk only when the file is closed.
    if (::close(fd) != 0 && IsDiskFullErrno(errno))
        bDiskFull = true;
    if (bDiskFull)
        NotifyDiskFull(); // once per lost line
}

void WriteLogF(const char* pszFormat, ...)
{
    // Formatting is skipped entirely while logging is off.
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(LogFilePath()).constData(), &st) != 0)
        return;
    va_list args;
    va_start(args, pszFormat);
    const QString sMessage = QString::vasprintf(pszFormat, args);
    va_end(args);
    WriteLog(sMessage);
}

void NotifyDiskFull()
{
    PostToMainWindow(CWindowMessage(WM_DISK_FULL, 0, 0));
}

// The watched-folder scan on a large library: 100,000 files in 1,000 folders against a history of
// 50,000 lines (half of the files already transferred), compared with find listing the same warm
// tree with each file's time. Also reports the peak memory of the process.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include "BenchReport.h"
#include "foundation/Paths.h"
#include "support/TestHome.h"
#include "sync/ContentsManager.h"
#include "sync/DeviceLists.h"
#include "sync/TransferHistory.h"

namespace {
constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 100;
constexpr int kRounds = 5;
const QString kUuid = "uuid:bench";

class CCountingOwner : public IContentsManagerOwner
{
public:
    void StartPowerCheck() override { ++m_nPowerChecks; }
    void TransferFinished(eErrorCode eCode) override { m_eLast = eCode; }
    int m_nPowerChecks = 0;
    eErrorCode m_eLast = EC_OK;
};

double NowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool MakeTree(const QString& sRoot, QStringList* pHistory)
{
    const QDateTime attempt(QDate(2014, 3, 8), QTime(10, 11, 12));
    for (int nFolder = 0; nFolder < kFolders; ++nFolder) {
        const QString sFolder = QString("%1/Artist %2/Album %3").arg(sRoot).arg(nFolder / 10).arg(nFolder % 10);
        if (!QDir().mkpath(sFolder))
            return false;
        for (int nFile = 0; nFile < kFilesPerFolder; ++nFile) {
            const QString sPath =
                QString("%1/%2 Track number %3.mp3").arg(sFolder).arg(nFile, 3, 10, QChar('0')).arg(nFile);
            const QByteArray path = QFile::encodeName(sPath);
            const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
            if (fd < 0)
                return false;
            const time_t nTime = 1394183102 + nFolder * 1000 + nFile;
            const struct timespec times[2] = {{nTime, 0}, {nTime, 0}};
            ::futimens(fd, times);
            ::close(fd);
            if (nFile % 2 == 0)
                pHistory->append(MakeHistoryLine(sPath, FormatModifiedTime(QDateTime::fromSecsSinceEpoch(nTime)),
                                                 "Living Room Player", kInternalShareName, "OK", attempt));
        }
    }
    return true;
}

// User and system time of this process (who = RUSAGE_SELF) or of its ended children.
double CpuMs(int nWho)
{
    struct rusage usage
    {
    };
    ::getrusage(nWho, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

double FindMs(const QString& sRoot)
{
    const QByteArray command = "find '" + QFile::encodeName(sRoot) + "' -type f -printf '%T@ %p\\n' >/dev/null";
    const double dStart = NowMs();
    if (std::system(command.constData()) != 0)
        return -1;
    return NowMs() - dStart;
}
} // namespace

int main()
{
    CTestHome home;
    const QString sRoot = home.Path("library");
    QStringList history;
    if (!MakeTree(sRoot, &history)) {
        std::fprintf(stderr, "cannot build the tree\n");
        return 1;
    }
    SaveListFile(kUuid, kSyncFolderListName, {sRoot + "/|1"});
    SaveListFile(kUuid, kCapabilityListName, {"mp3|1", "flac|0"});
    QByteArray historyBytes;
    for (const QString& sLine : history)
        historyBytes += sLine.toUtf8() + "\r\n";
    WriteTestFile(HistoryPathFor(kUuid), historyBytes);
    history.clear();

    CCountingOwner owner;
    CContentsManager contents(&owner);
    contents.SetDevice(kUuid, "127.0.0.2");

    // Both sides run once on the warm tree first; then the best of several rounds counts.
    FindMs(sRoot);
    contents.SearchProc();
    // Wall time can be skewed by other work on the machine; processor time is measured too.
    double dFind = 1e12;
    double dScan = 1e12;
    double dFindCpu = 1e12;
    double dScanCpu = 1e12;
    std::size_t nQueued = 0;
    for (int nRound = 0; nRound < kRounds; ++nRound) {
        const double dChildrenBefore = CpuMs(RUSAGE_CHILDREN);
        dFind = std::min(dFind, FindMs(sRoot));
        dFindCpu = std::min(dFindCpu, CpuMs(RUSAGE_CHILDREN) - dChildrenBefore);
        const double dSelfBefore = CpuMs(RUSAGE_SELF);
        const double dStart = NowMs();
        contents.SearchProc();
        dScan = std::min(dScan, NowMs() - dStart);
        dScanCpu = std::min(dScanCpu, CpuMs(RUSAGE_SELF) - dSelfBefore);
        nQueued = contents.ContentQueue().GetCount();
    }
    struct rusage usage
    {
    };
    ::getrusage(RUSAGE_SELF, &usage);
    const double dPeakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;

    if (nQueued != static_cast<std::size_t>(kFolders * kFilesPerFolder / 2) || owner.m_nPowerChecks != kRounds + 1) {
        std::fprintf(stderr, "unexpected scan result: %zu queued, %d power checks\n", nQueued, owner.m_nPowerChecks);
        return 1;
    }
    PrintBenchResult("scan_100k_files_vs_find", dScan, dFind, dFind / dScan,
                     "ms, best of 5 (100,000 files, 1,000 folders, 50,000-line history; target ratio >= 0.5)");
    PrintBenchResult("scan_100k_files_vs_find_cpu", dScanCpu, dFindCpu, dFindCpu / dScanCpu,
                     "ms processor time (user + system), best of 5");
    PrintBenchResult("scan_100k_files_peak_memory", dPeakMiB, 200.0, 200.0 / dPeakMiB,
                     "MiB peak resident memory of the process (target under 200 MiB)");
    return 0;
}

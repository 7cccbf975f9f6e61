// Copy throughput to a Samba share on loopback: 1 GiB in 256 files of 4 MiB, written through the
// SMB back end of the share file layer as the copy writes them (create, 262,144-byte writes,
// close), compared with smbclient's mput of the same files in the same run. Also measures how
// the size of the gathered SMB writes changes our figure, and the program's whole copy of a file
// (folders, temporary name, rename) into an artist and album folder, as a time per file. Runs inside the private
// network namespace of tests/support/run-in-netns.sh (it starts itself through it).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "BenchReport.h"
#include "platform/ShareFileSystem.h"
#include "platform/SmbShareFileSystem.h"
#include "support/SambaServer.h"
#include "sync/CopyToShare.h"

extern char** environ;

namespace {

constexpr int kFiles = 256;
constexpr qint64 kFileSize = 4 * 1024 * 1024;
constexpr std::size_t kBlock = 262144;
// Rounds of the variants, interleaved; each figure is its best round, the one least disturbed by
// other work on the machine. The gathering comparison uses the first quarter of the files and
// more rounds.
constexpr int kRounds = 5;
constexpr int kGatherRounds = 12;
constexpr int kGatherFiles = kFiles / 4;
constexpr double kMiB = 1024.0 * 1024.0;

double NowSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Best(const std::vector<double>& seconds)
{
    return *std::min_element(seconds.begin(), seconds.end());
}

QString FileName(int n)
{
    return QStringLiteral("track%1.flac").arg(n, 3, 10, QChar('0'));
}

bool MakeSources(const QString& sFolder)
{
    if (!QDir().mkpath(sFolder))
        return false;
    std::vector<std::uint64_t> block(kFileSize / sizeof(std::uint64_t));
    std::uint64_t nState = 0x9e3779b97f4a7c15ull;
    for (int n = 0; n < kFiles; ++n) {
        for (std::uint64_t& nWord : block) {
            nState ^= nState << 13;
            nState ^= nState >> 7;
            nState ^= nState << 17;
            nWord = nState;
        }
        QFile file(sFolder + "/" + FileName(n));
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char*>(block.data()), kFileSize) != kFileSize)
            return false;
    }
    return true;
}

// Our copy of every file into the share folder sTarget (below the share root), as the copy does:
// into a temporary file in a hidden folder, renamed to the file's name once whole (bPartial), or
// straight under the file's name, to show what the temporary name costs.
bool CopyOurs(const CSambaServer& server, std::size_t nGather, bool bPartial, int nFiles, const QString& sSources,
              const QString& sTarget)
{
    SSmbConfig config = server.ClientConfig();
    config.nWriteGatherBytes = nGather;
    CSmbShareFileSystem fs(config);
    CLocalShareFileSystem local;
    const QString sFolder = server.SharePath(QStringLiteral("Tolva_Internal")) + "\\" + sTarget;
    const QString sPartial = sFolder + "\\.tolva-partial";
    if (fs.CreateFolder(sFolder) != ERROR_SUCCESS || (bPartial && fs.CreateFolder(sPartial) != ERROR_SUCCESS))
        return false;
    std::vector<char> buffer(kBlock);
    for (int n = 0; n < nFiles; ++n) {
        DWORD dwError = ERROR_SUCCESS;
        const QString sFile = sFolder + "\\" + FileName(n);
        const QString sWritten =
            bPartial ? sPartial + "\\1-" + QString::number(n) + "-" + FileName(n) + ".part" : sFile;
        auto pSource = local.OpenForRead(sSources + "/" + FileName(n), &dwError);
        auto pTarget = fs.CreateFile(sWritten, &dwError);
        if (!pSource || !pTarget)
            return false;
        for (;;) {
            std::size_t nRead = 0;
            if (pSource->Read(buffer.data(), buffer.size(), &nRead) != ERROR_SUCCESS)
                return false;
            if (nRead == 0)
                break;
            if (pTarget->Write(buffer.data(), nRead) != ERROR_SUCCESS)
                return false;
        }
        if (pTarget->Close() != ERROR_SUCCESS)
            return false;
        if (bPartial && fs.Rename(sWritten, sFile) != ERROR_SUCCESS)
            return false;
    }
    return true;
}

// The transfer thread's side of the copy: never stopped, no pauses (they are the program's
// waits, not its work).
class CBenchControl final : public ITransferControl
{
public:
    bool IsStopRequested() const override { return false; }
    bool IsDeviceRemoved() const override { return false; }
    bool Pause(std::int64_t) override { return false; }
    void ShowProgress(unsigned, unsigned) override {}
};

// The program's copy (CCopyToShare, through the share layer as the transfer thread has it) of
// every file into "<sTarget>\Artist a\Album b\" on the share, eight files per album, sTarget
// standing for the computer's folder.
bool CopyProgram(const CSambaServer& server, int nFiles, const QString& sSources, const QString& sTarget)
{
    SetDefaultSmbConfig(server.ClientConfig());
    STransferRun run;
    run.sDeviceIp = server.Address();
    run.nTotal = static_cast<unsigned>(nFiles);
    CBenchControl control;
    CShareFileSystem fs;
    CCopyToShare copy(run, control, fs);
    for (int n = 0; n < nFiles; ++n) {
        CContent content;
        content.m_sSourcePath = sSources + "/" + FileName(n);
        content.m_sTargetPath =
            QStringLiteral("%1\\Artist %2\\Album %3\\%4").arg(sTarget).arg(n / 32).arg(n / 8).arg(FileName(n));
        copy.HandleContent(content);
        if (run.eResult != EC_OK)
            return false;
    }
    return true;
}

// smbclient's recursive mput of the same files into sTarget.
bool CopyPeer(const CSambaServer& server, const QString& sSources, const QString& sTarget)
{
    const std::string sService = "//" + server.Address().toStdString() + "/Tolva_Internal";
    const std::string sPort = std::to_string(server.Port());
    const std::string sCommands = "prompt; recurse; lcd " + sSources.toStdString() + "; mkdir " +
                                  sTarget.toStdString() + "; cd " + sTarget.toStdString() + "; mput *";
    std::vector<std::string> args = {"smbclient", sService, "-N", "-p", sPort, "-c", sCommands};
    std::vector<char*> argv;
    for (std::string& sArg : args)
        argv.push_back(sArg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int nSpawn = posix_spawnp(&pid, "smbclient", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nSpawn != 0)
        return false;
    int nStatus = 0;
    while (waitpid(pid, &nStatus, 0) < 0) {
    }
    return WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
}

bool AllArrived(const QString& sFolder, int nFiles, bool bInAlbums)
{
    for (int n = 0; n < nFiles; ++n) {
        const QString sAlbum = bInAlbums ? QStringLiteral("/Artist %1/Album %2").arg(n / 32).arg(n / 8) : QString();
        if (QFileInfo(sFolder + sAlbum + "/" + FileName(n)).size() != kFileSize)
            return false;
    }
    return true;
}

// Starts this program again inside the private namespace; returns only when that failed.
int RunInNamespace(char** argv)
{
    const std::string sScript = std::string(TOLVA_TEST_DATA_DIR) + "/../support/run-in-netns.sh";
    char szSelf[4096] = {};
    const ssize_t nLength = ::readlink("/proc/self/exe", szSelf, sizeof(szSelf) - 1);
    if (nLength <= 0)
        return 1;
    std::vector<char*> args = {const_cast<char*>(sScript.c_str()), szSelf};
    for (char** p = argv + 1; *p; ++p)
        args.push_back(*p);
    args.push_back(nullptr);
    ::execv(sScript.c_str(), args.data());
    std::perror("SmbBench: cannot run run-in-netns.sh");
    return 1;
}

struct SVariant
{
    const char* pszName;
    std::size_t nGather;
    bool bPeer;    // smbclient instead of ours
    bool bPartial; // ours through a temporary name, as the program copies
    std::vector<double> seconds;
    bool bProgram = false; // the program's copy of a file (CCopyToShare), into album folders
};

// Runs every variant nRounds times, interleaved, into a fresh folder each time; false when a
// copy failed.
bool RunRounds(const CSambaServer& server, const QString& sSources, int nFiles, int nRounds,
               std::vector<SVariant>* pVariants)
{
    const QString sShareFolder = server.ShareFolder(QStringLiteral("Tolva_Internal"));
    int nRun = 0;
    for (int nRound = 0; nRound < nRounds; ++nRound) {
        for (SVariant& variant : *pVariants) {
            const QString sTarget = QStringLiteral("run%1").arg(nRun++);
            QDir(sShareFolder).removeRecursively();
            QDir().mkpath(sShareFolder);
            ::sync(); // the previous run's writes do not flush during this one
            const double dStart = NowSeconds();
            const bool bOk = variant.bProgram ? CopyProgram(server, nFiles, sSources, sTarget)
                             : variant.bPeer
                                 ? CopyPeer(server, sSources, sTarget)
                                 : CopyOurs(server, variant.nGather, variant.bPartial, nFiles, sSources, sTarget);
            const double dSeconds = NowSeconds() - dStart;
            if (!bOk || !AllArrived(sShareFolder + "/" + sTarget, nFiles, variant.bProgram)) {
                std::fprintf(stderr, "SmbBench: the %s copy failed\n", variant.pszName);
                return false;
            }
            variant.seconds.push_back(dSeconds);
        }
    }
    QDir(sShareFolder).removeRecursively();
    return true;
}

} // namespace

int main(int, char** argv)
{
    if (qgetenv("TOLVA_IN_NETNS") != "1")
        return RunInNamespace(argv);

    QTemporaryDir work;
    const QString sSources = work.path() + "/sources";
    if (!work.isValid() || !MakeSources(sSources)) {
        std::fprintf(stderr, "SmbBench: cannot write the source files\n");
        return 1;
    }
    CSambaServer server;
    QString sError;
    if (!server.Start(&sError)) {
        std::fprintf(stderr, "SmbBench: %s\n", sError.toLocal8Bit().constData());
        return 1;
    }
    const double dMiB = kFileSize / kMiB;
    std::vector<SVariant> main = {{"ours", SSmbConfig().nWriteGatherBytes, false, true, {}},
                                  {"smbclient", 0, true, false, {}},
                                  {"ours, final names", SSmbConfig().nWriteGatherBytes, false, false, {}},
                                  {"the program's copy", SSmbConfig().nWriteGatherBytes, false, true, {}, true}};
    if (!RunRounds(server, sSources, kFiles, kRounds, &main))
        return 1;
    // The peer's mput takes every file of the folder, so the gathering runs use ours only.
    std::vector<SVariant> gather = {{"none", 0, false, true, {}},
                                    {"1 MiB", 1024 * 1024, false, true, {}},
                                    {"2 MiB", 2 * 1024 * 1024, false, true, {}},
                                    {"4 MiB", 4 * 1024 * 1024, false, true, {}}};
    if (!RunRounds(server, sSources, kGatherFiles, kGatherRounds, &gather))
        return 1;

    for (SVariant& variant : gather) {
        std::sort(variant.seconds.begin(), variant.seconds.end());
        std::printf("# gathered SMB writes %-5s: best %7.1f MiB/s, median %7.1f MiB/s (%d x %d files of 4 MiB)\n",
                    variant.pszName, kGatherFiles * dMiB / variant.seconds.front(),
                    kGatherFiles * dMiB / variant.seconds[variant.seconds.size() / 2], kGatherRounds, kGatherFiles);
    }
    std::printf("# temporary name and rename: %+.1f %% of the copy time (best %.2f s against %.2f s)\n",
                100.0 * (Best(main[0].seconds) / Best(main[2].seconds) - 1.0), Best(main[0].seconds),
                Best(main[2].seconds));
    std::printf("# the program's copy of a file into an album folder (folders, temporary name, rename): "
                "%.2f ms per file (best %.2f s), the share layer alone with final names %.2f ms\n",
                1000.0 * Best(main[3].seconds) / kFiles, Best(main[3].seconds),
                1000.0 * Best(main[2].seconds) / kFiles);
    const double dOurs = kFiles * dMiB / Best(main[0].seconds);
    const double dPeer = kFiles * dMiB / Best(main[1].seconds);
    PrintBenchResult("smb_copy_1GiB_256x4MiB", dOurs, dPeer, dOurs / dPeer,
                     "MiB/s to Samba on loopback; peer: smbclient mput; target >= 0.9");
    return 0;
}

// Transfer throughput: 2,000 files totalling 1 GiB, from a watched folder through the whole
// pipeline (scan, power check double, transfer thread, copy through the share layer's local back
// end, one history line per file) into a share root mapped to a folder, with the program's
// pauses skipped by a virtual clock. The peer is `cp -r` of the same tree on the same disk.
// Both read a warm source and start after a sync; each figure is the best of seven rounds; every copy is deleted before
// the next round, so the disk holds at most two copies of the tree.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include "BenchReport.h"
#include "foundation/Paths.h"
#include "support/FakeDevicePower.h"
#include "support/TestHome.h"
#include "support/TestMainWindow.h"
#include "sync/CommonManager.h"
#include "sync/DeviceLists.h"

namespace {

constexpr int kFiles = 2000;
constexpr qint64 kTotalBytes = qint64(1) << 30;
constexpr int kRounds = 7;
const QString kUuid = "uuid:bench-player";
const QString kIp = "127.0.0.2";

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

std::string Quoted(const QString& sPath)
{
    return "'" + sPath.toStdString() + "'";
}

bool MakeTree(const QString& sRoot)
{
    std::mt19937 random(7);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (char& c : block)
        c = static_cast<char>(random());
    const qint64 nBase = kTotalBytes / kFiles;
    qint64 nLeft = kTotalBytes;
    for (int i = 0; i < kFiles; ++i) {
        // Sizes vary around the mean (half to one and a half times it); the last file takes the rest.
        qint64 nSize =
            i + 1 == kFiles ? nLeft : nBase / 2 + static_cast<qint64>(random() % static_cast<unsigned>(nBase));
        nSize = std::min(nSize, nLeft);
        nLeft -= nSize;
        const QString sFolder = QString("%1/Artist %2/Album %3").arg(sRoot).arg(i % 20).arg(i % 100);
        if (!QDir().mkpath(sFolder))
            return false;
        QFile file(QString("%1/track %2.flac").arg(sFolder).arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return false;
        for (qint64 nDone = 0; nDone < nSize;) {
            const qint64 nChunk = std::min<qint64>(block.size(), nSize - nDone);
            if (file.write(block.constData(), nChunk) != nChunk)
                return false;
            nDone += nChunk;
        }
    }
    return nLeft == 0;
}

// One transfer run of the whole tree into an empty share; seconds, or a negative value on failure.
double TransferOnce(CTestHome& home, const QString& sMusic, const QString& sShare)
{
    QDir(sShare).removeRecursively();
    QDir().mkpath(sShare);
    QFile::remove(HistoryPathFor(kUuid));
    CShareFileSystem::MapShareRoot(InternalSharePath(kIp), sShare);

    CTestMainWindow window;
    auto pCm = std::make_unique<CCommonManager>();
    pCm->Initialize(&window.Receiver());
    pCm->SetDevicePower(std::make_unique<CFakeDevicePower>());
    SDeviceSnapshot fields;
    fields.sUuid = kUuid;
    fields.sIp = kIp;
    fields.sFriendlyName = "Bench Player";
    pCm->DeviceManager().AddDevice(std::make_unique<CDeviceInfo>(fields));
    pCm->SelectDevice(kUuid);
    SaveListFile(kUuid, kSyncFolderListName, {sMusic + "/|1"});
    SaveListFile(kUuid, kCapabilityListName, {"flac|1"});

    ::sync(); // both start without the previous round's dirty pages still being written out
    const auto start = std::chrono::steady_clock::now();
    pCm->StartSync();
    const std::optional<eErrorCode> eCode = window.WaitForOutcome(3600 * 1000);
    const double dSeconds = Seconds(std::chrono::steady_clock::now() - start);
    window.Quit();
    pCm.reset();
    (void)home;
    if (eCode != EC_OK) {
        std::fprintf(stderr, "transfer ended with code %d\n", eCode ? static_cast<int>(*eCode) : -1);
        return -1;
    }
    return dSeconds;
}

double CopyOnce(const QString& sMusic, const QString& sTarget)
{
    QDir(sTarget).removeRecursively();
    const std::string command = "cp -r " + Quoted(sMusic) + " " + Quoted(sTarget);
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    const int nResult = std::system(command.c_str());
    const double dSeconds = Seconds(std::chrono::steady_clock::now() - start);
    return nResult == 0 ? dSeconds : -1;
}

} // namespace

int main()
{
    CTestHome home;
    home.Clock().SetAutoAdvance(true);
    const QString sMusic = home.Path("Music");
    const QString sShare = home.Path("share");
    const QString sCpTarget = home.Path("cp-copy");
    std::fprintf(stderr, "building %d files, 1 GiB, in %s ...\n", kFiles, qPrintable(sMusic));
    if (!MakeTree(sMusic)) {
        std::fprintf(stderr, "could not build the tree\n");
        return 1;
    }
    // Warm the source for both.
    if (std::system(("find " + Quoted(sMusic) + " -type f -exec cat {} + > /dev/null").c_str()) != 0)
        std::fprintf(stderr, "warming the source failed\n");

    double dBestOurs = 1e30;
    double dBestCp = 1e30;
    std::vector<double> ratios; // per round, cp time / our time: drifts of a busy machine cancel out
    for (int nRound = 0; nRound < kRounds; ++nRound) {
        const double dCp = CopyOnce(sMusic, sCpTarget);
        QDir(sCpTarget).removeRecursively();
        const double dOurs = TransferOnce(home, sMusic, sShare);
        const qint64 nCopied = [&] {
            qint64 n = 0;
            QDirIterator it(sShare, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                n += QFileInfo(it.next()).size();
            return n;
        }();
        QDir(sShare).removeRecursively();
        if (dCp < 0 || dOurs < 0 || nCopied != kTotalBytes) {
            std::fprintf(stderr, "round %d failed (cp %.3f s, ours %.3f s, %lld bytes copied)\n", nRound, dCp, dOurs,
                         static_cast<long long>(nCopied));
            return 1;
        }
        std::fprintf(stderr, "round %d: cp -r %.3f s, transfer %.3f s\n", nRound, dCp, dOurs);
        dBestOurs = std::min(dBestOurs, dOurs);
        dBestCp = std::min(dBestCp, dCp);
        ratios.push_back(dCp / dOurs);
    }
    QDir(sMusic).removeRecursively();

    const double dMiB = static_cast<double>(kTotalBytes) / (1 << 20);
    const double dOursRate = dMiB / dBestOurs;
    const double dCpRate = dMiB / dBestCp;
    std::sort(ratios.begin(), ratios.end());
    const double dMedianRatio = ratios[ratios.size() / 2];
    char szNote[160];
    std::snprintf(szNote, sizeof szNote,
                  "MiB/s, best of %d, local share back end vs cp -r; median round ratio %.2f (target >= 0.8)", kRounds,
                  dMedianRatio);
    PrintBenchResult("transfer_2000_files_1GiB", dOursRate, dCpRate, dOursRate / dCpRate, szNote);
    return 0;
}

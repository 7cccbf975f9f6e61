// The Transfer Settings page's progress display under a fast transfer: 2,000 files of 64 blocks
// each, reported from a worker thread as the transfer thread does. Measures the interface
// thread's CPU time for all reports and how long after the last report the page shows 2000/2000
// (the interface thread must not fall behind). The peer figure is the same page fed one report
// per block without coalescing, as a naive display would take it.
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include <QApplication>
#include <QElapsedTimer>

#include "BenchReport.h"
#include "pages/PropertyTreePageSyncSettings.h"

namespace {

constexpr unsigned kFiles = 2000;
constexpr unsigned kBlocksPerFile = 64;
constexpr std::uint64_t kBlockBytes = 262144;

double ThreadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

struct SRun
{
    double dUiCpuMs = 0;
    double dLagMs = 0;
};

SRun Run(bool bCoalesced)
{
    CPropertyTreePageSyncSettings page;
    page.ShowPreparing();
    std::atomic<bool> bDone{false};
    const double dCpuStart = ThreadCpuMs();
    std::thread worker([&] {
        page.ShowTransferProgress(0, kFiles);
        for (unsigned nFile = 0; nFile < kFiles; ++nFile) {
            for (unsigned nBlock = 1; nBlock <= kBlocksPerFile; ++nBlock) {
                if (bCoalesced)
                    page.ShowFileCopying(QString(), nBlock * kBlockBytes);
                else
                    QMetaObject::invokeMethod(
                        &page, [&page, nBlock] { page.ApplyFileCopying(nBlock * kBlockBytes); }, Qt::QueuedConnection);
            }
            page.ShowTransferProgress(nFile + 1, kFiles);
        }
        bDone.store(true);
    });
    QElapsedTimer lag;
    bool bLagStarted = false;
    const QString sFinal = QString("%1/%1").arg(kFiles);
    while (page.CounterText() != sFinal) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!bLagStarted && bDone.load()) {
            lag.start();
            bLagStarted = true;
        }
    }
    worker.join();
    SRun run;
    run.dLagMs = bLagStarted ? static_cast<double>(lag.nsecsElapsed()) / 1e6 : 0.0;
    run.dUiCpuMs = ThreadCpuMs() - dCpuStart;
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const SRun ours = Run(true);
    const SRun peer = Run(false);
    PrintBenchResult("transfer_ui_cpu_2000_files", ours.dUiCpuMs, peer.dUiCpuMs,
                     peer.dUiCpuMs / std::max(ours.dUiCpuMs, 0.001),
                     "ms interface-thread CPU for 2,000 files x 64 block reports (peer: one event per block)");
    PrintBenchResult("transfer_ui_lag_2000_files", ours.dLagMs, peer.dLagMs, peer.dLagMs / std::max(ours.dLagMs, 0.001),
                     "ms from the last report to 2000/2000 on screen");
    return 0;
}

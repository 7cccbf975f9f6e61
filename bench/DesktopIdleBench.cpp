// CPU time of the desktop program's window while it waits with the automatic transfer armed
// (idle period 5 minutes, no input): the window, its pages, the tray state and the input watch of
// this session, on the offscreen platform, for 60 s (TOLVA_BENCH_SECONDS to change). Target:
// under 0.1 % of a core, that is no polling loop. The peer figure is a 100 ms polling timer doing
// nothing, the cheapest loop a poller could run.
#include <sys/resource.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include "BenchReport.h"
#include "app/TolvaMusicTransferDlg.h"
#include "desktop/IInputActivityMonitor.h"
#include "desktop/MessagePresenter.h"
#include "desktop/ShellOpener.h"
#include "desktop/TimerService.h"
#include "foundation/Settings.h"

namespace {

double ProcessCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

double IdleCpuPercent(int nSeconds, bool bPoll)
{
    QTimer poll;
    if (bPoll) {
        QObject::connect(&poll, &QTimer::timeout, [] {});
        poll.start(100);
    }
    const double dStart = ProcessCpuMs();
    QTimer::singleShot(nSeconds * 1000, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    return (ProcessCpuMs() - dStart) / (nSeconds * 10.0);
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/.config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/.local/share"));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const int nSeconds = qEnvironmentVariableIntValue("TOLVA_BENCH_SECONDS") > 0
                             ? qEnvironmentVariableIntValue("TOLVA_BENCH_SECONDS")
                             : 60;
    WriteSettingDword(kSettingFirstRun, 0);
    WriteSettingDword(kSettingAutoTransfer, 1);
    WriteSettingDword(kSettingAutoTransferTime, 5);

    CMessagePresenter presenter;
    CTimerService timers;
    CShellOpener shell;
    const std::unique_ptr<IInputActivityMonitor> pActivity = CreateActivityMonitor(timers);
    double dOurs = 0;
    {
        CTolvaMusicTransferDlg wnd(SMainWindowServices{presenter, timers, shell, nullptr, pActivity.get(), nullptr});
        wnd.Start();
        // Let start-up settle before measuring.
        QTimer::singleShot(500, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        dOurs = IdleCpuPercent(nSeconds, false);
    }
    const double dPeer = IdleCpuPercent(nSeconds, true);
    PrintBenchResult("desktop_idle_cpu_armed", dOurs, dPeer, dPeer / std::max(dOurs, 0.0001),
                     std::string("% of a core while waiting with the automatic transfer armed (input watch: ") +
                         pActivity->BackendName() + "; peer: a 100 ms polling timer)");
    return 0;
}

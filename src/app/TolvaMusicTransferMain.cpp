#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>

#include <xcb/xcb.h>

#include "app/TolvaMusicTransferApp.h"
#include "desktop/IInputActivityMonitor.h"
#include "desktop/MessagePresenter.h"
#include "desktop/ShellOpener.h"
#include "desktop/SingleInstance.h"
#include "desktop/TimerService.h"
#include "desktop/TrayPresence.h"

namespace {

// Whether Qt can reach a display. Qt ends the process with an abort when its platform cannot
// connect, so the program asks first and says what is missing.
bool DisplayAvailable()
{
    const QString sPlatform = qEnvironmentVariable("QT_QPA_PLATFORM");
    const bool bX11 = qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool bWayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (!sPlatform.isEmpty() && !sPlatform.startsWith("xcb") && !sPlatform.startsWith("wayland"))
        return true; // offscreen, vnc and the like need no display
    if (sPlatform.startsWith("wayland"))
        return bWayland;
    if (bX11) {
        xcb_connection_t* pConnection = xcb_connect(nullptr, nullptr);
        const bool bConnected = xcb_connection_has_error(pConnection) == 0;
        xcb_disconnect(pConnection);
        if (bConnected)
            return true;
    }
    return sPlatform.isEmpty() && bWayland;
}

// SIGTERM and SIGINT (the session ends, Ctrl+C) end the program as Exit does after its question:
// the handler only writes a byte, the event loop quits on it, and the main window, the managers
// and their threads end in order.
int g_aSignalPipe[2] = {-1, -1};
bool g_bTerminationRequested = false; // read and written on the user interface thread only

void OnTerminationSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_aSignalPipe[1], &c, 1);
}

void QuitOnTerminationSignals(QObject* pContext)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_aSignalPipe) != 0)
        return;
    auto* pNotifier = new QSocketNotifier(g_aSignalPipe[0], QSocketNotifier::Read, pContext);
    QObject::connect(pNotifier, &QSocketNotifier::activated, pContext, [] {
        char c = 0;
        [[maybe_unused]] const ssize_t n = ::read(g_aSignalPipe[0], &c, 1);
        // A signal during start-up (the setup announcement's box) ends that box; start-up then
        // ends instead of running the program. exit(), not quit(): quit() first asks every
        // window to close, and the settings window answers a close with its own questions.
        g_bTerminationRequested = true;
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    if (!DisplayAvailable()) {
        std::fprintf(stderr,
                     "tolva-music-transfer: no display to show the window on (DISPLAY=\"%s\", "
                     "WAYLAND_DISPLAY=\"%s\"); start it in a desktop session\n",
                     qgetenv("DISPLAY").constData(), qgetenv("WAYLAND_DISPLAY").constData());
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("tolva-music-transfer");
    // The program lives on without a visible window (notification area, start at logon).
    QApplication::setQuitOnLastWindowClosed(false);
    QuitOnTerminationSignals(&app);

    CMessagePresenter presenter;
    CTimerService timers;
    CShellOpener shell;
    CSingleInstance singleInstance;
    CTrayPresence trayPresence(timers);
    // Made before the window, destroyed after it.
    const std::unique_ptr<IInputActivityMonitor> pActivity = CreateActivityMonitor(timers);
    int nExitCode = 0;
    {
        CTolvaMusicTransferApp tolva({presenter, timers, shell, singleInstance, {}, pActivity.get(), &trayPresence});
        switch (tolva.InitInstance(QCoreApplication::arguments())) {
        case START_RUNNING: nExitCode = g_bTerminationRequested ? 0 : tolva.Run(); break;
        case START_INSTANCE_UNREACHABLE: nExitCode = 1; break;
        case START_GUEST_REFUSED:
        case START_SECOND_INSTANCE: break;
        }
    }
    return nExitCode;
}

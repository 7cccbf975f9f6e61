#include <cstdio>

#include <QApplication>

#include <xcb/xcb.h>

#include "app/TolvaMusicTransferApp.h"
#include "desktop/MessagePresenter.h"
#include "desktop/ShellOpener.h"
#include "desktop/SingleInstance.h"
#include "desktop/TimerService.h"

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

} // namespace

int main(int argc, char** argv)
{
    if (!DisplayAvailable()) {
        std::fprintf(stderr, "tolva-music-transfer: no display to show the window on (DISPLAY=\"%s\", "
                             "WAYLAND_DISPLAY=\"%s\"); start it in a desktop session\n",
                     qgetenv("DISPLAY").constData(), qgetenv("WAYLAND_DISPLAY").constData());
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("tolva-music-transfer");
    // The program lives on without a visible window (notification area, start at logon).
    QApplication::setQuitOnLastWindowClosed(false);

    CMessagePresenter presenter;
    CTimerService timers;
    CShellOpener shell;
    CSingleInstance singleInstance;
    int nExitCode = 0;
    {
        CTolvaMusicTransferApp tolva({presenter, timers, shell, singleInstance, {}});
        switch (tolva.InitInstance(QCoreApplication::arguments())) {
        case START_RUNNING: nExitCode = tolva.Run(); break;
        case START_INSTANCE_UNREACHABLE: nExitCode = 1; break;
        case START_GUEST_REFUSED:
        case START_SECOND_INSTANCE: break;
        }
    }
    return nExitCode;
}

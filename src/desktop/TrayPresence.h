#pragma once

#include <vector>

#include <QObject>

#include "desktop/ITrayPresence.h"

class ITimerService;
class QDBusServiceWatcher;
class QSocketNotifier;
struct _XDisplay;

// A tray host is either a StatusNotifier watcher on the session bus with a host registered (what
// Qt uses when it exists) or, when Qt runs on X11, an XEmbed system tray (the owner of the
// selection _NET_SYSTEM_TRAY_S<screen>, which announces itself with a MANAGER message on the root
// window). While a caller waits, the service watches the bus name, the watcher's
// StatusNotifierHostRegistered signal and the X root window, all event-driven; time-outs run on
// the timer service. Create and use it on the user interface thread.
class CTrayPresence final : public QObject, public ITrayPresence
{
    Q_OBJECT

public:
    explicit CTrayPresence(ITimerService& timers, QObject* pParent = nullptr);
    ~CTrayPresence() override;

    void WhenAvailable(Callback fn, int nTimeoutMs) override;

private slots:
    void OnHostRegistered();

private:
    struct SRequest
    {
        unsigned nId;
        Callback fn;
    };
    void StartWatching();
    void StopWatching();
    void CheckWatcher();
    bool HasXEmbedTray() const;
    void ReadX11Events();
    void Answer(bool bAvailable, unsigned nOnlyId = 0);

    ITimerService& m_timers;
    std::vector<SRequest> m_requests;
    unsigned m_nNextId = 1;
    bool m_bWatching = false;
    QDBusServiceWatcher* m_pBusWatcher = nullptr; // child
    _XDisplay* m_pDisplay = nullptr;              // own X connection, only when Qt runs on X11
    unsigned long m_nTraySelection = 0;
    unsigned long m_nManager = 0;
    QSocketNotifier* m_pX11Notifier = nullptr; // child
};

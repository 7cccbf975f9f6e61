#include "desktop/X11InputSource.h"

#include <QSocketNotifier>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/scrnsaver.h>

#include "desktop/ITimerService.h"

std::unique_ptr<CX11InputSource> CX11InputSource::Open(ITimerService& timers, IIdleSourceSink& sink)
{
    Display* pDisplay = XOpenDisplay(nullptr);
    if (!pDisplay)
        return nullptr;
    int nOpcode = 0, nEvent = 0, nError = 0;
    int nMajor = 2, nMinor = 2;
    // Raw events exist since XInput 2.0; 2.1 delivers them also while another client grabs input.
    if (!XQueryExtension(pDisplay, "XInputExtension", &nOpcode, &nEvent, &nError) ||
        XIQueryVersion(pDisplay, &nMajor, &nMinor) != Success || nMajor < 2) {
        XCloseDisplay(pDisplay);
        return nullptr;
    }
    return std::unique_ptr<CX11InputSource>(new CX11InputSource(pDisplay, nOpcode, timers, sink));
}

CX11InputSource::CX11InputSource(Display* pDisplay, int nOpcode, ITimerService& timers, IIdleSourceSink& sink)
    : m_pDisplay(pDisplay), m_nOpcode(nOpcode), m_timers(timers), m_sink(sink),
      m_pNotifier(new QSocketNotifier(ConnectionNumber(pDisplay), QSocketNotifier::Read, this))
{
    m_pNotifier->setEnabled(false);
    connect(m_pNotifier, &QSocketNotifier::activated, this, [this] { ReadEvents(); });
}

CX11InputSource::~CX11InputSource()
{
    Stop();
    delete m_pNotifier;
    XCloseDisplay(m_pDisplay);
}

void CX11InputSource::Start(std::int64_t /*nIdleMs*/)
{
    if (m_bStarted)
        return;
    m_bStarted = true;
    QueryPointer(m_nLastX, m_nLastY);
    SelectRawEvents(true);
    m_pNotifier->setEnabled(true);
    ReadEvents(); // replies read by XQueryPointer may have brought events along
}

void CX11InputSource::Stop()
{
    if (!m_bStarted)
        return;
    m_bStarted = false;
    m_timers.KillTimer(this, kTimerMotion);
    m_bMotionPending = false;
    m_pNotifier->setEnabled(false);
    SelectRawEvents(false);
    // Events already on their way are dropped, so the next start sees only new input.
    XSync(m_pDisplay, True);
}

void CX11InputSource::SelectRawEvents(bool bOn)
{
    unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
    if (bOn) {
        XISetMask(mask, XI_RawKeyPress);
        XISetMask(mask, XI_RawButtonPress); // selected with the others, reported as nothing
        XISetMask(mask, XI_RawMotion);
    }
    XIEventMask eventMask;
    eventMask.deviceid = XIAllMasterDevices;
    eventMask.mask_len = sizeof(mask);
    eventMask.mask = mask;
    XISelectEvents(m_pDisplay, DefaultRootWindow(m_pDisplay), &eventMask, 1);
    XFlush(m_pDisplay);
}

void CX11InputSource::ReadEvents()
{
    while (m_bStarted && XPending(m_pDisplay) > 0) {
        XEvent event;
        XNextEvent(m_pDisplay, &event);
        XGenericEventCookie* pCookie = &event.xcookie;
        if (pCookie->type != GenericEvent || pCookie->extension != m_nOpcode || !XGetEventData(m_pDisplay, pCookie))
            continue;
        const int nType = pCookie->evtype;
        XFreeEventData(m_pDisplay, pCookie);
        if (nType == XI_RawKeyPress)
            m_sink.SourceActivity(INPUT_KEYBOARD);
        else if (nType == XI_RawMotion)
            MotionSeen();
    }
}

void CX11InputSource::MotionSeen()
{
    if (m_timers.IsTimerRunning(this, kTimerMotion)) {
        m_bMotionPending = true; // looked at when the interval ends
        return;
    }
    m_timers.SetTimer(this, kTimerMotion, kMotionIntervalMs, [this] { MotionIntervalElapsed(); });
    CheckPointer();
}

void CX11InputSource::MotionIntervalElapsed()
{
    if (!m_bMotionPending) {
        m_timers.KillTimer(this, kTimerMotion); // the pointer rests: nothing more to look at
        return;
    }
    m_bMotionPending = false; // the timer runs on: one more interval
    CheckPointer();
    ReadEvents();
}

void CX11InputSource::CheckPointer()
{
    int x = 0, y = 0;
    if (!QueryPointer(x, y) || (x == m_nLastX && y == m_nLastY))
        return;
    m_nLastX = x;
    m_nLastY = y;
    m_sink.SourceActivity(INPUT_POINTER_MOVED);
}

bool CX11InputSource::QueryPointer(int& x, int& y) const
{
    Window root = 0, child = 0;
    int nWinX = 0, nWinY = 0;
    unsigned nMask = 0;
    return XQueryPointer(m_pDisplay, DefaultRootWindow(m_pDisplay), &root, &child, &x, &y, &nWinX, &nWinY, &nMask);
}

CX11IdleTime::CX11IdleTime()
{
    Display* pDisplay = XOpenDisplay(nullptr);
    int nEvent = 0, nError = 0;
    if (pDisplay && !XScreenSaverQueryExtension(pDisplay, &nEvent, &nError)) {
        XCloseDisplay(pDisplay);
        pDisplay = nullptr;
    }
    m_pDisplay = pDisplay;
}

CX11IdleTime::~CX11IdleTime()
{
    if (m_pDisplay)
        XCloseDisplay(m_pDisplay);
}

std::int64_t CX11IdleTime::IdleMs() const
{
    if (!m_pDisplay)
        return -1;
    XScreenSaverInfo info = {};
    if (!XScreenSaverQueryInfo(m_pDisplay, DefaultRootWindow(m_pDisplay), &info))
        return -1;
    return static_cast<std::int64_t>(info.idle);
}

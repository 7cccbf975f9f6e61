#include "support/desktop/FakeX11Desktop.h"

#include <string>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

CFakeInput::CFakeInput() : m_pDisplay(XOpenDisplay(nullptr))
{}

CFakeInput::~CFakeInput()
{
    if (m_pDisplay)
        XCloseDisplay(m_pDisplay);
}

void CFakeInput::Key()
{
    const KeyCode nCode = XKeysymToKeycode(m_pDisplay, XK_Shift_L);
    XTestFakeKeyEvent(m_pDisplay, nCode, True, CurrentTime);
    XTestFakeKeyEvent(m_pDisplay, nCode, False, CurrentTime);
    XFlush(m_pDisplay);
}

void CFakeInput::Move(int dx, int dy)
{
    XTestFakeRelativeMotionEvent(m_pDisplay, dx, dy, CurrentTime);
    XFlush(m_pDisplay);
}

void CFakeInput::Button(unsigned nButton)
{
    XTestFakeButtonEvent(m_pDisplay, nButton, True, CurrentTime);
    XTestFakeButtonEvent(m_pDisplay, nButton, False, CurrentTime);
    XFlush(m_pDisplay);
}

void CFakeInput::WarpTo(int x, int y)
{
    XWarpPointer(m_pDisplay, 0, DefaultRootWindow(m_pDisplay), 0, 0, 0, 0, x, y);
    XSync(m_pDisplay, False);
}

CFakeXEmbedTray::CFakeXEmbedTray() : m_pDisplay(XOpenDisplay(nullptr))
{}

CFakeXEmbedTray::~CFakeXEmbedTray()
{
    if (m_pDisplay)
        XCloseDisplay(m_pDisplay);
}

bool CFakeXEmbedTray::Start()
{
    if (!m_pDisplay)
        return false;
    const Window root = DefaultRootWindow(m_pDisplay);
    const Window window = XCreateSimpleWindow(m_pDisplay, root, 0, 0, 1, 1, 0, 0, 0);
    const std::string sName = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(m_pDisplay));
    const Atom selection = XInternAtom(m_pDisplay, sName.c_str(), False);
    XSetSelectionOwner(m_pDisplay, selection, window, CurrentTime);
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = root;
    event.xclient.message_type = XInternAtom(m_pDisplay, "MANAGER", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = CurrentTime;
    event.xclient.data.l[1] = static_cast<long>(selection);
    event.xclient.data.l[2] = static_cast<long>(window);
    XSendEvent(m_pDisplay, root, False, StructureNotifyMask, &event);
    XFlush(m_pDisplay);
    return XGetSelectionOwner(m_pDisplay, selection) == window;
}

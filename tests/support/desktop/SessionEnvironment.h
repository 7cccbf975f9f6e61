#pragma once

#include <map>
#include <optional>

#include <QByteArray>

// The session variables that decide how the desktop is watched (XDG_SESSION_TYPE, DISPLAY,
// WAYLAND_DISPLAY), set for one test and restored afterwards.
class CSessionEnvironment
{
public:
    enum ESession
    {
        SESSION_NONE,    // none of them: no desktop the program knows
        SESSION_X11,     // an X11 session on the test's X server
        SESSION_WAYLAND, // a Wayland session on the given display
    };
    explicit CSessionEnvironment(ESession eSession, const QByteArray& sWaylandDisplay = QByteArray());
    ~CSessionEnvironment();
    CSessionEnvironment(const CSessionEnvironment&) = delete;
    CSessionEnvironment& operator=(const CSessionEnvironment&) = delete;

private:
    void Set(const char* pszName, const std::optional<QByteArray>& value);

    std::map<const char*, std::optional<QByteArray>> m_saved;
};

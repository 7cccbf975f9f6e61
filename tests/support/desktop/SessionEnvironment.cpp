#include "support/desktop/SessionEnvironment.h"

#include <QtGlobal>

CSessionEnvironment::CSessionEnvironment(ESession eSession, const QByteArray& sWaylandDisplay)
{
    switch (eSession) {
    case SESSION_NONE:
        Set("XDG_SESSION_TYPE", std::nullopt);
        Set("DISPLAY", std::nullopt);
        Set("WAYLAND_DISPLAY", std::nullopt);
        break;
    case SESSION_X11:
        Set("XDG_SESSION_TYPE", QByteArray("x11"));
        Set("WAYLAND_DISPLAY", std::nullopt);
        break;
    case SESSION_WAYLAND:
        Set("XDG_SESSION_TYPE", QByteArray("wayland"));
        Set("DISPLAY", std::nullopt);
        Set("WAYLAND_DISPLAY", sWaylandDisplay);
        break;
    }
}

CSessionEnvironment::~CSessionEnvironment()
{
    for (const auto& [pszName, value] : m_saved) {
        if (value)
            qputenv(pszName, *value);
        else
            qunsetenv(pszName);
    }
}

void CSessionEnvironment::Set(const char* pszName, const std::optional<QByteArray>& value)
{
    if (m_saved.count(pszName) == 0)
        m_saved[pszName] =
            qEnvironmentVariableIsSet(pszName) ? std::optional<QByteArray>(qgetenv(pszName)) : std::nullopt;
    if (value)
        qputenv(pszName, *value);
    else
        qunsetenv(pszName);
}

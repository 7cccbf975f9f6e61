#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QStringList>

#include "support/TestHome.h"

// The messages of the log, one per line, without the time stamp and without empty lines.
inline QStringList LogMessages(const CTestHome& home)
{
    QStringList messages;
    for (const QByteArray& line : home.ReadLog().split('\n')) {
        QByteArray text = line.endsWith('\r') ? line.chopped(1) : line;
        const qsizetype nBar = text.indexOf(" | ");
        if (nBar >= 0)
            text = text.mid(nBar + 3);
        if (!text.isEmpty())
            messages.append(QString::fromLatin1(text));
    }
    return messages;
}

// A loopback port with nothing listening on it: connections are refused at once.
inline quint16 UnusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t nLen = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &nLen);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// Sets or clears an environment variable for the life of the object.
class CScopedEnv
{
public:
    CScopedEnv(const char* pszName, const std::optional<QByteArray>& value) : m_pszName(pszName)
    {
        if (qEnvironmentVariableIsSet(pszName))
            m_saved = qgetenv(pszName);
        if (value)
            qputenv(pszName, *value);
        else
            qunsetenv(pszName);
    }
    ~CScopedEnv()
    {
        if (m_saved)
            qputenv(m_pszName, *m_saved);
        else
            qunsetenv(m_pszName);
    }
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

private:
    const char* m_pszName;
    std::optional<QByteArray> m_saved;
};

// No proxy of any kind in the environment while it lives.
struct SNoProxyEnv
{
    CScopedEnv lower{"http_proxy", std::nullopt};
    CScopedEnv upper{"HTTP_PROXY", std::nullopt};
    CScopedEnv noLower{"no_proxy", std::nullopt};
    CScopedEnv noUpper{"NO_PROXY", std::nullopt};
    CScopedEnv all{"all_proxy", std::nullopt};
    CScopedEnv allUpper{"ALL_PROXY", std::nullopt};
};

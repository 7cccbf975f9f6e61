#include "SsdpResponder.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDateTime>
#include <QLocale>
#include <QMap>
#include <QRandomGenerator>

namespace {

// The player's own SSDP constants and parser: as the independent peer of the program's tests it
// shares no code with the program's finder, so a fault there cannot hide on both sides.
constexpr char kSsdpGroupAddress[] = "239.255.255.250";
constexpr quint16 kSsdpPort = 1900;
constexpr char kTesselServiceType[] = "urn:schemas-brenvik-com:service:TesselWebAPI:1";
constexpr qsizetype kMaxDatagramBytes = 8192;
constexpr char kDeviceType[] = "urn:schemas-brenvik-com:device:TesselPlayer:1";
constexpr char kServer[] = "Linux/6 UPnP/1.0 TolvaReferencePlayer/1.0";

// The interface that holds an address; for a 127.x address that no interface lists (the whole
// range is routed to loopback) the loopback interface.
unsigned InterfaceIndexFor(const in_addr& addr)
{
    unsigned nIndex = 0;
    ifaddrs* pList = nullptr;
    if (getifaddrs(&pList) == 0) {
        for (ifaddrs* p = pList; p != nullptr && nIndex == 0; p = p->ifa_next) {
            if (p->ifa_addr && p->ifa_addr->sa_family == AF_INET &&
                reinterpret_cast<sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr == addr.s_addr)
                nIndex = if_nametoindex(p->ifa_name);
        }
        freeifaddrs(pList);
    }
    if (nIndex == 0 && (ntohl(addr.s_addr) >> 24) == 127)
        nIndex = if_nametoindex("lo");
    return nIndex;
}

// A search request: "M-SEARCH * HTTP/1.1", then "name: value" lines up to an empty line (CR LF
// or LF line ends). Header names in lower case, values without the blanks around them; lines
// without a colon are skipped. False for anything else.
bool ParseSearchRequest(const QByteArray& datagram, QMap<QByteArray, QByteArray>* pHeaders)
{
    QList<QByteArray> lines = datagram.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (lines.isEmpty() || lines.front() != "M-SEARCH * HTTP/1.1")
        return false;
    for (qsizetype i = 1; i < lines.size() && !lines[i].isEmpty(); ++i) {
        const qsizetype nColon = lines[i].indexOf(':');
        if (nColon <= 0)
            continue;
        const QByteArray name = lines[i].left(nColon).trimmed().toLower();
        if (!pHeaders->contains(name))
            pHeaders->insert(name, lines[i].mid(nColon + 1).trimmed());
    }
    return true;
}

QByteArray HttpDate()
{
    return QLocale::c().toString(QDateTime::currentDateTimeUtc(), "ddd, dd MMM yyyy hh:mm:ss 'GMT'").toLatin1();
}

} // namespace

CSsdpResponder::CSsdpResponder(SPlayerState& state) : m_state(state)
{
    QObject::connect(&m_notifyTimer, &QTimer::timeout, [this] { SendAlive(); });
}

CSsdpResponder::~CSsdpResponder()
{
    Close();
}

bool CSsdpResponder::Open(QString* pError)
{
    Close();
    auto fail = [&](const char* pszWhat) {
        if (pError)
            *pError = QString("%1: %2").arg(pszWhat, std::strerror(errno));
        Close();
        return false;
    };
    in_addr addr{};
    if (inet_pton(AF_INET, m_state.sAddress.toLatin1().constData(), &addr) != 1) {
        errno = EINVAL;
        return fail("address");
    }
    in_addr group{};
    inet_pton(AF_INET, kSsdpGroupAddress, &group);
    const unsigned nIndex = InterfaceIndexFor(addr);

    // Listening socket: bound to the group address and port, so it gets only SSDP multicast;
    // every player on the machine binds the same, which SO_REUSEADDR allows, and the kernel gives
    // each of them a copy of every datagram.
    m_nListenFd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_nListenFd < 0)
        return fail("socket");
    const int nOne = 1;
    const int nZero = 0;
    setsockopt(m_nListenFd, SOL_SOCKET, SO_REUSEADDR, &nOne, sizeof nOne);
    setsockopt(m_nListenFd, IPPROTO_IP, IP_MULTICAST_ALL, &nZero, sizeof nZero);
    sockaddr_in bindAddr{};
    bindAddr.sin_family = AF_INET;
    bindAddr.sin_port = htons(kSsdpPort);
    bindAddr.sin_addr = group;
    if (bind(m_nListenFd, reinterpret_cast<sockaddr*>(&bindAddr), sizeof bindAddr) != 0)
        return fail("bind to the SSDP group");
    ip_mreqn membership{};
    membership.imr_multiaddr = group;
    membership.imr_address = addr;
    membership.imr_ifindex = static_cast<int>(nIndex);
    if (setsockopt(m_nListenFd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0)
        return fail("join the SSDP group");

    // Sending socket: the player's own address, so answers and announcements come from it.
    m_nSendFd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_nSendFd < 0)
        return fail("socket");
    setsockopt(m_nSendFd, SOL_SOCKET, SO_REUSEADDR, &nOne, sizeof nOne);
    sockaddr_in own{};
    own.sin_family = AF_INET;
    own.sin_addr = addr;
    own.sin_port = htons(kSsdpPort);
    if (bind(m_nSendFd, reinterpret_cast<sockaddr*>(&own), sizeof own) != 0) {
        own.sin_port = 0;
        if (bind(m_nSendFd, reinterpret_cast<sockaddr*>(&own), sizeof own) != 0)
            return fail("bind to the player's address");
    }
    const unsigned char nTtl = 2;
    const unsigned char nLoop = 1;
    ip_mreqn outgoing{};
    outgoing.imr_address = addr;
    outgoing.imr_ifindex = static_cast<int>(nIndex);
    if (setsockopt(m_nSendFd, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof outgoing) != 0 ||
        setsockopt(m_nSendFd, IPPROTO_IP, IP_MULTICAST_TTL, &nTtl, sizeof nTtl) != 0 ||
        setsockopt(m_nSendFd, IPPROTO_IP, IP_MULTICAST_LOOP, &nLoop, sizeof nLoop) != 0)
        return fail("multicast options");

    m_pNotifier = std::make_unique<QSocketNotifier>(m_nListenFd, QSocketNotifier::Read);
    QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, [this] { OnDatagram(); });
    if (m_state.nNotifyIntervalMs > 0)
        m_notifyTimer.start(m_state.nNotifyIntervalMs);
    return true;
}

void CSsdpResponder::Close()
{
    m_notifyTimer.stop();
    m_pNotifier.reset();
    if (m_nListenFd >= 0)
        close(m_nListenFd);
    if (m_nSendFd >= 0)
        close(m_nSendFd);
    m_nListenFd = -1;
    m_nSendFd = -1;
}

QList<QPair<QByteArray, QByteArray>> CSsdpResponder::Targets() const
{
    const QByteArray udn = m_state.sUdn.toUtf8();
    return {{"upnp:rootdevice", udn + "::upnp:rootdevice"},
            {udn, udn},
            {kDeviceType, udn + "::" + kDeviceType},
            {kTesselServiceType, udn + "::" + kTesselServiceType}};
}

void CSsdpResponder::OnDatagram()
{
    char buffer[kMaxDatagramBytes + 1];
    for (int nRead = 0; nRead < 64; ++nRead) {
        sockaddr_in from{};
        socklen_t nFromLen = sizeof from;
        const ssize_t n =
            recvfrom(m_nListenFd, buffer, sizeof buffer, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &nFromLen);
        if (n < 0)
            return;
        if (!m_state.bSsdpOn || n > kMaxDatagramBytes)
            continue;
        QMap<QByteArray, QByteArray> headers;
        if (!ParseSearchRequest(QByteArray(buffer, static_cast<qsizetype>(n)), &headers))
            continue;
        if (headers.value("man") != "\"ssdp:discover\"" || !headers.contains("st"))
            continue;
        bool bOk = false;
        int nMx = headers.value("mx").toInt(&bOk);
        if (!bOk || nMx < 0)
            nMx = 0;
        char szFrom[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, szFrom, sizeof szFrom);
        Answer(headers.value("st"), std::min(nMx, 5), szFrom, ntohs(from.sin_port));
    }
}

void CSsdpResponder::Answer(const QByteArray& searchTarget, int nMxSeconds, const QByteArray& toAddress,
                            quint16 nToPort)
{
    for (const auto& [target, usn] : Targets()) {
        if (searchTarget != "ssdp:all" && searchTarget != target)
            continue;
        QByteArray text = "HTTP/1.1 200 OK\r\n";
        text += "CACHE-CONTROL: max-age=1800\r\n";
        text += "DATE: " + HttpDate() + "\r\n";
        text += "EXT:\r\n";
        text += "LOCATION: " + m_state.SsdpLocation().toUtf8() + "\r\n";
        text += "SERVER: " + QByteArray(kServer) + "\r\n";
        text += "ST: " + target + "\r\n";
        text += "USN: " + usn + "\r\n\r\n";
        auto send = [this, text, toAddress, nToPort] {
            if (m_nSendFd < 0 || !m_state.bSsdpOn)
                return;
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(nToPort);
            if (inet_pton(AF_INET, toAddress.constData(), &to.sin_addr) != 1)
                return;
            if (sendto(m_nSendFd, text.constData(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0)
                ++m_nAnswered;
        };
        if (m_state.bMxSpread && nMxSeconds > 0)
            QTimer::singleShot(QRandomGenerator::global()->bounded(nMxSeconds * 1000), send);
        else
            send();
    }
}

void CSsdpResponder::SendMulticast(const QByteArray& data)
{
    if (m_nSendFd < 0)
        return;
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(kSsdpPort);
    inet_pton(AF_INET, kSsdpGroupAddress, &group.sin_addr);
    sendto(m_nSendFd, data.constData(), data.size(), 0, reinterpret_cast<sockaddr*>(&group), sizeof group);
}

void CSsdpResponder::SendAlive()
{
    if (!m_state.bSsdpOn)
        return;
    for (const auto& [target, usn] : Targets()) {
        QByteArray text = "NOTIFY * HTTP/1.1\r\n";
        text += "HOST: 239.255.255.250:1900\r\n";
        text += "CACHE-CONTROL: max-age=1800\r\n";
        text += "LOCATION: " + m_state.SsdpLocation().toUtf8() + "\r\n";
        text += "NT: " + target + "\r\n";
        text += "NTS: ssdp:alive\r\n";
        text += "SERVER: " + QByteArray(kServer) + "\r\n";
        text += "USN: " + usn + "\r\n\r\n";
        SendMulticast(text);
    }
}

void CSsdpResponder::SendByeBye()
{
    for (const auto& [target, usn] : Targets()) {
        QByteArray text = "NOTIFY * HTTP/1.1\r\n";
        text += "HOST: 239.255.255.250:1900\r\n";
        text += "NT: " + target + "\r\n";
        text += "NTS: ssdp:byebye\r\n";
        text += "USN: " + usn + "\r\n\r\n";
        SendMulticast(text);
    }
}

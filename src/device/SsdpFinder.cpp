#include "device/SsdpFinder.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QString>
#include <QStringList>

#include "device/SsdpMessage.h"
#include "foundation/Log.h"

namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

bool IsVisibleAscii(std::string_view s)
{
    for (unsigned char c : s) {
        if (c <= 0x20 || c >= 0x7F)
            return false;
    }
    return true;
}

// Opens a UDP socket bound to one interface address, with multicast sent out of that interface
// and looped back to local listeners (players on this machine, and the test namespace).
int OpenSearchSocket(const std::string& sAddress)
{
    in_addr addr{};
    if (inet_pton(AF_INET, sAddress.c_str(), &addr) != 1) {
        WriteLogF("SsdpFinder: %s is not an IPv4 address.\n", sAddress.c_str());
        return -1;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        WriteLogF("SsdpFinder: socket failed: %s.\n", std::strerror(errno));
        return -1;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = addr;
    local.sin_port = 0;
    const unsigned char nTtl = 2; // the SSDP default: the local network, never beyond a router or two
    const unsigned char nLoop = 1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &addr, sizeof addr) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &nTtl, sizeof nTtl) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &nLoop, sizeof nLoop) != 0) {
        WriteLogF("SsdpFinder: cannot search on %s: %s.\n", sAddress.c_str(), std::strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

bool ParseSsdpResponse(const char* pData, std::size_t nSize, SSsdpAnswer& out)
{
    SSsdpMessage msg;
    if (!ParseSsdpMessage(pData, nSize, msg))
        return false;
    // "HTTP/1.1 200 OK": version 1.x, then the status code 200 as its own word.
    const std::string_view start = msg.sStartLine;
    const std::size_t nSpace = start.find(' ');
    if (nSpace == std::string_view::npos || !StartsWithNoCase(start.substr(0, nSpace), "HTTP/1."))
        return false;
    const std::string_view rest = start.substr(nSpace + 1);
    if (rest.substr(0, 3) != "200" || (rest.size() > 3 && rest[3] != ' '))
        return false;

    const std::string* pLocation = msg.Header("location");
    const std::string* pUsn = msg.Header("usn");
    const std::string* pSt = msg.Header("st");
    if (pLocation == nullptr || pUsn == nullptr || pSt == nullptr)
        return false;
    if (pLocation->size() > kMaxSsdpLocationBytes || !StartsWithNoCase(*pLocation, "http://") ||
        pLocation->size() <= 7 || !IsVisibleAscii(*pLocation))
        return false;
    if (pUsn->empty() || pUsn->size() > kMaxSsdpUsnBytes || !IsVisibleAscii(*pUsn))
        return false;
    if (pSt->empty() || pSt->size() > kMaxSsdpUsnBytes || !IsVisibleAscii(*pSt))
        return false;
    const std::size_t nSeparator = pUsn->find("::");
    std::string sUdn = pUsn->substr(0, nSeparator);
    if (sUdn.empty())
        return false;

    out.sLocation = *pLocation;
    out.sUsn = *pUsn;
    out.sUdn = std::move(sUdn);
    out.sSt = *pSt;
    const std::string* pServer = msg.Header("server");
    out.sServer =
        pServer ? pServer->substr(0, std::min<std::size_t>(pServer->size(), kMaxSsdpUsnBytes)) : std::string();
    out.sSender.clear();
    return true;
}

std::string BuildSsdpSearch(const std::string& sSearchTarget, int nMxSeconds)
{
    std::string s = "M-SEARCH * HTTP/1.1\r\n";
    s += "HOST: " + std::string(kSsdpGroupAddress) + ":" + std::to_string(kSsdpPort) + "\r\n";
    s += "MAN: \"ssdp:discover\"\r\n";
    s += "MX: " + std::to_string(nMxSeconds) + "\r\n";
    s += "ST: " + sSearchTarget + "\r\n";
    s += "\r\n";
    return s;
}

CSsdpFinder::CSsdpFinder(std::vector<std::string> interfaceAddresses, SSsdpSearchOptions options)
    : CSsdpFinder([addresses = std::move(interfaceAddresses)] { return addresses; }, std::move(options))
{}

CSsdpFinder::CSsdpFinder(SsdpInterfaceSource interfaces, SSsdpSearchOptions options)
    : m_interfaces(std::move(interfaces)), m_options(std::move(options))
{
    m_nWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_nWakeFd < 0)
        WriteLogF("SsdpFinder: eventfd failed: %s.\n", std::strerror(errno));
}

CSsdpFinder::~CSsdpFinder()
{
    if (m_nWakeFd >= 0)
        close(m_nWakeFd);
}

void CSsdpFinder::Cancel()
{
    m_bCancelled = true;
    if (m_nWakeFd >= 0) {
        const std::uint64_t nOne = 1;
        [[maybe_unused]] ssize_t n = write(m_nWakeFd, &nOne, sizeof nOne);
    }
}

void CSsdpFinder::Rearm()
{
    m_bCancelled = false;
    if (m_nWakeFd >= 0) {
        std::uint64_t nValue = 0;
        [[maybe_unused]] ssize_t n = read(m_nWakeFd, &nValue, sizeof nValue);
    }
}

bool CSsdpFinder::RunPass(const AnswerHandler& onAnswer)
{
    if (m_bCancelled)
        return true;

    struct SSocket
    {
        int fd;
        std::string sAddress;
    };
    // Asked for every pass: the addresses of a moment ago may be gone (DHCP) or not yet there.
    const std::vector<std::string> interfaces = m_interfaces ? m_interfaces() : std::vector<std::string>();
    if (interfaces != m_lastInterfaces) {
        std::string sList;
        for (const std::string& sAddress : interfaces)
            sList += (sList.empty() ? "" : ", ") + sAddress;
        WriteLogF("SsdpFinder: searching on %s.\n", sList.empty() ? "no interface" : sList.c_str());
        m_lastInterfaces = interfaces;
    }
    std::vector<SSocket> sockets;
    for (const std::string& sAddress : interfaces) {
        const int fd = OpenSearchSocket(sAddress);
        if (fd >= 0)
            sockets.push_back({fd, sAddress});
    }
    if (sockets.empty()) {
        WriteLog("SsdpFinder: no interface to search on.\n");
        return false;
    }

    const std::string sSearch = BuildSsdpSearch(m_options.sSearchTarget, m_options.nMxSeconds);
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(kSsdpPort);
    inet_pton(AF_INET, kSsdpGroupAddress, &group.sin_addr);
    auto sendSearch = [&] {
        for (const SSocket& s : sockets) {
            if (sendto(s.fd, sSearch.data(), sSearch.size(), 0, reinterpret_cast<sockaddr*>(&group), sizeof group) < 0)
                WriteLogF("SsdpFinder: M-SEARCH on %s failed: %s.\n", s.sAddress.c_str(), std::strerror(errno));
        }
    };

    std::vector<pollfd> fds;
    for (const SSocket& s : sockets)
        fds.push_back({s.fd, POLLIN, 0});
    if (m_nWakeFd >= 0)
        fds.push_back({m_nWakeFd, POLLIN, 0});

    // The pass is a wait for datagrams from the network, measured in real time: the answers
    // arrive in real time whatever clock the rest of the program runs on.
    using SteadyClock = std::chrono::steady_clock;
    const auto passStart = SteadyClock::now();
    const auto deadline = passStart + std::chrono::milliseconds(std::max(0, m_options.nPassMs));
    const int nSends = std::max(1, m_options.nSendCount);
    int nSent = 0;
    std::set<std::string> seen;
    int nIgnoredLogged = 0;
    bool bFullLogged = false;
    std::vector<char> buffer(kMaxSsdpPacketBytes + 1);
    while (!m_bCancelled) {
        const auto now = SteadyClock::now();
        const auto nextSend = passStart + std::chrono::milliseconds(std::max(0, m_options.nSendSpacingMs) * nSent);
        if (nSent < nSends && now >= nextSend) {
            sendSearch();
            ++nSent;
            continue;
        }
        const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        if (nLeft <= 0)
            break;
        long long nWaitMs = std::min<long long>(nLeft, 1000);
        if (nSent < nSends)
            nWaitMs = std::min<long long>(
                nWaitMs, std::chrono::duration_cast<std::chrono::milliseconds>(nextSend - now).count() + 1);
        const int nReady = poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(nWaitMs, 0)));
        if (nReady < 0 && errno != EINTR) {
            WriteLogF("SsdpFinder: poll failed: %s.\n", std::strerror(errno));
            break;
        }
        if (nReady <= 0)
            continue;
        for (std::size_t i = 0; i < sockets.size() && !m_bCancelled; ++i) {
            if ((fds[i].revents & POLLIN) == 0)
                continue;
            // Drain this socket; MSG_TRUNC makes recvfrom report the real size of a datagram
            // larger than the buffer, which is then dropped whole.
            for (int nRead = 0; nRead < 256; ++nRead) {
                sockaddr_in from{};
                socklen_t nFromLen = sizeof from;
                const ssize_t n = recvfrom(sockets[i].fd, buffer.data(), buffer.size(), MSG_TRUNC,
                                           reinterpret_cast<sockaddr*>(&from), &nFromLen);
                if (n < 0)
                    break;
                SSsdpAnswer answer;
                const bool bParsed = static_cast<std::size_t>(n) <= kMaxSsdpPacketBytes &&
                                     ParseSsdpResponse(buffer.data(), static_cast<std::size_t>(n), answer);
                const bool bOurs =
                    bParsed && (answer.sSt == m_options.sSearchTarget || m_options.sSearchTarget == "ssdp:all");
                if (!bOurs) {
                    if (nIgnoredLogged < 8) {
                        ++nIgnoredLogged;
                        WriteLogF("SsdpFinder: ignored a datagram of %zd bytes on %s.\n", n,
                                  sockets[i].sAddress.c_str());
                    }
                    continue;
                }
                if (seen.count(answer.sUdn) != 0)
                    continue;
                if (seen.size() >= m_options.nMaxDevices) {
                    if (!bFullLogged)
                        WriteLogF("SsdpFinder: more than %zu devices answered; the others are ignored this pass.\n",
                                  m_options.nMaxDevices);
                    bFullLogged = true;
                    continue;
                }
                char szFrom[INET_ADDRSTRLEN] = {};
                inet_ntop(AF_INET, &from.sin_addr, szFrom, sizeof szFrom);
                if (HttpUrlHost(answer.sLocation) != szFrom) {
                    // Only the sender's own description is read: an answer may not send the
                    // program to another machine.
                    if (nIgnoredLogged < 8) {
                        ++nIgnoredLogged;
                        WriteLogF("SsdpFinder: an answer from %s points elsewhere (%s), ignored.\n", szFrom,
                                  answer.sLocation.c_str());
                    }
                    continue;
                }
                seen.insert(answer.sUdn);
                answer.sSender = szFrom;
                if (onAnswer)
                    onAnswer(answer);
            }
        }
    }
    for (const SSocket& s : sockets)
        close(s.fd);
    return true;
}

std::vector<std::string> SsdpSearchInterfaces()
{
    std::vector<std::string> result;
    const bool bListed = qEnvironmentVariableIsSet("TOLVA_SSDP_INTERFACES");
    std::vector<std::string> listed;
    if (bListed) {
        const QStringList parts = qEnvironmentVariable("TOLVA_SSDP_INTERFACES").split(',', Qt::SkipEmptyParts);
        for (const QString& sPart : parts)
            listed.push_back(sPart.trimmed().toStdString());
    }
    ifaddrs* pList = nullptr;
    if (getifaddrs(&pList) != 0)
        return result;
    for (ifaddrs* p = pList; p != nullptr; p = p->ifa_next) {
        if (p->ifa_addr == nullptr || p->ifa_addr->sa_family != AF_INET || (p->ifa_flags & IFF_UP) == 0)
            continue;
        char sz[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(p->ifa_addr)->sin_addr, sz, sizeof sz);
        if (bListed) {
            if (std::find(listed.begin(), listed.end(), sz) == listed.end())
                continue;
        } else if ((p->ifa_flags & IFF_LOOPBACK) != 0 || (p->ifa_flags & IFF_MULTICAST) == 0) {
            continue;
        }
        if (std::find(result.begin(), result.end(), sz) == result.end())
            result.emplace_back(sz);
    }
    freeifaddrs(pList);
    return result;
}

std::string HttpUrlHost(const std::string& sUrl)
{
    if (!StartsWithNoCase(sUrl, "http://"))
        return {};
    const std::string sAuthority = sUrl.substr(7, sUrl.find_first_of("/?#", 7) - 7);
    if (sAuthority.find('@') != std::string::npos)
        return {};
    return sAuthority.substr(0, sAuthority.find(':'));
}

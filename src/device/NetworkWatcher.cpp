#include "device/NetworkWatcher.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <set>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QStringList>

#include "foundation/Log.h"

namespace {

QString Dotted(const sockaddr* pAddr)
{
    char sz[INET_ADDRSTRLEN] = {};
    if (pAddr == nullptr || pAddr->sa_family != AF_INET)
        return {};
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(pAddr)->sin_addr, sz, sizeof sz);
    return QString::fromLatin1(sz);
}

} // namespace

std::vector<SLocalAdapter> GetLocalAdapters()
{
    std::vector<SLocalAdapter> adapters;
    ifaddrs* pList = nullptr;
    if (getifaddrs(&pList) != 0) {
        WriteLogF("GetLocalAdapters: getifaddrs failed: %s.\n", std::strerror(errno));
        return adapters;
    }
    std::set<std::string> seen; // interfaces whose first IPv4 address was looked at
    for (ifaddrs* p = pList; p != nullptr; p = p->ifa_next) {
        if (p->ifa_addr == nullptr || p->ifa_addr->sa_family != AF_INET || p->ifa_name == nullptr)
            continue;
        if (!seen.insert(p->ifa_name).second)
            continue;
        if ((p->ifa_flags & IFF_UP) == 0)
            continue;
        const QString sAddress = Dotted(p->ifa_addr);
        const QString sFirstOctet = sAddress.section('.', 0, 0);
        if (sFirstOctet == "0" || sFirstOctet == "127")
            continue;
        adapters.push_back({sAddress, Dotted(p->ifa_netmask)});
    }
    freeifaddrs(pList);
    return adapters;
}

QString SubnetPrefix(const QString& sAddress, const QString& sMask)
{
    int k = 0;
    if (sMask.contains('.')) {
        for (const QString& sOctet : sMask.split('.')) {
            bool bOk = false;
            if (sOctet.toUInt(&bOk) != 255 || !bOk)
                break;
            ++k;
        }
    }
    if (k == 0)
        return sAddress;
    // Only octets followed by a dot are cut off, so a full mask still leaves the last one free.
    const QStringList octets = sAddress.split('.');
    const int nTake = std::min({k, 3, static_cast<int>(octets.size()) - 1});
    if (nTake <= 0)
        return sAddress;
    return octets.mid(0, nTake).join('.');
}

std::vector<QString> SubnetPrefixes(const std::vector<SLocalAdapter>& adapters)
{
    std::set<QString> prefixes;
    for (const SLocalAdapter& adapter : adapters)
        prefixes.insert(SubnetPrefix(adapter.sAddress, adapter.sMask));
    return {prefixes.begin(), prefixes.end()};
}

CNetworkWatcher::~CNetworkWatcher()
{
    Stop();
}

bool CNetworkWatcher::Start(Callback onChange)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_thread.joinable())
        return false;
    m_nSocket = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (m_nSocket < 0) {
        WriteLogF("NetworkWatcher: netlink socket failed: %s.\n", std::strerror(errno));
        return false;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_LINK;
    m_nWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (bind(m_nSocket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || m_nWakeFd < 0) {
        WriteLogF("NetworkWatcher: cannot listen for address changes: %s.\n", std::strerror(errno));
        close(m_nSocket);
        m_nSocket = -1;
        if (m_nWakeFd >= 0)
            close(m_nWakeFd);
        m_nWakeFd = -1;
        return false;
    }
    m_bRunning = true;
    m_thread = std::thread([this, onChange = std::move(onChange)] { Run(onChange); });
    return true;
}

void CNetworkWatcher::Stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_thread.joinable())
        return;
    const std::uint64_t nOne = 1;
    [[maybe_unused]] ssize_t n = write(m_nWakeFd, &nOne, sizeof nOne);
    m_thread.join();
    close(m_nSocket);
    close(m_nWakeFd);
    m_nSocket = -1;
    m_nWakeFd = -1;
}

void CNetworkWatcher::Run(Callback onChange)
{
    pollfd fds[2] = {{m_nSocket, POLLIN, 0}, {m_nWakeFd, POLLIN, 0}};
    alignas(nlmsghdr) char buffer[16384];
    for (;;) {
        // Waits without a time-out: only the kernel's notice or Stop() ends the wait.
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            WriteLogF("NetworkWatcher: poll failed: %s.\n", std::strerror(errno));
            break;
        }
        if (fds[1].revents != 0)
            break;
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (fds[0].revents & POLLIN) == 0) {
            WriteLog("NetworkWatcher: the netlink socket failed.\n");
            break;
        }
        // One burst of notices (an address added often comes with routes and flags) gives one
        // call; a lost notice (receive buffer overrun) counts as a change as well.
        bool bChanged = false;
        for (;;) {
            const ssize_t n = recv(m_nSocket, buffer, sizeof buffer, 0);
            if (n < 0) {
                if (errno == ENOBUFS)
                    bChanged = true;
                if (errno == EINTR || errno == ENOBUFS)
                    continue;
                break;
            }
            int nLeft = static_cast<int>(n);
            for (const nlmsghdr* h = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(h, nLeft);
                 h = NLMSG_NEXT(h, nLeft)) {
                if (h->nlmsg_type == RTM_NEWADDR || h->nlmsg_type == RTM_DELADDR) {
                    if (h->nlmsg_len >= NLMSG_LENGTH(sizeof(ifaddrmsg)) &&
                        static_cast<const ifaddrmsg*>(NLMSG_DATA(h))->ifa_family == AF_INET)
                        bChanged = true;
                } else if (h->nlmsg_type == RTM_NEWLINK || h->nlmsg_type == RTM_DELLINK) {
                    bChanged = true;
                }
            }
        }
        if (bChanged && onChange)
            onChange();
    }
    m_bRunning = false;
}

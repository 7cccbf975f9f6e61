#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <QString>

// The PC's own IPv4 networks, for the address boxes of manual add: each adapter's first address
// and mask, the network prefix they give, and a watcher that reports every change of the local
// IPv4 addresses.

struct SLocalAdapter
{
    QString sAddress; // dotted decimal
    QString sMask;    // dotted decimal
};

// The first IPv4 address and mask of every interface that is up, in the system's order; an
// interface whose first address starts with 0 (none yet) or 127 (loopback) is left out. A new
// list on every call.
std::vector<SLocalAdapter> GetLocalAdapters();

// The leading octets of an address that its mask fixes, without a trailing dot: k = the number
// of leading mask octets equal to 255 (a mask without a dot gives 0); the prefix is the first k
// octets, at most three (the box for the last octet always stays free), or the whole address
// when k is 0. 192.168.1.20 / 255.255.255.0 gives "192.168.1".
QString SubnetPrefix(const QString& sAddress, const QString& sMask);

// Every distinct prefix of the adapters once, in plain string order.
std::vector<QString> SubnetPrefixes(const std::vector<SLocalAdapter>& adapters);

// A thread that waits for the kernel's notices of IPv4 address changes (and of interfaces going
// up or down, which change what GetLocalAdapters reports) on a netlink socket and calls the
// callback once per burst of notices, on the watcher's thread. Stop() wakes it and joins it.
class CNetworkWatcher
{
public:
    using Callback = std::function<void()>;

    CNetworkWatcher() = default;
    ~CNetworkWatcher();
    CNetworkWatcher(const CNetworkWatcher&) = delete;
    CNetworkWatcher& operator=(const CNetworkWatcher&) = delete;

    // False when the netlink socket cannot be opened (the reason is logged) or it runs already.
    bool Start(Callback onChange);
    // Ends the thread; a callback that is running finishes first. Safe to call more than once.
    void Stop();
    bool IsRunning() const { return m_bRunning.load(); }

private:
    void Run(Callback onChange);

    std::mutex m_mutex; // guards Start/Stop against each other
    std::thread m_thread;
    std::atomic<bool> m_bRunning{false};
    int m_nSocket = -1;
    int m_nWakeFd = -1;
};

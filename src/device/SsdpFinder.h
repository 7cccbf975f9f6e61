#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// The service type every player offers; the search asks for it and nothing else.
inline constexpr char kTesselServiceType[] = "urn:schemas-brenvik-com:service:TesselWebAPI:1";

// The SSDP multicast group and port (IPv4).
inline constexpr char kSsdpGroupAddress[] = "239.255.255.250";
inline constexpr unsigned short kSsdpPort = 1900;

// One answer to our M-SEARCH: the headers the finder needs, checked for form.
struct SSsdpAnswer
{
    std::string sLocation; // description URL, "http://..."
    std::string sUsn;      // unique service name, "uuid:...::urn:..."
    std::string sUdn;      // the USN up to "::" (the device's unique name)
    std::string sSt;       // search target the answer is for
    std::string sServer;   // SERVER header, may be empty
    std::string sSender;   // dotted IPv4 address the datagram came from (filled by the finder)
};

// Bounds of the accepted header values.
constexpr std::size_t kMaxSsdpLocationBytes = 1024;
constexpr std::size_t kMaxSsdpUsnBytes = 512;

// Reads an M-SEARCH answer ("HTTP/1.x 200" with LOCATION, USN and ST). False for anything else:
// another status, a request or notification, a missing header, a LOCATION that is not a plain
// http URL of visible characters, over-long values, or any datagram ParseSsdpMessage refuses.
bool ParseSsdpResponse(const char* pData, std::size_t nSize, SSsdpAnswer& out);

// The M-SEARCH datagram for a search target and MX (seconds).
std::string BuildSsdpSearch(const std::string& sSearchTarget, int nMxSeconds);

struct SSsdpSearchOptions
{
    std::string sSearchTarget = kTesselServiceType;
    // Players spread their answers over MX seconds; the pass listens one second longer so that
    // an answer sent at the last moment and its way through the network still count.
    int nMxSeconds = 2;
    int nPassMs = 3000;
    // UDP may drop a datagram; each interface gets the search this many times, the copies this
    // far apart: a burst loss on a wireless network takes back-to-back copies together, and a
    // player missed by one pass is dropped from the list.
    int nSendCount = 3;
    int nSendSpacingMs = 400;
    // A pass reports at most this many devices, so a flood of forged answers can make the
    // program fetch only so many descriptions (a home has a handful of players).
    std::size_t nMaxDevices = 64;
};

// Where a pass searches: the IPv4 interface addresses, asked anew for every pass, so that an
// address that came or changed (DHCP, a network that came up after the program) counts from the
// next pass on.
using SsdpInterfaceSource = std::function<std::vector<std::string>()>;

// One SSDP search pass over the IPv4 interface addresses of the moment: sends M-SEARCH to the
// SSDP group from a socket bound to each address (so it leaves through that interface only),
// collects the unicast answers until the pass length has passed, and reports every device once
// (by UDN) in the order the answers arrived. An answer whose LOCATION names another host than
// the one that sent it is dropped: nobody may point the program at a third machine. The finder
// speaks SSDP only; reading descriptions is the caller's business.
class CSsdpFinder
{
public:
    using AnswerHandler = std::function<void(const SSsdpAnswer&)>;

    explicit CSsdpFinder(SsdpInterfaceSource interfaces, SSsdpSearchOptions options = {});
    // A fixed list of addresses (tests and benchmarks).
    explicit CSsdpFinder(std::vector<std::string> interfaceAddresses, SSsdpSearchOptions options = {});
    ~CSsdpFinder();
    CSsdpFinder(const CSsdpFinder&) = delete;
    CSsdpFinder& operator=(const CSsdpFinder&) = delete;

    // Blocks the calling thread for one pass (the network wait is a poll with the pass length
    // as its time-out, so answers are taken the moment they arrive) and calls onAnswer on this
    // thread for each new device; onAnswer must return soon (no description fetch in it), so
    // that answers from other players are read while they come. Returns false when no socket
    // could be opened on any of the interfaces (nothing was sent); the reason is in the log.
    bool RunPass(const AnswerHandler& onAnswer);

    // Any thread: ends a running pass at once, and makes passes return at once until Rearm().
    void Cancel();
    void Rearm();
    bool IsCancelled() const { return m_bCancelled.load(); }

    const SSsdpSearchOptions& Options() const { return m_options; }

private:
    SsdpInterfaceSource m_interfaces;
    std::vector<std::string> m_lastInterfaces; // of the previous pass, for the log of changes
    SSsdpSearchOptions m_options;
    std::atomic<bool> m_bCancelled{false};
    int m_nWakeFd = -1; // eventfd that Cancel() signals to end the poll
};

// The IPv4 addresses of every interface that is up, can multicast and is not a loopback, from
// getifaddrs; or, when the environment variable TOLVA_SSDP_INTERFACES is set, those of the
// addresses it lists (comma-separated) that an interface that is up holds at the moment, which
// lets a run inside a private network search on loopback.
std::vector<std::string> SsdpSearchInterfaces();

// The host of an "http://host[:port]/..." URL, empty when it has none or carries user
// information (which would make the host ambiguous).
std::string HttpUrlHost(const std::string& sUrl);

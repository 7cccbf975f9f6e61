// Discovery of 20 reference players on 20 loopback addresses through the program's device search:
// a common manager starts its search thread without start delay, and the time from the start of
// its first pass to the 20th DEVICE_ADDED report (answer taken, description, file types and icons
// read, record entered into the device table) is compared with the pass length. Only a first pass
// adds players, so each run is a new common manager in a fresh profile; the players keep running
// and spread their answers over the search's MX as real devices do. Runs on the real clock,
// inside a private network namespace.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include <QByteArray>

#include "BenchReport.h"
#include "device/DeviceSearch.h"
#include "device/UPnPDeviceFinder.h"
#include "foundation/MessageIds.h"
#include "support/ReferencePlayer.h"
#include "support/TestHome.h"
#include "sync/CommonManager.h"

namespace {

constexpr int kPlayers = 20;
constexpr int kRuns = 10;
// A run that has not seen every player by then has failed (the pass is 3 s).
constexpr auto kRunTimeout = std::chrono::seconds(20);

using CSteady = std::chrono::steady_clock;

double MsBetween(CSteady::time_point from, CSteady::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The moments of one run: the first pass's start (from the finder), each player's DEVICE_ADDED
// (from the device events, on the search thread) and the first pass's end (WM_USER+6, posted to
// the main window). The main thread waits for them.
class CRunTimes final : public IDeviceEventReceiver, public IMessageReceiver
{
public:
    void PassStarted(CSteady::time_point at)
    {
        std::lock_guard lock(m_mutex);
        if (!m_passStart)
            m_passStart = at;
    }
    void UpdateDeviceInfo(const SDeviceChange& change) override
    {
        if (change.eCode != DEVICE_ADDED)
            return;
        const CSteady::time_point now = CSteady::now();
        std::lock_guard lock(m_mutex);
        if (m_added.insert(change.sUuid).second && m_added.size() == kPlayers)
            m_lastAdded = now;
        m_changed.notify_all();
    }
    void SelectDeviceManual(const QString&, const QString&) override {}
    bool PostMessage(CWindowMessage msg) override
    {
        if (msg.nMessage == WM_DEVICE_NOT_FOUND) {
            const CSteady::time_point now = CSteady::now();
            std::lock_guard lock(m_mutex);
            if (!m_passEnd)
                m_passEnd = now;
            m_changed.notify_all();
        }
        return true;
    }
    std::intptr_t SendMessage(CWindowMessage msg) override
    {
        PostMessage(std::move(msg));
        return 0;
    }

    // Waits until every player was added and the first pass has ended; false on the timeout.
    bool WaitForPassAndPlayers()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kRunTimeout, [&] { return m_lastAdded && m_passEnd; });
    }
    std::size_t AddedCount()
    {
        std::lock_guard lock(m_mutex);
        return m_added.size();
    }
    // Milliseconds from the start of the first pass to the last player's DEVICE_ADDED and to the
    // pass's end; call after WaitForPassAndPlayers succeeded.
    double MsToLastAdded()
    {
        std::lock_guard lock(m_mutex);
        return MsBetween(*m_passStart, *m_lastAdded);
    }
    double MsToPassEnd()
    {
        std::lock_guard lock(m_mutex);
        return MsBetween(*m_passStart, *m_passEnd);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<CSteady::time_point> m_passStart;
    std::optional<CSteady::time_point> m_lastAdded;
    std::optional<CSteady::time_point> m_passEnd;
    std::set<QString> m_added;
};

// The program's SSDP finder, noting when each pass starts: the moment the search thread hands it
// the pass, just before its worker sends the search.
class CTimedFinder final : public IDeviceFinder
{
public:
    CTimedFinder(CRunTimes& times, const SSsdpSearchOptions& options)
        : m_times(times), m_finder(std::vector<std::string>{"127.0.0.1"}, options)
    {}
    bool StartAsyncFind(CThreadMessageQueue& queue) override
    {
        const CSteady::time_point start = CSteady::now();
        if (!m_finder.StartAsyncFind(queue))
            return false;
        m_times.PassStarted(start);
        return true;
    }
    void CancelAsyncFind() override { m_finder.CancelAsyncFind(); }

private:
    CRunTimes& m_times;
    CUPnPDeviceFinder m_finder;
};

std::string Fixed(double d, int nDigits)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "%.*f", nDigits, d);
    return sz;
}

} // namespace

int main(int argc, char** argv)
{
    if (qgetenv("TOLVA_IN_NETNS") != "1") {
        const std::string sScript = std::string(TOLVA_TEST_DATA_DIR) + "/../support/run-in-netns.sh";
        std::vector<char*> args = {const_cast<char*>(sScript.c_str())};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        execv(args[0], args.data());
        std::fprintf(stderr, "cannot run %s\n", sScript.c_str());
        return 1;
    }
    std::vector<std::unique_ptr<CReferencePlayer>> players;
    for (int i = 0; i < kPlayers; ++i) {
        players.push_back(std::make_unique<CReferencePlayer>("127.0.0." + std::to_string(10 + i),
                                                             std::vector<std::string>{"--mx-spread"}));
        if (!players.back()->Start()) {
            std::fprintf(stderr, "player %d: %s\n", i, players.back()->LastError().c_str());
            return 1;
        }
    }

    const SSsdpSearchOptions options; // the program's pass: MX 2, 3000 ms
    SDeviceSearchTimes times;
    times.nStartDelayMs = 0;
    double dSumMs = 0;
    double dWorstMs = 0;
    int nWorstRun = 0;
    double dLongestPassMs = 0;
    for (int nRun = 1; nRun <= kRuns; ++nRun) {
        CTestHome home; // fresh profile: empty device table, no last used player
        home.EnableLog();
        SetClock(nullptr); // the search's own pauses run in real time, as in the program
        CRunTimes runTimes;
        auto pCm = std::make_unique<CCommonManager>();
        pCm->Initialize(&runTimes, &runTimes);
        if (!pCm->StartDeviceSearch(std::make_unique<CTimedFinder>(runTimes, options), times)) {
            std::fprintf(stderr, "run %d: the device search did not start\n", nRun);
            return 1;
        }
        const bool bDone = runTimes.WaitForPassAndPlayers();
        pCm.reset(); // stops the search before the next run's profile
        if (!bDone) {
            std::fprintf(stderr, "run %d: %zu of %d players added, or the first pass did not end\n", nRun,
                         runTimes.AddedCount(), kPlayers);
            return 1;
        }
        const double dMs = runTimes.MsToLastAdded();
        const double dPassMs = runTimes.MsToPassEnd();
        std::fprintf(stderr, "run %d: last DEVICE_ADDED after %.1f ms, pass ended after %.1f ms\n", nRun, dMs, dPassMs);
        dSumMs += dMs;
        if (dMs > dWorstMs) {
            dWorstMs = dMs;
            nWorstRun = nRun;
        }
        dLongestPassMs = std::max(dLongestPassMs, dPassMs);
    }
    const double dMeanMs = dSumMs / kRuns;
    PrintBenchResult("discovery of 20 players (last DEVICE_ADDED / pass length)", dMeanMs, options.nPassMs,
                     options.nPassMs / dMeanMs,
                     "ms; MX 2 s, pass 3 s; mean " + Fixed(dMeanMs / options.nPassMs, 3) + " of the pass over " +
                         std::to_string(kRuns) + " fresh runs; worst: run " + std::to_string(nWorstRun) + ", " +
                         Fixed(dWorstMs, 0) + " ms (" + Fixed(dWorstMs / options.nPassMs, 3) +
                         " of the pass); longest pass " + Fixed(dLongestPassMs, 0) + " ms");
    return 0;
}

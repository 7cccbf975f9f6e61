#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include <QString>

#include "device/DeviceManager.h"
#include "device/UPnPDevice.h"
#include "device/UPnPDeviceFinder.h"
#include "platform/WindowMessages.h"

// The search takes no new player while the table holds this many (a home has a handful); a
// manual add by the user still does.
inline constexpr std::size_t kMaxSearchedPlayers = 64;

// The pauses of the device search thread (milliseconds of Clock() time).
struct SDeviceSearchTimes
{
    std::int64_t nStartDelayMs = 2000; // before the first pass
    std::int64_t nPassGapMs = 2000;    // between the end of a pass and the next one
    std::int64_t nHoldStepMs = 1000;   // one look at the power flags while a pass is held
};

// The device search thread (DeviceSearchProc): repeated finder passes for the players' web API
// service, each new player read and entered into the device table, known players refreshed, and
// after each pass the offline check, the pass report to the main window (WM_USER+6) and the hold
// while the owner checks a player's power or wakes it for its share. Manual adds by address
// (WM_MANUAL_ADD_REQUEST) run on this thread too, in a pass's message loop.
//
// Everything runs on the one search thread, so it is the only thread that inserts into or erases
// from the table; records are read without the table lock between those steps because nobody
// else can delete them. Stopping (the device manager's StopSearch) closes the search queue and
// sets the search's stop event, which wake every wait of this thread; a running pass is cancelled
// and its worker joined before Run returns.
class CDeviceSearch final : public IDeviceSearch
{
public:
    // pFinder: the finder of the passes; null means the program's SSDP finder on the interfaces
    // SsdpSearchInterfaces() gives at each pass, created when the thread starts.
    explicit CDeviceSearch(std::unique_ptr<IDeviceFinder> pFinder = nullptr, SDeviceSearchTimes times = {});
    ~CDeviceSearch() override;

    void Run(CDeviceManager& manager) override;

    // Passes that ended with the finder's completion report (any thread).
    int CompletedPasses() const { return m_nCompletedPasses.load(); }

private:
    bool IsStopping();
    // Runs the message loop of one pass until SearchComplete ended it; false when stopping.
    bool RunPassLoop();
    void Dispatch(CWindowMessage& msg);
    // Waits through the clock without taking messages: requests that arrive meanwhile stay in
    // the queue for the next pass's message loop. False when the search is stopping.
    bool Pause(std::int64_t nMs);

    void DeviceAdded(const SUPnPDevice& device);
    // bSearched: the pass searched on at least one interface (else the offline check is skipped).
    void SearchComplete(bool bSearched);
    void UpdateConnectState();
    void DeviceAddedManual(const QString& sIp);

    std::unique_ptr<IDeviceFinder> m_pFinder;
    SDeviceSearchTimes m_times;
    CDeviceManager* m_pManager = nullptr;
    bool m_bPassEnded = false;             // search thread only
    std::atomic<int> m_nCompletedPasses{0};
};

// True for an IPv4 address in dotted decimal, four numbers 0..255 without leading signs, zeros
// or spaces: what a manual add accepts as the address to read a description from.
bool IsDottedIPv4Address(const QString& sText);

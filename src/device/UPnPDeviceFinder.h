#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/DeviceDescription.h"
#include "device/SsdpFinder.h"
#include "device/UPnPDevice.h"
#include "platform/WindowMessages.h"

// Thread messages the finder posts to the search thread's queue during a pass (numbers of the
// application range, apart from the window messages of the main window).
constexpr unsigned WM_APP_RANGE = 0x8000;
constexpr unsigned WM_FINDER_DEVICE_ADDED = WM_APP_RANGE + 1;    // payload: SUPnPDevice
constexpr unsigned WM_FINDER_SEARCH_COMPLETE = WM_APP_RANGE + 2; // end of the pass; wParam below
// wParam of WM_FINDER_SEARCH_COMPLETE: the pass could not search on any interface (no network
// yet, or none any more), so it says nothing about which players are there.
constexpr std::uintptr_t kPassSearchedNowhere = 1;

// The device search's finder, as the search thread uses it: one asynchronous pass at a time
// whose reports arrive through the thread's own message queue, so that they are handled on
// that thread between manual-add requests. A seam: tests of the search loop give a double.
class IDeviceFinder
{
public:
    virtual ~IDeviceFinder() = default;
    // Starts one pass on a worker thread. It posts WM_FINDER_DEVICE_ADDED for each device found
    // (once per UDN) and then, always, exactly one WM_FINDER_SEARCH_COMPLETE (wParam
    // kPassSearchedNowhere when it could not search). False (and nothing posted) while a pass
    // still runs.
    virtual bool StartAsyncFind(CThreadMessageQueue& queue) = 0;
    // Ends a running pass early and waits for its worker; after a finished pass it only joins.
    virtual void CancelAsyncFind() = 0;
};

// The finder of the program: an SSDP search for the web API service, then for each device
// found its description fetched with the program's HTTP client before it is reported, as the
// platform's finder does. The fetches run beside the search on a few threads of the pass, so a
// slow description holds up neither the reading of other answers nor the other fetches; the
// pass ends when the search is over and every fetch has ended.
class CUPnPDeviceFinder final : public IDeviceFinder
{
public:
    // Searches on the interfaces of each pass's moment (the program: SsdpSearchInterfaces).
    explicit CUPnPDeviceFinder(SsdpInterfaceSource interfaces, SSsdpSearchOptions options = {});
    // Searches on these IPv4 addresses (tests, benchmarks).
    explicit CUPnPDeviceFinder(std::vector<std::string> interfaceAddresses, SSsdpSearchOptions options = {});
    ~CUPnPDeviceFinder() override;

    bool StartAsyncFind(CThreadMessageQueue& queue) override;
    void CancelAsyncFind() override;

    // One pass on the calling thread; onDevice for each device whose description was read (on
    // a fetching thread, one call at a time). False when no interface could be searched.
    bool RunPass(const std::function<void(const SUPnPDevice&)>& onDevice);

    const SSsdpSearchOptions& Options() const { return m_finder.Options(); }

private:
    CSsdpFinder m_finder;
    std::mutex m_mutex; // guards m_worker and m_bRunning against two starters
    std::thread m_worker;
    std::atomic<bool> m_bRunning{false};
};

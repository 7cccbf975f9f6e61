#include "device/UPnPDeviceFinder.h"

#include <climits>
#include <condition_variable>
#include <deque>
#include <cstring>

#include "device/DeviceDescription.h"
#include "device/HttpClient.h"
#include "foundation/Log.h"

namespace {

// Descriptions fetched at the same time during a pass.
constexpr std::size_t kMaxParallelFetches = 4;

} // namespace

CUPnPDeviceFinder::CUPnPDeviceFinder(SsdpInterfaceSource interfaces, SSsdpSearchOptions options)
    : m_finder(std::move(interfaces), std::move(options))
{}

CUPnPDeviceFinder::CUPnPDeviceFinder(std::vector<std::string> interfaceAddresses, SSsdpSearchOptions options)
    : m_finder(std::move(interfaceAddresses), std::move(options))
{}

CUPnPDeviceFinder::~CUPnPDeviceFinder()
{
    CancelAsyncFind();
}

bool CUPnPDeviceFinder::RunPass(const std::function<void(const SUPnPDevice&)>& onDevice)
{
    std::mutex mutex; // guards the three below
    std::condition_variable wake;
    std::deque<SSsdpAnswer> pending;
    bool bGathered = false;
    std::vector<std::thread> fetchers;
    std::mutex reportMutex; // one onDevice call at a time
    auto fetch = [&] {
        for (;;) {
            SSsdpAnswer answer;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return !pending.empty() || bGathered; });
                if (pending.empty())
                    return;
                answer = std::move(pending.front());
                pending.pop_front();
            }
            if (m_finder.IsCancelled())
                continue;
            const QString sLocation = QString::fromStdString(answer.sLocation);
            std::string description;
            if (GetHttpData(sLocation, description) != 0) {
                WriteLogF("UPnPDeviceFinder: no description from %s.\n", answer.sLocation.c_str());
                continue;
            }
            SUPnPDevice device;
            if (!ParseFoundDevice(description, sLocation, &device)) {
                WriteLogF("UPnPDeviceFinder: unusable description from %s.\n", answer.sLocation.c_str());
                continue;
            }
            std::lock_guard lock(reportMutex);
            if (onDevice && !m_finder.IsCancelled())
                onDevice(device);
        }
    };
    const bool bSearched = m_finder.RunPass([&](const SSsdpAnswer& answer) {
        std::lock_guard lock(mutex);
        pending.push_back(answer);
        if (fetchers.size() < kMaxParallelFetches)
            fetchers.emplace_back(fetch);
        wake.notify_one();
    });
    {
        std::lock_guard lock(mutex);
        bGathered = true;
    }
    wake.notify_all();
    for (std::thread& fetcher : fetchers)
        fetcher.join();
    return bSearched;
}

bool CUPnPDeviceFinder::StartAsyncFind(CThreadMessageQueue& queue)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bRunning)
        return false;
    if (m_worker.joinable())
        m_worker.join();
    m_finder.Rearm();
    m_bRunning = true;
    m_worker = std::thread([this, &queue] {
        const bool bSearched = RunPass([&queue](const SUPnPDevice& device) {
            queue.Post(CWindowMessage::WithPayload(WM_FINDER_DEVICE_ADDED, device));
        });
        // Cleared before the completion is posted, so the search thread may start the next pass
        // as soon as it has handled the completion.
        m_bRunning = false;
        queue.Post(CWindowMessage(WM_FINDER_SEARCH_COMPLETE, bSearched ? 0 : kPassSearchedNowhere));
    });
    return true;
}

void CUPnPDeviceFinder::CancelAsyncFind()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finder.Cancel();
    if (m_worker.joinable())
        m_worker.join();
}

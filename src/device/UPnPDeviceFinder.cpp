#include "device/UPnPDeviceFinder.h"

#include <climits>
#include <condition_variable>
#include <deque>
#include <cstring>

#include <QUrl>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "device/HttpClient.h"
#include "foundation/Log.h"

namespace {

constexpr char kDeviceNamespace[] = "urn:schemas-upnp-org:device-1-0";
// Longest value taken from the description; the whole answer is bounded by the HTTP client.
constexpr std::size_t kMaxValueBytes = 4096;
// Descriptions fetched at the same time during a pass.
constexpr std::size_t kMaxParallelFetches = 4;

bool IsElement(const xmlNode* p, const char* pszName)
{
    return p->type == XML_ELEMENT_NODE && xmlStrcmp(p->name, reinterpret_cast<const xmlChar*>(pszName)) == 0 &&
           p->ns != nullptr && xmlStrcmp(p->ns->href, reinterpret_cast<const xmlChar*>(kDeviceNamespace)) == 0;
}

const xmlNode* Child(const xmlNode* pParent, const char* pszName)
{
    for (const xmlNode* p = pParent ? pParent->children : nullptr; p != nullptr; p = p->next) {
        if (IsElement(p, pszName))
            return p;
    }
    return nullptr;
}

// The element's own text and CDATA children, trimmed. Entity references are not followed, so
// no declared entity can make a value grow; the value is cut at a fixed bound.
QString Text(const xmlNode* pElement)
{
    std::string s;
    for (const xmlNode* p = pElement ? pElement->children : nullptr; p != nullptr; p = p->next) {
        if ((p->type == XML_TEXT_NODE || p->type == XML_CDATA_SECTION_NODE) && p->content != nullptr)
            s += reinterpret_cast<const char*>(p->content);
        if (s.size() > kMaxValueBytes)
            return {};
    }
    return QString::fromUtf8(s).trimmed();
}

QString Resolve(const QUrl& base, const QString& sUrl)
{
    if (sUrl.isEmpty())
        return {};
    const QUrl resolved = base.resolved(QUrl(sUrl));
    return resolved.isValid() ? resolved.toString() : QString();
}

} // namespace

bool ParseFoundDevice(const std::string& description, const QString& sLocation, SUPnPDevice* pDevice)
{
    if (description.empty() || description.size() > static_cast<std::size_t>(INT_MAX))
        return false;
    // No network, no external DTD, no entity substitution: the description is read as it is.
    xmlDocPtr pDoc = xmlReadMemory(description.data(), static_cast<int>(description.size()), nullptr, nullptr,
                                   XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA);
    if (pDoc == nullptr)
        return false;
    const xmlNode* pRoot = xmlDocGetRootElement(pDoc);
    const xmlNode* pDevice_ = pRoot && IsElement(pRoot, "root") ? Child(pRoot, "device") : nullptr;
    SUPnPDevice device;
    bool bOk = false;
    if (pDevice_ != nullptr) {
        QUrl base(sLocation);
        const QString sUrlBase = Text(Child(pRoot, "URLBase"));
        if (!sUrlBase.isEmpty() && QUrl(sUrlBase).isValid() && !QUrl(sUrlBase).isRelative())
            base = QUrl(sUrlBase);
        device.sUdn = Text(Child(pDevice_, "UDN"));
        device.sFriendlyName = Text(Child(pDevice_, "friendlyName"));
        device.sPresentationUrl = Resolve(base, Text(Child(pDevice_, "presentationURL")));
        device.sDocumentUrl = sLocation;
        // For each format the smallest icon: the search asks for no particular size.
        int nJpegWidth = INT_MAX;
        int nPngWidth = INT_MAX;
        for (const xmlNode* p = Child(pDevice_, "iconList") ? Child(pDevice_, "iconList")->children : nullptr;
             p != nullptr; p = p->next) {
            if (!IsElement(p, "icon"))
                continue;
            const QString sMime = Text(Child(p, "mimetype"));
            const QString sUrl = Resolve(base, Text(Child(p, "url")));
            bool bNumber = false;
            int nWidth = Text(Child(p, "width")).toInt(&bNumber);
            if (!bNumber || nWidth < 0)
                nWidth = INT_MAX - 1;
            if (sUrl.isEmpty())
                continue;
            if (sMime == "image/jpeg" && nWidth < nJpegWidth) {
                nJpegWidth = nWidth;
                device.sJpegIconUrl = sUrl;
            } else if (sMime == "image/png" && nWidth < nPngWidth) {
                nPngWidth = nWidth;
                device.sPngIconUrl = sUrl;
            }
        }
        bOk = !device.sUdn.isEmpty();
    }
    xmlFreeDoc(pDoc);
    if (bOk)
        *pDevice = std::move(device);
    return bOk;
}

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

#include "device/DeviceManager.h"

#include <vector>

#include "foundation/Log.h"

CDeviceManager::CDeviceManager() : m_pTable(std::make_unique<CThreadSafeMap<CDeviceInfo>>())
{}

CDeviceManager::~CDeviceManager()
{
    StopSearch();
}

bool CDeviceManager::StartSearch(std::unique_ptr<IDeviceSearch> pSearch)
{
    std::lock_guard lock(m_searchMutex);
    if (!pSearch || m_pSearch || m_bStopSearch.load())
        return false;
    m_pSearch = std::move(pSearch);
    m_searchThread = std::thread([this, pRun = m_pSearch.get()] { pRun->Run(*this); });
    return true;
}

void CDeviceManager::StopSearch()
{
    m_bStopSearch.store(true);
    m_searchStopEvent.Set();
    m_searchQueue.Close();
    std::lock_guard lock(m_searchMutex);
    if (m_searchThread.joinable())
        m_searchThread.join();
    m_pSearch.reset();
}

SDeviceChange CDeviceManager::MakeChange(EDeviceChange eCode, const SDeviceSnapshot& fields)
{
    SDeviceChange change;
    change.eCode = eCode;
    change.sUuid = fields.sUuid;
    change.sFriendlyName = fields.sFriendlyName;
    change.sIp = fields.sIp;
    change.sJpegIconPath = fields.sJpegIconPath;
    change.sPngIconPath = fields.sPngIconPath;
    change.supportedTypes = fields.supportedTypes;
    return change;
}

bool CDeviceManager::AddDevice(std::unique_ptr<CDeviceInfo> pDevice, bool bSelect)
{
    if (!pDevice)
        return false;
    const SDeviceSnapshot fields = pDevice->Snapshot();
    {
        std::lock_guard lock(m_cs);
        CDeviceInfo* pRecord = pDevice.get();
        if (m_pTable->Insert(fields.sUuid, pDevice) != S_OK)
            return false; // pDevice still holds the record and deletes it
        // Selected before it is announced, so that a window seeing the new player finds it
        // current; a running transfer keeps its device, as with SelectDevice.
        if (bSelect && !(m_pCurDevice && m_pCurDevice->IsTransferring()))
            m_pCurDevice = pRecord;
    }
    WriteLogF("DeviceManager: add %s to list", fields.sIp.toUtf8().constData());
    if (IDeviceManagerListener* pListener = Listener())
        pListener->UpdateDeviceInfo(MakeChange(DEVICE_ADDED, fields));
    return true;
}

bool CDeviceManager::UpdateKnownDevice(const QString& sUuid, const QString& sIp, const QString& sFriendlyName)
{
    std::vector<SDeviceChange> changes;
    {
        std::lock_guard lock(m_cs);
        CDeviceInfo* pDevice = nullptr;
        if (m_pTable->Find(sUuid, &pDevice) != S_OK)
            return false;
        pDevice->SetOnline(true);
        const bool bIpChanged = !sIp.isEmpty() && pDevice->UpdateIp(sIp);
        const bool bNameChanged = pDevice->UpdateFriendlyName(sFriendlyName);
        if (bIpChanged || bNameChanged) {
            const SDeviceSnapshot fields = pDevice->Snapshot();
            if (bIpChanged)
                changes.push_back(MakeChange(DEVICE_IP_CHANGED, fields));
            if (bNameChanged)
                changes.push_back(MakeChange(DEVICE_NAME_CHANGED, fields));
        }
    }
    // Reported outside the lock: the user interface may look the device up while it handles them.
    if (IDeviceManagerListener* pListener = Listener()) {
        for (const SDeviceChange& change : changes)
            pListener->UpdateDeviceInfo(change);
    }
    return true;
}

bool CDeviceManager::RemoveOfflineDevice(const QString& sUuid)
{
    QString sIp;
    bool bWasCurrent = false;
    {
        std::lock_guard lock(m_cs);
        CDeviceInfo* pDevice = nullptr;
        if (m_pTable->Find(sUuid, &pDevice) != S_OK)
            return false;
        sIp = pDevice->Ip();
        bWasCurrent = m_pCurDevice && m_pCurDevice->Uuid() == sUuid;
        if (bWasCurrent)
            m_pCurDevice = nullptr;
    }
    IDeviceManagerListener* pListener = Listener();
    if (bWasCurrent && pListener)
        pListener->OnCurrentDeviceRemoved();
    WriteLogF("DeviceManager: remove %s from list , because device off line", sIp.toUtf8().constData());
    if (pListener)
        pListener->UpdateDeviceRemoved(sUuid);
    std::lock_guard lock(m_cs);
    // A selection made meanwhile must not keep pointing at the record about to be deleted.
    if (m_pCurDevice && m_pCurDevice->Uuid() == sUuid)
        m_pCurDevice = nullptr;
    m_pTable->Remove(sUuid);
    return true;
}

bool CDeviceManager::SelectDevice(const QString& sUuid)
{
    std::lock_guard lock(m_cs);
    CDeviceInfo* pDevice = nullptr;
    if (m_pTable->Find(sUuid, &pDevice) != S_OK)
        return false;
    if (m_pCurDevice && m_pCurDevice->IsTransferring())
        return false;
    m_pCurDevice = pDevice;
    return true;
}

bool CDeviceManager::HasCurrentDevice() const
{
    std::lock_guard lock(m_cs);
    return m_pCurDevice != nullptr;
}

std::optional<SDeviceSnapshot> CDeviceManager::CurrentDevice() const
{
    std::lock_guard lock(m_cs);
    if (!m_pCurDevice)
        return std::nullopt;
    return m_pCurDevice->Snapshot();
}

std::optional<SDeviceSnapshot> CDeviceManager::FindDevice(const QString& sUuid) const
{
    std::lock_guard lock(m_cs);
    CDeviceInfo* pDevice = nullptr;
    if (m_pTable->Find(sUuid, &pDevice) != S_OK)
        return std::nullopt;
    return pDevice->Snapshot();
}

bool CDeviceManager::BeginTransfer(SDeviceSnapshot* pDevice)
{
    std::lock_guard lock(m_cs);
    if (!m_pCurDevice)
        return false;
    m_pCurDevice->SetTransferring(true);
    if (pDevice)
        *pDevice = m_pCurDevice->Snapshot();
    return true;
}

void CDeviceManager::EndTransfer(const QString& sUuid)
{
    std::lock_guard lock(m_cs);
    CDeviceInfo* pDevice = nullptr;
    if (m_pTable->Find(sUuid, &pDevice) == S_OK)
        pDevice->SetTransferring(false);
}

void CDeviceManager::ClearCurrentDevice()
{
    std::lock_guard lock(m_cs);
    m_pCurDevice = nullptr;
}

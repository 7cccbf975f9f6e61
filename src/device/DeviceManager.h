#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <QString>
#include <QStringList>

#include "device/DeviceInfo.h"
#include "foundation/ThreadSafeMap.h"
#include "platform/Clock.h"
#include "platform/WindowMessages.h"

class CDeviceManager;

// What changed in a device record, as the user interface learns of it.
enum EDeviceChange : int
{
    DEVICE_ADDED = 0,        // a new record entered the table: every field counts
    DEVICE_IP_CHANGED = 2,   // a known player answered from a new address: UDN and address count
    DEVICE_NAME_CHANGED = 5, // a known player answered under a new name: UDN and name count
};

// A device-change notification: the change and a copy of the record's fields, in the order the
// Connection page takes them.
struct SDeviceChange
{
    EDeviceChange eCode = DEVICE_ADDED;
    QString sUuid;
    QString sFriendlyName;
    QString sIp;
    QString sJpegIconPath;
    QString sPngIconPath;
    QStringList supportedTypes;
};

// Why a manual add found no player at the address (wParam of WM_MANUAL_ADD_NO_DESCRIPTION), so
// that the user learns what the player did.
enum EManualAddProblem : int
{
    MANUAL_ADD_NO_ANSWER = 0,      // nothing answered at the address (also: the address is unusable)
    MANUAL_ADD_HTTP_ERROR = 1,     // an HTTP error status instead of the description (lParam: status)
    MANUAL_ADD_NOT_XML = 2,        // an answer that is not XML
    MANUAL_ADD_NO_UDN = 3,         // a description without a UDN
};

// What the device manager reports to and asks of its owner (the common manager). Called on the
// device search thread.
class IDeviceManagerListener
{
public:
    virtual ~IDeviceManagerListener() = default;
    virtual void UpdateDeviceInfo(const SDeviceChange& change) = 0;
    // The device was dropped as offline; called before its record is erased.
    virtual void UpdateDeviceRemoved(const QString& sUuid) = 0;
    // A manual add found a device at the typed address (and selected it).
    virtual void SelectDeviceManual(const QString& sUuid, const QString& sIp) = 0;
    virtual void NotifyManualAddFinished() = 0;
    // A manual add found no usable description at the typed address (WM_USER+32); no "finished"
    // report follows from the device manager.
    virtual void NotifyManualAddNoDescription(EManualAddProblem eProblem, long nHttpStatus)
    {
        (void)eProblem, (void)nHttpStatus;
    }
    // A search pass is over (WM_USER+6 to the main window, which checks for its selected device).
    virtual void SearchFinishedOneTime() {}
    // The current device is being dropped as offline: the running transfer must learn that its
    // device is gone (device state "removed" first, then the stop flags).
    virtual void OnCurrentDeviceRemoved() = 0;
    // While either is set the search holds its next pass and the offline check keeps players.
    virtual bool IsCheckingPower() const = 0;
    virtual bool IsWakingForExplore() const = 0;
};

// The work of the device search thread: finder passes, manual adds and the offline check. The
// device manager runs it on a thread of its own and feeds nothing else into the table. Run must
// return soon after IsSearchStopping() turns true; the search queue is closed and the search's
// stop event set at that moment, so a wait on either through the clock wakes at once.
class IDeviceSearch
{
public:
    virtual ~IDeviceSearch() = default;
    virtual void Run(CDeviceManager& manager) = 0;
};

// Owns the device table and the current device. The table is read by the user interface, the
// common manager and the transfer; only the search thread inserts and erases. Two locks guard
// it, always taken in this order: the manager lock (around every look-up whose result is used
// afterwards, and around every change of the current device), then the table's own lock. The
// current device is only ever dereferenced under the manager lock, and a record is erased only
// under it after the current-device pointer has let go of it, so no thread is left holding a
// deleted record; other threads get copies (SDeviceSnapshot).
class CDeviceManager
{
public:
    CDeviceManager();
    virtual ~CDeviceManager();
    CDeviceManager(const CDeviceManager&) = delete;
    CDeviceManager& operator=(const CDeviceManager&) = delete;

    // The owner to report to (m_pCommonManagerListener); nullptr detaches.
    void SetListener(IDeviceManagerListener* pListener) { m_pListener.store(pListener); }
    IDeviceManagerListener* Listener() const { return m_pListener.load(); }

    // --- The device search thread ---
    // Starts the search on its own thread; false when one was started before.
    bool StartSearch(std::unique_ptr<IDeviceSearch> pSearch);
    // Ends the search and joins its thread (also done by the destructor).
    void StopSearch();
    bool IsSearchStopping() const { return m_bStopSearch.load(); }
    // Set when the search is to stop: the search's pauses wait on it.
    CEvent& SearchStopEvent() { return m_searchStopEvent; }
    // The search thread's message queue: manual-add requests (WM_MANUAL_ADD_REQUEST) and finder
    // reports arrive here, so they are handled on that thread.
    CThreadMessageQueue& SearchQueue() { return m_searchQueue; }

    // --- Table changes made by discovery (search thread) ---
    // Inserts a complete new record, logs "DeviceManager: add <ip> to list" and reports
    // DEVICE_ADDED. False (and the record is deleted) when the UDN is taken or the table closes.
    // bSelect makes it the current device (unless a transfer runs) before it is reported.
    bool AddDevice(std::unique_ptr<CDeviceInfo> pDevice, bool bSelect = false);
    // A known player answered again: it is online; a new address (compared without regard to
    // case; empty means "no address seen") and a new name (exact) are stored and reported, in
    // that order. False when the UDN is not in the table.
    bool UpdateKnownDevice(const QString& sUuid, const QString& sIp, const QString& sFriendlyName);
    // Drops a player that went offline: when it is the current device the selection is cleared
    // and the owner's transfer is told first; then the log line, UpdateDeviceRemoved, and the
    // record is erased. False when the UDN is not in the table.
    bool RemoveOfflineDevice(const QString& sUuid);

    // --- Selection (any thread) ---
    // Makes the device current; false when the UDN is unknown or the current device is
    // transferring (the selection then stays as it is).
    bool SelectDevice(const QString& sUuid);
    bool HasCurrentDevice() const;
    // A copy of the current device's fields, or nothing when no device is current.
    std::optional<SDeviceSnapshot> CurrentDevice() const;
    // A copy of a device's fields by UDN.
    std::optional<SDeviceSnapshot> FindDevice(const QString& sUuid) const;
    // The transfer takes the current device: marks it transferring (so it cannot be deselected)
    // and copies its fields. False when no device is current.
    bool BeginTransfer(SDeviceSnapshot* pDevice);
    // The transfer of that device ended; a record dropped meanwhile is simply gone.
    void EndTransfer(const QString& sUuid);
    void ClearCurrentDevice();

    // The table and the manager lock, for code that walks the table (the offline check) or must
    // keep a look-up and its use together. Lock order: ManagerLock() first.
    CThreadSafeMap<CDeviceInfo>& Table() { return *m_pTable; }
    std::mutex& ManagerLock() const { return m_cs; }
    // The current device record; only valid while the caller holds ManagerLock().
    CDeviceInfo* GetCurDeviceLocked() const { return m_pCurDevice; }

private:
    static SDeviceChange MakeChange(EDeviceChange eCode, const SDeviceSnapshot& fields);

    mutable std::mutex m_cs; // the manager lock
    std::unique_ptr<CThreadSafeMap<CDeviceInfo>> m_pTable;
    CDeviceInfo* m_pCurDevice = nullptr; // guarded by m_cs
    std::atomic<IDeviceManagerListener*> m_pListener{nullptr};

    CThreadMessageQueue m_searchQueue;
    std::atomic<bool> m_bStopSearch{false};
    CEvent m_searchStopEvent{true, false};
    std::mutex m_searchMutex; // guards the two members below
    std::unique_ptr<IDeviceSearch> m_pSearch;
    std::thread m_searchThread;
};

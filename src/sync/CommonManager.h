#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include <QString>
#include <QStringList>

#include "device/DeviceManager.h"
#include "device/DevicePower.h"
#include "device/DeviceSearch.h"
#include "platform/Clock.h"
#include "platform/WindowMessages.h"
#include "sync/ContentsManager.h"
#include "sync/ContentsManagerOwner.h"
#include "sync/ErrorCode.h"
#include "sync/TransferManager.h"

// The main window's operations for device reports, called directly (on the device search
// thread); the window hands them over to its own thread.
class IDeviceEventReceiver
{
public:
    virtual ~IDeviceEventReceiver() = default;
    // A record was added or changed (see SDeviceChange for the codes).
    virtual void UpdateDeviceInfo(const SDeviceChange& change) = 0;
    // A manual add found this device at the typed address.
    virtual void SelectDeviceManual(const QString& sUuid, const QString& sIp) = 0;
};

// Runs a transfer from the user's request to its outcome, and passes device events between the
// device manager and the user interface. It owns the device, transfer and contents managers.
//
// A run goes through four threads: StartSync (main window thread) checks the preconditions and
// starts the scan; the scan thread calls StartPowerCheck when it queued files; the power thread
// calls OnPowerStateResult, which starts the transfer thread and releases it; whoever ends the
// run reports once through TransferFinished, which the main window handles synchronously.
//
// Destruction stops every thread it started (scan, power, transfer, device search) and joins
// them, also while they wait. A worker's TransferFinished is no longer sent once destruction
// began; one already inside the send returns when the main window handles it or stops taking
// messages, so destroy this object from the main window thread only after the window stopped
// taking messages (CQueuedMessageReceiver::Quit), or while another thread still serves them.
class CCommonManager final : private IContentsManagerOwner,
                             private IDeviceManagerListener,
                             private IPowerCheckListener,
                             private ITransferOwner
{
public:
    CCommonManager();
    ~CCommonManager() override;
    CCommonManager(const CCommonManager&) = delete;
    CCommonManager& operator=(const CCommonManager&) = delete;

    // Called once, right after construction: the main window that receives the run's outcome
    // (WM_TRANSFER_FINISHED, sent) and the posted device messages, and the receiver of its
    // direct device reports. Either may be null.
    void Initialize(IMessageReceiver* pMainWnd, IDeviceEventReceiver* pDeviceEvents = nullptr);
    // The player's power (power thread and direct queries); the constructor installs the
    // players' web API (CDeviceWebApi), tests give a double. Without one a run that found files
    // ends with code 11 and SetDevicePowerState answers false.
    void SetDevicePower(std::unique_ptr<IDevicePower> pDevicePower);
    // Starts the device search thread (passes, manual adds, offline check) once; pFinder null
    // means the program's SSDP finder. Not done by the constructor, so that a common manager
    // without a search (tests, the command line) never sends a search into the network.
    bool StartDeviceSearch(std::unique_ptr<IDeviceFinder> pFinder = nullptr, SDeviceSearchTimes times = {});

    // --- User interface (main window thread) ---
    void StartSync();
    void CancelSync();
    bool SelectDevice(const QString& sUuid);
    void RecheckPower();
    // Makes sure the current device is awake enough to serve its share (explore-share thread).
    // Blocks for the web requests and the wake-up wait.
    bool SetDevicePowerState();
    void addDeviceManual(const QString& sIp);
    QStringList GetHistoryLines() const;

    // --- Workers ---
    void StartPowerCheck() override;
    void OnPowerStateResult(bool bPowerOk) override;
    // Reports the end of a run, or a refused start, to the main window and waits until it has
    // handled it (the window resets its transfer state before anything else may start).
    void TransferFinished(eErrorCode eCode) override;

    // --- Device manager reports (device search thread) ---
    void UpdateDeviceInfo(const SDeviceChange& change) override;
    void UpdateDeviceRemoved(const QString& sUuid) override;
    void SelectDeviceManual(const QString& sUuid, const QString& sIp) override;
    void NotifyManualAddFinished() override;
    void NotifyManualAddNoDescription(EManualAddProblem eProblem, long nHttpStatus) override;
    void SearchFinishedOneTime() override;
    void OnCurrentDeviceRemoved() override;

    // --- Flags ---
    bool IsSomeFilesFailed() const { return m_bSomeFilesFailed.load(); }
    bool IsCheckingPower() const override { return m_bCheckingPower.load(); }
    // The main window gave up waiting for a player that is not ready.
    void ClearCheckingPower() { m_bCheckingPower.store(false); }
    bool IsDeviceWoken() const override { return m_bDeviceWoken.load(); }
    bool IsWakingForExplore() const override { return m_bWakingForExplore.load(); }

    CDeviceManager& DeviceManager() { return m_deviceManager; }
    CTransferManager& TransferManager() { return m_transferManager; }
    CContentsManager& ContentsManager() { return m_contentsManager; }

private:
    // IPowerCheckListener / ITransferOwner
    void OnDeviceWoken() override { m_bDeviceWoken.store(true); }
    void OnWakeWaitStarted(unsigned nSeconds) override;
    bool IsTransferStopRequested() const override { return m_transferManager.IsStopRequested(); }
    void SetSomeFilesFailed() override { m_bSomeFilesFailed.store(true); }

    // The device, UUID and IP checks that StartSync, StartPowerCheck and OnPowerStateResult
    // share: reports 1, 3 or 4 with its log line and returns false on the first failure.
    bool CheckCurrentDevice(SDeviceSnapshot* pDevice);
    // Starts the power thread for the device; false when none could be started.
    bool StartDevicePowerCheck(const SDeviceSnapshot& device, bool bAllowWakeUp);
    // A wait through the clock that destruction ends early.
    void Pause(std::int64_t nMs);
    void PostToMainWindow(CWindowMessage msg);

    std::atomic<IMessageReceiver*> m_pMainWnd{nullptr};
    std::atomic<IDeviceEventReceiver*> m_pDeviceEvents{nullptr};
    CDeviceManager m_deviceManager;
    CTransferManager m_transferManager;
    CContentsManager m_contentsManager;

    std::mutex m_powerMutex; // guards the pointer m_pDevicePower
    // Shared with a SetDevicePowerState in progress on the explore-share thread, which the main
    // window ends before it destroys this object.
    std::shared_ptr<IDevicePower> m_pDevicePower;

    std::atomic<bool> m_bSomeFilesFailed{false};
    std::atomic<bool> m_bCheckingPower{false};
    std::atomic<bool> m_bDeviceWoken{false};
    std::atomic<bool> m_bWakingForExplore{false};
    std::atomic<bool> m_bClosing{false};
    CEvent m_closingEvent{true, false};
};

#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/RunThreads.h"
#include "platform/Clock.h"
#include "platform/ShareFileSystem.h"
#include "sync/ErrorCode.h"
#include "sync/TransferProgressListener.h"
#include "sync/TransferRun.h"

class CContent;
class CContentsManager;
class CCopyToShare;
class CDeviceManager;
class CTransferResults;

// What the transfer thread reports to and asks of its owner (the common manager).
class ITransferOwner
{
public:
    virtual ~ITransferOwner() = default;
    // The run's final code. Blocks until the main window has handled it.
    virtual void TransferFinished(eErrorCode eCode) = 0;
    // At least one file of this run was not transferred.
    virtual void SetSomeFilesFailed() = 0;
    // The power thread woke the device during this run: its share may take a while to appear.
    virtual bool IsDeviceWoken() const = 0;
};

// Copies the queued files onto the device, one at a time, on its own thread (TransferProc). It
// takes the device that is current when the run starts, records the files the scan could not
// place (name too long), then copies one queued file after the other and writes each outcome to
// the history. In Auto mode it switches to the external disk when the internal one is full. The
// run ends at the first full disk (unless Auto can still switch), at a stop request, or when the
// queue is empty, with one code through the owner's TransferFinished.
class CTransferManager : private ITransferControl
{
public:
    using FileSystemFactory = std::function<std::unique_ptr<IShareFileSystem>()>;

    CTransferManager();
    // Stops and joins the transfer thread (see Shutdown).
    ~CTransferManager() override;
    CTransferManager(const CTransferManager&) = delete;
    CTransferManager& operator=(const CTransferManager&) = delete;

    void Initialize(ITransferOwner* pOwner, CDeviceManager* pDeviceManager, CContentsManager* pContents);
    // The share file layer each run creates for its thread; the default is CShareFileSystem.
    // Tests give layers that fail on purpose.
    void SetFileSystemFactory(FileSystemFactory factory);
    void SetProgressListener(ITransferProgressListener* pListener) { m_pProgress.store(pListener); }

    // Starts TransferProc on a new thread; false while a transfer thread still runs (it may be
    // waiting for the files-ready event of the next run).
    bool StartThread();
    bool IsThreadRunning() const { return m_bThreadRunning.load(); }

    // The stop flag: cleared by StartSync, set by CancelSync and the offline handling. Setting
    // it also ends the transfer's pauses at once.
    void ClearStop();
    void RequestStop();
    bool IsStopRequested() const override { return m_bStop.load(); }
    // The device-presence state: EC_DEVICE_PRESENT while the run's device is there;
    // EC_DEVICE_REMOVED once the device manager dropped it as offline.
    void SetDeviceState(eErrorCode eState) { m_eDeviceState.store(eState); }
    eErrorCode DeviceState() const { return m_eDeviceState.load(); }

    // The last run could not write some of its history lines (the application data folder or the
    // history file is not writable): its files will be copied again by the next run. Set before
    // the run reports its code; cleared by ClearStop, i.e. by the next StartSync.
    bool IsHistoryNotWritten() const { return m_bHistoryNotWritten.load(); }

    // The share refused this many files in a row the same way (a read-only share, a file server
    // that died while the player still answers): the run ends there, as every further file would
    // take its five attempts and waits only to fail alike.
    static constexpr int kRefusalsInARow = 3;
    // The code the share refused those files with (7, 9 or 10), EC_OK when the last run did not
    // end that way. Set before the run reports; cleared by ClearStop.
    eErrorCode RepeatedRefusal() const { return m_eRepeatedRefusal.load(); }

    // Ends the thread for good: stops the run (which then reports 8 as usual), wakes every wait
    // and joins. The owner must not block the thread's TransferFinished meanwhile.
    void Shutdown();

    // The thread procedure; public so that tests can run one run on a thread of their own.
    void TransferProc();

private:
    // The transfer loop over the queue (steps after the device was taken).
    void RunQueue(CCopyToShare& copy, CTransferResults& results);
    // Auto mode: the current device has an external share.
    bool ExternalShareExists(CCopyToShare& copy);
    // The share of a woken device appears within 5 tries (5 s apart).
    bool WaitForShare(CCopyToShare& copy);
    // Ends the run: clears the device's transferring mark and reports the final code.
    void FinishRun(eErrorCode eCode);

    bool IsDeviceRemoved() const override { return m_eDeviceState.load() == EC_DEVICE_REMOVED; }
    bool Pause(std::int64_t nMs) override;
    void ShowProgress(unsigned nDone, unsigned nTotal) override;
    void ShowFileCopying(const QString& sSourcePath, std::uint64_t nBytesCopied) override;
    void ShowFileWaiting(const STransferWait& wait) override;
    // Writes the file's history line and tells the progress listener its outcome.
    void RecordFile(CTransferResults& results, const CContent& content, bool bFallback = false);

    ITransferOwner* m_pOwner = nullptr;
    CDeviceManager* m_pDeviceManager = nullptr;
    CContentsManager* m_pContents = nullptr;
    std::atomic<ITransferProgressListener*> m_pProgress{nullptr};
    FileSystemFactory m_fileSystemFactory;

    std::mutex m_factoryMutex; // guards m_fileSystemFactory
    std::atomic<bool> m_bThreadRunning{false};
    std::atomic<bool> m_bShutdown{false};

    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bHistoryNotWritten{false};
    std::atomic<eErrorCode> m_eRepeatedRefusal{EC_OK};
    std::atomic<eErrorCode> m_eDeviceState{EC_OK};
    CEvent m_stopEvent{true, false}; // set with the stop flag, so pauses end at once

    STransferRun m_run; // transfer thread only

    // Last: destroyed (and joined) before the members the threads use.
    CRunThreads m_threads;
};

#include "sync/TransferManager.h"

#include "device/DeviceManager.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "sync/ContentsManager.h"
#include "sync/CopyToShare.h"
#include "sync/DeviceLists.h"
#include "sync/TransferHistory.h"
#include "sync/TransferResults.h"

namespace {
constexpr int kShareWaitTries = 5;
constexpr std::int64_t kShareWaitPauseMs = 5000;
} // namespace

CTransferManager::CTransferManager() = default;

CTransferManager::~CTransferManager()
{
    Shutdown();
}

void CTransferManager::Initialize(ITransferOwner* pOwner, CDeviceManager* pDeviceManager, CContentsManager* pContents)
{
    m_pOwner = pOwner;
    m_pDeviceManager = pDeviceManager;
    m_pContents = pContents;
}

void CTransferManager::SetFileSystemFactory(FileSystemFactory factory)
{
    std::lock_guard lock(m_factoryMutex);
    m_fileSystemFactory = std::move(factory);
}

bool CTransferManager::StartThread()
{
    bool bIdle = false;
    if (m_bShutdown.load() || !m_bThreadRunning.compare_exchange_strong(bIdle, true))
        return false;
    // The previous run's thread may still wait in TransferFinished for the very thread that calls
    // this; the run threads join it only once it has ended.
    m_threads.Start([this] { TransferProc(); });
    return true;
}

void CTransferManager::ClearStop()
{
    m_bStop.store(false);
    m_bHistoryNotWritten.store(false);
    m_eRepeatedRefusal.store(EC_OK);
    m_stopEvent.Reset();
}

void CTransferManager::RequestStop()
{
    m_bStop.store(true);
    m_stopEvent.Set();
}

void CTransferManager::Shutdown()
{
    if (m_bShutdown.exchange(true))
        return;
    RequestStop();
    // A thread still waiting for the files-ready event of a run must wake to see the shutdown.
    if (m_pContents)
        m_pContents->FilesReadyEvent().Set();
    // Joined without any lock held: the thread may need one (the file system factory) or may wait
    // in TransferFinished for a handler that tries to start the next run.
    m_threads.JoinAll();
}

bool CTransferManager::Pause(std::int64_t nMs)
{
    return Clock().WaitFor(m_stopEvent, nMs);
}

void CTransferManager::ShowProgress(unsigned nDone, unsigned nTotal)
{
    if (ITransferProgressListener* pListener = m_pProgress.load())
        pListener->ShowTransferProgress(nDone, nTotal);
}

void CTransferManager::ShowFileWaiting(const STransferWait& wait)
{
    if (ITransferProgressListener* pListener = m_pProgress.load())
        pListener->ShowFileWaiting(wait);
}

void CTransferManager::ShowFileCopying(const QString& sSourcePath, std::uint64_t nBytesCopied)
{
    if (ITransferProgressListener* pListener = m_pProgress.load())
        pListener->ShowFileCopying(sSourcePath, nBytesCopied);
}

void CTransferManager::RecordFile(CTransferResults& results, const CContent& content, bool bFallback)
{
    // The file's own code, as its history line tells it: recording turns per-file codes into the
    // run's (15 into 10, 17 into 9), which say less ("not transferred" for a deleted source).
    const eErrorCode eFileResult = m_run.eResult;
    if (bFallback)
        results.RecordFallbackResult(content);
    else
        results.RecordResult(content);
    // A numbered name is the file's from now on: later scans must not give it to another file.
    if (eFileResult == EC_OK && content.m_bNewShareName)
        AppendListLine(m_run.sDeviceUuid, kShareNameListName,
                       content.m_sTargetPath + "|" + HistoryFieldText(content.m_sSourcePath));
    if (ITransferProgressListener* pListener = m_pProgress.load())
        pListener->ShowFileResult(content.m_sSourcePath, eFileResult);
}

bool CTransferManager::ExternalShareExists(CCopyToShare& copy)
{
    const std::optional<SDeviceSnapshot> device = m_pDeviceManager->CurrentDevice();
    if (!device)
        return false;
    return copy.PathExists(ExternalSharePath(device->sIp));
}

bool CTransferManager::WaitForShare(CCopyToShare& copy)
{
    for (int nTry = 0; nTry < kShareWaitTries; ++nTry) {
        if (copy.PathExists(InternalSharePath(m_run.sDeviceIp)))
            return true;
        Pause(kShareWaitPauseMs);
        if (IsStopRequested())
            return false;
    }
    return false;
}

void CTransferManager::FinishRun(eErrorCode eCode)
{
    if (m_run.bHistoryNotWritten) {
        WriteLog("TransferProc: the transfer history could not be written!");
        m_bHistoryNotWritten.store(true);
    }
    // Cleared before the report: the main window may start the next run while it handles this
    // one, and that run must be able to start a thread of its own.
    m_bThreadRunning.store(false);
    m_pOwner->TransferFinished(eCode);
}

void CTransferManager::TransferProc()
{
    if (!m_pOwner || !m_pDeviceManager || !m_pContents) {
        m_bThreadRunning.store(false);
        return;
    }

    // The common manager sets the event once the device is ready. This is a wait for a signal,
    // not a delay, so it is not counted on the program's clock (a virtual clock would otherwise
    // run its time forward while nothing happens).
    CRealClock signalWait;
    CEvent& filesReady = m_pContents->FilesReadyEvent();
    while (!signalWait.WaitFor(filesReady, 60000)) {
    }
    filesReady.Reset();
    if (m_bShutdown.load()) {
        m_bThreadRunning.store(false);
        return;
    }

    CThreadSafeQueue<CContent>& queue = m_pContents->ContentQueue();
    m_run = STransferRun();
    m_run.nTotal = static_cast<unsigned>(queue.GetCount());

    if (IsStopRequested()) {
        FinishRun(EC_CANCELLED);
        return;
    }
    // Waits until a push onto the name-too-long queue still running on another thread is done.
    m_pContents->LongNameQueue().Barrier();

    SDeviceSnapshot device;
    if (!m_pDeviceManager->BeginTransfer(&device)) {
        WriteLog("TransferProc: The selected device off line!");
        FinishRun(EC_DEVICE_OFFLINE);
        return;
    }
    m_run.sDeviceName = device.sFriendlyName;
    m_run.sDeviceIp = device.sIp;
    m_run.sDeviceUuid = device.sUuid;

    FileSystemFactory factory;
    {
        std::lock_guard lock(m_factoryMutex);
        factory = m_fileSystemFactory;
    }
    // The share layer keeps per-thread connection state: this thread gets its own instance.
    std::unique_ptr<IShareFileSystem> pFs = factory ? factory() : std::make_unique<CShareFileSystem>();
    CCopyToShare copy(m_run, *this, *pFs);
    CTransferResults results(m_run, *this, *m_pContents);

    if (results.RecordLongNameFiles(m_pContents->LongNameQueue(), m_pProgress.load()) > 0)
        m_pOwner->SetSomeFilesFailed();
    results.WriteHistory();

    m_run.dwPosition = GetSyncFileSavePosition();
    m_eDeviceState.store(EC_DEVICE_PRESENT);

    if (m_pOwner->IsDeviceWoken() && !WaitForShare(copy)) {
        m_run.eResult = EC_SHARE_NOT_READY;
    } else {
        WriteLog("transfer manager: data transfer start ");
        RunQueue(copy, results);
    }

    WriteLogF("transfer manager: transfer finished , temp errcode =   %u", static_cast<unsigned>(m_run.eResult));
    m_pDeviceManager->EndTransfer(m_run.sDeviceUuid);

    const bool bQueueEmpty = queue.GetCount() == 0;
    eErrorCode eFinal = m_run.eResult;
    if (bQueueEmpty && eFinal == EC_FILE_FAILED)
        eFinal = EC_OK; // the failed files are in the history; the window says "some files failed"
    else if (!bQueueEmpty && eFinal == EC_OK)
        eFinal = EC_CANCELLED;
    FinishRun(eFinal);
}

void CTransferManager::RunQueue(CCopyToShare& copy, CTransferResults& results)
{
    CThreadSafeQueue<CContent>& queue = m_pContents->ContentQueue();
    eErrorCode eLastRefusal = EC_OK;
    int nRefusals = 0;
    for (;;) {
        const std::size_t nLeft = queue.GetCount();
        WriteLogF("transfer manager:   will trans file number = %u ", static_cast<unsigned>(nLeft));
        // An empty queue ends the run with the code of the last file handled (a write error on
        // the last file must not turn into success).
        if (nLeft == 0)
            return;
        m_run.eResult = EC_OK;

        std::unique_ptr<CContent> pContent;
        if (queue.Pop(&pContent) != S_OK || !pContent) {
            if (IsStopRequested())
                return;
            continue;
        }

        copy.HandleContent(*pContent);
        if (m_run.eResult == EC_DEVICE_FULL) {
            if (m_run.bSwitchedToExternal || m_run.dwPosition != SAVE_POSITION_AUTO) {
                RecordFile(results, *pContent);
                return;
            }
            m_run.bSwitchedToExternal = true;
            if (!ExternalShareExists(copy)) {
                m_run.eResult = EC_DEVICE_FULL;
                RecordFile(results, *pContent, true);
                return;
            }
            // The same file again, now onto the external disk; it counts once in the progress.
            --m_run.nDone;
            copy.HandleContent(*pContent);
        }

        const eErrorCode eShareFailure = m_run.eResult == EC_OK ? EC_OK : m_run.eShareFailure;
        RecordFile(results, *pContent);
        // The same refusal of the share for several files in a row ends the run with its reason.
        nRefusals = eShareFailure != EC_OK && eShareFailure == eLastRefusal ? nRefusals + 1 : 1;
        eLastRefusal = eShareFailure;
        if (eShareFailure != EC_OK && nRefusals >= kRefusalsInARow && queue.GetCount() > 0) {
            WriteLogF("TransferProc: the share refused %d files in a row (code %u), the run ends", nRefusals,
                      static_cast<unsigned>(eShareFailure));
            m_eRepeatedRefusal.store(m_run.eResult);
            m_pOwner->SetSomeFilesFailed();
            return;
        }
        switch (m_run.eResult) {
        case EC_DEVICE_FULL: return;
        case EC_ACCESS_DENIED:
            WriteLog("TransferProc: The select device access deny!");
            m_pOwner->SetSomeFilesFailed();
            break;
        case EC_TARGET_ERROR:
            WriteLog("TransferProc: target  file error !");
            m_pOwner->SetSomeFilesFailed();
            break;
        default:
            if (m_run.eResult == EC_FILE_FAILED)
                m_pOwner->SetSomeFilesFailed();
            if (queue.GetCount() == 0)
                return;
            break;
        }
        if (IsStopRequested())
            return;
    }
}

#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include <QString>
#include <QStringList>

#include "foundation/RunThreads.h"
#include "foundation/ThreadSafeQueue.h"
#include "platform/Clock.h"
#include "sync/Content.h"
#include "sync/ContentsManagerOwner.h"
#include "sync/TransferHistory.h"

// Turns the selected device's watched folders into the files to copy. One scan runs at a time,
// on its own thread (SearchProc): it walks the ticked watched folders, keeps the files with a
// ticked extension, drops those the transfer history records as copied and unchanged, works out
// each file's path on the device and queues it. Files that cannot be named on the device (path
// too long) go to a second queue, which the transfer thread records as failed. The outcome goes to the owner:
// StartPowerCheck when something is queued, else TransferFinished (5, or 8 when stopped).
//
// Threads: the common manager (main window thread) sets the device, clears the stop flag and
// starts the scan; the scan thread fills both queues and the history lines; the transfer thread
// empties the queues, waits on the files-ready event and writes the history (WriteHistory). The
// common manager sets the event only after the scan has ended.
//
// A scan counts as ended before it reports (5, 8 or the power check): the main window handles
// the run's outcome while the reporting thread waits for it, and may start the next run from its
// handler. The old thread then has nothing left to do but return; it is joined later (at the next
// start, by JoinScan or by the destructor), never by the start that replaced it.
class CContentsManager
{
public:
    explicit CContentsManager(IContentsManagerOwner* pOwner = nullptr);
    // Stops a running scan and joins every scan thread. Must not run while a scan thread may be
    // blocked in TransferFinished waiting for this same thread (stop taking window messages
    // first, so that such a send returns).
    virtual ~CContentsManager();
    CContentsManager(const CContentsManager&) = delete;
    CContentsManager& operator=(const CContentsManager&) = delete;

    void SetOwner(IContentsManagerOwner* pOwner) { m_pOwner = pOwner; }

    // The selected device of the run (StartSync copies them in before it starts the scan).
    void SetDevice(const QString& sUuid, const QString& sIp);
    QString GetDeviceUuid() const;
    QString GetDeviceIp() const;

    // The scan's stop flag: cleared by StartSync, set by CancelSync and the offline handling.
    void SetStop(bool bStop) { m_bStop = bStop; }
    bool IsStopRequested() const { return m_bStop; }

    // Starts SearchProc on a new thread; false (and nothing started) while a scan still runs.
    // May be called from the handler of the previous scan's TransferFinished (on the thread that
    // handles it, or on that scan thread itself): the previous thread is not joined here.
    bool StartScan();
    // True from StartScan until the scan is over and about to report (5, 8 or StartPowerCheck).
    bool IsScanRunning() const { return m_bScanRunning; }
    // Waits until every scan thread started so far has ended (nothing when none was), including
    // scans started meanwhile from a report's handler. Blocks until each scan's report has been
    // handled: call it only from a thread the owner's TransferFinished does not wait for, and
    // never from a scan thread.
    void JoinScan();

    // Set by the common manager once the device is ready; the transfer thread waits for it and
    // resets it.
    CEvent& FilesReadyEvent() { return m_filesReadyEvent; }
    // The transfer queue and the name-too-long queue (records carry m_nFailStringId).
    CThreadSafeQueue<CContent>& ContentQueue() { return m_contentQueue; }
    CThreadSafeQueue<CContent>& LongNameQueue() { return m_longNameQueue; }

    // Copy of the history lines of the run: as the scan read them, plus the lines WriteHistory
    // added since (at most 50,000), converted from UTF-8.
    QStringList GetHistoryLines() const;
    // The transfer worker's history write (trimming included): adds the lines to the history of
    // the UUID, keeping the newest 50,000 lines in the order written, including the lines written
    // earlier in this run. Thread-safe.
    bool WriteHistory(const QString& sUuid, const QStringList& newLines);

    // One scan, as the scan thread runs it: clears the name-too-long queue, scans, reports to
    // the owner. Public so that tests can run a scan on their own thread.
    void SearchProc();
    // Fills the transfer queue; returns its count.
    std::size_t ScanFolders();

    // A file found by the walk.
    struct SFoundFile
    {
        QString sPath;         // as the scan builds it (bytes that are not UTF-8 escaped, FromNativeName)
        QString sTime;         // "(YYYY-MM-DD hh:mm:ss)", local time
        bool bBadName = false; // some name on the path is not valid UTF-8
    };
    // The candidate files of all ticked, usable watched folders, each path once, in walk order.
    void GetAllFilesPath(std::vector<SFoundFile>* pFiles);
    // Walks a folder (given without its trailing separator) and everything below it, appending
    // its files. Folders already walked in this scan (by device and inode) are not entered again,
    // so a link cycle ends and a folder reached twice gives its files once. Unreadable folders
    // are skipped with a log line.
    void EnumerateFiles(const QString& sFolder, std::vector<SFoundFile>* pFiles);
    // False when a watched-folder line lies on the device itself (its host resolves to the
    // device's IP address) or its host does not resolve. Local folders are always usable.
    bool IsFolderUsable(const QString& sLine) const;
    // The device path of a file: computer name + its folders (the innermost 98 levels) + its
    // fixed name, all folders dropped when that is over 1000 - root length characters; false
    // when even that is too long.
    static bool MakeTargetPath(const QString& sRelativePath, const QString& sComputerName, int nRootLength,
                               QString* psTarget);
    // The relative path of a source path in the device's backslash form ("\home\ann\a.mp3").
    static QString RelativePathOf(const QString& sSourcePath);

private:
    struct SDirId
    {
        std::uint64_t nDev;
        std::uint64_t nIno;
        bool operator==(const SDirId& o) const { return nDev == o.nDev && nIno == o.nIno; }
    };
    struct SDirIdHash
    {
        std::size_t operator()(const SDirId& id) const { return std::hash<std::uint64_t>()(id.nIno * 31 + id.nDev); }
    };
    // Walks the open folder (and closes it); sPath is its path as text.
    void WalkDirectory(int nDirFd, const QString& sPath, bool bBadName, std::vector<SFoundFile>* pFiles);
    void LoadHistoryAndIndex();
    // Makes sure no two source files share one name on the share, in this run or with the files
    // copied earlier: the first keeps the name, later ones get numbered names (recorded in the
    // device's ShareNames.dat once copied). A numbered name over the length limit marks the
    // file for the name-too-long queue.
    void AssignShareNames(std::vector<std::unique_ptr<CContent>>* pPlaced, const QString& sComputerName,
                          int nRootLength);

    IContentsManagerOwner* m_pOwner;
    std::atomic<bool> m_bScanRunning{false};
    CThreadSafeQueue<CContent> m_contentQueue;
    CEvent m_filesReadyEvent{true, false};

    mutable std::mutex m_deviceLock; // guards the two device strings
    QString m_sDeviceUuid;
    QString m_sDeviceIp;
    std::atomic<bool> m_bStop{false};

    mutable std::mutex m_historyLock; // guards m_history
    CTransferHistory m_history;       // the device's history as the file holds it, for the run

    CTransferredIndex m_transferredIndex;                 // scan thread only
    QStringList m_tickedExtensions;                       // scan thread only, without the dot
    std::unordered_set<SDirId, SDirIdHash> m_visitedDirs; // scan thread only, one scan
    CThreadSafeQueue<CContent> m_longNameQueue;

    // Last: destroyed (and joined) before the members the scan threads use.
    CRunThreads m_threads;
};

#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include <QSet>
#include <QString>

#include "platform/ShareFileSystem.h"
#include "sync/Content.h"
#include "sync/TransferRun.h"

// Copies one queued file onto the device's share, on the transfer thread, through that thread's
// own share file layer. It picks the share (internal or external disk), creates the target
// folders, copies in 256 KiB blocks, and classifies every failure into an eErrorCode left in
// the run's eResult. Failures that may pass are tried again, up to five attempts per file (300 ms
// before the first, 5 s before each later one). While a copy fails it waits up to 20 seconds to
// see whether the device is being dropped as offline, so that a vanished device is reported as
// such and not as a file error. A failed copy never leaves a partial file on the device.
//
// The bytes go to a temporary file in a hidden folder of the computer's folder on the share
// ("OFFICE\.tolva-partial\<process>-<n>-<name>.part"), which gets the file's own name only once
// it is whole: a power cut in the middle never leaves a broken song under a song's name. The first
// contact of a run with a share removes what such a cut left there, also from earlier processes.
class CCopyToShare
{
public:
    static constexpr std::size_t kBlockSize = 262144;
    static constexpr int kAttempts = 5;
    static constexpr std::int64_t kFirstAttemptPauseMs = 300;
    static constexpr std::int64_t kRetryPauseMs = 5000;
    static constexpr unsigned kOfflineWaitSeconds = 20;

    CCopyToShare(STransferRun& run, ITransferControl& control, IShareFileSystem& fs);

    // Copies the file with up to five attempts; the outcome is in the run's eResult (0 for
    // success). Counts the file as done and shows the progress.
    void HandleContent(const CContent& content);
    // One attempt: copies the source into the target folder (which ends with a backslash);
    // sets eResult when it fails, EC_OK when it succeeds.
    void CopyToDevice(const QString& sSourcePath, const CContent& content, const QString& sTargetFolder);
    // Waits up to 20 seconds, a second at a time, for the device to be dropped as offline;
    // true when it was. A stop request ends the wait early.
    bool WaitForDeviceOffline();
    // The name of the hidden folder that holds the files being copied.
    static constexpr const char* kPartialFolderName = ".tolva-partial";

    // Whether a path (a share root) exists, through this thread's layer.
    bool PathExists(const QString& sPath) { return m_fs.PathExists(sPath); }

    // The share the file goes to: the destination setting, and in Auto mode whether the run
    // switched to the external disk.
    static QString ShareRootFor(const STransferRun& run);
    // The share's name for the history line ("Tolva_Internal" / "Tolva_External").
    static QString ShareNameFor(const STransferRun& run);
    // A source path in the form the share layer opens: native paths as they are; for a network
    // path "\\server\share\..." every doubled backslash after the leading pair becomes one.
    static QString SourcePathForOpen(const QString& sSourcePath);
    // The relative target path with doubled backslashes collapsed.
    static QString CleanTargetPath(const QString& sTargetPath);

private:
    // Creates the folders of the relative path below the share root; returns the target folder
    // (with its trailing backslash). A folder that cannot be created sets eResult (17 when the
    // device went offline, else 9); the copy is still attempted. Folders that an earlier file of
    // this run found or made are not asked for again: each question is several round trips to
    // the device. A failed attempt forgets them, so the retry looks again.
    QString PrepareTargetFolder(const QString& sRelativePath);
    // The code of a failed write or close: disk full at once, else after the offline wait.
    eErrorCode WriteErrorCode(DWORD dwError);
    // The hidden folder of the temporary files for a target path below the share root (created,
    // and cleared of what earlier processes left, at the first use in this run).
    QString PartialFolder(const QString& sShareRoot, const QString& sRelativePath);

    // Tells the progress display that the file under way waits (a retry pause, the offline wait).
    void ShowWait(STransferWait::EKind eKind, std::int64_t nWaitMs);

    QStringList m_preparedPartialFolders; // folders created and cleared in this run
    QSet<QString> m_knownFolders;         // target folders found or made in this run
    QString m_sCurrentSource;             // the file under way, for the waits it shows
    unsigned m_nAttempt = 0;              // its attempt under way, from 1

    STransferRun& m_run;
    ITransferControl& m_control;
    IShareFileSystem& m_fs;
    std::vector<char> m_buffer; // one block, allocated once per run
};

#include "sync/CopyToShare.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <unistd.h>

#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"

namespace {
// A path that names no file or folder (the layer's codes differ by back end and by which part is
// missing).
bool IsNotFound(DWORD dwError)
{
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
}
} // namespace

CCopyToShare::CCopyToShare(STransferRun& run, ITransferControl& control, IShareFileSystem& fs)
    : m_run(run), m_control(control), m_fs(fs), m_buffer(kBlockSize)
{}

QString CCopyToShare::ShareRootFor(const STransferRun& run)
{
    const bool bExternal =
        run.dwPosition == SAVE_POSITION_EXTERNAL || (run.dwPosition == SAVE_POSITION_AUTO && run.bSwitchedToExternal);
    return bExternal ? ExternalSharePath(run.sDeviceIp) : InternalSharePath(run.sDeviceIp);
}

QString CCopyToShare::ShareNameFor(const STransferRun& run)
{
    const bool bExternal =
        run.dwPosition == SAVE_POSITION_EXTERNAL || (run.dwPosition == SAVE_POSITION_AUTO && run.bSwitchedToExternal);
    return QString::fromLatin1(bExternal ? kExternalShareName : kInternalShareName);
}

QString CCopyToShare::SourcePathForOpen(const QString& sSourcePath)
{
    if (!sSourcePath.startsWith(QLatin1String("\\\\")))
        return sSourcePath;
    return "\\\\" + CollapseSeparators(sSourcePath.mid(2), '\\');
}

QString CCopyToShare::CleanTargetPath(const QString& sTargetPath)
{
    return CollapseSeparators(sTargetPath, '\\');
}

void CCopyToShare::ShowWait(STransferWait::EKind eKind, std::int64_t nWaitMs)
{
    STransferWait wait;
    wait.eKind = eKind;
    wait.sSourcePath = m_sCurrentSource;
    wait.nAttempt = m_nAttempt;
    wait.nAttempts = kAttempts;
    // During the offline wait the attempt has no code yet: the share's failure is the reason.
    wait.eReason = eKind == STransferWait::WAIT_DEVICE ? m_run.eShareFailure : m_run.eResult;
    wait.bShareSide = m_run.eShareFailure != EC_OK;
    wait.nWaitMs = nWaitMs;
    m_control.ShowFileWaiting(wait);
}

bool CCopyToShare::WaitForDeviceOffline()
{
    if (!m_control.IsStopRequested())
        ShowWait(STransferWait::WAIT_DEVICE, static_cast<std::int64_t>(kOfflineWaitSeconds) * 1000);
    m_run.nOfflineWait = 0;
    do {
        m_control.Pause(1000);
        if (m_control.IsDeviceRemoved())
            return true;
        ++m_run.nOfflineWait;
    } while (!m_control.IsStopRequested() && m_run.nOfflineWait < kOfflineWaitSeconds);
    return false;
}

QString CCopyToShare::PrepareTargetFolder(const QString& sRelativePath)
{
    // The share paths keep their long form implicitly: the share layer takes paths of any length.
    QString sTargetFolder = ShareRootFor(m_run);
    const QStringList parts = sRelativePath.split('\\');
    // Every part but the last is a folder; the last is the file name. The whole folder path is
    // returned even when a folder could not be made, so that the file never goes into a folder
    // above its own.
    bool bFailed = false;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i].isEmpty())
            continue;
        sTargetFolder += "\\" + parts[i];
        if (bFailed || m_knownFolders.contains(sTargetFolder))
            continue;
        if (m_fs.PathExists(sTargetFolder)) {
            m_knownFolders.insert(sTargetFolder);
            continue;
        }
        if (CreateDirectoryTreeOn(m_fs, sTargetFolder)) {
            m_knownFolders.insert(sTargetFolder);
        } else {
            WriteLog("HandleContent: Create target folder to device fail!");
            m_run.eShareFailure = EC_TARGET_ERROR; // what the wait shows
            m_run.eResult = WaitForDeviceOffline() ? EC_DEVICE_LOST : EC_TARGET_ERROR;
            m_run.eShareFailure = m_run.eResult;
            bFailed = true;
        }
    }
    return sTargetFolder + "\\";
}

QString CCopyToShare::PartialFolder(const QString& sShareRoot, const QString& sRelativePath)
{
    // Beside the computer's folder of files, so that the rename stays within it.
    const QString sFolder = sShareRoot + "\\" + sRelativePath.section('\\', 0, 0) + "\\" + kPartialFolderName;
    if (m_preparedPartialFolders.contains(sFolder))
        return sFolder;
    m_preparedPartialFolders.append(sFolder);
    // A folder that cannot be made shows up as a file that cannot be created, with its own code.
    if (!m_fs.PathExists(sFolder))
        CreateDirectoryTreeOn(m_fs, sFolder);
    // Files a cut copy left: those of a process that no longer runs on this computer (the folder
    // is this computer's), and this process's own from an earlier run.
    QStringList names;
    m_fs.ListFiles(sFolder, &names);
    for (const QString& sName : names) {
        bool bOk = false;
        const qint64 nPid = sName.section('-', 0, 0).toLongLong(&bOk);
        if (!bOk || !sName.endsWith(QLatin1String(".part")))
            continue;
        if (nPid != ::getpid() && nPid > 0 && nPid <= INT_MAX &&
            (::kill(static_cast<pid_t>(nPid), 0) == 0 || errno == EPERM))
            continue; // another transfer of this computer may be writing it
        if (m_fs.DeleteFile(sFolder + "\\" + sName) == ERROR_SUCCESS)
            WriteLog("HandleContent: removed the partial file " + sName + " a cut copy left on the device");
    }
    return sFolder;
}

void CCopyToShare::HandleContent(const CContent& content)
{
    for (int nAttempt = 0; nAttempt < kAttempts; ++nAttempt) {
        if (m_control.IsStopRequested()) {
            m_run.eResult = EC_CANCELLED;
            break;
        }
        m_control.Pause(nAttempt == 0 ? kFirstAttemptPauseMs : kRetryPauseMs);
        // A stop that came during the pause ends the file before another attempt starts.
        if (m_control.IsStopRequested()) {
            m_run.eResult = EC_CANCELLED;
            break;
        }
        m_run.eResult = EC_OK;
        m_run.eShareFailure = EC_OK;
        m_sCurrentSource = content.m_sSourcePath;
        m_nAttempt = static_cast<unsigned>(nAttempt) + 1;
        const QString sRelativePath = CleanTargetPath(content.m_sTargetPath);
        // Folders are created again on every attempt: a failure may have been passing.
        const QString sTargetFolder = PrepareTargetFolder(sRelativePath);
        if (m_run.nDone == 0)
            m_control.ShowProgress(0, m_run.nTotal);
        CopyToDevice(SourcePathForOpen(content.m_sSourcePath), content, sTargetFolder);
        if (m_run.eResult == EC_ACCESS_DENIED || m_run.eResult == EC_TARGET_ERROR || m_run.eResult == EC_FILE_FAILED) {
            WriteLogF("transfer manager: transfer finished , temp errcode = %u  , this is  %u times ",
                      static_cast<unsigned>(m_run.eResult), static_cast<unsigned>(nAttempt));
            if (nAttempt + 1 < kAttempts)
                ShowWait(STransferWait::WAIT_RETRY, kRetryPauseMs);
            continue;
        }
        break;
    }
    ++m_run.nDone;
    m_control.ShowProgress(m_run.nDone, m_run.nTotal);
}

eErrorCode CCopyToShare::WriteErrorCode(DWORD dwError)
{
    if (dwError == ERROR_DISK_FULL || dwError == ERROR_HANDLE_DISK_FULL)
        return EC_DEVICE_FULL;
    const bool bDenied = dwError == ERROR_ACCESS_DENIED;
    m_run.eShareFailure = bDenied ? EC_ACCESS_DENIED : EC_TARGET_ERROR; // what the wait shows
    const eErrorCode eCode = WaitForDeviceOffline() ? (bDenied ? EC_DENIED_DEVICE_LOST : EC_DEVICE_LOST)
                                                    : (bDenied ? EC_ACCESS_DENIED : EC_TARGET_ERROR);
    m_run.eShareFailure = eCode;
    return eCode;
}

void CCopyToShare::CopyToDevice(const QString& sSourcePath, const CContent& content, const QString& sTargetFolder)
{
    if (!m_fs.PathExists(sSourcePath)) {
        m_run.eResult = EC_SOURCE_MISSING;
        return;
    }
    DWORD dwError = ERROR_SUCCESS;
    std::unique_ptr<IShareReadFile> pSource = m_fs.OpenForRead(sSourcePath, &dwError);
    if (!pSource) {
        m_run.eResult = EC_FILE_FAILED;
        return;
    }
    const QString sTargetFile = sTargetFolder + FileNameOf(content.m_sTargetPath);
    static std::atomic<unsigned> s_nPartial{0};
    const QString sPartialFolder = PartialFolder(ShareRootFor(m_run), CleanTargetPath(content.m_sTargetPath));
    const QString sPartialFile =
        sPartialFolder +
        QString("\\%1-%2-%3.part").arg(::getpid()).arg(++s_nPartial).arg(FileNameOf(content.m_sTargetPath).right(64));
    std::unique_ptr<IShareWriteFile> pTarget = m_fs.CreateFile(sPartialFile, &dwError);
    if (!pTarget && IsNotFound(dwError)) {
        // The hidden folder was made at the run's first file; someone may have removed it since.
        CreateDirectoryTreeOn(m_fs, sPartialFolder);
        pTarget = m_fs.CreateFile(sPartialFile, &dwError);
    }
    if (!pTarget) {
        m_knownFolders.clear();
        pSource.reset();
        m_run.eShareFailure = EC_FILE_FAILED;
        m_run.eResult = WaitForDeviceOffline() ? EC_DEVICE_LOST : EC_FILE_FAILED;
        m_run.eShareFailure = m_run.eResult;
        return;
    }

    bool bFailed = false;
    std::uint64_t nBytesCopied = 0;
    m_control.ShowFileCopying(content.m_sSourcePath, 0);
    // Between two local files the kernel copies each block (as cp does); elsewhere, and when it
    // cannot, each block is read into the buffer and written.
    bool bKernelCopy = true;
    while (bKernelCopy) {
        if (m_control.IsStopRequested()) {
            m_run.eResult = EC_CANCELLED;
            bFailed = true;
            break;
        }
        std::size_t nCopied = 0;
        dwError = pTarget->CopyFrom(*pSource, m_buffer.size(), &nCopied);
        if (dwError != ERROR_SUCCESS) {
            // Not possible for this pair of files, or it failed: a failed kernel copy does not say
            // whether the source could not be read (10) or the target not written (disk full,
            // denied, device gone). Nothing of the block was copied, so it is read and written
            // by hand, where each side reports its own error.
            bKernelCopy = false;
        } else if (nCopied == 0) {
            break;
        } else {
            nBytesCopied += nCopied;
            m_control.ShowFileCopying(content.m_sSourcePath, nBytesCopied);
        }
    }
    while (!bKernelCopy && !bFailed) {
        std::size_t nRead = 0;
        if (pSource->Read(m_buffer.data(), m_buffer.size(), &nRead) != ERROR_SUCCESS) {
            // A source that breaks off mid-way must not leave a shortened file counted as copied.
            m_run.eResult = EC_FILE_FAILED;
            bFailed = true;
            break;
        }
        if (nRead == 0)
            break;
        if (m_control.IsStopRequested()) {
            m_run.eResult = EC_CANCELLED;
            bFailed = true;
            break;
        }
        dwError = pTarget->Write(m_buffer.data(), nRead);
        if (dwError != ERROR_SUCCESS) {
            m_run.eResult = WriteErrorCode(dwError);
            bFailed = true;
            break;
        }
        nBytesCopied += nRead;
        m_control.ShowFileCopying(content.m_sSourcePath, nBytesCopied);
    }
    // A write error that surfaces only when the file is closed (buffered network writes, a full
    // disk noticed late) is a write error like any other.
    dwError = pTarget->Close();
    if (!bFailed && dwError != ERROR_SUCCESS) {
        m_run.eResult = WriteErrorCode(dwError);
        bFailed = true;
    }
    pTarget.reset();
    if (!bFailed) {
        // Whole: now it gets its name, replacing an older copy of the file.
        dwError = m_fs.Rename(sPartialFile, sTargetFile);
        if (IsNotFound(dwError) && !m_knownFolders.isEmpty()) {
            // The target folder may be one an earlier file found, removed since: made again.
            m_knownFolders.clear();
            if (CreateDirectoryTreeOn(m_fs, sTargetFolder.chopped(1)))
                dwError = m_fs.Rename(sPartialFile, sTargetFile);
        }
        if (dwError != ERROR_SUCCESS) {
            m_run.eResult = WriteErrorCode(dwError);
            bFailed = true;
        }
    }
    if (bFailed) {
        m_fs.DeleteFile(sPartialFile);
        m_knownFolders.clear(); // a folder may have gone: the next attempt looks again
    } else {
        m_run.eResult = EC_OK;
    }
}

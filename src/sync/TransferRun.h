#pragma once

#include <cstdint>

#include <QString>
#include <QStringList>

#include "sync/ErrorCode.h"
#include "sync/TransferProgressListener.h"

// The state of one transfer run, owned by the transfer thread: the copy (CCopyToShare) and the
// history lines (CTransferResults) work on it. No other thread touches it.
struct STransferRun
{
    eErrorCode eResult = EC_OK;       // the code of the file under way, later of the run
    unsigned nDone = 0;               // files handled in this run
    unsigned nTotal = 0;              // files in the transfer queue when the run started
    DWORD dwPosition = 0;             // destination setting, fixed for the run (0 Auto, 1, 2)
    bool bSwitchedToExternal = false; // Auto: the internal disk was full, the run writes externally
    unsigned nOfflineWait = 0;        // seconds counted by the last offline wait
    bool bHistoryNotWritten = false;  // a history write of this run failed
    eErrorCode eShareFailure = EC_OK; // the file's last attempt failed on the share's side (7, 9, 10)
    QString sDeviceUuid;              // copies of the device's fields taken at the start
    QString sDeviceName;
    QString sDeviceIp;
    QStringList resultLines; // history lines waiting to be written
};

// What the copy and the history writer ask of the transfer manager while a run goes on.
class ITransferControl
{
public:
    virtual ~ITransferControl() = default;
    // The stop flag (cancel, offline handling, shutdown).
    virtual bool IsStopRequested() const = 0;
    // The device manager dropped the device as offline during this run.
    virtual bool IsDeviceRemoved() const = 0;
    // Waits the time out through the clock; returns early (true) once a stop is requested, so a
    // cancel or a shutdown never waits for a 5-second retry pause or the offline wait.
    virtual bool Pause(std::int64_t nMs) = 0;
    virtual void ShowProgress(unsigned nDone, unsigned nTotal) = 0;
    // The file under way and its bytes written so far in this attempt.
    virtual void ShowFileCopying(const QString& sSourcePath, std::uint64_t nBytesCopied)
    {
        (void)sSourcePath, (void)nBytesCopied;
    }
    virtual void ShowFileWaiting(const STransferWait& wait) { (void)wait; }
};

#pragma once

#include <cstdint>

#include <QString>

#include "sync/ErrorCode.h"

// A file whose copy failed and waits before it is tried again, or waits to see whether the
// device is still there.
struct STransferWait
{
    enum EKind
    {
        WAIT_RETRY,  // the attempt failed; the next one starts after nWaitMs
        WAIT_DEVICE, // a write failed; up to nWaitMs to see whether the device is being dropped
    };
    EKind eKind = WAIT_RETRY;
    QString sSourcePath;
    unsigned nAttempt = 0;      // the attempt that failed (1 to nAttempts)
    unsigned nAttempts = 0;     // attempts a file gets
    eErrorCode eReason = EC_OK; // the attempt's code (7, 9, 10)
    bool bShareSide = false;    // the device's share refused (else: the source on this computer)
    std::int64_t nWaitMs = 0;
};

// Shows how far a transfer run is: "done/total", the file under way and its bytes, and each
// file's outcome. The Transfer Settings page and the command-line front end implement it.
// Called directly on the transfer thread, so an implementation hands the figures to its own
// thread and returns at once.
class ITransferProgressListener
{
public:
    virtual ~ITransferProgressListener() = default;
    virtual void ShowTransferProgress(unsigned nDone, unsigned nTotal) = 0;
    // A copy attempt of the file is under way and has written nBytesCopied bytes so far (0 at
    // the start of each attempt).
    virtual void ShowFileCopying(const QString& sSourcePath, std::uint64_t nBytesCopied)
    {
        (void)sSourcePath, (void)nBytesCopied;
    }
    // The file's outcome, as its history line records it (EC_OK for a copied file; EC_CANCELLED
    // for a file stopped by the user, which leaves no line).
    virtual void ShowFileResult(const QString& sSourcePath, eErrorCode eResult) { (void)sSourcePath, (void)eResult; }
    // A file that is not copied at all (its path on the device would be too long), with the text
    // its history line carries.
    virtual void ShowFileNotTransferred(const QString& sSourcePath, const QString& sReason)
    {
        (void)sSourcePath, (void)sReason;
    }
    // A wait of the file under way, so that a long run of retries is not taken for a hang.
    virtual void ShowFileWaiting(const STransferWait& wait) { (void)wait; }
};

#pragma once

#include <cstdint>

#include <QString>

#include "sync/ErrorCode.h"

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
};

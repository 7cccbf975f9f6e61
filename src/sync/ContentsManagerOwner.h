#pragma once

#include "sync/ErrorCode.h"

// What the scan thread of the contents manager reports to: the common manager owns the contents
// manager and carries the run on from the scan's result.
class IContentsManagerOwner
{
public:
    virtual ~IContentsManagerOwner() = default;
    // The scan queued at least one file (for copying or as name too long): check the device's
    // power next. Called on the scan thread; returns once the power check is started or the run
    // ended with its code.
    virtual void StartPowerCheck() = 0;
    // Ends the run with its code. Blocks until the main window has handled the outcome, because
    // the window resets its transfer state from it before anything else may start.
    virtual void TransferFinished(eErrorCode eCode) = 0;
};

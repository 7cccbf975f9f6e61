#pragma once

#include <QString>

#include "desktop/IMessagePresenter.h"
#include "sync/ErrorCode.h"

// What the main window knows when a transfer's result arrives.
struct STransferOutcome
{
    eErrorCode eCode = EC_OK;
    bool bSomeFilesFailed = false;
    // The run could not write its history lines: its files will be copied again next time.
    bool bHistoryNotWritten = false;
    QString sHistoryPath;
    // The share refused several files in a row the same way (7, 9 or 10), else EC_OK.
    eErrorCode eRepeatedRefusal = EC_OK;
    int nRefusalsInARow = 0;
    // How the run started and what the window looks like now.
    bool bWindowShown = false;
    bool bAutomatic = false;
    bool bFromPage = false; // the Transfer Settings page started it (its button or the tray menu)
    bool bWindowShownAtAutoStart = false;
    bool bQuitAfterTransfer = false;
};

// The one message box of a result; nTextId 0 when nothing is shown.
//
// Which results speak depends on the window and on how the run started: over the open window a
// run the user started tells its outcome, an automatic one only what went wrong; with the window
// hidden only the outcomes the user must act on. A run that ended because the share refused file
// after file says so, with the reason, in place of the code's general error text. A history that
// could not be written is always told (unless the program is quitting), as the next run would
// copy the same files again without a word: it is added to the result's own text.
SMessageBox TransferOutcomeBox(const STransferOutcome& outcome);

// The box that refuses a start while another transfer holds the profile: names the holder.
SMessageBox TransferLockedBox(const QString& sHolder);

// The box that tells that the watched folders and file types could not be written in sFolder:
// a transfer would run on the lists saved before.
SMessageBox ListsNotWrittenBox(const QString& sFolder);

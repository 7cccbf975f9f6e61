#include "app/TransferOutcome.h"

#include <QDir>

#include "foundation/StringTable.h"

namespace {

constexpr unsigned kIdsHistoryNotWritten = 1150;
constexpr unsigned kIdsListsNotWritten = 1162;
constexpr unsigned kIdsTransferRunning = 1154;
constexpr unsigned kIdsRefusedInARow = 1160;

bool ShownWithHiddenWindow(eErrorCode eCode)
{
    switch (eCode) {
    case EC_NO_FILES:
    case EC_CANCELLED:
    case EC_POWER_NOT_READY:
    case EC_NO_FORMAT:
    case EC_NO_FOLDER:
    case EC_NO_EXTERNAL: return true;
    default: return false;
    }
}

bool ResultSpeaks(const STransferOutcome& o, bool bRefused)
{
    if (o.eCode == EC_CANCELLED && o.bQuitAfterTransfer)
        return false;
    if (o.bWindowShown && !o.bAutomatic)
        return o.bFromPage;
    if (o.bWindowShown)
        return o.eCode != EC_OK || o.bSomeFilesFailed || bRefused;
    if (o.bAutomatic)
        return o.eCode == EC_CANCELLED && o.bWindowShownAtAutoStart;
    return o.bFromPage && ShownWithHiddenWindow(o.eCode);
}

} // namespace

SMessageBox TransferOutcomeBox(const STransferOutcome& o)
{
    SMessageBox box;
    const bool bRefused = o.eRepeatedRefusal != EC_OK;
    if (ResultSpeaks(o, bRefused)) {
        if (bRefused) {
            box.nTextId = kIdsRefusedInARow;
            box.sText = LoadStringText(kIdsRefusedInARow)
                            .arg(o.nRefusalsInARow)
                            .arg(LoadStringText(RefusalReasonStringId(o.eRepeatedRefusal, true)));
            box.eIcon = MSG_ICON_ERROR;
        } else if (const unsigned nId = OutcomeMessageStringId(o.eCode, o.bSomeFilesFailed)) {
            box.nTextId = nId;
            box.eIcon = OutcomeMessageIsError(o.eCode) ? MSG_ICON_ERROR : MSG_ICON_NONE;
        }
    }
    if (o.bHistoryNotWritten && !o.bQuitAfterTransfer) {
        // A clean run must not read as a success: the history note replaces "finished".
        const bool bKeepResult = box.nTextId != 0 && box.nTextId != IDS_TRANSFER_FINISHED;
        const QString sResult =
            bKeepResult ? (box.sText.isEmpty() ? LoadStringText(box.nTextId) : box.sText) : QString();
        const QString sNote = LoadStringText(kIdsHistoryNotWritten).arg(o.sHistoryPath);
        box.nTextId = kIdsHistoryNotWritten;
        box.sText = sResult.isEmpty() ? sNote : sResult + QLatin1Char('\n') + sNote;
        box.eIcon = MSG_ICON_ERROR;
    }
    return box;
}

SMessageBox TransferLockedBox(const QString& sHolder)
{
    SMessageBox box;
    box.nTextId = kIdsTransferRunning;
    box.sText = LoadStringText(kIdsTransferRunning).arg(sHolder);
    box.eIcon = MSG_ICON_WARNING;
    return box;
}

SMessageBox ListsNotWrittenBox(const QString& sFolder)
{
    SMessageBox box;
    box.nTextId = kIdsListsNotWritten;
    box.sText = LoadStringText(kIdsListsNotWritten).arg(QDir::toNativeSeparators(sFolder));
    box.eIcon = MSG_ICON_ERROR;
    return box;
}

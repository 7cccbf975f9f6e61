#pragma once

#include <QString>

#include "foundation/ThreadSafeQueue.h"
#include "sync/Content.h"
#include "sync/TransferProgressListener.h"
#include "sync/TransferRun.h"

class CContentsManager;

// Turns the outcome of each file into its line of the device's transfer history, on the
// transfer thread. The result texts come from the string table of the language in force, so the
// history holds the language of the moment the line was written; only the fixed text "OK" marks
// a line as a success for later scans. Each file's line is on disk before the next file starts.
class CTransferResults
{
public:
    CTransferResults(STransferRun& run, ITransferControl& control, CContentsManager& contents);

    // The result text for the run's eResult. Folds the per-file codes into the ones the run
    // carries on with: 15 becomes 10, 16 becomes 7, 17 becomes 9.
    QString ResultText();
    // Writes the line of one file, to the share of the run's destination. A file stopped by the
    // user (8 while the device is present) leaves no line. May change eResult (see ResultText).
    void RecordResult(const CContent& content);
    // The same, with the share always named "Tolva_Internal" (Auto mode found the internal disk
    // full and the device has no external disk).
    void RecordFallbackResult(const CContent& content);
    // Empties the name-too-long queue into the run's pending lines (string 183, or the record's
    // own failure text) and returns how many files it held; each is shown to the listener. The
    // caller writes them with WriteHistory.
    unsigned RecordLongNameFiles(CThreadSafeQueue<CContent>& longNameQueue,
                                 ITransferProgressListener* pListener = nullptr);
    // Writes the pending lines to the history of the run's device and empties them.
    bool WriteHistory();

private:
    void Record(const CContent& content, const QString& sShareName);

    STransferRun& m_run;
    ITransferControl& m_control;
    CContentsManager& m_contents;
};

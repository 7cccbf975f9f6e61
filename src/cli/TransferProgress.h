#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>

#include <QString>

#include "cli/CliIo.h"
#include "sync/TransferProgressListener.h"

// The progress of a `tolva transfer` run. The transfer thread reports into it; the command's
// thread draws it: on a terminal one bar line (done/total, bytes, throughput, current file)
// redrawn in place, with a line for each failed file above it; otherwise one line per file.
class CTransferProgress final : public ITransferProgressListener
{
public:
    explicit CTransferProgress(ICliIo& io) : m_io(io), m_bTerminal(io.IsTerminal()) {}

    // Transfer thread.
    void ShowTransferProgress(unsigned nDone, unsigned nTotal) override;
    void ShowFileCopying(const QString& sSourcePath, std::uint64_t nBytesCopied) override;
    void ShowFileResult(const QString& sSourcePath, eErrorCode eResult) override;
    void ShowFileWaiting(const STransferWait& wait) override;
    void ShowFileNotTransferred(const QString& sSourcePath, const QString& sReason) override;

    // Command thread: prints what arrived since the last call (the bar at most ten times a
    // second).
    void Draw();
    // Prints the rest, ends the bar's line and prints the summary when any file was handled.
    void Finish();

    unsigned CopiedFiles() const;
    unsigned FailedFiles() const;

    // Why the share or the source failed, in words (the reason of a wait or of a stopped run).
    static QString ReasonWords(eErrorCode eReason, bool bShareSide);

    // "3.4 MiB" and the like.
    static QString FormatBytes(double dBytes);

private:
    using Clock = std::chrono::steady_clock;

    QString BarLine(int nWidth) const; // under m_mutex
    void ClearBar();

    ICliIo& m_io;
    const bool m_bTerminal;

    mutable std::mutex m_mutex; // guards the members below
    unsigned m_nDone = 0;
    unsigned m_nTotal = 0;
    QString m_sCurrent;
    std::uint64_t m_nCurrentBytes = 0;
    qint64 m_nCurrentSize = -1;         // of the file under way; -1 when unknown
    std::uint64_t m_nFinishedBytes = 0; // bytes of the files already copied
    unsigned m_nCopied = 0;
    unsigned m_nFailed = 0;
    bool m_bStarted = false;
    Clock::time_point m_start;
    struct SFileLine
    {
        QString sNotice; // a line of its own (a wait), else the file's outcome below
        QString sPath;
        eErrorCode eResult;
        unsigned nDone; // the file's place in the run
        unsigned nTotal;
    };
    std::deque<SFileLine> m_results; // waiting to be printed
    bool m_bChanged = false;

    // Command thread only.
    Clock::time_point m_lastDraw;
    bool m_bBarShown = false;
};

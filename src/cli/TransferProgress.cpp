#include "cli/TransferProgress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <QFileInfo>

#include "cli/CliSupport.h"
#include "platform/ShareFileSystem.h"
#include "sync/TransferHistory.h"

namespace {

int TerminalWidth()
{
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20)
        return size.ws_col;
    return 80;
}

// The text a file's line shows for its outcome: the result text of its history line.
QString ResultWords(eErrorCode eResult)
{
    if (eResult == EC_OK)
        return QStringLiteral("OK");
    const unsigned nId = FileResultStringId(eResult, false);
    return CliText(nId ? nId : static_cast<unsigned>(IDS_FILE_NOT_TRANSFERRED));
}

// The end of a path that fits into nWidth characters.
QString TailOf(const QString& sText, int nWidth)
{
    if (nWidth <= 3 || sText.size() <= nWidth)
        return sText.left(std::max(nWidth, 0));
    return "..." + sText.right(nWidth - 3);
}

} // namespace

void CTransferProgress::ShowTransferProgress(unsigned nDone, unsigned nTotal)
{
    std::lock_guard lock(m_mutex);
    m_nDone = nDone;
    m_nTotal = nTotal;
    m_bChanged = true;
}

void CTransferProgress::ShowFileCopying(const QString& sSourcePath, std::uint64_t nBytesCopied)
{
    std::lock_guard lock(m_mutex);
    if (!m_bStarted) {
        m_bStarted = true;
        m_start = Clock::now();
    }
    if (m_sCurrent != sSourcePath) {
        m_sCurrent = sSourcePath;
        const QFileInfo source(sSourcePath); // a local source only; a network one stays unknown
        m_nCurrentSize = !IsSharePath(sSourcePath) && source.isFile() ? source.size() : -1;
    }
    m_nCurrentBytes = nBytesCopied;
    m_bChanged = true;
}

void CTransferProgress::ShowFileResult(const QString& sSourcePath, eErrorCode eResult)
{
    std::lock_guard lock(m_mutex);
    if (eResult == EC_OK) {
        ++m_nCopied;
        m_nFinishedBytes += m_sCurrent == sSourcePath ? m_nCurrentBytes : 0;
    } else if (eResult != EC_CANCELLED) {
        ++m_nFailed;
    }
    m_nCurrentBytes = 0;
    m_results.push_back({QString(), sSourcePath, eResult, m_nDone, m_nTotal});
    m_bChanged = true;
}

QString CTransferProgress::ReasonWords(eErrorCode eReason, bool bShareSide)
{
    return CliText(RefusalReasonStringId(eReason, bShareSide));
}

void CTransferProgress::ShowFileWaiting(const STransferWait& wait)
{
    const QString sSeconds = QString::number((wait.nWaitMs + 999) / 1000);
    const QString sReason = ReasonWords(wait.eReason, wait.bShareSide);
    const QString sPath = HistoryFieldText(wait.sSourcePath); // printable whatever the name holds
    const QString sNotice =
        wait.eKind == STransferWait::WAIT_RETRY
            ? CliText(1155, {sPath, QString::number(wait.nAttempt), QString::number(wait.nAttempts), sReason, sSeconds})
            : CliText(1156, {sPath, sReason, sSeconds});
    std::lock_guard lock(m_mutex);
    m_results.push_back({sNotice, QString(), EC_OK, m_nDone, m_nTotal});
    m_bChanged = true;
}

void CTransferProgress::ShowFileNotTransferred(const QString& sSourcePath, const QString& sReason)
{
    std::lock_guard lock(m_mutex);
    ++m_nFailed;
    m_results.push_back({QString("[-] %1  %2").arg(sReason, HistoryFieldText(sSourcePath)), QString(), EC_OK, 0, 0});
    m_bChanged = true;
}

unsigned CTransferProgress::CopiedFiles() const
{
    std::lock_guard lock(m_mutex);
    return m_nCopied;
}

unsigned CTransferProgress::FailedFiles() const
{
    std::lock_guard lock(m_mutex);
    return m_nFailed;
}

QString CTransferProgress::FormatBytes(double dBytes)
{
    const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int nUnit = 0;
    while (dBytes >= 1024 && nUnit < 4) {
        dBytes /= 1024;
        ++nUnit;
    }
    return nUnit == 0 ? QString("%1 B").arg(static_cast<qint64>(dBytes))
                      : QString("%1 %2").arg(dBytes, 0, 'f', 1).arg(kUnits[nUnit]);
}

QString CTransferProgress::BarLine(int nWidth) const
{
    constexpr int kBarCells = 20;
    const int nFilled = m_nTotal == 0 ? 0 : static_cast<int>(kBarCells * static_cast<double>(m_nDone) / m_nTotal);
    const double dBytes = static_cast<double>(m_nFinishedBytes + m_nCurrentBytes);
    const double dSeconds = m_bStarted ? std::chrono::duration<double>(Clock::now() - m_start).count() : 0;
    QString sLine = QString("[%1%2] %3/%4  %5")
                        .arg(QString(nFilled, '#'), QString(kBarCells - nFilled, '-'))
                        .arg(m_nDone)
                        .arg(m_nTotal)
                        .arg(FormatBytes(dBytes));
    if (dSeconds > 0.5)
        sLine += "  " + FormatBytes(dBytes / dSeconds) + "/s";
    if (!m_sCurrent.isEmpty() && m_nDone < m_nTotal && m_nCurrentSize > 0)
        sLine +=
            QString("  %1%").arg(std::min<qint64>(100, static_cast<qint64>(m_nCurrentBytes * 100 / m_nCurrentSize)));
    if (!m_sCurrent.isEmpty() && m_nDone < m_nTotal)
        sLine += "  " + TailOf(HistoryFieldText(m_sCurrent), nWidth - 1 - static_cast<int>(sLine.size()) - 2);
    return sLine.left(nWidth - 1);
}

void CTransferProgress::ClearBar()
{
    if (m_bBarShown) {
        m_io.Out("\r\x1b[K");
        m_bBarShown = false;
    }
}

void CTransferProgress::Draw()
{
    std::deque<SFileLine> results;
    QString sBar;
    {
        std::lock_guard lock(m_mutex);
        if (!m_bChanged)
            return;
        results.swap(m_results);
        const bool bDue = Clock::now() - m_lastDraw >= std::chrono::milliseconds(100);
        if (m_bTerminal && (bDue || !results.empty())) {
            sBar = BarLine(TerminalWidth());
            m_bChanged = false;
        } else if (!m_bTerminal) {
            m_bChanged = false;
        }
    }
    for (const SFileLine& line : results) {
        if (!line.sNotice.isEmpty()) {
            ClearBar();
            m_io.Out(line.sNotice + "\n");
            continue;
        }
        if (line.eResult == EC_CANCELLED)
            continue; // the outcome says so; a stopped file leaves nothing behind
        if (m_bTerminal && line.eResult == EC_OK)
            continue; // the bar counts it
        ClearBar();
        m_io.Out(QString("[%1/%2] %3  %4\n")
                     .arg(line.nDone)
                     .arg(line.nTotal)
                     .arg(ResultWords(line.eResult), HistoryFieldText(line.sPath)));
    }
    if (!sBar.isEmpty()) {
        m_io.Out("\r" + sBar + "\x1b[K");
        m_bBarShown = true;
        m_lastDraw = Clock::now();
    }
}

void CTransferProgress::Finish()
{
    {
        std::lock_guard lock(m_mutex);
        m_bChanged = true;
        m_lastDraw = {};
    }
    Draw();
    if (m_bBarShown) {
        m_io.Out("\n");
        m_bBarShown = false;
    }
    std::lock_guard lock(m_mutex);
    if (m_nCopied + m_nFailed == 0)
        return;
    const double dSeconds = m_bStarted ? std::chrono::duration<double>(Clock::now() - m_start).count() : 0;
    m_io.Out(CliText(1047, {QString::number(m_nCopied), QString::number(m_nFailed),
                            FormatBytes(static_cast<double>(m_nFinishedBytes)), QString::number(dSeconds, 'f', 1)}) +
             "\n");
}

#include "desktop/ShellOpener.h"

#include <memory>

#include <QProcess>
#include <QTimer>

#include "foundation/Log.h"

namespace {
// The handler's own messages are kept for the log, up to this much.
constexpr qint64 kMaxOutputBytes = 1024;
} // namespace

CShellOpener::CShellOpener(QString sProgram, int nStillRunningMs, QObject* pParent)
    : QObject(pParent), m_sProgram(std::move(sProgram)), m_nStillRunningMs(nStillRunningMs)
{}

void CShellOpener::Open(const QString& sUrl, Done done)
{
    auto* pProcess = new QProcess(this);
    pProcess->setProgram(m_sProgram);
    pProcess->setArguments({sUrl});
    pProcess->setStandardInputFile(QProcess::nullDevice());
    pProcess->setProcessChannelMode(QProcess::MergedChannels);

    // Exactly one answer per call, always from the event loop (a program that cannot be started
    // may be reported inside start()).
    auto pAnswered = std::make_shared<bool>(false);
    auto answer = [this, pAnswered, done](bool bOpened) {
        if (*pAnswered)
            return;
        *pAnswered = true;
        QMetaObject::invokeMethod(
            this,
            [done, bOpened] {
                if (done)
                    done(bOpened);
            },
            Qt::QueuedConnection);
    };
    auto pOutput = std::make_shared<QByteArray>();
    connect(pProcess, &QProcess::readyRead, pProcess, [pProcess, pOutput] {
        const QByteArray data = pProcess->readAll();
        pOutput->append(data.left(kMaxOutputBytes - pOutput->size()));
    });
    connect(pProcess, &QProcess::finished, this,
            [this, pProcess, pOutput, answer, sUrl](int nExitCode, QProcess::ExitStatus eStatus) {
                const bool bOpened = eStatus == QProcess::NormalExit && nExitCode == 0;
                if (!bOpened)
                    WriteLog(QStringLiteral("%1 %2 failed (exit %3): %4")
                                 .arg(m_sProgram, sUrl)
                                 .arg(eStatus == QProcess::NormalExit ? nExitCode : -1)
                                 .arg(QString::fromLocal8Bit(*pOutput).trimmed()));
                answer(bOpened);
                pProcess->deleteLater();
            });
    connect(pProcess, &QProcess::errorOccurred, this, [this, pProcess, answer, sUrl](QProcess::ProcessError eError) {
        if (eError != QProcess::FailedToStart)
            return; // a crash or a kill also ends in finished()
        WriteLog(QStringLiteral("%1 %2 failed: %3").arg(m_sProgram, sUrl, pProcess->errorString()));
        answer(false);
        pProcess->deleteLater();
    });
    // The handler has taken over; the process is left to end by itself (or with the program).
    QTimer::singleShot(m_nStillRunningMs, pProcess, [pProcess, answer] {
        if (pProcess->state() == QProcess::Running)
            answer(true);
    });
    pProcess->start();
}

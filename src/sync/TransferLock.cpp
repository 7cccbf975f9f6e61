#include "sync/TransferLock.h"

#include <QFile>
#include <QLockFile>
#include <QSysInfo>

#include "foundation/Log.h"
#include "foundation/Paths.h"

namespace {
constexpr const char* kLockFileName = "transfer.lock";

// The name of a program of this computer by its process id; empty when it cannot be read.
QString ProgramNameOf(qint64 nPid)
{
    QFile comm(QString("/proc/%1/comm").arg(nPid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(comm.readAll()).trimmed();
}
} // namespace

CTransferLock::CTransferLock() : CTransferLock(AppDataFolder() + kLockFileName)
{}

CTransferLock::CTransferLock(const QString& sLockPath)
    : m_sPath(sLockPath), m_pLock(std::make_unique<QLockFile>(sLockPath))
{
    // Only a lock whose process has ended is stale, however long a transfer runs.
    m_pLock->setStaleLockTime(0);
}

CTransferLock::~CTransferLock() = default;

bool CTransferLock::TryLock(QString* psHolder, qint64* pnPid)
{
    if (m_pLock->isLocked())
        return true;
    CreateAppDataFolder();
    if (m_pLock->tryLock(0))
        return true;
    qint64 nPid = 0;
    QString sHost;
    QString sProgram;
    if (!m_pLock->getLockInfo(&nPid, &sHost, &sProgram)) {
        WriteLog("CTransferLock: cannot take " + m_sPath);
        nPid = 0;
    }
    const bool bThisComputer = sHost.isEmpty() || sHost == QSysInfo::machineHostName();
    if (bThisComputer && sProgram.isEmpty())
        sProgram = ProgramNameOf(nPid);
    if (sProgram.isEmpty())
        sProgram = QStringLiteral("a program");
    if (psHolder) {
        *psHolder = bThisComputer ? QString("%1 (process %2)").arg(sProgram).arg(nPid)
                                  : QString("%1 on %2 (process %3)").arg(sProgram, sHost).arg(nPid);
    }
    if (pnPid)
        *pnPid = nPid;
    return false;
}

void CTransferLock::Unlock()
{
    m_pLock->unlock();
}

bool CTransferLock::IsLocked() const
{
    return m_pLock->isLocked();
}

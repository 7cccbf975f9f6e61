#pragma once

#include <memory>

#include <QString>

class QLockFile;

// One transfer per profile at a time: a lock file in the application data folder that every
// front end (the desktop program, `tolva transfer`) takes for the whole of a run. Two runs on one
// profile would both copy every file and write every history line twice. The lock belongs to a
// process: a lock left by a process that ended (a crash, a power cut) is taken over.
class CTransferLock
{
public:
    // The lock of the profile's application data folder.
    CTransferLock();
    explicit CTransferLock(const QString& sLockPath);
    ~CTransferLock();
    CTransferLock(const CTransferLock&) = delete;
    CTransferLock& operator=(const CTransferLock&) = delete;

    // True when this process holds the lock now. Otherwise *psHolder names the holder, "tolva
    // (process 4711)", or "tolva on <host> (process 4711)" for a profile shared with another
    // computer, and *pnPid its process id.
    bool TryLock(QString* psHolder = nullptr, qint64* pnPid = nullptr);
    void Unlock();
    bool IsLocked() const;

    const QString& Path() const { return m_sPath; }

private:
    QString m_sPath;
    std::unique_ptr<QLockFile> m_pLock;
};

#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// The player's two shares, Tolva_Internal and Tolva_External, as local folders (the program's
// tests map the share roots onto them) and, on request, served by a Samba server of the
// player's own bound to the player's address.
//
// Faults of a full or read-only share need a file system the player controls: with a size
// given, each share folder gets its own small tmpfs (the player must run as root in a mount
// namespace of its own, as the tests do). "Full" then fills the rest of that tmpfs with a
// filler file, "read-only" remounts it read-only; both work the same for the program's local
// and Samba access, for root too.
class CPlayerShares
{
public:
    ~CPlayerShares();

    // Folders to use; created when missing. An empty folder is left out (no such share).
    bool Setup(const QString& sInternalDir, const QString& sExternalDir, qint64 nTmpfsKib, QString* pError);
    // Starts smbd for the shares on the address and port, with its state under sStateDir, and
    // waits until it accepts connections.
    bool StartSamba(const QString& sAddress, quint16 nPort, const QString& sStateDir, QString* pError);
    void StopSamba();
    bool SambaRunning() const { return m_smbd.state() == QProcess::Running; }

    bool SetFull(bool bFull, QString* pError);
    bool SetReadOnly(bool bReadOnly, QString* pError);
    void Teardown(); // stops Samba, removes filler files and unmounts what Setup mounted

    QStringList Folders() const { return m_folders; }
    QString SambaConfigPath() const { return m_sSambaConfig; }

private:
    QStringList m_folders;
    QStringList m_names;
    QStringList m_mounted;
    QString m_sSambaConfig;
    QProcess m_smbd;
};

inline constexpr char kInternalShare[] = "Tolva_Internal";
inline constexpr char kExternalShare[] = "Tolva_External";

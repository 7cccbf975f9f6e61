#pragma once

#include <QByteArray>
#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

// File contents that differ from seed to seed and never compress (xorshift bytes), so a copy that
// drops, repeats or mixes up a block shows in a byte-for-byte comparison.
inline QByteArray PseudoRandomBytes(qint64 nSize, int nSeed)
{
    QByteArray data(nSize, Qt::Uninitialized);
    quint32 x = 2463534242u + static_cast<quint32>(nSeed);
    for (qint64 i = 0; i < nSize; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] = static_cast<char>(x);
    }
    return data;
}

// Loopback at the speed of a slow home network (64 Mbit/s), so that a copy lasts long enough to
// act in the middle of it; false limits nothing again. Traffic control of the test's own
// namespace only.
inline bool LimitLoopback(bool bLimit)
{
    const QStringList args = bLimit ? QStringList{"qdisc", "replace", "dev",   "lo",  "root",    "tbf",
                                                  "rate",  "64mbit",  "burst", "1mb", "latency", "500ms"}
                                    : QStringList{"qdisc", "del", "dev", "lo", "root"};
    // tc lives in the system folders, which a user's PATH may lack.
    QString sTc = QStandardPaths::findExecutable("tc");
    if (sTc.isEmpty())
        sTc = QStandardPaths::findExecutable("tc", {"/usr/sbin", "/sbin"});
    QProcess tc;
    tc.setProcessChannelMode(QProcess::MergedChannels);
    tc.start(sTc.isEmpty() ? QStringLiteral("tc") : sTc, args);
    return tc.waitForFinished() && tc.exitStatus() == QProcess::NormalExit && tc.exitCode() == 0;
}

// The copy of a source file on a player's share folder (below "<computer>/<source path>"), or
// empty when there is none.
inline QString CopyOnShare(const QString& sShareDir, const QString& sSourcePath)
{
    QDirIterator it(sShareDir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString sPath = it.next();
        if (sPath.endsWith(sSourcePath))
            return sPath;
    }
    return {};
}

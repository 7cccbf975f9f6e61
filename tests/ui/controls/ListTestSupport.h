#pragma once

#include <QByteArray>
#include <QStringList>

#include "foundation/Paths.h"
#include "support/TestHome.h"

// The bytes a list file holds for these entries: UTF-8 lines each ended by CR LF.
inline QByteArray ListFileBytes(const QStringList& entries)
{
    QByteArray data;
    for (const QString& sEntry : entries)
        data += sEntry.toUtf8() + "\r\n";
    return data;
}

inline QString ListFilePath(const QString& sUuid, const char* pszName)
{
    return DeviceFolder(sUuid) + QString::fromLatin1(pszName);
}

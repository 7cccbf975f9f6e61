#pragma once

#include <QAbstractItemView>
#include <QByteArray>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

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

// A mouse click on the list's viewport, where the rows are drawn.
inline void ClickList(QAbstractItemView& list, const QPoint& pt, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mouseClick(list.viewport(), button, Qt::NoModifier, pt);
}

// Commits the list (which must leave it unmodified) and returns the bytes of its file.
template <class List> QByteArray CommitAndReadList(List& list, const QString& sUuid, const char* pszName)
{
    EXPECT_TRUE(list.Commit());
    EXPECT_FALSE(list.IsModified());
    return ReadTestFile(ListFilePath(sUuid, pszName));
}

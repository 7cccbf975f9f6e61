#include "sync/WatchedFolderRules.h"

#include <QDir>

#include "sync/DeviceLists.h"

QString WatchedFolderEntryPath(const QString& sFolder)
{
    QString sPath = QDir::cleanPath(QDir(sFolder).absolutePath());
    if (!sPath.endsWith('/'))
        sPath += '/';
    return sPath;
}

int FindWatchedFolder(const QStringList& entries, const QString& sFolder)
{
    const QString sPath = WatchedFolderEntryPath(sFolder);
    for (int i = 0; i < entries.size(); ++i) {
        if (ListLineText(entries[i]) == sPath)
            return i;
    }
    return -1;
}

EFolderAddResult AddWatchedFolder(QStringList* pEntries, const QString& sFolder, bool bTicked)
{
    if (pEntries->size() >= kMaxWatchedFolders)
        return FOLDER_LIST_FULL;
    if (FindWatchedFolder(*pEntries, sFolder) >= 0)
        return FOLDER_DUPLICATE;
    pEntries->append(WatchedFolderEntryPath(sFolder) + "|" + (bTicked ? "1" : "0"));
    return FOLDER_ADDED;
}

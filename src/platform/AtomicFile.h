#pragma once

#include <cerrno>

#include <QByteArray>
#include <QString>

#include "platform/WinTypes.h"

// Replaces a file's content all at once: the bytes go to a temporary file beside it, are synced
// to disk and renamed over the old file, so a crash leaves either the old or the new content.
// On failure the old file is untouched, the temporary file is removed, and *pError (if given)
// receives ERROR_DISK_FULL, ERROR_ACCESS_DENIED or another Windows-style code.
bool WriteFileAtomically(const QString& sPath, const QByteArray& data, DWORD* pError = nullptr);

// Writes all the bytes to the descriptor, retrying interrupted and short writes; false with
// *pnErrno (if given) set to the errno of the failed write.
bool WriteAllToFd(int fd, const char* pData, qsizetype nBytes, int* pnErrno = nullptr);

// Maps an errno value to the Windows-style error code the program's callers test for.
DWORD ErrorFromErrno(int nErrno);
// The errno values of a full disk (or a used-up quota), after which the main window is told.
inline bool IsDiskFullErrno(int nErrno)
{
    return nErrno == ENOSPC || nErrno == EDQUOT;
}

#include "platform/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

DWORD ErrorFromErrno(int nErrno)
{
    switch (nErrno) {
    case 0: return ERROR_SUCCESS;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case EACCES:
    case EISDIR:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case ETIMEDOUT: return ERROR_SEM_TIMEOUT;
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
    case ENOTCONN: return ERROR_NETNAME_DELETED;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ECONNREFUSED: return ERROR_BAD_NETPATH;
    default: return ERROR_GEN_FAILURE;
    }
}

bool WriteAllToFd(int fd, const char* p, qsizetype n, int* pnErrno)
{
    while (n > 0) {
        const ssize_t nDone = ::write(fd, p, static_cast<size_t>(n));
        if (nDone < 0) {
            if (errno == EINTR)
                continue;
            if (pnErrno)
                *pnErrno = errno;
            return false;
        }
        p += nDone;
        n -= nDone;
    }
    return true;
}

bool WriteFileAtomically(const QString& sPath, const QByteArray& data, DWORD* pError)
{
    const QByteArray target = QFile::encodeName(sPath);
    QByteArray temp = target + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        if (pError)
            *pError = ErrorFromErrno(errno);
        return false;
    }
    ::fchmod(fd, 0600);
    bool bOk = WriteAllToFd(fd, data.constData(), data.size()) && ::fsync(fd) == 0;
    int nErrno = bOk ? 0 : errno;
    if (::close(fd) != 0 && bOk) {
        bOk = false;
        nErrno = errno;
    }
    if (bOk && ::rename(temp.constData(), target.constData()) != 0) {
        bOk = false;
        nErrno = errno;
    }
    if (!bOk) {
        ::unlink(temp.constData());
        if (pError)
            *pError = ErrorFromErrno(nErrno);
        return false;
    }
    // Make the rename itself durable.
    const QByteArray dir = QFile::encodeName(QFileInfo(sPath).absolutePath());
    const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    if (pError)
        *pError = ERROR_SUCCESS;
    return true;
}

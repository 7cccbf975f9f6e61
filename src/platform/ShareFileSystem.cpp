#include "platform/ShareFileSystem.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QStringList>

#include "platform/AtomicFile.h"
#include "platform/SmbShareFileSystem.h"
#include "platform/TextCodec.h"

namespace {

// A path by its bytes: a name that is not UTF-8 is opened as it is on disk (FromNativeName).
QByteArray NativePath(const QString& sPath)
{
    return NativeNameBytes(sPath);
}

class CLocalReadFile final : public IShareReadFile
{
public:
    explicit CLocalReadFile(int fd) : m_fd(fd) {}
    ~CLocalReadFile() override { ::close(m_fd); }

    DWORD Read(char* pData, std::size_t nBytes, std::size_t* pnRead) override
    {
        for (;;) {
            const ssize_t nDone = ::read(m_fd, pData, nBytes);
            if (nDone >= 0) {
                *pnRead = static_cast<std::size_t>(nDone);
                return ERROR_SUCCESS;
            }
            if (errno != EINTR) {
                *pnRead = 0;
                return ErrorFromErrno(errno);
            }
        }
    }

    int Fd() const { return m_fd; }

private:
    int m_fd;
};

class CLocalWriteFile final : public IShareWriteFile
{
public:
    explicit CLocalWriteFile(int fd) : m_fd(fd) {}
    ~CLocalWriteFile() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    DWORD Write(const char* pData, std::size_t nBytes) override
    {
        while (nBytes > 0) {
            const ssize_t nDone = ::write(m_fd, pData, nBytes);
            if (nDone < 0) {
                if (errno == EINTR)
                    continue;
                return ErrorFromErrno(errno);
            }
            pData += nDone;
            nBytes -= static_cast<std::size_t>(nDone);
        }
        return ERROR_SUCCESS;
    }

    DWORD CopyFrom(IShareReadFile& source, std::size_t nBytes, std::size_t* pnCopied) override
    {
        *pnCopied = 0;
        auto* pLocal = dynamic_cast<CLocalReadFile*>(&source);
        if (!pLocal || m_bNoKernelCopy)
            return ERROR_NOT_SUPPORTED;
        for (;;) {
            const ssize_t nDone = ::copy_file_range(pLocal->Fd(), nullptr, m_fd, nullptr, nBytes, 0);
            if (nDone >= 0) {
                *pnCopied = static_cast<std::size_t>(nDone);
                return ERROR_SUCCESS;
            }
            if (errno == EINTR)
                continue;
            // File systems or kernels that cannot copy between these two files: nothing was
            // copied, and the caller falls back to reading and writing.
            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
                m_bNoKernelCopy = true;
                return ERROR_NOT_SUPPORTED;
            }
            return ErrorFromErrno(errno);
        }
    }

    DWORD Close() override
    {
        if (m_fd < 0)
            return ERROR_SUCCESS;
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
    }

private:
    int m_fd;
    bool m_bNoKernelCopy = false;
};

std::mutex g_mapMutex;
// Share roots in lower case without a trailing backslash → local folder.
std::map<QString, QString> g_shareRoots;

// "\\?\UNC\host\share\..." (the long form the copy builds) names "\\host\share\...".
QString WithoutLongPrefix(const QString& sSharePath)
{
    if (sSharePath.startsWith(QLatin1String("\\\\?\\UNC\\"), Qt::CaseInsensitive))
        return QLatin1String("\\\\") + sSharePath.mid(8);
    return sSharePath;
}

QString NormalizedRoot(const QString& sShareRoot)
{
    QString sRoot = WithoutLongPrefix(sShareRoot);
    while (sRoot.endsWith('\\'))
        sRoot.chop(1);
    return sRoot.toLower();
}

} // namespace

QString CollapseSeparators(const QString& sPath, QChar cSeparator)
{
    QString sCollapsed;
    sCollapsed.reserve(sPath.size());
    for (const QChar c : sPath) {
        if (c != cSeparator || !sCollapsed.endsWith(cSeparator))
            sCollapsed += c;
    }
    return sCollapsed;
}

bool IsSharePath(const QString& sPath)
{
    return sPath.startsWith(QLatin1String("\\\\"));
}

bool CLocalShareFileSystem::PathExists(const QString& sPath)
{
    struct stat st
    {
    };
    return ::stat(NativePath(sPath).constData(), &st) == 0;
}

DWORD CLocalShareFileSystem::CreateFolder(const QString& sPath)
{
    if (::mkdir(NativePath(sPath).constData(), 0777) == 0)
        return ERROR_SUCCESS;
    const int nErrno = errno;
    if (nErrno == EEXIST) {
        struct stat st
        {
        };
        if (::stat(NativePath(sPath).constData(), &st) == 0 && S_ISDIR(st.st_mode))
            return ERROR_ALREADY_EXISTS;
        return ERROR_ACCESS_DENIED; // a file of that name is in the way
    }
    return nErrno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(nErrno);
}

std::unique_ptr<IShareWriteFile> CLocalShareFileSystem::CreateFile(const QString& sPath, DWORD* pdwError)
{
    const int fd = ::open(NativePath(sPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (pdwError)
            *pdwError = errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno);
        return nullptr;
    }
    if (pdwError)
        *pdwError = ERROR_SUCCESS;
    return std::make_unique<CLocalWriteFile>(fd);
}

std::unique_ptr<IShareReadFile> CLocalShareFileSystem::OpenForRead(const QString& sPath, DWORD* pdwError)
{
    const int fd = ::open(NativePath(sPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (pdwError)
            *pdwError = ErrorFromErrno(errno);
        return nullptr;
    }
    if (pdwError)
        *pdwError = ERROR_SUCCESS;
    return std::make_unique<CLocalReadFile>(fd);
}

DWORD CLocalShareFileSystem::DeleteFile(const QString& sPath)
{
    return ::unlink(NativePath(sPath).constData()) == 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
}

DWORD CLocalShareFileSystem::Rename(const QString& sFrom, const QString& sTo)
{
    return ::rename(NativePath(sFrom).constData(), NativePath(sTo).constData()) == 0 ? ERROR_SUCCESS
                                                                                     : ErrorFromErrno(errno);
}

DWORD CLocalShareFileSystem::ListFiles(const QString& sFolder, QStringList* pNames)
{
    pNames->clear();
    DIR* pDir = ::opendir(NativePath(sFolder).constData());
    if (!pDir)
        return errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno);
    while (const dirent* pEntry = ::readdir(pDir)) {
        struct stat st
        {
        };
        if (::fstatat(::dirfd(pDir), pEntry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            pNames->append(FromNativeName(pEntry->d_name, std::strlen(pEntry->d_name)));
    }
    ::closedir(pDir);
    return ERROR_SUCCESS;
}

CShareFileSystem::CShareFileSystem() = default;
CShareFileSystem::~CShareFileSystem() = default;

void CShareFileSystem::MapShareRoot(const QString& sShareRoot, const QString& sLocalFolder)
{
    std::lock_guard lock(g_mapMutex);
    g_shareRoots[NormalizedRoot(sShareRoot)] = sLocalFolder;
}

void CShareFileSystem::UnmapShareRoot(const QString& sShareRoot)
{
    std::lock_guard lock(g_mapMutex);
    g_shareRoots.erase(NormalizedRoot(sShareRoot));
}

void CShareFileSystem::UnmapAllShareRoots()
{
    std::lock_guard lock(g_mapMutex);
    g_shareRoots.clear();
}

QString CShareFileSystem::MappedLocalPath(const QString& sPath)
{
    if (!IsSharePath(sPath))
        return QString();
    const QString sSharePath = WithoutLongPrefix(sPath);
    // "\\host\share" is the root; the rest (with its backslashes) is the path below it.
    const qsizetype nHostEnd = sSharePath.indexOf('\\', 2);
    if (nHostEnd < 0)
        return QString();
    qsizetype nShareEnd = sSharePath.indexOf('\\', nHostEnd + 1);
    if (nShareEnd < 0)
        nShareEnd = sSharePath.size();
    const QString sRoot = sSharePath.left(nShareEnd).toLower();
    std::lock_guard lock(g_mapMutex);
    const auto it = g_shareRoots.find(sRoot);
    if (it == g_shareRoots.end())
        return QString();
    QString sRest = sSharePath.mid(nShareEnd);
    sRest.replace('\\', '/');
    return it->second + CollapseSeparators(sRest, '/');
}

IShareFileSystem* CShareFileSystem::Route(const QString& sPath, QString* psRoutedPath, DWORD* pdwError)
{
    *pdwError = ERROR_SUCCESS;
    if (!IsSharePath(sPath)) {
        *psRoutedPath = sPath;
        return &m_local;
    }
    const QString sMapped = MappedLocalPath(sPath);
    if (!sMapped.isEmpty()) {
        // A share server refuses ".." itself; a mapped folder must do the same, or a target path
        // could reach files outside the share's folder.
        const QStringList segments = sPath.mid(2).split('\\');
        if (segments.contains(QLatin1String(".."))) {
            *pdwError = ERROR_INVALID_NAME;
            return nullptr;
        }
        *psRoutedPath = sMapped;
        return &m_local;
    }
    *psRoutedPath = sPath;
    // Shares that are not mapped to a folder are reached over SMB. The back end (and its library
    // context) is made on first use, on the thread that uses this instance.
    if (!m_pRemote)
        m_pRemote = std::make_unique<CSmbShareFileSystem>();
    return m_pRemote.get();
}

bool CShareFileSystem::PathExists(const QString& sPath)
{
    QString sRouted;
    DWORD dwError = ERROR_SUCCESS;
    IShareFileSystem* pFs = Route(sPath, &sRouted, &dwError);
    return pFs && pFs->PathExists(sRouted);
}

DWORD CShareFileSystem::CreateFolder(const QString& sPath)
{
    QString sRouted;
    DWORD dwError = ERROR_SUCCESS;
    IShareFileSystem* pFs = Route(sPath, &sRouted, &dwError);
    return pFs ? pFs->CreateFolder(sRouted) : dwError;
}

std::unique_ptr<IShareWriteFile> CShareFileSystem::CreateFile(const QString& sPath, DWORD* pdwError)
{
    QString sRouted;
    DWORD dwError = ERROR_SUCCESS;
    IShareFileSystem* pFs = Route(sPath, &sRouted, &dwError);
    if (!pFs) {
        if (pdwError)
            *pdwError = dwError;
        return nullptr;
    }
    return pFs->CreateFile(sRouted, pdwError);
}

std::unique_ptr<IShareReadFile> CShareFileSystem::OpenForRead(const QString& sPath, DWORD* pdwError)
{
    QString sRouted;
    DWORD dwError = ERROR_SUCCESS;
    IShareFileSystem* pFs = Route(sPath, &sRouted, &dwError);
    if (!pFs) {
        if (pdwError)
            *pdwError = dwError;
        return nullptr;
    }
    return pFs->OpenForRead(sRouted, pdwError);
}

DWORD CShareFileSystem::Rename(const QString& sFrom, const QString& sTo)
{
    QString sRoutedFrom;
    QString sRoutedTo;
    DWORD dwError = ERROR_SUCCESS;
    IShareFileSystem* pFs = Route(sFrom, &sRoutedFrom, &dwError);
    if (!pFs)
        return dwError;
    if (Route(sTo, &sRoutedTo, &dwError) != pFs)
        return dwError != ERROR_SUCCESS ? dwError : static_cast<DWORD>(ERROR_NOT_SAME_DEVICE);
    return pFs->Rename(sRoutedFrom, sRoutedTo);
}

DWORD CShareFileSystem::ListFiles(const QString& sFolder, QStringList* pNames)
{
    QString sRouted;
    DWORD dwError = ERROR_SUCCESS;
    IShareFileSystem* pFs = Route(sFolder, &sRouted, &dwError);
    if (!pFs) {
        pNames->clear();
        return dwError;
    }
    return pFs->ListFiles(sRouted, pNames);
}

DWORD CShareFileSystem::DeleteFile(const QString& sPath)
{
    QString sRouted;
    DWORD dwError = ERROR_SUCCESS;
    IShareFileSystem* pFs = Route(sPath, &sRouted, &dwError);
    return pFs ? pFs->DeleteFile(sRouted) : dwError;
}

#pragma once

#include <cstddef>
#include <memory>

#include <QString>
#include <QStringList>

#include "platform/WinTypes.h"

// The share file layer: the few file operations the copy to a player needs, on local paths and
// on player shares named "\\host\share\folder\file". Results are Windows-style error codes
// (ERROR_SUCCESS, ERROR_DISK_FULL, ERROR_ACCESS_DENIED, ...), because the copy decides by them.
//
// An instance is used by one thread only: remote back ends keep per-thread connection state.

class IShareReadFile;

// A file being written; it is created (or emptied) by CreateFile.
class IShareWriteFile
{
public:
    virtual ~IShareWriteFile() = default;
    virtual DWORD Write(const char* pData, std::size_t nBytes) = 0;
    // Copies up to nBytes from the source's current position into this file without the bytes
    // passing through the caller (a copy inside the kernel between two local files); *pnCopied
    // = 0 at the end of the source. ERROR_NOT_SUPPORTED, with nothing copied, when this pair of
    // files cannot do that: the caller then reads and writes the block itself.
    virtual DWORD CopyFrom(IShareReadFile& source, std::size_t nBytes, std::size_t* pnCopied)
    {
        (void)source;
        (void)nBytes;
        *pnCopied = 0;
        return ERROR_NOT_SUPPORTED;
    }
    // Flushes and closes; a write error that surfaces only now is returned here.
    virtual DWORD Close() = 0;
};

// A file being read (the source side of a copy).
class IShareReadFile
{
public:
    virtual ~IShareReadFile() = default;
    // Reads up to nBytes; *pnRead = 0 at the end of the file.
    virtual DWORD Read(char* pData, std::size_t nBytes, std::size_t* pnRead) = 0;
};

class IShareFileSystem
{
public:
    virtual ~IShareFileSystem() = default;
    virtual bool PathExists(const QString& sPath) = 0;
    // ERROR_SUCCESS when created, ERROR_ALREADY_EXISTS when it is there, another code otherwise.
    virtual DWORD CreateFolder(const QString& sPath) = 0;
    // Creates or replaces the file; nullptr and *pdwError on failure.
    virtual std::unique_ptr<IShareWriteFile> CreateFile(const QString& sPath, DWORD* pdwError) = 0;
    virtual std::unique_ptr<IShareReadFile> OpenForRead(const QString& sPath, DWORD* pdwError) = 0;
    virtual DWORD DeleteFile(const QString& sPath) = 0;
    // Gives a file another name in the same share, replacing a file of that name.
    virtual DWORD Rename(const QString& sFrom, const QString& sTo) = 0;
    // The names of the files (not folders) in a folder; ERROR_PATH_NOT_FOUND when it is missing.
    virtual DWORD ListFiles(const QString& sFolder, QStringList* pNames) = 0;
};

// Native files and folders of this machine, by POSIX path.
class CLocalShareFileSystem final : public IShareFileSystem
{
public:
    bool PathExists(const QString& sPath) override;
    DWORD CreateFolder(const QString& sPath) override;
    std::unique_ptr<IShareWriteFile> CreateFile(const QString& sPath, DWORD* pdwError) override;
    std::unique_ptr<IShareReadFile> OpenForRead(const QString& sPath, DWORD* pdwError) override;
    DWORD DeleteFile(const QString& sPath) override;
    DWORD Rename(const QString& sFrom, const QString& sTo) override;
    DWORD ListFiles(const QString& sFolder, QStringList* pNames) override;
};

// The layer the program uses: local paths go to the local back end; a share path goes to the
// local back end when its share root is mapped to a folder (tests, shares the user mounted),
// else to the network back end. Create one per thread.
class CShareFileSystem final : public IShareFileSystem
{
public:
    CShareFileSystem();
    ~CShareFileSystem() override;

    bool PathExists(const QString& sPath) override;
    DWORD CreateFolder(const QString& sPath) override;
    std::unique_ptr<IShareWriteFile> CreateFile(const QString& sPath, DWORD* pdwError) override;
    std::unique_ptr<IShareReadFile> OpenForRead(const QString& sPath, DWORD* pdwError) override;
    DWORD DeleteFile(const QString& sPath) override;
    DWORD Rename(const QString& sFrom, const QString& sTo) override;
    DWORD ListFiles(const QString& sFolder, QStringList* pNames) override;

    // Process-wide mapping of a share root ("\\127.0.0.2\Tolva_Internal") to a local folder.
    static void MapShareRoot(const QString& sShareRoot, const QString& sLocalFolder);
    static void UnmapShareRoot(const QString& sShareRoot);
    static void UnmapAllShareRoots();
    // The local path a share path maps to, or empty when its root is not mapped.
    static QString MappedLocalPath(const QString& sSharePath);

private:
    // The back end for a path, and the path in that back end's terms; nullptr and *pdwError
    // (ERROR_BAD_NETPATH: no back end reaches it; ERROR_INVALID_NAME: a ".." step) otherwise.
    IShareFileSystem* Route(const QString& sPath, QString* psRoutedPath, DWORD* pdwError);

    CLocalShareFileSystem m_local;
    std::unique_ptr<IShareFileSystem> m_pRemote;
};

// The text with every run of the separator shortened to one (two backslashes in a row become one).
QString CollapseSeparators(const QString& sPath, QChar cSeparator);

// True for "\\host\share..." paths.
bool IsSharePath(const QString& sPath);

#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include <QByteArray>
#include <QString>

#include "platform/ShareFileSystem.h"

// Credentials for one share. The players' shares take a guest logon: user "guest" with an
// empty password (the server maps the unknown user to its guest account); when that logon is
// refused, an anonymous logon is tried.
struct SSmbCredentials
{
    QString sWorkgroup = QStringLiteral("WORKGROUP");
    QString sUser = QStringLiteral("guest");
    QString sPassword;
};

// How the SMB back end reaches a server.
struct SSmbConfig
{
    // TCP port of the servers; the players listen on 445. Tests run their server elsewhere.
    std::uint16_t nPort = 445;
    // Longest wait for a connection or for the answer to one request. A player that vanished
    // (cable, power) is noticed after this time instead of the library's 20 s; it stays long
    // enough for a player's disk to spin up on the first request.
    int nTimeoutMs = 10000;
    // Written data is gathered into SMB writes of this size (see CSmbShareFileSystem::CreateFile);
    // 0 or anything up to one caller block writes each block as it comes.
    std::size_t nWriteGatherBytes = 1024 * 1024;
    // Credentials per share; empty means the guest logon above.
    std::function<SSmbCredentials(const QString& sHost, const QString& sShare)> credentials;
    // For tests: the errno with which deleting the file of this smb:// URL fails without asking
    // the server (a connection that broke just then), or 0 to delete it. The remembered partial
    // files (see DeleteFile) hang on such failures, which a real server gives only by chance.
    std::function<int(const QByteArray& url)> deleteFault;
};

// The configuration that newly created SMB back ends take (process-wide; the share file layer
// creates its back end lazily on the thread that uses it).
SSmbConfig DefaultSmbConfig();
void SetDefaultSmbConfig(const SSmbConfig& config);

// The share file layer on a real SMB server through libsmbclient: "\\host\share\a\b.mp3" is
// smb://host/share/a/b.mp3. Results are the layer's Windows-style codes: ERROR_DISK_FULL for a
// full disk, ERROR_ACCESS_DENIED for a refused or read-only share, and for a server that is
// gone, a broken connection or a time-out another code (ERROR_NETNAME_DELETED,
// ERROR_BAD_NETPATH, ERROR_SEM_TIMEOUT, ...), never one of those two.
//
// Each instance owns one library context, created on first use by the calling thread and freed
// with the instance (or with the last file it opened, whichever ends later). Use an instance from
// one thread only. The library keeps process-wide state that is not safe across threads, so all
// calls into it, from every instance, take turns on one lock; a call waits at most for another
// instance's request to end, which the time-out bounds.
class CSmbShareFileSystem final : public IShareFileSystem
{
public:
    explicit CSmbShareFileSystem(SSmbConfig config = DefaultSmbConfig());
    ~CSmbShareFileSystem() override;
    CSmbShareFileSystem(const CSmbShareFileSystem&) = delete;
    CSmbShareFileSystem& operator=(const CSmbShareFileSystem&) = delete;

    bool PathExists(const QString& sPath) override;
    DWORD CreateFolder(const QString& sPath) override;
    // Creates or replaces the file. Writes are gathered up to the configured size before they go
    // to the server, so a write error can surface at a later Write or at Close; after an error
    // every further Write and the Close return it. The caller deletes the file after a failure.
    std::unique_ptr<IShareWriteFile> CreateFile(const QString& sPath, DWORD* pdwError) override;
    std::unique_ptr<IShareReadFile> OpenForRead(const QString& sPath, DWORD* pdwError) override;
    // Deletes the file. When that fails because the server is gone, the file is remembered
    // (process-wide) and deleted by the next call to that server, from any instance, before that
    // call's own work: a partial file does not outlive the server's return.
    DWORD DeleteFile(const QString& sPath) override;
    // Renames within one share; a file of the new name is replaced.
    DWORD Rename(const QString& sFrom, const QString& sTo) override;
    DWORD ListFiles(const QString& sFolder, QStringList* pNames) override;

    // The smb:// URL of a share path ("\\host\share\folder\file", doubled and trailing
    // backslashes allowed, also in the "\\?\UNC\host\share" form), each name percent-encoded as
    // UTF-8. Empty when the path names no share, or holds a host that is not a plain name or
    // address, or a "." or ".." folder.
    static QByteArray SmbUrl(const QString& sSharePath);
    // The code for an errno value that the library left after a failed call.
    static DWORD ErrorFromSmbErrno(int nErrno);

    // After a server did not answer in time or refused the connection, this instance does not ask
    // it again for this long (clock time), except to delete a file: it answers at once with the
    // same error. Without it, each step of the copy that follows (folder tests, folder creation,
    // creating the file) would wait out the time-out again. The copy's retry pause is longer.
    static constexpr std::int64_t kUnreachableHoldMs = 3000;

    class CContext;

private:
    // The context, created on first use; nullptr and *pdwError when the library cannot start.
    CContext* Context(DWORD* pdwError);
    // The URL of a share path and the context to reach it; nullptr and *pdwError for a path
    // that names no share, or (bHonourHold) while its server is held off.
    CContext* Prepare(const QString& sPath, bool bHonourHold, QByteArray* pUrl, DWORD* pdwError);

    SSmbConfig m_config;
    std::shared_ptr<CContext> m_pContext;
};

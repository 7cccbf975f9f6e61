#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include <QString>

#include "platform/ShareFileSystem.h"

// Faults to inject into the share file layer. Each hook returns ERROR_SUCCESS to let the real
// operation run, or the error the operation reports instead. Hooks run on the thread that uses
// the layer (the transfer thread), so what they touch must be thread-safe.
struct SShareFaults
{
    // Sees every existence check (they cost the device round trips); changes nothing.
    std::function<void(const QString& sPath)> pathExists;
    std::function<DWORD(const QString& sPath)> createFolder;
    std::function<DWORD(const QString& sPath)> createFile;
    std::function<DWORD(const QString& sPath)> openForRead;
    // nOffset: bytes already written to this file.
    std::function<DWORD(const QString& sPath, std::uint64_t nOffset, std::size_t nBytes)> write;
    // nOffset: bytes already read from this file.
    std::function<DWORD(const QString& sPath, std::uint64_t nOffset)> read;
    std::function<DWORD(const QString& sPath)> close;
    // sPath: the name the file is given (its final name on the share).
    std::function<DWORD(const QString& sPath)> rename;
    // A copy inside the kernel (CopyFrom) that fails with this error; without it, or when it
    // returns ERROR_SUCCESS, the layer copies block by block through Read and Write.
    std::function<DWORD(const QString& sPath)> copyFrom;
};

// The program's share file layer (mapped share roots, local files) with faults injected: a
// full share, a read-only share, a device that vanishes in the middle of a write.
class CFaultyShareFileSystem final : public IShareFileSystem
{
public:
    explicit CFaultyShareFileSystem(std::shared_ptr<const SShareFaults> pFaults) : m_pFaults(std::move(pFaults)) {}

    bool PathExists(const QString& sPath) override
    {
        if (m_pFaults->pathExists)
            m_pFaults->pathExists(sPath);
        return m_real.PathExists(sPath);
    }

    DWORD CreateFolder(const QString& sPath) override
    {
        if (m_pFaults->createFolder) {
            const DWORD dwError = m_pFaults->createFolder(sPath);
            if (dwError != ERROR_SUCCESS)
                return dwError;
        }
        return m_real.CreateFolder(sPath);
    }

    std::unique_ptr<IShareWriteFile> CreateFile(const QString& sPath, DWORD* pdwError) override
    {
        if (m_pFaults->createFile) {
            const DWORD dwError = m_pFaults->createFile(sPath);
            if (dwError != ERROR_SUCCESS) {
                *pdwError = dwError;
                return nullptr;
            }
        }
        std::unique_ptr<IShareWriteFile> pFile = m_real.CreateFile(sPath, pdwError);
        if (!pFile)
            return nullptr;
        return std::make_unique<CWriteFile>(m_pFaults, sPath, std::move(pFile));
    }

    std::unique_ptr<IShareReadFile> OpenForRead(const QString& sPath, DWORD* pdwError) override
    {
        if (m_pFaults->openForRead) {
            const DWORD dwError = m_pFaults->openForRead(sPath);
            if (dwError != ERROR_SUCCESS) {
                *pdwError = dwError;
                return nullptr;
            }
        }
        std::unique_ptr<IShareReadFile> pFile = m_real.OpenForRead(sPath, pdwError);
        if (!pFile)
            return nullptr;
        return std::make_unique<CReadFile>(m_pFaults, sPath, std::move(pFile));
    }

    DWORD DeleteFile(const QString& sPath) override { return m_real.DeleteFile(sPath); }
    DWORD Rename(const QString& sFrom, const QString& sTo) override
    {
        if (m_pFaults->rename) {
            const DWORD dwError = m_pFaults->rename(sTo);
            if (dwError != ERROR_SUCCESS)
                return dwError;
        }
        return m_real.Rename(sFrom, sTo);
    }
    DWORD ListFiles(const QString& sFolder, QStringList* pNames) override { return m_real.ListFiles(sFolder, pNames); }

private:
    class CWriteFile final : public IShareWriteFile
    {
    public:
        CWriteFile(std::shared_ptr<const SShareFaults> pFaults, QString sPath, std::unique_ptr<IShareWriteFile> pReal)
            : m_pFaults(std::move(pFaults)), m_sPath(std::move(sPath)), m_pReal(std::move(pReal))
        {}
        DWORD Write(const char* pData, std::size_t nBytes) override
        {
            if (m_pFaults->write) {
                const DWORD dwError = m_pFaults->write(m_sPath, m_nWritten, nBytes);
                if (dwError != ERROR_SUCCESS)
                    return dwError;
            }
            const DWORD dwError = m_pReal->Write(pData, nBytes);
            if (dwError == ERROR_SUCCESS)
                m_nWritten += nBytes;
            return dwError;
        }
        DWORD CopyFrom(IShareReadFile&, std::size_t, std::size_t* pnCopied) override
        {
            *pnCopied = 0;
            const DWORD dwError = m_pFaults->copyFrom ? m_pFaults->copyFrom(m_sPath) : ERROR_SUCCESS;
            return dwError == ERROR_SUCCESS ? static_cast<DWORD>(ERROR_NOT_SUPPORTED) : dwError;
        }
        DWORD Close() override
        {
            const DWORD dwReal = m_pReal->Close();
            if (dwReal == ERROR_SUCCESS && m_pFaults->close)
                return m_pFaults->close(m_sPath);
            return dwReal;
        }

    private:
        std::shared_ptr<const SShareFaults> m_pFaults;
        QString m_sPath;
        std::unique_ptr<IShareWriteFile> m_pReal;
        std::uint64_t m_nWritten = 0;
    };

    class CReadFile final : public IShareReadFile
    {
    public:
        CReadFile(std::shared_ptr<const SShareFaults> pFaults, QString sPath, std::unique_ptr<IShareReadFile> pReal)
            : m_pFaults(std::move(pFaults)), m_sPath(std::move(sPath)), m_pReal(std::move(pReal))
        {}
        DWORD Read(char* pData, std::size_t nBytes, std::size_t* pnRead) override
        {
            if (m_pFaults->read) {
                const DWORD dwError = m_pFaults->read(m_sPath, m_nRead);
                if (dwError != ERROR_SUCCESS) {
                    *pnRead = 0;
                    return dwError;
                }
            }
            const DWORD dwError = m_pReal->Read(pData, nBytes, pnRead);
            m_nRead += *pnRead;
            return dwError;
        }

    private:
        std::shared_ptr<const SShareFaults> m_pFaults;
        QString m_sPath;
        std::unique_ptr<IShareReadFile> m_pReal;
        std::uint64_t m_nRead = 0;
    };

    std::shared_ptr<const SShareFaults> m_pFaults;
    CShareFileSystem m_real;
};

// True when a share path lies under the share root (both in backslash form, case-insensitive
// as share names are).
inline bool IsUnderShareRoot(const QString& sPath, const QString& sShareRoot)
{
    return sPath.compare(sShareRoot, Qt::CaseInsensitive) == 0 ||
           sPath.startsWith(sShareRoot + "\\", Qt::CaseInsensitive);
}

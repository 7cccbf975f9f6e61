#include <gtest/gtest.h>

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform/AtomicFile.h"
#include "platform/ShareFileSystem.h"
#include "support/QtPrinters.h"
#include "support/TestHome.h"

namespace {

DWORD WriteWhole(IShareFileSystem& fs, const QString& sPath, const QByteArray& data)
{
    DWORD dwError = ERROR_GEN_FAILURE;
    std::unique_ptr<IShareWriteFile> pFile = fs.CreateFile(sPath, &dwError);
    if (!pFile)
        return dwError;
    if ((dwError = pFile->Write(data.constData(), static_cast<std::size_t>(data.size()))) != ERROR_SUCCESS)
        return dwError;
    return pFile->Close();
}

QByteArray ReadWhole(IShareFileSystem& fs, const QString& sPath, DWORD* pdwError)
{
    std::unique_ptr<IShareReadFile> pFile = fs.OpenForRead(sPath, pdwError);
    QByteArray data;
    if (!pFile)
        return data;
    char buffer[7]; // small on purpose: several reads per file
    for (;;) {
        std::size_t nRead = 0;
        *pdwError = pFile->Read(buffer, sizeof buffer, &nRead);
        if (*pdwError != ERROR_SUCCESS || nRead == 0)
            return data;
        data.append(buffer, static_cast<qsizetype>(nRead));
    }
}

QStringList EntriesBelow(const QString& sFolder)
{
    QStringList entries;
    QDir dir(sFolder);
    for (const QFileInfo& info : dir.entryInfoList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
        entries << info.fileName();
        if (info.isDir() && !info.isSymLink()) {
            for (const QString& sChild : EntriesBelow(info.filePath()))
                entries << info.fileName() + "/" + sChild;
        }
    }
    return entries;
}

} // namespace

TEST(LocalShareFileSystem, FoldersFilesAndTheirErrorCodes)
{
    QTemporaryDir dir;
    CShareFileSystem fs;
    const QString sFolder = dir.path() + "/Music";
    EXPECT_EQ(fs.CreateFolder(sFolder), ERROR_SUCCESS);
    EXPECT_EQ(fs.CreateFolder(sFolder), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(fs.CreateFolder(dir.path() + "/missing/child"), ERROR_PATH_NOT_FOUND);

    const QString sFile = sFolder + "/a.mp3";
    EXPECT_EQ(WriteWhole(fs, sFile, "first content"), ERROR_SUCCESS);
    EXPECT_EQ(WriteWhole(fs, sFile, "second"), ERROR_SUCCESS) << "an existing file is replaced";
    DWORD dwError = ERROR_GEN_FAILURE;
    EXPECT_EQ(ReadWhole(fs, sFile, &dwError), QByteArray("second"));
    EXPECT_EQ(dwError, ERROR_SUCCESS);
    EXPECT_TRUE(fs.PathExists(sFile));
    EXPECT_EQ(fs.CreateFolder(sFile), ERROR_ACCESS_DENIED) << "a file in the way is no existing folder";

    EXPECT_EQ(fs.DeleteFile(sFile), ERROR_SUCCESS);
    EXPECT_FALSE(fs.PathExists(sFile));
    EXPECT_EQ(fs.DeleteFile(sFile), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(fs.OpenForRead(sFile, &dwError), nullptr);
    EXPECT_EQ(dwError, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(fs.CreateFile(dir.path() + "/missing/a.mp3", &dwError), nullptr);
    EXPECT_EQ(dwError, ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(fs.CreateFile(sFolder, &dwError), nullptr);
    EXPECT_EQ(dwError, ERROR_ACCESS_DENIED) << "a folder cannot be written as a file";
    EXPECT_EQ(fs.DeleteFile(sFolder), ERROR_ACCESS_DENIED);
}

TEST(LocalShareFileSystem, AMappedShareRootRoutesIntoItsFolder)
{
    CTestHome home;
    const QString sInternal = home.Path("player/internal");
    ASSERT_TRUE(QDir().mkpath(sInternal));
    CShareFileSystem::MapShareRoot("\\\\127.0.0.2\\Tolva_Internal\\", sInternal);
    EXPECT_EQ(CShareFileSystem::MappedLocalPath("\\\\127.0.0.2\\Tolva_Internal\\OFFICE\\Music\\a.mp3"),
              sInternal + "/OFFICE/Music/a.mp3");
    EXPECT_EQ(CShareFileSystem::MappedLocalPath("\\\\127.0.0.2\\TOLVA_INTERNAL"), sInternal)
        << "share names are not case-sensitive";
    EXPECT_EQ(CShareFileSystem::MappedLocalPath("\\\\127.0.0.2\\Tolva_External\\x"), QString());
    EXPECT_EQ(CShareFileSystem::MappedLocalPath("/home/ann/a.mp3"), QString());

    CShareFileSystem fs;
    const QString sShare = "\\\\127.0.0.2\\Tolva_Internal";
    EXPECT_TRUE(fs.PathExists(sShare));
    EXPECT_EQ(fs.CreateFolder(sShare + "\\OFFICE"), ERROR_SUCCESS);
    EXPECT_EQ(fs.CreateFolder(sShare + "\\OFFICE\\Music"), ERROR_SUCCESS);
    EXPECT_EQ(fs.CreateFolder(sShare + "\\OFFICE\\Music"), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(WriteWhole(fs, sShare + "\\OFFICE\\Music\\a.mp3", "ID3 data"), ERROR_SUCCESS);
    EXPECT_EQ(ReadTestFile(sInternal + "/OFFICE/Music/a.mp3"), QByteArray("ID3 data"));
    EXPECT_EQ(fs.DeleteFile(sShare + "\\OFFICE\\Music\\a.mp3"), ERROR_SUCCESS);
    EXPECT_FALSE(QFileInfo::exists(sInternal + "/OFFICE/Music/a.mp3"));

    CShareFileSystem::UnmapShareRoot(sShare);
    EXPECT_EQ(CShareFileSystem::MappedLocalPath(sShare + "\\OFFICE"), QString());
}

TEST(LocalShareFileSystem, StepsUpOutOfAMappedShareAreRefused)
{
    CTestHome home;
    const QString sInternal = home.Path("player/internal");
    ASSERT_TRUE(QDir().mkpath(sInternal));
    CShareFileSystem::MapShareRoot("\\\\127.0.0.2\\Tolva_Internal", sInternal);
    CShareFileSystem fs;
    DWORD dwError = ERROR_SUCCESS;
    EXPECT_EQ(fs.CreateFile("\\\\127.0.0.2\\Tolva_Internal\\..\\escaped.mp3", &dwError), nullptr);
    EXPECT_EQ(dwError, ERROR_INVALID_NAME);
    EXPECT_EQ(fs.CreateFolder("\\\\127.0.0.2\\Tolva_Internal\\OFFICE\\..\\..\\escaped"), ERROR_INVALID_NAME);
    EXPECT_EQ(fs.DeleteFile("\\\\127.0.0.2\\Tolva_Internal\\..\\internal\\x"), ERROR_INVALID_NAME);
    EXPECT_FALSE(fs.PathExists("\\\\127.0.0.2\\Tolva_Internal\\.."));
    EXPECT_EQ(EntriesBelow(home.Path("player")), QStringList({"internal"}));
    // Dots inside a name are ordinary.
    EXPECT_EQ(WriteWhole(fs, "\\\\127.0.0.2\\Tolva_Internal\\..a..mp3", "x"), ERROR_SUCCESS);
}

TEST(LocalShareFileSystem, AnUnreachableShareGivesAnErrorNotACrash)
{
    CTestHome home;
    CShareFileSystem fs;
    // Nothing listens on 127.0.0.9, and no folder is mapped for it.
    const QString sPath = "\\\\127.0.0.9\\Tolva_Internal\\OFFICE\\a.mp3";
    DWORD dwError = ERROR_SUCCESS;
    EXPECT_FALSE(fs.PathExists(sPath));
    EXPECT_EQ(fs.CreateFile(sPath, &dwError), nullptr);
    EXPECT_NE(dwError, ERROR_SUCCESS);
    EXPECT_NE(fs.CreateFolder("\\\\127.0.0.9\\Tolva_Internal\\OFFICE"), ERROR_SUCCESS);
    EXPECT_NE(fs.DeleteFile(sPath), ERROR_SUCCESS);
    dwError = ERROR_SUCCESS;
    EXPECT_EQ(fs.OpenForRead(sPath, &dwError), nullptr);
    EXPECT_NE(dwError, ERROR_SUCCESS);
}

TEST(LocalShareFileSystem, AFullDiskIsReportedAsDiskFull)
{
    CTestHome home;
    const QString sInternal = home.Path("player/internal");
    ASSERT_TRUE(QDir().mkpath(sInternal + "/OFFICE"));
    // Every write to /dev/full fails with "no space left on device".
    ASSERT_EQ(::symlink("/dev/full", QFile::encodeName(sInternal + "/OFFICE/a.mp3").constData()), 0);
    CShareFileSystem::MapShareRoot("\\\\127.0.0.2\\Tolva_Internal", sInternal);
    CShareFileSystem fs;
    DWORD dwError = ERROR_GEN_FAILURE;
    std::unique_ptr<IShareWriteFile> pFile = fs.CreateFile("\\\\127.0.0.2\\Tolva_Internal\\OFFICE\\a.mp3", &dwError);
    ASSERT_NE(pFile, nullptr);
    const QByteArray block(262144, 'x');
    EXPECT_EQ(pFile->Write(block.constData(), static_cast<std::size_t>(block.size())), ERROR_DISK_FULL);
    EXPECT_EQ(pFile->Close(), ERROR_SUCCESS);
    EXPECT_EQ(pFile->Close(), ERROR_SUCCESS) << "closing twice is harmless";
}

TEST(AtomicFile, ReplacesWholeFilesAndLeavesNothingBehindOnFailure)
{
    QTemporaryDir dir;
    const QString sPath = dir.path() + "/TransferHistory.txt";
    DWORD dwError = ERROR_GEN_FAILURE;
    ASSERT_TRUE(WriteFileAtomically(sPath, "old\r\n", &dwError));
    EXPECT_EQ(dwError, ERROR_SUCCESS);
    ASSERT_TRUE(WriteFileAtomically(sPath, "new\r\n"));
    EXPECT_EQ(ReadTestFile(sPath), QByteArray("new\r\n"));
    EXPECT_EQ(EntriesBelow(dir.path()), QStringList({"TransferHistory.txt"})) << "no temporary file is left";

    EXPECT_FALSE(WriteFileAtomically(dir.path() + "/missing/list.dat", "x", &dwError));
    EXPECT_EQ(dwError, ERROR_FILE_NOT_FOUND);

    // A folder in the target's place: the rename fails, the folder and its content stay.
    ASSERT_TRUE(QDir().mkpath(dir.path() + "/busy"));
    WriteTestFile(dir.path() + "/busy/keep", "kept");
    EXPECT_FALSE(WriteFileAtomically(dir.path() + "/busy", "x", &dwError));
    EXPECT_NE(dwError, ERROR_SUCCESS);
    EXPECT_EQ(ReadTestFile(dir.path() + "/busy/keep"), QByteArray("kept"));
    EXPECT_EQ(EntriesBelow(dir.path()), QStringList({"busy", "busy/keep", "TransferHistory.txt"}));
}

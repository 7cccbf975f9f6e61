#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "foundation/Paths.h"
#include "platform/Diagnostics.h"
#include "platform/ShareFileSystem.h"
#include "platform/SmbShareFileSystem.h"
#include "support/SambaServer.h"
#include "support/TestHome.h"

namespace {

constexpr std::size_t kBlock = 262144;

QByteArray Pattern(std::size_t nBytes, unsigned nSeed)
{
    QByteArray data(static_cast<qsizetype>(nBytes), '\0');
    unsigned nState = nSeed * 2654435761u + 1;
    for (qsizetype i = 0; i < data.size(); ++i) {
        nState = nState * 1103515245u + 12345u;
        data[i] = static_cast<char>(nState >> 24);
    }
    return data;
}

// Writes the data in blocks of the copy's size; the first error of a Write or of the Close.
DWORD WriteInBlocks(IShareFileSystem& fs, const QString& sPath, const QByteArray& data)
{
    DWORD dwError = ERROR_SUCCESS;
    auto pFile = fs.CreateFile(sPath, &dwError);
    if (!pFile)
        return dwError;
    for (qsizetype nAt = 0; nAt < data.size(); nAt += kBlock) {
        dwError = pFile->Write(data.constData() + nAt, std::min<qsizetype>(kBlock, data.size() - nAt));
        if (dwError != ERROR_SUCCESS) {
            pFile->Close();
            return dwError;
        }
    }
    return pFile->Close();
}

bool IsDiskFullOrDenied(DWORD dwError)
{
    return dwError == ERROR_DISK_FULL || dwError == ERROR_ACCESS_DENIED;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Captures what is written to the process's standard error while it lives.
class CStderrCapture
{
public:
    CStderrCapture()
    {
        std::fflush(stderr);
        m_nSaved = ::dup(2);
        m_pFile = std::tmpfile();
        ::dup2(::fileno(m_pFile), 2);
    }
    ~CStderrCapture() { Release(); }
    QByteArray Release()
    {
        if (m_nSaved < 0)
            return m_text;
        std::fflush(stderr);
        ::dup2(m_nSaved, 2);
        ::close(m_nSaved);
        m_nSaved = -1;
        std::rewind(m_pFile);
        char buffer[4096];
        std::size_t nRead = 0;
        while ((nRead = std::fread(buffer, 1, sizeof(buffer), m_pFile)) > 0)
            m_text.append(buffer, static_cast<qsizetype>(nRead));
        std::fclose(m_pFile);
        return m_text;
    }

private:
    int m_nSaved = -1;
    std::FILE* m_pFile = nullptr;
    QByteArray m_text;
};

// What the platform layer reported while a test ran.
std::mutex g_diagnosticsMutex;
QStringList g_diagnostics;
void CollectDiagnostic(const QString& sMessage)
{
    std::lock_guard lock(g_diagnosticsMutex);
    g_diagnostics.append(sMessage);
}
QStringList Diagnostics()
{
    std::lock_guard lock(g_diagnosticsMutex);
    return g_diagnostics;
}

class SmbShareTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString sReason = CSambaServer::UnavailableReason();
        if (!sReason.isEmpty())
            GTEST_SKIP() << sReason.toStdString();
    }

    // Starts the server with the shares as configured so far; fails the test when it cannot.
    void StartServer()
    {
        QString sError;
        ASSERT_TRUE(m_server.Start(&sError)) << sError.toStdString();
    }

    QString Internal(const QString& sBelow = QString()) const
    {
        return m_server.SharePath(QStringLiteral("Tolva_Internal")) + sBelow;
    }
    QString InternalFolder(const QString& sBelow = QString()) const
    {
        return m_server.ShareFolder(QStringLiteral("Tolva_Internal")) + sBelow;
    }

    CTestHome m_home;
    CSambaServer m_server;
};

TEST(SmbUrl, SharePathsBecomeEscapedUrls)
{
    EXPECT_EQ(CSmbShareFileSystem::SmbUrl("\\\\127.0.0.2\\Tolva_Internal\\OFFICE\\Music\\a.mp3"),
              "smb://127.0.0.2/Tolva_Internal/OFFICE/Music/a.mp3");
    EXPECT_EQ(CSmbShareFileSystem::SmbUrl("\\\\?\\UNC\\127.0.0.2\\Tolva_Internal\\\\a\\b\\"),
              "smb://127.0.0.2/Tolva_Internal/a/b")
        << "long form, doubled and trailing backslashes";
    EXPECT_EQ(CSmbShareFileSystem::SmbUrl("\\\\nas\\Tolva_External"), "smb://nas/Tolva_External");
    // '?' would start the URL's options and '%' an escape; both must arrive as names.
    EXPECT_EQ(CSmbShareFileSystem::SmbUrl(QString::fromUtf8("\\\\h\\s\\100% #1?\\Jóga.mp3")),
              "smb://h/s/100%25%20%231%3F/J%C3%B3ga.mp3");
    EXPECT_TRUE(CSmbShareFileSystem::SmbUrl("\\\\h\\s\\..\\other").isEmpty());
    EXPECT_TRUE(CSmbShareFileSystem::SmbUrl("\\\\h\\s\\a\\.\\b").isEmpty());
    EXPECT_TRUE(CSmbShareFileSystem::SmbUrl("\\\\user@h\\s\\a").isEmpty()) << "no logon part in the host";
    EXPECT_TRUE(CSmbShareFileSystem::SmbUrl("\\\\h:139\\s\\a").isEmpty()) << "the port comes from the configuration";
    EXPECT_TRUE(CSmbShareFileSystem::SmbUrl("\\\\h").isEmpty());
    EXPECT_TRUE(CSmbShareFileSystem::SmbUrl("/home/ann/a.mp3").isEmpty());
}

TEST_F(SmbShareTest, FoldersFilesReplaceAndDelete)
{
    StartServer();
    {
        std::lock_guard lock(g_diagnosticsMutex);
        g_diagnostics.clear();
    }
    const DiagnosticSink pOldSink = SetDiagnosticSink(&CollectDiagnostic);
    CSmbShareFileSystem fs(m_server.ClientConfig());

    EXPECT_TRUE(fs.PathExists(Internal()));
    EXPECT_TRUE(fs.PathExists(Internal("\\")));
    EXPECT_FALSE(fs.PathExists(Internal("\\OFFICE")));
    EXPECT_EQ(fs.CreateFolder(Internal()), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    // Three missing folders at once, then a fourth below existing ones.
    const QString sFolder = Internal("\\OFFICE\\home\\ann");
    EXPECT_EQ(fs.CreateFolder(sFolder), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    ASSERT_TRUE(CreateDirectoryTreeOn(fs, sFolder));
    EXPECT_TRUE(QFileInfo(InternalFolder("/OFFICE/home/ann")).isDir());
    EXPECT_EQ(fs.CreateFolder(sFolder), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    ASSERT_TRUE(CreateDirectoryTreeOn(fs, sFolder + "\\Music\\"));
    EXPECT_TRUE(fs.PathExists(sFolder + "\\Music"));

    // A multi-block file with an uneven tail, under a name that needs escaping.
    const QString sName = QString::fromUtf8("100% Jóga #1.mp3");
    const QByteArray first = Pattern(5 * kBlock + 12345, 1);
    ASSERT_EQ(WriteInBlocks(fs, sFolder + "\\Music\\" + sName, first), static_cast<DWORD>(ERROR_SUCCESS));
    const QString sLocal = InternalFolder("/OFFICE/home/ann/Music/") + sName;
    EXPECT_EQ(ReadTestFile(sLocal), first);
    EXPECT_TRUE(fs.PathExists(sFolder + "\\Music\\" + sName));

    // Replacing with a shorter file leaves exactly the new bytes.
    const QByteArray second = Pattern(kBlock / 2, 2);
    ASSERT_EQ(WriteInBlocks(fs, sFolder + "\\Music\\" + sName, second), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadTestFile(sLocal), second);

    // An empty file, and a folder whose name is taken by a file.
    ASSERT_EQ(WriteInBlocks(fs, sFolder + "\\empty.flac", QByteArray()), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(QFileInfo(InternalFolder("/OFFICE/home/ann/empty.flac")).isFile());
    EXPECT_EQ(fs.CreateFolder(sFolder + "\\empty.flac"), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // Reading back through the share.
    DWORD dwError = ERROR_GEN_FAILURE;
    auto pRead = fs.OpenForRead(sFolder + "\\Music\\" + sName, &dwError);
    ASSERT_TRUE(pRead) << dwError;
    QByteArray readBack(static_cast<qsizetype>(kBlock), '\0');
    std::size_t nRead = 0;
    ASSERT_EQ(pRead->Read(readBack.data(), kBlock, &nRead), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(readBack.left(static_cast<qsizetype>(nRead)), second);
    pRead.reset();

    EXPECT_EQ(fs.DeleteFile(sFolder + "\\Music\\" + sName), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(QFileInfo::exists(sLocal));
    EXPECT_FALSE(fs.PathExists(sFolder + "\\Music\\" + sName));
    EXPECT_EQ(fs.DeleteFile(sFolder + "\\Music\\" + sName), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // The fixed client settings load, and the library has nothing to complain about.
    SetDiagnosticSink(pOldSink);
    EXPECT_TRUE(Diagnostics().isEmpty()) << Diagnostics().join('\n').toStdString();
}

TEST_F(SmbShareTest, MissingShareOrServerGivesErrorsOfTheRightClass)
{
    StartServer();
    CSmbShareFileSystem fs(m_server.ClientConfig());
    const QString sMissing = m_server.SharePath(QStringLiteral("NoSuchShare"));
    EXPECT_FALSE(fs.PathExists(sMissing));
    EXPECT_FALSE(fs.PathExists(sMissing + "\\a"));
    EXPECT_FALSE(CreateDirectoryTreeOn(fs, sMissing + "\\a\\b"));
    DWORD dwError = ERROR_SUCCESS;
    EXPECT_FALSE(fs.CreateFile(sMissing + "\\a.mp3", &dwError));
    EXPECT_NE(dwError, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(IsDiskFullOrDenied(dwError)) << dwError;
    EXPECT_FALSE(QFileInfo::exists(QDir::currentPath() + "/\\")) << "climbing above the share root made a folder";
    EXPECT_FALSE(fs.CreateFile(Internal("\\..\\Tolva_External\\a.mp3"), &dwError));
    EXPECT_EQ(dwError, static_cast<DWORD>(ERROR_INVALID_NAME));

    // No server at all on that address: refused at once.
    CSmbShareFileSystem nowhere(m_server.ClientConfig());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(nowhere.PathExists("\\\\127.0.0.9\\Tolva_Internal"));
    EXPECT_FALSE(nowhere.CreateFile("\\\\127.0.0.9\\Tolva_Internal\\a.mp3", &dwError));
    EXPECT_EQ(dwError, static_cast<DWORD>(ERROR_BAD_NETPATH));
    EXPECT_LT(SecondsSince(start), 2.0);
}

TEST_F(SmbShareTest, ReadOnlyShareDeniesAccess)
{
    m_server.SetReadOnly(QStringLiteral("Tolva_Internal"), true);
    WriteTestFile(InternalFolder("/old.mp3"), "old");
    QDir().mkpath(InternalFolder("/OFFICE"));
    StartServer();
    CSmbShareFileSystem fs(m_server.ClientConfig());

    EXPECT_TRUE(fs.PathExists(Internal()));
    EXPECT_TRUE(fs.PathExists(Internal("\\old.mp3")));
    DWORD dwError = ERROR_SUCCESS;
    EXPECT_FALSE(fs.CreateFile(Internal("\\OFFICE\\new.mp3"), &dwError));
    EXPECT_EQ(dwError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(fs.CreateFile(Internal("\\old.mp3"), &dwError));
    EXPECT_EQ(dwError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(fs.CreateFolder(Internal("\\New")), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(fs.DeleteFile(Internal("\\old.mp3")), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ReadTestFile(InternalFolder("/old.mp3")), QByteArray("old"));
}

// A full disk must come back as ERROR_DISK_FULL however the writes are gathered, and the file
// must be deletable afterwards.
class SmbFullShareTest : public SmbShareTest, public ::testing::WithParamInterface<std::size_t>
{
};

TEST_P(SmbFullShareTest, FullDiskIsReportedAndThePartialFileDeleted)
{
    QString sError;
    ASSERT_TRUE(m_server.LimitShareSize(QStringLiteral("Tolva_Internal"), 3 * 1024 * 1024, &sError))
        << sError.toStdString();
    StartServer();
    SSmbConfig config = m_server.ClientConfig();
    config.nWriteGatherBytes = GetParam();
    CSmbShareFileSystem fs(config);

    // Fits: a file of 1 MiB.
    ASSERT_EQ(WriteInBlocks(fs, Internal("\\fits.mp3"), Pattern(1024 * 1024, 3)), static_cast<DWORD>(ERROR_SUCCESS));
    // Does not fit: 4 MiB more.
    EXPECT_EQ(WriteInBlocks(fs, Internal("\\big.mp3"), Pattern(4 * 1024 * 1024, 4)),
              static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(fs.DeleteFile(Internal("\\big.mp3")), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(QFileInfo::exists(InternalFolder("/big.mp3")));
    EXPECT_EQ(ReadTestFile(InternalFolder("/fits.mp3")), Pattern(1024 * 1024, 3));

    // The space is free again, so the same instance writes on.
    EXPECT_EQ(WriteInBlocks(fs, Internal("\\after.mp3"), Pattern(kBlock, 5)), static_cast<DWORD>(ERROR_SUCCESS));
}

INSTANTIATE_TEST_SUITE_P(GatherSizes, SmbFullShareTest, ::testing::Values(0, 1024 * 1024, 4 * 1024 * 1024));

TEST_F(SmbShareTest, KilledServerFailsFastQuietlyAndARestartedOneWorksAgain)
{
    StartServer();
    CSmbShareFileSystem fs(m_server.ClientConfig());
    DWORD dwError = ERROR_SUCCESS;
    auto pFile = fs.CreateFile(Internal("\\partial.mp3"), &dwError);
    ASSERT_TRUE(pFile) << dwError;
    const QByteArray block = Pattern(kBlock, 6);
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(pFile->Write(block.constData(), kBlock), static_cast<DWORD>(ERROR_SUCCESS));

    CStderrCapture stderrCapture;
    m_server.Kill();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 8 && dwError == ERROR_SUCCESS; ++i)
        dwError = pFile->Write(block.constData(), kBlock);
    if (dwError == ERROR_SUCCESS)
        dwError = pFile->Close();
    EXPECT_NE(dwError, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(IsDiskFullOrDenied(dwError)) << dwError;
    EXPECT_EQ(pFile->Write(block.constData(), kBlock), dwError) << "the error stays";
    EXPECT_EQ(pFile->Close(), dwError);
    pFile.reset();
    const DWORD dwDelete = fs.DeleteFile(Internal("\\partial.mp3"));
    EXPECT_FALSE(dwDelete == ERROR_SUCCESS || IsDiskFullOrDenied(dwDelete)) << dwDelete;
    EXPECT_FALSE(fs.PathExists(Internal()));
    EXPECT_LT(SecondsSince(start), 2.0) << "a dead server is noticed at once";
    EXPECT_EQ(stderrCapture.Release(), QByteArray()) << "the client library writes nothing to stderr";
    ASSERT_TRUE(QFileInfo::exists(InternalFolder("/partial.mp3")));

    // The refused connection holds the server off for a moment in this instance. Once the server
    // is back, the first call to it (here from another instance) deletes the partial file.
    QString sError;
    ASSERT_TRUE(m_server.Restart(&sError)) << sError.toStdString();
    EXPECT_FALSE(fs.PathExists(Internal()));
    EXPECT_TRUE(QFileInfo::exists(InternalFolder("/partial.mp3")));
    CSmbShareFileSystem other(m_server.ClientConfig());
    EXPECT_TRUE(other.PathExists(Internal()));
    EXPECT_FALSE(QFileInfo::exists(InternalFolder("/partial.mp3")));

    m_home.Clock().Advance(CSmbShareFileSystem::kUnreachableHoldMs);
    const QByteArray data = Pattern(3 * kBlock, 7);
    EXPECT_EQ(WriteInBlocks(fs, Internal("\\again.mp3"), data), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadTestFile(InternalFolder("/again.mp3")), data);
}

TEST_F(SmbShareTest, SilentServerTimesOutWithinTheConfiguredTime)
{
    StartServer();
    constexpr int kTimeoutMs = 700;
    CSmbShareFileSystem fs(m_server.ClientConfig(kTimeoutMs));
    DWORD dwError = ERROR_SUCCESS;
    auto pFile = fs.CreateFile(Internal("\\silent.mp3"), &dwError);
    ASSERT_TRUE(pFile) << dwError;
    const QByteArray block = Pattern(kBlock, 8);
    ASSERT_EQ(pFile->Write(block.constData(), kBlock), static_cast<DWORD>(ERROR_SUCCESS));

    m_server.Pause();
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 16 && dwError == ERROR_SUCCESS; ++i)
        dwError = pFile->Write(block.constData(), kBlock);
    if (dwError == ERROR_SUCCESS)
        dwError = pFile->Close();
    const double dFailedAfter = SecondsSince(start);
    EXPECT_NE(dwError, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(IsDiskFullOrDenied(dwError)) << dwError;
    EXPECT_LT(dFailedAfter, 3.0 * kTimeoutMs / 1000) << "one request's time-out, not more";

    // Closing is immediate (the silent connection was dropped); the steps of a copy that follow
    // do not wait out the time-out again, and only the delete asks the server once more.
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(pFile->Close(), dwError);
    pFile.reset();
    EXPECT_FALSE(fs.PathExists(Internal("\\OFFICE")));
    EXPECT_FALSE(CreateDirectoryTreeOn(fs, Internal("\\OFFICE\\home\\ann")));
    DWORD dwCreate = ERROR_SUCCESS;
    EXPECT_FALSE(fs.CreateFile(Internal("\\OFFICE\\home\\ann\\b.mp3"), &dwCreate));
    EXPECT_FALSE(IsDiskFullOrDenied(dwCreate)) << dwCreate;
    EXPECT_LT(SecondsSince(start), 0.5 * kTimeoutMs / 1000);
    EXPECT_NE(fs.DeleteFile(Internal("\\silent.mp3")), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_LT(SecondsSince(start), 2.0 * kTimeoutMs / 1000);

    m_server.Resume();
    m_home.Clock().Advance(CSmbShareFileSystem::kUnreachableHoldMs);
    EXPECT_EQ(fs.DeleteFile(Internal("\\silent.mp3")), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(WriteInBlocks(fs, Internal("\\after.mp3"), block), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(SmbShareTest, RouterSendsUnmappedSharesToSambaAndKeepsMappedOnesLocal)
{
    StartServer();
    SetDefaultSmbConfig(m_server.ClientConfig());
    const QString sMappedFolder = m_home.Path(QStringLiteral("mapped"));
    QDir().mkpath(sMappedFolder);
    const QString sExternal = m_server.SharePath(QStringLiteral("Tolva_External"));
    CShareFileSystem::MapShareRoot(sExternal, sMappedFolder);

    CShareFileSystem fs;
    ASSERT_TRUE(CreateDirectoryTreeOn(fs, Internal("\\OFFICE\\Music")));
    EXPECT_EQ(WriteInBlocks(fs, "\\\\?\\UNC\\" + Internal("\\OFFICE\\Music\\a.mp3").mid(2), "smb"),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadTestFile(InternalFolder("/OFFICE/Music/a.mp3")), QByteArray("smb"));
    EXPECT_TRUE(PathExists(Internal("\\OFFICE\\Music\\a.mp3"))) << "the helper's own instance reaches it too";

    EXPECT_EQ(WriteInBlocks(fs, sExternal + "\\b.mp3", "local"), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadTestFile(sMappedFolder + "/b.mp3"), QByteArray("local"));
    EXPECT_FALSE(QFileInfo::exists(m_server.ShareFolder(QStringLiteral("Tolva_External")) + "/b.mp3"));

    const QString sLocal = m_home.Path(QStringLiteral("plain.mp3"));
    EXPECT_EQ(WriteInBlocks(fs, sLocal, "plain"), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadTestFile(sLocal), QByteArray("plain"));
    SetDefaultSmbConfig(SSmbConfig());
}

TEST_F(SmbShareTest, InstancesOnSeveralThreadsWriteAtTheSameTime)
{
    StartServer();
    constexpr int kThreads = 3;
    DWORD results[kThreads] = {};
    std::vector<std::thread> threads;
    for (int n = 0; n < kThreads; ++n) {
        threads.emplace_back([&, n] {
            CSmbShareFileSystem fs(m_server.ClientConfig());
            const QString sFolder = Internal(QStringLiteral("\\T%1").arg(n));
            DWORD dwError = fs.CreateFolder(sFolder);
            for (int nFile = 0; nFile < 4 && dwError == ERROR_SUCCESS; ++nFile)
                dwError = WriteInBlocks(fs, sFolder + QStringLiteral("\\%1.mp3").arg(nFile),
                                        Pattern(3 * kBlock + 7, 100 * n + nFile));
            results[n] = dwError;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int n = 0; n < kThreads; ++n) {
        EXPECT_EQ(results[n], static_cast<DWORD>(ERROR_SUCCESS)) << n;
        for (int nFile = 0; nFile < 4; ++nFile)
            EXPECT_EQ(ReadTestFile(InternalFolder(QStringLiteral("/T%1/%2.mp3").arg(n).arg(nFile))),
                      Pattern(3 * kBlock + 7, 100 * n + nFile));
    }
}

} // namespace

TEST_F(SmbShareTest, AFileWrittenAgainAfterItsPartialDeleteFailedIsNotDeletedLater)
{
    StartServer();
    // Deleting again.mp3 fails as over a connection that just broke, for as long as bBroken
    // holds; every other call reaches the server.
    bool bBroken = true;
    SSmbConfig config = m_server.ClientConfig();
    config.deleteFault = [&](const QByteArray& url) { return bBroken && url.endsWith("/again.mp3") ? ECONNRESET : 0; };
    CSmbShareFileSystem fs(config);
    EXPECT_EQ(WriteInBlocks(fs, Internal("\\again.mp3"), Pattern(kBlock, 9)), static_cast<DWORD>(ERROR_SUCCESS));
    // The copy failed mid-file and deletes its partial file: that fails, so the file is
    // remembered, to be deleted once the server answers again.
    EXPECT_EQ(fs.DeleteFile(Internal("\\again.mp3")), static_cast<DWORD>(ERROR_NETNAME_DELETED));

    // The retry writes the same file whole (the remembered delete, tried first, fails again).
    const QByteArray data = Pattern(3 * kBlock, 10);
    EXPECT_EQ(WriteInBlocks(fs, Internal("\\again.mp3"), data), static_cast<DWORD>(ERROR_SUCCESS));
    // The connection is sound again: later calls, from this instance or another, leave it whole.
    bBroken = false;
    EXPECT_TRUE(fs.PathExists(Internal()));
    CSmbShareFileSystem other(m_server.ClientConfig());
    EXPECT_TRUE(other.PathExists(Internal()));
    EXPECT_EQ(ReadTestFile(InternalFolder("/again.mp3")), data);

    // A partial file that no retry replaced is still deleted by the first call once it can be.
    bBroken = true;
    EXPECT_EQ(WriteInBlocks(fs, Internal("\\again.mp3"), Pattern(kBlock, 11)), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_NE(fs.DeleteFile(Internal("\\again.mp3")), static_cast<DWORD>(ERROR_SUCCESS));
    bBroken = false;
    EXPECT_TRUE(other.PathExists(Internal()));
    EXPECT_FALSE(QFileInfo::exists(InternalFolder("/again.mp3")));
}

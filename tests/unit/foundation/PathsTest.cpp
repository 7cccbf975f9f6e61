#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "platform/ShareFileSystem.h"
#include "platform/StandardFolders.h"
#include "support/QtPrinters.h"
#include "support/TestHome.h"

TEST(Paths, FixNameReplacesUnsafeCharactersButKeepsTheExtensionDot)
{
    EXPECT_EQ(FixName("a.b.mp3"), "a_b.mp3");
    EXPECT_EQ(FixName("uuid:1234"), "uuid_1234");
    EXPECT_EQ(FixName("what?.flac"), "what_.flac");
    EXPECT_EQ(FixName("uuid:5e1d-AB"), "uuid_5e1d-AB") << "no dot: only the ':' changes";
    EXPECT_EQ(FixName("a\\b/c:d*e?f\"g<h>i|j"), "a_b_c_d_e_f_g_h_i_j");
    EXPECT_EQ(FixName("x|y.m?a"), "x_y.m_a") << "the extension is cleaned too";
    EXPECT_EQ(FixName(QString::fromUtf8("\u97f3\u697d \u00e9.mp3")), QString::fromUtf8("\u97f3\u697d \u00e9.mp3"));
    EXPECT_EQ(FixName(""), "");
    // A cleaned name never names the folder it is in or its parent.
    EXPECT_EQ(FixName("."), "_");
    EXPECT_EQ(FixName(".."), "_.");
    EXPECT_EQ(FixName("..."), "__.");
}

TEST(Paths, FileNameDirPartAndExtensionFollowTheirSeparators)
{
    EXPECT_EQ(FileNameOf("http://127.0.0.2:60100/icons/dev.png"), "dev.png");
    EXPECT_EQ(FileNameOf("OFFICE\\Music\\a.mp3"), "a.mp3");
    EXPECT_EQ(FileNameOf("/home/ann/Music/a\\b.mp3"), "a\\b.mp3") << "'/' wins over '\\'";
    EXPECT_EQ(FileNameOf("plain.mp3"), "plain.mp3");
    EXPECT_EQ(FileNameOf("folder\\"), "");

    EXPECT_EQ(DirPartOf("C:\\Music\\Rock\\a.mp3"), "\\Music\\Rock\\");
    EXPECT_EQ(DirPartOf("OFFICE\\a.mp3"), "\\");
    EXPECT_EQ(DirPartOf("no-backslash"), "");

    EXPECT_EQ(JoinFileName("/data/icons/", "http://127.0.0.2/x/y/icon.jpg"), "/data/icons/icon.jpg");

    EXPECT_TRUE(HasExtension("/m/a.MP3", ".mp3"));
    EXPECT_TRUE(HasExtension("/m/a.b.flac", ".FLAC"));
    EXPECT_FALSE(HasExtension("/m/a.mp3.bak", ".mp3"));
    EXPECT_FALSE(HasExtension("/m/mp3", ".mp3"));
    EXPECT_FALSE(HasExtension("/m/a.mp", ".mp3"));

    EXPECT_TRUE(ContainsString({"mp3", "flac"}, "flac"));
    EXPECT_FALSE(ContainsString({"mp3", "flac"}, "FLAC")) << "case-sensitive";
    EXPECT_FALSE(ContainsString({"mp3"}, "mp"));
    EXPECT_FALSE(ContainsString({}, ""));
}

TEST(Paths, LongPathFormsAndNativePaths)
{
    EXPECT_EQ(ToLongPath("C:\\Music"), "\\\\?\\C:\\Music");
    EXPECT_EQ(ToLongPath("\\\\nas\\share\\x"), "\\\\?\\UNC\\nas\\share\\x");
    EXPECT_EQ(ToLongPath("\\\\server\\music"), "\\\\?\\UNC\\server\\music");
    EXPECT_EQ(ToLongPath("/home/ann/Music"), "/home/ann/Music") << "native paths have no long form";
    EXPECT_EQ(ToLongPath("\\\\?\\C:\\Music"), "\\\\?\\C:\\Music") << "a long path stays as it is";
}

TEST(Paths, ApplicationDataAndDeviceFolders)
{
    CTestHome home;
    const QString sAppData = home.Path(".local/share/Brenvik Corporation/TolvaMusicTransfer/");
    EXPECT_EQ(AppDataFolder(), sAppData);
    EXPECT_EQ(DeviceFolder(""), sAppData) << "an empty UUID is the application data folder itself";
    EXPECT_EQ(DeviceFolder("uuid:1234"), sAppData + "uuid_1234/");
    EXPECT_EQ(DeviceFolder("."), sAppData + "_/") << "never the application data folder itself";
    EXPECT_EQ(CurrentDeviceFolder(), sAppData);
    ASSERT_TRUE(SetCurrentDevId("uuid:ab.cd:ef"));
    EXPECT_EQ(CurrentDeviceFolder(), sAppData + "uuid_ab.cd_ef/");

    EXPECT_FALSE(PathExists(sAppData));
    ASSERT_TRUE(CreateAppDataFolder());
    EXPECT_TRUE(QFileInfo(sAppData).isDir());
    ASSERT_TRUE(CreateDeviceFolder("uuid:1234"));
    EXPECT_TRUE(QFileInfo(sAppData + "uuid_1234").isDir());
    EXPECT_TRUE(CreateDeviceFolder("uuid:1234")) << "an existing folder is success";

    qputenv("XDG_MUSIC_DIR", QFile::encodeName(home.Path("Musik")));
    EXPECT_EQ(MyMusicFolder(), home.Path("Musik")) << "the session's exported music folder";
    qunsetenv("XDG_MUSIC_DIR");
    EXPECT_EQ(MyMusicFolder(), home.Path("Music")) << "without one, ~/Music";
    EXPECT_FALSE(GetComputerNameText().isEmpty());
    EXPECT_FALSE(GetComputerNameText().contains('.')) << "the short name, as the network knows the PC";
}

TEST(Paths, WithoutHomeTheAccountsHomeFolderIsUsedNeverTheRootFolder)
{
    CTestHome home; // restores the variables below
    qunsetenv("HOME");
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
    const passwd* pEntry = ::getpwuid(::geteuid());
    ASSERT_TRUE(pEntry && pEntry->pw_dir);
    const QString sAccountHome = QDir::cleanPath(QFile::decodeName(pEntry->pw_dir));
    if (sAccountHome == "/")
        GTEST_SKIP() << "this account's home is the root folder";
    EXPECT_EQ(UserConfigHome(), sAccountHome + "/.config");
    EXPECT_EQ(AppDataFolder(), sAccountHome + "/.local/share/Brenvik Corporation/TolvaMusicTransfer/");
    qputenv("HOME", "relative/home");
    EXPECT_EQ(UserConfigHome(), sAccountHome + "/.config") << "a relative HOME is no home";
}

TEST(Paths, FolderCreationFailuresAreLogged)
{
    CTestHome home;
    home.EnableLog();
    // A file stands where the device folder should go.
    WriteTestFile(AppDataFolder() + "uuid_blocked", "a file");
    EXPECT_FALSE(CreateDeviceFolder("uuid:blocked"));
    EXPECT_TRUE(home.ReadLog().contains("CreateDeviceFolder")) << home.ReadLog().constData();
    EXPECT_EQ(ReadTestFile(AppDataFolder() + "uuid_blocked"), QByteArray("a file"));
}

TEST(Paths, AnUnusableApplicationDataFolderFailsWithoutHarm)
{
    CTestHome home;
    // A file where the application data folder's parent should be.
    WriteTestFile(home.Path(".local/share/Brenvik Corporation"), "in the way");
    EXPECT_FALSE(CreateAppDataFolder());
    EXPECT_FALSE(CreateDeviceFolder("uuid:1"));
    WriteLog("nowhere to go");
    EXPECT_EQ(ReadTestFile(home.Path(".local/share/Brenvik Corporation")), QByteArray("in the way"));
}

TEST(Paths, CreateDirectoryTreeMakesEveryMissingLevel)
{
    CTestHome home;
    const QString sDeep = home.Path("a/b/c");
    ASSERT_TRUE(QDir().mkpath(home.Path("a")));
    EXPECT_TRUE(CreateDirectoryTree(sDeep + "/d")) << "three missing levels: b, c, d";
    EXPECT_TRUE(QFileInfo(sDeep + "/d").isDir());
    EXPECT_TRUE(CreateDirectoryTree(home.Path("x/y/z/"))) << "a trailing separator is accepted";
    EXPECT_TRUE(QFileInfo(home.Path("x/y/z")).isDir());
    EXPECT_TRUE(CreateDirectoryTree(sDeep)) << "existing";

    WriteTestFile(home.Path("file"), "x");
    EXPECT_FALSE(CreateDirectoryTree(home.Path("file/sub/dir"))) << "a file on the way";
    EXPECT_FALSE(CreateDirectoryTree(home.Path("file"))) << "a file is not a folder";
}

TEST(Paths, CreateDirectoryTreeOnAShareStopsAtTheShareRoot)
{
    CTestHome home;
    const QString sShare = InternalSharePath("127.0.0.2");
    EXPECT_EQ(sShare, "\\\\127.0.0.2\\Tolva_Internal");
    EXPECT_EQ(ExternalSharePath("127.0.0.2"), "\\\\127.0.0.2\\Tolva_External");
    ASSERT_TRUE(QDir().mkpath(home.Path("internal")));
    CShareFileSystem::MapShareRoot(sShare, home.Path("internal"));

    EXPECT_TRUE(PathExists(sShare));
    EXPECT_TRUE(CreateDirectoryTree(sShare + "\\OFFICE\\Music\\Rock"));
    EXPECT_TRUE(QFileInfo(home.Path("internal/OFFICE/Music/Rock")).isDir());
    EXPECT_TRUE(PathExists(sShare + "\\OFFICE\\Music"));
    EXPECT_TRUE(CreateDirectoryTree(sShare + "\\OFFICE\\Music\\"));

    // A share that is not reachable fails, and nothing appears in the working folder (the
    // parent of "\\host" would be a local folder named "\").
    QTemporaryDir cwd;
    const QString sOldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(cwd.path()));
    EXPECT_FALSE(CreateDirectoryTree("\\\\127.0.0.3\\Tolva_Internal\\OFFICE\\Music"));
    EXPECT_FALSE(PathExists("\\\\127.0.0.3\\Tolva_Internal"));
    // Mapped, but the share's folder is gone: its root cannot be created from here.
    CShareFileSystem::MapShareRoot(ExternalSharePath("127.0.0.2"), home.Path("missing-external"));
    EXPECT_FALSE(CreateDirectoryTree(ExternalSharePath("127.0.0.2") + "\\OFFICE"));
    const QStringList left = QDir(cwd.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    ASSERT_TRUE(QDir::setCurrent(sOldCwd));
    EXPECT_TRUE(left.isEmpty()) << left.join(", ").toStdString();
    EXPECT_FALSE(QFileInfo::exists(home.Path("missing-external")));
}

TEST(Paths, CrackUrlSplitsHttpUrls)
{
    SUrlParts parts;
    ASSERT_TRUE(CrackUrl("http://127.0.0.2:60100/tolva.xml", &parts));
    EXPECT_EQ(parts.nScheme, 1);
    EXPECT_EQ(parts.sHost, "127.0.0.2");
    EXPECT_EQ(parts.nPort, 60100);
    EXPECT_EQ(parts.sPath, "/tolva.xml");

    ASSERT_TRUE(CrackUrl("http://127.0.0.2/api/system?x=1&y=a%20b#top", &parts));
    EXPECT_EQ(parts.nPort, 80) << "default port of http";
    EXPECT_EQ(parts.sPath, "/api/system?x=1&y=a%20b") << "the query stays, the fragment goes";

    ASSERT_TRUE(CrackUrl("https://player.example:8443", &parts));
    EXPECT_EQ(parts.nScheme, 2);
    EXPECT_EQ(parts.nPort, 8443);
    EXPECT_EQ(parts.sPath, "/");
    ASSERT_TRUE(CrackUrl("HTTPS://player.example/", &parts));
    EXPECT_EQ(parts.nPort, 443);

    ASSERT_TRUE(CrackUrl("http://127.0.0.2:60100/icons/my icon.png", &parts));
    EXPECT_EQ(parts.sPath, "/icons/my%20icon.png") << "unsafe characters are escaped";

    for (const char* pszBad : {"ftp://127.0.0.2/x", "file:///etc/passwd", "garbage", "http//127.0.0.2/", "http://",
                               "http://exa mple/", "http://127.0.0.2:99999/", ""}) {
        EXPECT_FALSE(CrackUrl(pszBad, &parts)) << pszBad;
    }
    // Host names of 255 and 256 characters, in labels of at most 63.
    const QString sLabel(63, 'h');
    const QString sHost255 = sLabel + "." + sLabel + "." + sLabel + "." + QString(63, 'g');
    ASSERT_EQ(sHost255.size(), 255);
    EXPECT_TRUE(CrackUrl("http://" + sHost255 + "/", &parts));
    EXPECT_EQ(parts.sHost, sHost255);
    EXPECT_FALSE(CrackUrl("http://" + sHost255 + "g/", &parts)) << "the host must fit 255 characters";
    EXPECT_FALSE(CrackUrl("http://127.0.0.2/x", nullptr));

    QString sHost;
    ASSERT_TRUE(HostOfUrl("http://127.0.0.5:60100/tolva.xml", &sHost));
    EXPECT_EQ(sHost, "127.0.0.5");
    sHost = "unchanged";
    EXPECT_FALSE(HostOfUrl("not a url", &sHost));
    EXPECT_EQ(sHost, "unchanged");
}

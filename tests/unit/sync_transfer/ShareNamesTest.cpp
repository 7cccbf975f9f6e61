#include "support/SyncFixture.h"

#include <QDateTime>

#include "foundation/Paths.h"

namespace {

using ShareNamesTest = SyncFixture;

void TouchLater(const QString& sPath, const QByteArray& data)
{
    WriteTestFile(sPath, data);
    QFile file(sPath);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(120), QFileDevice::FileModificationTime));
}

} // namespace

// Names that clean up to one name on the share (and names that differ only in case, which the
// players' shares do not tell apart): the first file keeps the name, later ones are numbered, in
// one run and across runs, and a numbered file keeps its number when it is sent again.
TEST_F(ShareNamesTest, TwoSourceFilesNeverBecomeOneFileOnTheShare)
{
    AddPlayer();
    const QString sMusic = home.Path("Music");
    for (const char* pszName : {"A_B.MP3", "a.b.mp3", "a_b.mp3", "q*.mp3", "q?.mp3"})
        WriteTestFile(sMusic + "/" + pszName, QByteArray("song ") + pszName);
    SetLists({sMusic + "/|1"}, {"mp3|1"});

    pCm->StartSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_OK);
    const QString sOnShare = GetComputerNameText() + sMusic + "/";
    EXPECT_EQ(OnInternal(sOnShare + "A_B.MP3"), "song A_B.MP3") << "the first in the walk keeps its name";
    EXPECT_EQ(OnInternal(sOnShare + "a_b (2).mp3"), "song a.b.mp3");
    EXPECT_EQ(OnInternal(sOnShare + "a_b (3).mp3"), "song a_b.mp3");
    EXPECT_EQ(OnInternal(sOnShare + "q_.mp3"), "song q*.mp3");
    EXPECT_EQ(OnInternal(sOnShare + "q_ (2).mp3"), "song q?.mp3");
    EXPECT_EQ(QDir(InternalDir() + "/" + sOnShare).entryList(QDir::Files).size(), 5);
    EXPECT_EQ(HistoryLines().size(), 5);

    pCm->StartSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_NO_FILES);

    // A newcomer whose name is taken by files of earlier runs, and a changed numbered file.
    WriteTestFile(sMusic + "/q:.mp3", "song q:.mp3");
    TouchLater(sMusic + "/a.b.mp3", "song a.b.mp3, changed");
    pCm->StartSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_OK);
    EXPECT_EQ(OnInternal(sOnShare + "q_ (3).mp3"), "song q:.mp3");
    EXPECT_EQ(OnInternal(sOnShare + "q_.mp3"), "song q*.mp3");
    EXPECT_EQ(OnInternal(sOnShare + "q_ (2).mp3"), "song q?.mp3");
    EXPECT_EQ(OnInternal(sOnShare + "a_b (2).mp3"), "song a.b.mp3, changed");
    EXPECT_EQ(OnInternal(sOnShare + "A_B.MP3"), "song A_B.MP3");
    EXPECT_EQ(QDir(InternalDir() + "/" + sOnShare).entryList(QDir::Files).size(), 6);
}

// Folders dropped from an over-long path put same-named files side by side.
TEST_F(ShareNamesTest, SameNamedFilesOfOverLongPathsAreKeptApart)
{
    AddPlayer();
    QString sDeep = home.Path("Music");
    for (int i = 0; i < 10; ++i)
        sDeep += "/" + QString(100, QChar('a' + i));
    WriteTestFile(sDeep + "/one/song.mp3", "one");
    WriteTestFile(sDeep + "/two/song.mp3", "two");
    SetLists({home.Path("Music") + "/|1"}, {"mp3|1"});
    pCm->StartSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_OK);
    const QString sComputer = GetComputerNameText();
    EXPECT_EQ(OnInternal(sComputer + "/song.mp3"), "one");
    EXPECT_EQ(OnInternal(sComputer + "/song (2).mp3"), "two");
}

// Names equal only once case is folded beyond ASCII (a Kelvin sign folds to "k") meet on the share
// as well; a name may even meet one of another length.
TEST_F(ShareNamesTest, NamesThatMeetOnlyBeyondAsciiAreKeptApartToo)
{
    AddPlayer();
    const QString sMusic = home.Path("Music");
    const QStringList names = {"KEY.mp3", QString::fromUtf8("Öl.mp3"), QString::fromUtf8("öL.mp3"),
                               QString::fromUtf8("\u212Aey.mp3")};
    for (const QString& sName : names)
        WriteTestFile(sMusic + "/" + sName, "song " + sName.toUtf8());
    SetLists({sMusic + "/|1"}, {"mp3|1"});
    pCm->StartSync();
    EXPECT_EQ(window.WaitForOutcome(), EC_OK);
    const QString sOnShare = GetComputerNameText() + sMusic + "/";
    EXPECT_EQ(OnInternal(sOnShare + "KEY.mp3"), "song KEY.mp3");
    EXPECT_EQ(OnInternal(sOnShare + QString::fromUtf8("\u212Aey (2).mp3")),
              QString::fromUtf8("song \u212Aey.mp3").toUtf8());
    EXPECT_EQ(OnInternal(sOnShare + QString::fromUtf8("Öl.mp3")), QString::fromUtf8("song Öl.mp3").toUtf8());
    EXPECT_EQ(OnInternal(sOnShare + QString::fromUtf8("öL (2).mp3")), QString::fromUtf8("song öL.mp3").toUtf8());
    EXPECT_EQ(QDir(InternalDir() + "/" + sOnShare).entryList(QDir::Files).size(), 4);
}

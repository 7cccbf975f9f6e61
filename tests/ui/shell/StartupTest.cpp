#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

#include "ShellFixture.h"
#include "app/TolvaMusicTransferApp.h"
#include "foundation/Paths.h"
#include "platform/SettingsStore.h"

namespace {

class CStartupTest : public CShellTest
{
protected:
    ~CStartupTest() override
    {
        m_pApp.reset();
        SetStringLanguage(LANG_ID_ENGLISH_UK);
    }
    EStartResult Start(const QStringList& arguments = {"tolva-music-transfer"})
    {
        m_pApp = std::make_unique<CTolvaMusicTransferApp>(
            SStartupServices{m_presenter, m_timers, m_shell, m_instance, [this] { return m_bGuest; }});
        return m_pApp->InitInstance(arguments);
    }

    CTestSingleInstance m_instance;
    bool m_bGuest = false;
    std::unique_ptr<CTolvaMusicTransferApp> m_pApp;
};

TEST_F(CStartupTest, GuestSeesOnlyItsMessageAndNothingIsCreated)
{
    m_bGuest = true;
    m_presenter.SetNextAnswer(IDOK);
    EXPECT_EQ(Start(), START_GUEST_REFUSED);
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{202}));
    EXPECT_EQ(m_instance.Tries(), 0) << "no lock: another user's start is not blocked";
    EXPECT_EQ(m_pApp->MainWindow(), nullptr);
    EXPECT_FALSE(QDir(AppDataFolder()).exists());
    EXPECT_FALSE(QFile::exists(CSettingsStore::DefaultFilePath()));
    EXPECT_FALSE(AutoStartExists());
}

TEST_F(CStartupTest, FirstStartAnnouncesTheWizardThenShowsIt)
{
    // A second start while the announcement is open finds the program ready to answer.
    m_presenter.QueueWhileOpen([&] {
        EXPECT_TRUE(m_instance.Activate());
        return IDOK;
    });
    ASSERT_EQ(Start(), START_RUNNING);
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{162}));
    ASSERT_TRUE(m_pApp->MainWindow());
    EXPECT_EQ(m_pApp->MainWindow()->Mode(), DM_WIZARD_CONNECTION);
    EXPECT_TRUE(m_pApp->MainWindow()->isVisible());
    EXPECT_EQ(m_instance.Tries(), 1);
}

TEST_F(CStartupTest, UnfinishedWizardIsAnnouncedAgainAndAFinishedSetupIsNot)
{
    WriteSettingDword(kSettingFirstRun, 1);
    m_presenter.SetNextAnswer(IDOK);
    ASSERT_EQ(Start(), START_RUNNING);
    EXPECT_EQ(m_presenter.ShownIds(), (std::vector<unsigned>{162}));
    EXPECT_EQ(m_pApp->MainWindow()->Mode(), DM_WIZARD_CONNECTION);
    m_pApp.reset();

    m_presenter.ClearShown();
    WriteSettingDword(kSettingFirstRun, 0);
    ASSERT_EQ(Start(), START_RUNNING);
    EXPECT_TRUE(m_presenter.Shown().empty());
    EXPECT_EQ(m_pApp->MainWindow()->Mode(), DM_CONSOLE_NO_DEVICE);
    EXPECT_TRUE(QDir(AppDataFolder()).exists());
    m_pApp.reset();

    // A damaged settings file is no first start: no announcement, no wizard.
    WriteTestFile(CSettingsStore::DefaultFilePath(), "\xff\xfe garbage");
    ASSERT_EQ(Start(), START_RUNNING);
    EXPECT_TRUE(m_presenter.Shown().empty());
    EXPECT_EQ(m_pApp->MainWindow()->Mode(), DM_CONSOLE_NO_DEVICE);
}

TEST_F(CStartupTest, StartAtLogonWaitsFifteenSecondsBeforeTheSingleInstanceCheck)
{
    WriteSettingDword(kSettingFirstRun, 0);
    m_home.Clock().SetAutoAdvance(true);
    const std::int64_t nStart = m_home.Clock().NowMs();
    ASSERT_EQ(Start({"/usr/bin/tolva-music-transfer", "-auto"}), START_RUNNING);
    EXPECT_EQ(m_home.Clock().NowMs() - nStart, CTolvaMusicTransferApp::kAutoStartDelayMs);
    m_pApp.reset();

    // A second instance started at logon waits too, then hands over and ends.
    m_instance.SetResult(SINGLE_INSTANCE_FORWARDED);
    ASSERT_EQ(Start({"/usr/bin/tolva-music-transfer", "-auto"}), START_SECOND_INSTANCE);
    EXPECT_EQ(m_home.Clock().NowMs() - nStart, 2 * CTolvaMusicTransferApp::kAutoStartDelayMs);

    EXPECT_TRUE(CTolvaMusicTransferApp::IsAutoStart({"a", "b -auto"}));
    EXPECT_FALSE(CTolvaMusicTransferApp::IsAutoStart({"-auto"})) << "the switch follows a blank";
    EXPECT_FALSE(CTolvaMusicTransferApp::IsAutoStart({"a", "--auto"}));
}

TEST_F(CStartupTest, SecondStartHandsOverAndEndsWithoutWindowOrMessage)
{
    m_instance.SetResult(SINGLE_INSTANCE_FORWARDED);
    EXPECT_EQ(Start(), START_SECOND_INSTANCE);
    EXPECT_EQ(m_pApp->MainWindow(), nullptr);
    EXPECT_TRUE(m_presenter.Shown().empty());
    EXPECT_FALSE(QDir(AppDataFolder()).exists());
    EXPECT_FALSE(SettingExists(kSettingFirstRun));
    m_pApp.reset();

    m_instance.SetResult(SINGLE_INSTANCE_FAILED);
    EXPECT_EQ(Start(), START_INSTANCE_UNREACHABLE);
    EXPECT_EQ(m_pApp->MainWindow(), nullptr);
}

TEST_F(CStartupTest, ActiveAppFromASecondStartShowsTheHiddenWindow)
{
    WriteSettingDword(kSettingFirstRun, 0);
    ASSERT_EQ(Start(), START_RUNNING);
    CTolvaMusicTransferDlg& wnd = *m_pApp->MainWindow();
    wnd.OnCommand(ID_SETUP_CONSOLE);
    wnd.OnCommand(IDC_OK);
    ASSERT_FALSE(wnd.isVisible());
    ASSERT_TRUE(m_instance.Activate("token"));
    EXPECT_TRUE(wnd.isVisible());
}

TEST_F(CStartupTest, UnwritableDataFolderDoesNotStopTheProgram)
{
    WriteSettingDword(kSettingFirstRun, 0);
    WriteTestFile(m_home.Path("blocked"), "a file where the data folder should be");
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.Path("blocked")));
    ASSERT_EQ(Start(), START_RUNNING);
    EXPECT_TRUE(m_pApp->MainWindow()->isVisible());
    EXPECT_EQ(ReadTestFile(m_home.Path("blocked")), "a file where the data folder should be");
}

TEST_F(CStartupTest, LanguageFallsBackToEnglishWithALogLineAndLoadsQtsOwnTexts)
{
    m_home.EnableLog();
    CTolvaMusicTransferApp app({m_presenter, m_timers, m_shell, m_instance, {}});
    EXPECT_EQ(app.SetUpLanguage(1049), unsigned(LANG_ID_ENGLISH_UK));
    EXPECT_EQ(StringLanguage(), unsigned(LANG_ID_ENGLISH_UK));
    EXPECT_TRUE(m_home.ReadLog().contains("Language 1049 has no string table; using 2057."));

    // Qt's standard buttons follow the program's language, when the program has its texts.
    if (app.SetUpLanguage(LANG_ID_GERMAN) == LANG_ID_GERMAN) {
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Abbrechen");
    }
    app.SetUpLanguage(LANG_ID_ENGLISH_UK);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
    // Qt has its own texts for each of the other five languages under the names used.
    for (unsigned nId :
         {LANG_ID_GERMAN, LANG_ID_FRENCH, LANG_ID_SPANISH_MODERN, LANG_ID_JAPANESE, LANG_ID_CHINESE_SIMPLIFIED}) {
        QTranslator translator;
        EXPECT_TRUE(translator.load("qtbase_" + CTolvaMusicTransferApp::QtLanguageName(nId),
                                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            << nId;
    }
}

} // namespace

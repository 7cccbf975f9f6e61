#include <gtest/gtest.h>

#include "foundation/Environment.h"
#include "foundation/Log.h"
#include "foundation/StringTable.h"
#include "platform/SystemInfo.h"
#include "support/QtPrinters.h"
#include "support/TestHome.h"

namespace {

// Sets the locale variables of the test's profile; an empty value unsets the variable.
void SetLocaleEnvironment(const char* pszLanguage, const char* pszLcAll, const char* pszLcMessages, const char* pszLang)
{
    const std::pair<const char*, const char*> variables[] = {
        {"LANGUAGE", pszLanguage}, {"LC_ALL", pszLcAll}, {"LC_MESSAGES", pszLcMessages}, {"LANG", pszLang}};
    for (const auto& [pszName, pszValue] : variables) {
        if (*pszValue)
            qputenv(pszName, pszValue);
        else
            qunsetenv(pszName);
    }
}

SUserAccount Account(const char* pszName, QStringList groups)
{
    SUserAccount account;
    account.bReadable = true;
    account.sName = pszName;
    account.groupNames = std::move(groups);
    return account;
}

} // namespace

TEST(Environment, LanguageTableKeepsTheSixAndMapsTheRestToNone)
{
    EXPECT_EQ(MapLanguageId(1033), 2057u) << "English (US) is served as English (UK)";
    EXPECT_EQ(MapLanguageId(1034), 3082u) << "traditional Spanish gets the modern sort";
    for (const unsigned nKept : {1031u, 1036u, 1041u, 2052u, 3082u})
        EXPECT_EQ(MapLanguageId(nKept), nKept);
    for (const unsigned nOther : {0u, 2055u, 2057u, 3079u, 2060u, 3084u, 1028u, 2058u, 1040u, 1049u, 65535u})
        EXPECT_EQ(MapLanguageId(nOther), 0u) << nOther;
}

TEST(Environment, LocaleNamesGiveTheirLanguageIds)
{
    EXPECT_EQ(LanguageIdOfLocaleName("en_US.UTF-8"), 1033u);
    EXPECT_EQ(LanguageIdOfLocaleName("en_GB"), 2057u);
    EXPECT_EQ(LanguageIdOfLocaleName("de_CH.UTF-8@euro"), 2055u);
    EXPECT_EQ(LanguageIdOfLocaleName("es_ES@traditional"), 1034u);
    EXPECT_EQ(LanguageIdOfLocaleName("es_ES.UTF-8"), 3082u);
    EXPECT_EQ(LanguageIdOfLocaleName("zh_CN.GB2312"), 2052u);
    EXPECT_EQ(LanguageIdOfLocaleName("ja"), 1041u);
    EXPECT_EQ(LanguageIdOfLocaleName("fr-FR"), 1036u);
    EXPECT_EQ(LanguageIdOfLocaleName("C.UTF-8"), 0u);
    EXPECT_EQ(LanguageIdOfLocaleName(""), 0u);
}

TEST(Environment, LanguageChoiceFallsBackFromUiLanguageToLocaleToEnglish)
{
    CTestHome home;
    struct SCase
    {
        const char* pszLanguage;
        const char* pszLcAll;
        const char* pszLcMessages;
        const char* pszLang;
        unsigned nUi;
        unsigned nLocale;
        unsigned nChosen;
    };
    const SCase cases[] = {
        {"", "", "", "en_US.UTF-8", 2057, 2057, 2057},
        // English (UK) itself maps to none: the locale decides, then the English fallback.
        {"", "", "en_GB.UTF-8", "ja_JP.UTF-8", 0, 1041, 1041},
        {"", "", "", "en_GB.UTF-8", 0, 0, 2057},
        {"", "", "", "es_ES.UTF-8@traditional", 3082, 3082, 3082},
        {"", "", "", "de_CH.UTF-8", 0, 0, 2057},
        {"", "", "de_CH.UTF-8", "fr_FR.UTF-8", 0, 1036, 1036},
        {"", "de_DE.UTF-8", "fr_FR.UTF-8", "ja_JP.UTF-8", 1031, 1031, 1031},
        // LANGUAGE lists preferences in order: the first the program has texts for wins.
        {"de_CH:fr:ja", "", "", "en_GB.UTF-8", 1036, 0, 1036},
        {"zh_CN", "", "", "de_DE.UTF-8", 2052, 1031, 2052},
        // ... but it is ignored under the C locale, as every other program ignores it.
        {"ja", "", "", "C.UTF-8", 0, 0, 2057},
        {"ja", "", "", "", 0, 0, 2057},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "LANGUAGE=" << c.pszLanguage << " LC_ALL=" << c.pszLcAll
                                        << " LC_MESSAGES=" << c.pszLcMessages << " LANG=" << c.pszLang);
        SetLocaleEnvironment(c.pszLanguage, c.pszLcAll, c.pszLcMessages, c.pszLang);
        EXPECT_EQ(MapUiLanguage(), c.nUi);
        EXPECT_EQ(MapLocaleLanguage(), c.nLocale);
        EXPECT_EQ(ChooseLanguage(), c.nChosen);
    }
}

TEST(Environment, VersionTestsCompareFieldByField)
{
    EXPECT_TRUE(VersionIsXpOrOlder({5, 1, 3, 0})) << "XP SP3";
    EXPECT_TRUE(VersionIsXpOrOlder({5, 1, 2, 9})) << "XP SP2 with any minor service pack";
    EXPECT_TRUE(VersionIsXpOrOlder({5, 0, 4, 0})) << "2000 SP4: the minor version decides first";
    EXPECT_TRUE(VersionIsXpOrOlder({4, 9, 9, 9}));
    EXPECT_FALSE(VersionIsXpOrOlder({5, 1, 3, 1})) << "above SP 3.0";
    EXPECT_FALSE(VersionIsXpOrOlder({5, 1, 4, 0}));
    EXPECT_FALSE(VersionIsXpOrOlder({5, 2, 0, 0})) << "Server 2003";
    EXPECT_FALSE(VersionIsXpOrOlder({6, 0, 0, 0})) << "Vista";
    EXPECT_FALSE(VersionIsXpOrOlder({6, 1, 1, 0})) << "7";

    EXPECT_TRUE(VersionIsVista({6, 0, 0, 0}));
    EXPECT_TRUE(VersionIsVista({6, 0, 2, 0})) << "Vista SP2 / Server 2008";
    EXPECT_FALSE(VersionIsVista({6, 1, 0, 0})) << "7 is not Vista";
    EXPECT_FALSE(VersionIsVista({5, 1, 3, 0}));
    EXPECT_FALSE(VersionIsVista({10, 0, 0, 0}));

    EXPECT_FALSE(IsXpOrOlder());
    EXPECT_FALSE(IsVista());
}

TEST(Environment, GuestAccountsAreRecognisedAndEveryStepIsLogged)
{
    CTestHome home;
    home.EnableLog();
    EXPECT_TRUE(IsGuestAccount(Account("guest", {"guest"})));
    EXPECT_TRUE(IsGuestAccount(Account("guest-x1y2z3", {"nogroup"})));
    EXPECT_TRUE(IsGuestAccount(Account("Guest", {})));
    EXPECT_TRUE(IsGuestAccount(Account("visitor", {"users", "Guests"})));
    EXPECT_FALSE(IsGuestAccount(Account("ann", {"ann", "audio"})));
    EXPECT_FALSE(IsGuestAccount(Account("guestbook", {"users"}))) << "only guest and guest-*";
    EXPECT_FALSE(IsGuestAccount(Account("bob", {"bob", "sudo"})));

    SUserAccount unreadable;
    unreadable.nError = 2;
    EXPECT_TRUE(IsGuestAccount(unreadable)) << "an account that cannot be read is refused like a guest";

    const QByteArray log = home.ReadLog();
    EXPECT_TRUE(log.contains("username = guest-x1y2z3\r\n"));
    EXPECT_TRUE(log.contains(" user level is  USER_PRIV_GUEST\r\n"));
    EXPECT_TRUE(log.contains("username = ann\r\n"));
    EXPECT_TRUE(log.contains(" user level is  USER_PRIV_USER\r\n"));
    EXPECT_TRUE(log.contains(" user level is  USER_PRIV_ADMIN\r\n"));
    EXPECT_TRUE(log.contains("return  = 2   is  not defined\r\n"));
    EXPECT_TRUE(log.contains("can't get username \r\n"));
}

TEST(Environment, TheSignedInUserIsCheckedAndLogged)
{
    CTestHome home;
    home.EnableLog();
    const SUserAccount account = CurrentUserAccount();
    ASSERT_TRUE(account.bReadable);
    EXPECT_EQ(IsGuestUser(), IsGuestAccount(account));
    EXPECT_TRUE(home.ReadLog().contains("username = " + account.sName.toUtf8())) << home.ReadLog().constData();
}

TEST(StringTable, TextsByIdWithEnglishFallback)
{
    ASSERT_TRUE(SetStringLanguage(LANG_ID_ENGLISH_UK));
    EXPECT_EQ(LoadStringText(101), "Tolva Music Transfer");
    EXPECT_EQ(LoadStringText(152), "There is not enough space on the disk.");
    EXPECT_EQ(LoadStringText(58112), "A device with the specified IP address could not be found.");
    EXPECT_EQ(LoadStringText(173), "External HDD is not connected. \nPlease change the Destination setting other than "
                                   "External HDD.")
        << "escapes in the table become real line breaks";
    EXPECT_EQ(LoadStringText(100), QString()) << "an id no table has is empty";
    EXPECT_EQ(LoadStringText(0), QString());

    EXPECT_FALSE(SetStringLanguage(9999));
    EXPECT_EQ(StringLanguage(), static_cast<unsigned>(LANG_ID_ENGLISH_UK));
    EXPECT_EQ(LoadStringText(101), "Tolva Music Transfer") << "an unknown language falls back to English";
    SetStringLanguage(ChooseLanguage());
    EXPECT_EQ(LoadStringText(101).isEmpty(), false) << "whatever the chosen language, the caption exists";
    SetStringLanguage(LANG_ID_ENGLISH_UK);
}

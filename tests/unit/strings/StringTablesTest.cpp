#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include "foundation/Environment.h"
#include "foundation/StringTable.h"
#include "support/TestHome.h"

namespace {

const std::vector<unsigned> kLanguages = {LANG_ID_GERMAN,     LANG_ID_FRENCH,
                                          LANG_ID_JAPANESE,   LANG_ID_CHINESE_SIMPLIFIED,
                                          LANG_ID_ENGLISH_UK, LANG_ID_SPANISH_MODERN};

// Placeholders in the order they appear: %1 to %9 (command line), %s and %d (windows).
QStringList Placeholders(const QString& sText)
{
    static const QRegularExpression s_placeholder("%(?:[1-9]|s|d)");
    QStringList found;
    for (auto it = s_placeholder.globalMatch(sText); it.hasNext();)
        found << it.next().captured();
    return found;
}

// Words a translation must keep as they are: command names, options, the product name, setting
// names and the [y/N] answer the command line accepts. Sorted, as a translation may reorder them.
QStringList KeptWords(const QString& sText)
{
    static const QRegularExpression s_kept(
        R"(tolva(?: [a-z]+)?|--[a-z]+|<uuid\|ip>|\[y/N\]|Tolva Music Transfer|DevicePowerFrequency)");
    QStringList found;
    for (auto it = s_kept.globalMatch(sText); it.hasNext();)
        found << it.next().captured();
    found.sort();
    return found;
}

std::string Where(unsigned nLanguage, unsigned nId)
{
    return "language " + std::to_string(nLanguage) + ", id " + std::to_string(nId);
}

// Restores the language and the id switch a test changed.
class CStringTablesTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        qunsetenv("TOLVA_SHOW_STRING_IDS");
        SetStringLanguage(LANG_ID_ENGLISH_UK);
    }
};

} // namespace

TEST_F(CStringTablesTest, EveryLanguageHasEveryEnglishTextWithTheSamePlaceholdersAndLines)
{
    std::vector<unsigned> expected = kLanguages;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(EmbeddedStringLanguages(), expected);

    const CStringMap* pEnglish = EmbeddedStringTable(LANG_ID_ENGLISH_UK);
    ASSERT_NE(pEnglish, nullptr);
    EXPECT_GT(pEnglish->size(), 150u);
    for (const unsigned nLanguage : kLanguages) {
        const CStringMap* pTable = EmbeddedStringTable(nLanguage);
        ASSERT_NE(pTable, nullptr) << "language " << nLanguage;
        for (const auto& [nId, sEnglish] : *pEnglish) {
            const auto it = pTable->find(nId);
            if (it == pTable->end()) {
                ADD_FAILURE() << Where(nLanguage, nId) << ": missing";
                continue;
            }
            const QString& sText = it->second;
            EXPECT_FALSE(sText.trimmed().isEmpty()) << Where(nLanguage, nId) << ": empty";
            EXPECT_EQ(Placeholders(sText), Placeholders(sEnglish))
                << Where(nLanguage, nId) << ": placeholders differ in " << sText.toStdString();
            EXPECT_EQ(sText.count('\n'), sEnglish.count('\n'))
                << Where(nLanguage, nId) << ": line breaks differ in " << sText.toStdString();
            EXPECT_EQ(KeptWords(sText), KeptWords(sEnglish))
                << Where(nLanguage, nId) << ": a name or option was changed in " << sText.toStdString();
        }
        for (const auto& [nId, sText] : *pTable)
            EXPECT_TRUE(pEnglish->count(nId)) << Where(nLanguage, nId) << ": not in the English table";
    }
}

TEST_F(CStringTablesTest, LanguagesAreChosenThroughTheLoader)
{
    const std::map<unsigned, QString> next = {{LANG_ID_GERMAN, "Weiter"},
                                              {LANG_ID_FRENCH, "Suivant"},
                                              {LANG_ID_SPANISH_MODERN, "Siguiente"},
                                              {LANG_ID_JAPANESE, "次へ"},
                                              {LANG_ID_CHINESE_SIMPLIFIED, "下一步"},
                                              {LANG_ID_ENGLISH_UK, "Next"}};
    for (const auto& [nLanguage, sNext] : next) {
        ASSERT_TRUE(SetStringLanguage(nLanguage));
        EXPECT_EQ(StringLanguage(), nLanguage);
        EXPECT_EQ(LoadStringText(141), sNext) << "language " << nLanguage;
        EXPECT_EQ(LoadStringText(101), "Tolva Music Transfer") << "language " << nLanguage;
    }

    ASSERT_TRUE(SetStringLanguage(LANG_ID_GERMAN));
    EXPECT_FALSE(SetStringLanguage(LANG_ID_ENGLISH_US)) << "1033 is served by the 2057 table, not a table of its own";
    EXPECT_FALSE(SetStringLanguage(0));
    EXPECT_FALSE(SetStringLanguage(1049));
    EXPECT_EQ(StringLanguage(), static_cast<unsigned>(LANG_ID_ENGLISH_UK)) << "an unknown language selects English";
    EXPECT_EQ(LoadStringText(141), "Next");
}

TEST_F(CStringTablesTest, AnIdMissingFromATableFallsBackToEnglishAndIsLogged)
{
    CTestHome home;
    home.EnableLog();
    // A German table that has not caught up with two English texts.
    const CStringMap table = ParseStringTable("# German\n141\tWeiter\n140\tZurück\n");
    EXPECT_EQ(StringTextOrEnglish(table, LANG_ID_GERMAN, 141), "Weiter");
    EXPECT_EQ(StringTextOrEnglish(table, LANG_ID_GERMAN, 58112),
              "A device with the specified IP address could not be found.");
    EXPECT_EQ(StringTextOrEnglish(table, LANG_ID_GERMAN, 58112),
              "A device with the specified IP address could not be found.");
    EXPECT_EQ(StringTextOrEnglish(table, LANG_ID_GERMAN, 4711), QString()) << "an id no table has stays empty";

    const QByteArray log = home.ReadLog();
    const QByteArray line = "String 58112 is missing in language 1031; the English text is shown.";
    EXPECT_EQ(log.count(line), 1) << "logged once, not on every use:\n" << log.constData();
    EXPECT_FALSE(log.contains("String 141 ")) << log.constData();
}

TEST_F(CStringTablesTest, TheIdSwitchPrefixesEveryTextWithItsId)
{
    ASSERT_TRUE(SetStringLanguage(LANG_ID_FRENCH));
    qputenv("TOLVA_SHOW_STRING_IDS", "1");
    EXPECT_EQ(LoadStringText(141), "[141] Suivant");
    EXPECT_EQ(LoadStringText(244), "[244] " + EmbeddedStringTable(LANG_ID_FRENCH)->at(244));
    EXPECT_EQ(LoadStringText(4711), "[4711] ") << "an id without text shows up too";

    qputenv("TOLVA_SHOW_STRING_IDS", "0");
    EXPECT_EQ(LoadStringText(141), "Suivant");
    qunsetenv("TOLVA_SHOW_STRING_IDS");
    EXPECT_EQ(LoadStringText(141), "Suivant");
}

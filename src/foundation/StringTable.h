#pragma once

#include <map>
#include <vector>

#include <QString>

// The user-visible texts by id (101 to 244, 58112 and the command-line texts from 1000), in the
// language chosen at start-up. The tables are compiled in from src/resources/strings.
//
// Setting the environment value TOLVA_SHOW_STRING_IDS=1 makes every text read "[id] text", so a
// screenshot shows which id each text comes from.

using CStringMap = std::map<unsigned, QString>;

// Selects the language; ids missing from it come from the English table. False when the
// program has no table for that language (English is used then).
bool SetStringLanguage(unsigned nLanguageId);
unsigned StringLanguage();
// The text of an id; empty when no table has it.
QString LoadStringText(unsigned nId);

// Decodes a table: "id<TAB>text" lines, '#' comment lines, \n, \t and \\ escapes; malformed
// lines are skipped.
CStringMap ParseStringTable(const QByteArray& text);
// The language ids that have a compiled-in table, ascending.
std::vector<unsigned> EmbeddedStringLanguages();
// The compiled-in table of a language as it is (no English fallback); null when there is none.
const CStringMap* EmbeddedStringTable(unsigned nLanguageId);
// The text of an id in the table of a language, else the English text. A fallback is logged
// once per language and id, so a table that lags behind the English one shows up in the log.
QString StringTextOrEnglish(const CStringMap& table, unsigned nLanguageId, unsigned nId);

#pragma once

#include <QString>

// The user-visible texts by id (101 to 244 and 58112), in the language chosen at start-up.

// Selects the language; ids missing from it come from the English table. False when the
// program has no table for that language (English is used then).
bool SetStringLanguage(unsigned nLanguageId);
unsigned StringLanguage();
// The text of an id; empty when no table has it.
QString LoadStringText(unsigned nId);

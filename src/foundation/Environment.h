#pragma once

#include <QString>

#include "platform/SystemInfo.h"

// Questions about the system and the user asked at start-up and a few later points. No state:
// each call asks the system afresh.

// The six user-interface languages the program has texts for.
enum ELanguageId : unsigned
{
    LANG_ID_NONE = 0,
    LANG_ID_GERMAN = 1031,
    LANG_ID_ENGLISH_US = 1033,
    LANG_ID_FRENCH = 1036,
    LANG_ID_JAPANESE = 1041,
    LANG_ID_CHINESE_SIMPLIFIED = 2052,
    LANG_ID_ENGLISH_UK = 2057,
    LANG_ID_SPANISH_MODERN = 3082,
};

// A system version in the terms of the version tests.
struct SOsVersion
{
    unsigned nMajor = 0;
    unsigned nMinor = 0;
    unsigned nServicePackMajor = 0;
    unsigned nServicePackMinor = 0;
};
// At most 5.1 with service pack at most 3.0, compared field by field in order of significance.
bool VersionIsXpOrOlder(const SOsVersion& version);
// Major 6, minor 0.
bool VersionIsVista(const SOsVersion& version);
// The running system is none of those old versions on this platform: both are false.
bool IsXpOrOlder();
bool IsVista();

// The signed-in user is a guest (every step is logged).
bool IsGuestUser();
// The guest test on a given account, as IsGuestUser applies it to the signed-in one.
bool IsGuestAccount(const SUserAccount& account);

// A language identifier mapped to the program's languages: 1031, 1036, 1041, 2052 and 3082 as
// they are, 1033 → 2057, 1034 → 3082, anything else → 0.
unsigned MapLanguageId(unsigned nLanguageId);
// The mapping of the user's UI language (the first of the preferred languages that maps to one of
// the six), and of the user's locale.
unsigned MapUiLanguage();
unsigned MapLocaleLanguage();
// MapUiLanguage, else MapLocaleLanguage, else 2057.
unsigned ChooseLanguage();

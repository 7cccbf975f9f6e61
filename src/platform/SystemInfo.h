#pragma once

#include <QString>
#include <QStringList>

// Queries about the machine and the signed-in user that the environment checks build on.

// The user's preferred user-interface languages, most preferred first, as POSIX locale names
// ("en_US", "de", "zh_CN"): LANGUAGE (a colon-separated list), else LC_ALL, LC_MESSAGES, LANG.
QStringList UserUiLanguageNames();
// The user's locale for formats and character set (LC_ALL, else LC_CTYPE, else LANG), as a
// POSIX locale name.
QString UserLocaleName();
// Windows language identifier of a POSIX locale name ("en_US" → 1033, "de_CH" → 2055,
// "es_ES@traditional" → 1034, a bare language → its main country); 0 when unknown.
unsigned LanguageIdOfLocaleName(const QString& sLocaleName);

// The signed-in account as the guest test sees it.
struct SUserAccount
{
    bool bReadable = false; // false: the account could not be looked up
    int nError = 0;         // errno of a failed look-up
    QString sName;
    QStringList groupNames;
};
SUserAccount CurrentUserAccount();

// Process priority: 0 Low, 1 Mid, 2 High, on the worker threads (CProcessPriority). False when
// another level is in force (High without the rights for it).
bool SetProcessPriorityLevel(int nLevel);

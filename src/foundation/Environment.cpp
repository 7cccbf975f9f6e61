#include "foundation/Environment.h"

#include "foundation/Log.h"
#include "platform/SystemInfo.h"

bool VersionIsXpOrOlder(const SOsVersion& version)
{
    // Each field "less or equal", the more significant field deciding first.
    const unsigned a[] = {version.nMajor, version.nMinor, version.nServicePackMajor, version.nServicePackMinor};
    const unsigned limit[] = {5, 1, 3, 0};
    for (int i = 0; i < 4; ++i) {
        if (a[i] < limit[i])
            return true;
        if (a[i] > limit[i])
            return false;
    }
    return true;
}

bool VersionIsVista(const SOsVersion& version)
{
    return version.nMajor == 6 && version.nMinor == 0;
}

bool IsXpOrOlder()
{
    return false;
}

bool IsVista()
{
    return false;
}

bool IsGuestUser()
{
    return IsGuestAccount(CurrentUserAccount());
}

bool IsGuestAccount(const SUserAccount& account)
{
    // A guest here is an account named "guest" or "guest-*" (the session greeters' guest
    // accounts), or one in a group named "guest" or "guests". An account the program cannot
    // read counts as a guest.
    if (!account.bReadable) {
        WriteLogF("   getpwuid_r failed:   return  = %u   is  not defined", static_cast<unsigned>(account.nError));
        WriteLog("can't get username ");
        return true;
    }
    WriteLog(" getpwuid_r success:");
    WriteLog("username = " + account.sName);
    const QString sName = account.sName.toLower();
    bool bGuest = sName == "guest" || sName.startsWith("guest-");
    bool bAdmin = false;
    for (const QString& sGroup : account.groupNames) {
        const QString sLower = sGroup.toLower();
        if (sLower == "guest" || sLower == "guests")
            bGuest = true;
        if (sLower == "sudo" || sLower == "wheel" || sLower == "admin")
            bAdmin = true;
    }
    if (bGuest)
        WriteLog(" getgrouplist success:   user level is  USER_PRIV_GUEST");
    else if (bAdmin || sName == "root")
        WriteLog(" getgrouplist success:   user level is  USER_PRIV_ADMIN");
    else
        WriteLog(" getgrouplist success:   user level is  USER_PRIV_USER");
    return bGuest;
}

unsigned MapLanguageId(unsigned nLanguageId)
{
    switch (nLanguageId) {
    case 1031: return LANG_ID_GERMAN;
    case 1033: return LANG_ID_ENGLISH_UK;
    case 1034:
    case 3082: return LANG_ID_SPANISH_MODERN;
    case 1036: return LANG_ID_FRENCH;
    case 1041: return LANG_ID_JAPANESE;
    case 2052: return LANG_ID_CHINESE_SIMPLIFIED;
    default: return LANG_ID_NONE;
    }
}

unsigned MapUiLanguage()
{
    // The user lists preferred languages in order; the first one the program has texts for wins.
    for (const QString& sName : UserUiLanguageNames()) {
        if (const unsigned nId = MapLanguageId(LanguageIdOfLocaleName(sName)))
            return nId;
    }
    return LANG_ID_NONE;
}

unsigned MapLocaleLanguage()
{
    return MapLanguageId(LanguageIdOfLocaleName(UserLocaleName()));
}

unsigned ChooseLanguage()
{
    if (const unsigned nId = MapUiLanguage())
        return nId;
    if (const unsigned nId = MapLocaleLanguage())
        return nId;
    return LANG_ID_ENGLISH_UK;
}

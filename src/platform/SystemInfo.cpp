#include "platform/SystemInfo.h"

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <vector>

#include "platform/ProcessPriority.h"

namespace {
QString FirstSetVariable(std::initializer_list<const char*> names)
{
    for (const char* pszName : names) {
        const QString sValue = qEnvironmentVariable(pszName);
        if (!sValue.isEmpty())
            return sValue;
    }
    return QString();
}
} // namespace

QStringList UserUiLanguageNames()
{
    QStringList names;
    // LANGUAGE is honoured only when the locale itself is not "C" (unset, "C", "C.UTF-8",
    // "POSIX"), as gettext does.
    const QString sLocale = FirstSetVariable({"LC_ALL", "LC_MESSAGES", "LANG"});
    const QString sLanguage = qEnvironmentVariable("LANGUAGE");
    const bool bCLocale = sLocale.isEmpty() || sLocale == "C" || sLocale.startsWith("C.") || sLocale == "POSIX";
    if (!sLanguage.isEmpty() && !bCLocale) {
        for (const QString& sName : sLanguage.split(':', Qt::SkipEmptyParts))
            names << sName;
    }
    if (!sLocale.isEmpty())
        names << sLocale;
    return names;
}

QString UserLocaleName()
{
    return FirstSetVariable({"LC_ALL", "LC_CTYPE", "LANG"});
}

unsigned LanguageIdOfLocaleName(const QString& sLocaleName)
{
    // "de_CH.UTF-8@euro" → language "de", territory "CH", modifier "euro".
    QString sName = sLocaleName;
    QString sModifier;
    const qsizetype nAt = sName.indexOf('@');
    if (nAt >= 0) {
        sModifier = sName.mid(nAt + 1).toLower();
        sName.truncate(nAt);
    }
    const qsizetype nDot = sName.indexOf('.');
    if (nDot >= 0)
        sName.truncate(nDot);
    sName.replace('-', '_');
    const QString sLanguage = sName.section('_', 0, 0).toLower();
    const QString sTerritory = sName.section('_', 1, 1).toUpper();

    struct SEntry
    {
        const char* pszLanguage;
        const char* pszTerritory; // "" = the bare language
        unsigned nId;
    };
    static const SEntry kTable[] = {
        {"de", "", 1031},   {"de", "DE", 1031}, {"de", "CH", 2055},  {"de", "AT", 3079},  {"de", "LU", 4103},
        {"de", "LI", 5127}, {"en", "", 1033},   {"en", "US", 1033},  {"en", "GB", 2057},  {"en", "AU", 3081},
        {"en", "CA", 4105}, {"en", "NZ", 5129}, {"en", "IE", 6153},  {"en", "ZA", 7177},  {"en", "IN", 16393},
        {"fr", "", 1036},   {"fr", "FR", 1036}, {"fr", "BE", 2060},  {"fr", "CA", 3084},  {"fr", "CH", 4108},
        {"fr", "LU", 5132}, {"ja", "", 1041},   {"ja", "JP", 1041},  {"zh", "", 2052},    {"zh", "CN", 2052},
        {"zh", "TW", 1028}, {"zh", "HK", 3076}, {"zh", "SG", 4100},  {"zh", "MO", 5124},  {"es", "", 3082},
        {"es", "ES", 3082}, {"es", "MX", 2058}, {"es", "AR", 11274}, {"es", "US", 21514}, {"it", "", 1040},
        {"it", "IT", 1040}, {"nl", "", 1043},   {"nl", "NL", 1043},  {"pt", "BR", 1046},  {"pt", "PT", 2070},
        {"ru", "", 1049},   {"ru", "RU", 1049}, {"ko", "", 1042},    {"ko", "KR", 1042},
    };
    if (sLanguage == "es" && (sTerritory.isEmpty() || sTerritory == "ES") && sModifier == "traditional")
        return 1034;
    for (const SEntry& entry : kTable) {
        if (sLanguage == QLatin1String(entry.pszLanguage) && sTerritory == QLatin1String(entry.pszTerritory))
            return entry.nId;
    }
    return 0;
}

SUserAccount CurrentUserAccount()
{
    SUserAccount account;
    const uid_t uid = ::getuid();
    std::vector<char> buffer(16384);
    passwd pw{};
    passwd* pResult = nullptr;
    const int nError = ::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &pResult);
    if (nError != 0 || !pResult) {
        account.nError = nError != 0 ? nError : ENOENT;
        return account;
    }
    account.bReadable = true;
    account.sName = QString::fromLocal8Bit(pw.pw_name);
    int nGroups = 64;
    std::vector<gid_t> groups(static_cast<size_t>(nGroups));
    if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &nGroups) < 0) {
        groups.resize(static_cast<size_t>(nGroups));
        ::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &nGroups);
    }
    groups.resize(static_cast<size_t>(nGroups));
    for (const gid_t gid : groups) {
        group gr{};
        group* pGroup = nullptr;
        std::vector<char> groupBuffer(16384);
        if (::getgrgid_r(gid, &gr, groupBuffer.data(), groupBuffer.size(), &pGroup) == 0 && pGroup)
            account.groupNames << QString::fromLocal8Bit(gr.gr_name);
    }
    return account;
}

bool SetProcessPriorityLevel(int nLevel)
{
    return CProcessPriority::Instance().Apply(nLevel) == nLevel;
}

#include "foundation/StringTable.h"

#include <atomic>
#include <mutex>
#include <set>
#include <utility>

#include <QStringList>

#include "foundation/Environment.h"
#include "foundation/Log.h"
#include "resources/EmbeddedStrings.h"

namespace {

// Guards the parsed tables (parsed on first use) and the set of fallbacks already logged.
std::mutex g_mutex;
std::map<unsigned, CStringMap> g_tables;
std::set<std::pair<unsigned, unsigned>> g_loggedFallbacks;

std::atomic<unsigned> g_nLanguage{LANG_ID_ENGLISH_UK};

bool ShowStringIds()
{
    return qEnvironmentVariable("TOLVA_SHOW_STRING_IDS") == QLatin1String("1");
}

} // namespace

CStringMap ParseStringTable(const QByteArray& text)
{
    CStringMap table;
    const QString sText = QString::fromUtf8(text);
    for (const QString& sLine : sText.split('\n')) {
        if (sLine.isEmpty() || sLine.startsWith('#'))
            continue;
        const qsizetype nTab = sLine.indexOf('\t');
        bool bOk = false;
        const unsigned nId = sLine.left(nTab).toUInt(&bOk);
        if (nTab < 0 || !bOk)
            continue;
        QString sValue;
        const QString sRaw = sLine.mid(nTab + 1);
        for (qsizetype i = 0; i < sRaw.size(); ++i) {
            if (sRaw[i] == '\\' && i + 1 < sRaw.size()) {
                const QChar c = sRaw[++i];
                sValue += c == 'n' ? QChar('\n') : c == 't' ? QChar('\t') : c;
            } else if (sRaw[i] != '\r') {
                sValue += sRaw[i];
            }
        }
        table[nId] = sValue;
    }
    return table;
}

std::vector<unsigned> EmbeddedStringLanguages()
{
    std::set<unsigned> languages;
    for (int i = 0; i < g_nEmbeddedStringFiles; ++i) {
        if (g_aEmbeddedStringFiles[i].nLanguageId > 0)
            languages.insert(static_cast<unsigned>(g_aEmbeddedStringFiles[i].nLanguageId));
    }
    return {languages.begin(), languages.end()};
}

const CStringMap* EmbeddedStringTable(unsigned nLanguageId)
{
    std::lock_guard lock(g_mutex);
    const auto it = g_tables.find(nLanguageId);
    if (it != g_tables.end())
        return &it->second;
    for (int i = 0; i < g_nEmbeddedStringFiles; ++i) {
        if (g_aEmbeddedStringFiles[i].nLanguageId == static_cast<int>(nLanguageId))
            return &g_tables.emplace(nLanguageId, ParseStringTable(g_aEmbeddedStringFiles[i].pszText)).first->second;
    }
    return nullptr;
}

QString StringTextOrEnglish(const CStringMap& table, unsigned nLanguageId, unsigned nId)
{
    if (const auto it = table.find(nId); it != table.end())
        return it->second;
    const CStringMap* pEnglish = EmbeddedStringTable(LANG_ID_ENGLISH_UK);
    if (!pEnglish)
        return QString();
    const auto it = pEnglish->find(nId);
    if (it == pEnglish->end())
        return QString();
    if (nLanguageId != LANG_ID_ENGLISH_UK) {
        bool bFirst = false;
        {
            std::lock_guard lock(g_mutex);
            bFirst = g_loggedFallbacks.emplace(nLanguageId, nId).second;
        }
        if (bFirst)
            WriteLogF("String %u is missing in language %u; the English text is shown.", nId, nLanguageId);
    }
    return it->second;
}

bool SetStringLanguage(unsigned nLanguageId)
{
    if (!EmbeddedStringTable(nLanguageId)) {
        g_nLanguage.store(LANG_ID_ENGLISH_UK);
        return false;
    }
    g_nLanguage.store(nLanguageId);
    return true;
}

unsigned StringLanguage()
{
    return g_nLanguage.load();
}

QString LoadStringText(unsigned nId)
{
    static const CStringMap s_noTable;
    const unsigned nLanguage = g_nLanguage.load();
    const CStringMap* pTable = EmbeddedStringTable(nLanguage);
    const QString sText = StringTextOrEnglish(pTable ? *pTable : s_noTable, nLanguage, nId);
    if (ShowStringIds())
        return "[" + QString::number(nId) + "] " + sText;
    return sText;
}

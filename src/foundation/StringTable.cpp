#include "foundation/StringTable.h"

#include <atomic>
#include <map>
#include <mutex>

#include <QStringList>

#include "foundation/Environment.h"
#include "resources/EmbeddedStrings.h"

namespace {

using CTable = std::map<unsigned, QString>;

// Decodes "id<TAB>text" lines; '#' lines and malformed lines are skipped.
CTable ParseTable(const char* pszText)
{
    CTable table;
    const QString sText = QString::fromUtf8(pszText);
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

const CTable* FindEmbeddedTable(unsigned nLanguageId)
{
    static std::mutex s_mutex;
    static std::map<unsigned, CTable> s_tables;
    std::lock_guard lock(s_mutex);
    const auto it = s_tables.find(nLanguageId);
    if (it != s_tables.end())
        return &it->second;
    for (int i = 0; i < g_nEmbeddedStringFiles; ++i) {
        if (g_aEmbeddedStringFiles[i].nLanguageId == static_cast<int>(nLanguageId))
            return &s_tables.emplace(nLanguageId, ParseTable(g_aEmbeddedStringFiles[i].pszText)).first->second;
    }
    return nullptr;
}

std::atomic<unsigned> g_nLanguage{LANG_ID_ENGLISH_UK};

} // namespace

bool SetStringLanguage(unsigned nLanguageId)
{
    if (!FindEmbeddedTable(nLanguageId)) {
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
    for (const unsigned nLanguage : {g_nLanguage.load(), static_cast<unsigned>(LANG_ID_ENGLISH_UK)}) {
        if (const CTable* pTable = FindEmbeddedTable(nLanguage)) {
            const auto it = pTable->find(nId);
            if (it != pTable->end())
                return it->second;
        }
    }
    return QString();
}
